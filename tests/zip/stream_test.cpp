// The entry data stream: what it delivers, when it stops, what its close
// reports, and the facts it keeps beside the bytes.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/zip/zip_test_util.h"

using namespace testzip;
using testsupport::TempFolder;

namespace {

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>('a' + (x >> 16) % 7);
    }
    return s;
}

}  // namespace

TEST(EntryStream, DeliversDataAndReportsWhatWentWrong) {
    const std::string big = Pattern(100000);  // several input chunks, compressible
    struct Case {
        const char* fault;
        std::function<void(Entry&)> edit;
        std::string content;
        std::uint16_t method;
        std::string expected;
        int readStatus;
        ArchiveResult closeStatus;
        bool shortData, corrupt, encrypted;
    };
    const Case cases[] = {
        {"stored data altered", nullptr, "hello, stored", 0, "hello, stored", 0, CATALOG_OK, false, false, false},
        {"deflated data across chunks", nullptr, big, 8, big, 0, CATALOG_OK, false, false, false},
        {"stored data across chunks", nullptr, big, 0, big, 0, CATALOG_OK, false, false, false},
        {"empty entry", nullptr, "", 0, "", 0, CATALOG_OK, false, false, false},
        {"empty entry with a CRC not compared",
         [](Entry& e) { e.centralOverride.crc32 = 5; e.localOverride.crc32 = 5; }, "", 0, "", 0,
         CATALOG_CRC_ERROR, false, false, false},
        {"CRC mismatch not reported",
         [](Entry& e) { e.centralOverride.crc32 = 1; e.localOverride.crc32 = 1; }, big, 8, big, 0,
         CATALOG_CRC_ERROR, false, false, false},
        {"deflated past its declared size",
         [](Entry& e) { e.centralOverride.uncompressedSize = 10; e.localOverride.uncompressedSize = 10; }, big,
         8, big.substr(0, 10), 0, CATALOG_CRC_ERROR, false, false, false},
        {"stored surplus delivered",
         [](Entry& e) { e.rawData = ToBytes("0123456789EXTRA"); }, "0123456789", 0, "0123456789", 0,
         CATALOG_OK, false, false, false},
        {"short stored data not noticed",
         [](Entry& e) { e.rawData = ToBytes("01234"); }, "0123456789", 0, "01234", 0, CATALOG_OK, true, false,
         false},
        {"stored entry with no data at all but a size (copied from nowhere)",
         [](Entry& e) { e.rawData = Bytes{}; }, "0123456789", 0, "", 0, CATALOG_OK, true, false, false},
        {"deflate stream ending early not noticed",
         [](Entry& e) { e.rawData = Deflate(ToBytes("short")); }, "much longer content", 8, "short", 0,
         CATALOG_OK, true, false, false},
        {"compressed data cut short not noticed",
         [](Entry& e) { auto d = Deflate(ToBytes(Pattern(5000))); d.resize(d.size() / 2); e.rawData = d; },
         Pattern(5000), 8, "", 0, CATALOG_OK, true, false, false},
        {"corrupt deflate data not noticed",
         [](Entry& e) { e.rawData = Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}; }, "whatever", 8, "", 0, CATALOG_OK,
         false, true, false},
        {"encryption flag not reported", [](Entry& e) { e.flags = 1; }, "secret", 0, "secret", 0, CATALOG_OK,
         false, false, true},
        {"data descriptor: central values not used",
         [](Entry& e) { e.dataDescriptor = true; }, big, 8, big, 0, CATALOG_OK, false, false, false},
        {"data not taken after a longer local extra field",
         [](Entry& e) { e.localExtra = ExtraField({ExtraBlock{0x7777, Bytes(77, 1), {}}}); }, "after extra", 0,
         "after extra", 0, CATALOG_OK, false, false, false},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add("pad", "p");
        auto& e = zip.Add("x", c.content, c.method);
        if (c.edit) c.edit(e);
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault;
        ArchiveCatalog& cat = ziptest::Catalog(*handle);
        ASSERT_TRUE(MoveCursorTo(&cat, 1)) << c.fault;
        ASSERT_EQ(OpenEntryStream(&cat), CATALOG_OK) << c.fault;
        int status = 0;
        const std::string got = ziptest::ReadAll(cat, 4096, status);
        if (std::strcmp(c.fault, "compressed data cut short not noticed") == 0) {
            EXPECT_LT(got.size(), 5000u) << c.fault;
            EXPECT_EQ(got, Pattern(5000).substr(0, got.size())) << c.fault;
        } else {
            EXPECT_EQ(got, c.expected) << c.fault;
        }
        EXPECT_EQ(status, c.readStatus) << c.fault;
        const EntryStreamFacts facts = GetEntryStreamFacts(&cat);
        EXPECT_EQ(facts.shortData, c.shortData) << c.fault;
        EXPECT_EQ(facts.corruptData, c.corrupt) << c.fault;
        EXPECT_EQ(facts.encrypted, c.encrypted) << c.fault;
        EXPECT_EQ(ReadEntryStream(&cat, nullptr, 0), 0) << c.fault;
        EXPECT_EQ(CloseEntryStream(&cat), c.closeStatus) << c.fault;
        EXPECT_EQ(cat.openStream, nullptr) << c.fault;
    }
}

TEST(EntryStream, OpenRefusesWhatCannotBeRead) {
    struct Case {
        const char* fault;
        std::function<void(Entry&)> edit;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"method 12 opened", [](Entry& e) { e.method = 12; }, CATALOG_BAD_ARCHIVE},
        {"local name length mismatch opened", [](Entry& e) { e.localName = "xy"; }, CATALOG_BAD_ARCHIVE},
        {"equal-length other local name refused", [](Entry& e) { e.localName = std::string(1, 'X'); }, CATALOG_OK},
        {"bad local signature opened", [](Entry& e) { e.localOverride.signature = 7; }, CATALOG_BAD_ARCHIVE},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        c.edit(zip.Add("x", "content"));
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr);
        ArchiveCatalog& cat = ziptest::Catalog(*handle);
        EXPECT_EQ(OpenEntryStream(&cat), c.expected) << c.fault;
        EXPECT_EQ(cat.openStream != nullptr, c.expected == CATALOG_OK) << c.fault;
    }
    EXPECT_EQ(OpenEntryStream(nullptr), CATALOG_BAD_PARAMETER);
    EXPECT_EQ(ReadEntryStream(nullptr, nullptr, 1), CATALOG_BAD_PARAMETER);
    EXPECT_EQ(CloseEntryStream(nullptr), CATALOG_BAD_PARAMETER);
}

TEST(EntryStream, PartialReadsCloseWithoutCrcAndReopenReplaces) {
    ZipBuilder zip;
    zip.Add("a", Pattern(50000), 8).centralOverride.crc32 = 0;  // wrong, but never fully read
    zip.entries()[0].localOverride.crc32 = 0;
    zip.Add("b", "bee");
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, zip.Build());
    ASSERT_NE(handle, nullptr);
    ArchiveCatalog& cat = ziptest::Catalog(*handle);
    ASSERT_EQ(OpenEntryStream(&cat), CATALOG_OK);
    char buf[100];
    ASSERT_EQ(ReadEntryStream(&cat, buf, sizeof buf), 100);
    EXPECT_EQ(std::string(buf, 100), Pattern(100));
    ASSERT_TRUE(MoveCursorTo(&cat, 1));
    // The stream keeps reading its own entry after the cursor moved.
    ASSERT_EQ(ReadEntryStream(&cat, buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), Pattern(105).substr(100));
    ASSERT_EQ(OpenEntryStream(&cat), CATALOG_OK) << "a second open must replace the first stream";
    int status = 0;
    EXPECT_EQ(ziptest::ReadAll(cat, 2, status), "bee");
    EXPECT_EQ(CloseEntryStream(&cat), CATALOG_OK);
    ASSERT_TRUE(MoveCursorTo(&cat, 0));
    ASSERT_EQ(OpenEntryStream(&cat), CATALOG_OK);
    ASSERT_EQ(ReadEntryStream(&cat, buf, 10), 10);
    EXPECT_EQ(CloseEntryStream(&cat), CATALOG_OK) << "CRC compared although data remained";
    EXPECT_EQ(CloseEntryStream(&cat), CATALOG_BAD_PARAMETER);
}

TEST(EntryStream, TruncatedArchiveFailsTheReadThatNeedsTheMissingChunk) {
    // Incompressible content, so deflated data is as long as stored data.
    std::string content(60000, '\0');
    std::uint32_t x = 99;
    for (auto& ch : content) {
        x = x * 1664525 + 1013904223;
        ch = static_cast<char>(x >> 24);
    }
    struct Case {
        const char* fault;
        std::uint16_t method;
    };
    const Case cases[] = {{"stored data cut short read as data", 0}, {"deflated data cut short", 8}};
    for (const auto& c : cases) {
        ZipBuilder zip;
        auto& e = zip.Add("x", content, c.method);
        Bytes full = c.method == 8 ? Deflate(ToBytes(content)) : ToBytes(content);
        ASSERT_GT(full.size(), 40000u);
        // The archive as a cut-off copy leaves it: the headers promise all
        // of the data, the file holds 20000 bytes of it.
        e.rawData = Bytes(full.begin(), full.begin() + 20000);
        e.localOverride.compressedSize = e.centralOverride.compressedSize = static_cast<std::uint32_t>(full.size());
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr);
        ArchiveCatalog& cat = ziptest::Catalog(*handle);
        ASSERT_EQ(OpenEntryStream(&cat), CATALOG_OK);
        int status = 0;
        const std::string got = ziptest::ReadAll(cat, 1024, status);
        EXPECT_EQ(status, CATALOG_IO_ERROR) << c.fault;
        EXPECT_GE(got.size(), 16384u - 1024u) << c.fault << ": the first chunk is whole";
        EXPECT_EQ(got, content.substr(0, got.size())) << c.fault;
        std::string buf(1024, '\0');
        EXPECT_EQ(ReadEntryStream(&cat, buf.data(), 1024), CATALOG_IO_ERROR)
            << c.fault << ": the failed chunk must be tried again";
        EXPECT_FALSE(GetEntryStreamFacts(&cat).complete) << c.fault;
        EXPECT_EQ(CloseEntryStream(&cat), CATALOG_OK) << c.fault;
    }
}

namespace {

// `size` bytes from a linear congruential sequence started at `seed`.
std::vector<std::uint8_t> Scrambled(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> data(size);
    for (auto& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return data;
}

}  // namespace

// The entry CRC must be zlib's value for any length, any alignment and any
// way the data is split between calls: a wrong folding constant or tail
// would make every intact entry fail its check (or let a damaged one pass).
TEST(EntryStream, CrcAgreesWithZlibForEverySplit) {
    const std::vector<std::uint8_t> data = Scrambled(5000, 12345);
    const struct {
        std::size_t offset, length, split;
    } cases[] = {{0, 0, 0},     {0, 1, 0},     {3, 63, 0},     {0, 64, 0},    {1, 65, 0},   {5, 79, 0},
                 {0, 127, 0},   {7, 128, 0},   {0, 129, 64},   {9, 1000, 3},  {0, 4096, 2048},
                 {11, 4989, 1}, {0, 5000, 4999}, {2, 4000, 77}};
    for (const auto& c : cases) {
        const std::uint8_t* p = data.data() + c.offset;
        const auto expected = static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(c.length)));
        const std::uint32_t whole = UpdateCrc32(0, p, c.length);
        const std::uint32_t split = UpdateCrc32(UpdateCrc32(0, p, c.split), p + c.split, c.length - c.split);
        EXPECT_EQ(whole, expected) << c.offset << "+" << c.length;
        EXPECT_EQ(split, expected) << c.offset << "+" << c.length << " split at " << c.split;
    }
}

// Each way the processor offers works differently (zlib's tables, or
// folding 64 or 256 bytes a step with the rest left to zlib): each must give zlib's value
// where its steps begin, end and leave a remainder.
TEST(EntryStream, EveryCrcWayAgreesWithZlib) {
    const std::vector<std::uint8_t> data = Scrambled(70000, 777);
    const struct {
        std::size_t offset, length, split;
    } cases[] = {{0, 255, 0},  {1, 256, 0},   {0, 257, 0},     {3, 319, 0},     {0, 320, 0},
                 {5, 511, 7},  {0, 512, 256}, {2, 527, 100},   {0, 4096, 1000}, {7, 69990, 33333},
                 {0, 70000, 0}};
    const CrcWay ways[] = {CrcWay::kZlib, CrcWay::kFold4, CrcWay::kFold16};
    for (const CrcWay way : ways) {
        if (!CrcWayAvailable(way)) continue;
        for (const auto& c : cases) {
            const std::uint8_t* p = data.data() + c.offset;
            const auto expected = static_cast<std::uint32_t>(crc32_z(0, p, c.length));
            const std::uint32_t split =
                UpdateCrc32Way(way, UpdateCrc32Way(way, 0, p, c.split), p + c.split, c.length - c.split);
            EXPECT_EQ(split, expected) << "way " << static_cast<int>(way) << ": " << c.offset << "+" << c.length
                                       << " split at " << c.split;
        }
    }
}
