// Archives in the ZIP64 layout: the end record found through its locator,
// the 0x0001 field's order and all-ones rule, the shift correction for bytes
// in front, damaged ZIP64 structures, more than 65,535 entries, and the
// Unicode Path field.

#include <gtest/gtest.h>

#include <functional>

#include "tests/zip/zip_test_util.h"

using namespace testzip;
using testsupport::TempFolder;

namespace {

const std::string kBig(3000, 'b');

// Three entries: stored, deflated, and one with a data descriptor.
ZipBuilder ThreeEntries() {
    ZipBuilder zip;
    zip.Add("a.txt", "alpha");
    zip.Add("b.txt", kBig, 8);
    zip.Add("dir/c.txt", "gamma gamma", 8).dataDescriptor = true;
    return zip;
}

Zip64Fields AllFields() { return {true, true, true, false}; }

// Every entry lists with its name and sizes and extracts to its content.
void ExpectEveryEntryRestores(ArchiveHandle* handle, ZipBuilder& zip, const TempFolder& folder,
                              const char* fault) {
    ArchiveEntry all;
    ASSERT_EQ(GetArchiveEntry(handle, -1, all), ARCHIVE_OK) << fault;
    const auto& entries = zip.entries();
    ASSERT_EQ(all.index, static_cast<std::int32_t>(entries.size())) << fault;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto index = static_cast<std::int32_t>(i);
        ArchiveEntry e;
        ASSERT_EQ(GetArchiveEntry(handle, index, e), ARCHIVE_OK) << fault << ": entry " << i;
        EXPECT_EQ(platform::Utf16ToUtf8(e.name), entries[i].name) << fault;
        EXPECT_EQ(e.uncompressedSize, entries[i].data.size()) << fault << ": " << entries[i].name;
        const auto out = folder / ("out" + std::to_string(i));
        ASSERT_EQ(ExtractEntry(handle, index, out.u16string()), ARCHIVE_OK) << fault << ": " << entries[i].name;
        EXPECT_EQ(testsupport::ReadFileBytes(out), entries[i].data) << fault << ": " << entries[i].name;
    }
}

}  // namespace

TEST(Zip64Archive, ReadsEveryLayoutWritersUse) {
    struct Case {
        const char* fault;
        std::function<void(ZipBuilder&)> shape;
    };
    const Case cases[] = {
        {"ZIP64 record beside a valid classic one taken for 76 prepended bytes",
         [](ZipBuilder& z) { z.zip64End = Zip64End::kBeside; }},
        {"placeholders in the classic end record used as values",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kPlaceholders;
             for (auto& e : z.entries()) e.zip64 = AllFields();
         }},
        {"shift for bytes in front not computed from the ZIP64 record",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kPlaceholders;
             z.prefix = Bytes(1000, 0x4D);
             for (auto& e : z.entries()) e.zip64 = AllFields();
         }},
        {"shift ignored when a classic record stands beside the ZIP64 one",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kBeside;
             z.prefix = Bytes(333, 0x4D);
         }},
        {"offset alone in the 0x0001 field read from the size slot",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kPlaceholders;
             for (auto& e : z.entries()) e.zip64 = {false, false, true, false};
         }},
        {"compressed size alone read after an absent uncompressed size",
         [](ZipBuilder& z) {
             for (auto& e : z.entries()) e.zip64 = {false, true, false, false};
         }},
        {"disk number in the 0x0001 field not understood",
         [](ZipBuilder& z) {
             for (auto& e : z.entries()) e.zip64 = {true, false, true, true};
         }},
        {"all-ones local sizes compared with the central ones",
         [](ZipBuilder& z) {
             for (auto& e : z.entries()) e.localZip64 = true;
         }},
        {"64-bit data descriptors or local 0x0001 fields with a descriptor refused",
         [](ZipBuilder& z) {
             for (auto& e : z.entries()) {
                 e.localZip64 = true;
                 e.dataDescriptor = true;
                 e.zip64 = AllFields();
             }
             z.zip64End = Zip64End::kPlaceholders;
         }},
        {"ZIP64 record with extensible data not found",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kPlaceholders;
             z.zip64.extensible = Bytes(24, 0x11);
         }},
        {"ZIP64 record with extensible data and bytes in front not found",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kBeside;
             z.zip64.extensible = Bytes(24, 0x11);
             z.prefix = Bytes(64, 0x4D);
             z.prefixShiftsOffsets = true;
         }},
    };
    for (const auto& c : cases) {
        ZipBuilder zip = ThreeEntries();
        c.shape(zip);
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault << ": open gave " << lastReaderResult;
        ExpectEveryEntryRestores(handle.get(), zip, folder, c.fault);
        CloseArchive(handle);
    }
}

TEST(Zip64Archive, RefusesDamagedStructures) {
    // Either the open fails with `openResult`, or it succeeds and fetching
    // entry 1 gives `entryResult`.
    struct Case {
        const char* fault;
        std::function<void(ZipBuilder&)> shape;
        std::function<void(Bytes&, const ZipLayout&)> patch;
        ArchiveResult openResult;
        ArchiveResult entryResult;
    };
    auto none = [](Bytes&, const ZipLayout&) {};
    auto placeholders = [](ZipBuilder& z) {
        z.zip64End = Zip64End::kPlaceholders;
        for (auto& e : z.entries()) e.zip64 = AllFields();
    };
    auto withZip64 = [placeholders](std::function<void(Zip64EndOverride&)> damage) {
        return [placeholders, damage](ZipBuilder& z) {
            placeholders(z);
            damage(z.zip64);
        };
    };
    auto onEntry1 = [](std::function<void(Entry&)> damage) {
        return [damage](ZipBuilder& z) { damage(z.entries()[1]); };
    };
    const Case cases[] = {
        {"locator pointing past the end of the file followed",
         withZip64([](Zip64EndOverride& o) { o.recordOffset = 1ull << 40; }),
         // The record before the locator is real, but the locator names
         // another place: they don't fit together.
         none, CATALOG_BAD_ARCHIVE, 0},
        {"locator pointing at a local header believed",
         [placeholders](ZipBuilder& z) {
             placeholders(z);
             z.zip64.recordOffset = 0;
         },
         [](Bytes& b, const ZipLayout& l) { PutU32(b, l.zip64EndRecord, 0x04034B50); },
         CATALOG_BAD_ARCHIVE, 0},
        {"record signature not checked", withZip64([](Zip64EndOverride& o) { o.recordSignature = 0x06054B50; }), none,
         CATALOG_BAD_ARCHIVE, 0},
        {"counts on this disk and in total not compared",
         withZip64([](Zip64EndOverride& o) { o.entriesOnDisk = 2; }), none, CATALOG_BAD_ARCHIVE, 0},
        {"count the directory can't hold believed",
         withZip64([](Zip64EndOverride& o) { o.entriesOnDisk = o.entriesTotal = 1000; }), none, CATALOG_BAD_ARCHIVE,
         0},
        {"count past a 32-bit index believed",
         withZip64([](Zip64EndOverride& o) { o.entriesOnDisk = o.entriesTotal = 0x80000000ull; }), none,
         CATALOG_BAD_ARCHIVE, 0},
        {"directory ending after the record believed",
         withZip64([](Zip64EndOverride& o) { o.directorySize = 1ull << 33; }), none, CATALOG_BAD_ARCHIVE, 0},
        {"split archive (two disks) opened", withZip64([](Zip64EndOverride& o) { o.diskCount = 2; }), none,
         CATALOG_BAD_ARCHIVE, 0},
        {"record on another disk read", withZip64([](Zip64EndOverride& o) { o.locatorDisk = 1; }), none,
         CATALOG_BAD_ARCHIVE, 0},
        {"directory on another disk read", withZip64([](Zip64EndOverride& o) { o.directoryDisk = 1; }), none,
         CATALOG_BAD_ARCHIVE, 0},
        {"classic count contradicting the ZIP64 one ignored",
         [](ZipBuilder& z) {
             z.zip64End = Zip64End::kBeside;
             z.zip64.entriesOnDisk = z.zip64.entriesTotal = 2;
         },
         none, CATALOG_BAD_ARCHIVE, 0},
        {"0x0001 field too short for the values it must hold read anyway",
         onEntry1([](Entry& e) {
             e.zip64 = AllFields();
             e.zip64Block = Bytes(16, 0);
         }),
         none, CATALOG_OK, ARCHIVE_CORRUPT},
        {"all-ones size with no 0x0001 field taken as 4 GiB",
         onEntry1([](Entry& e) { e.centralOverride.uncompressedSize = 0xFFFFFFFF; }), none, CATALOG_OK,
         ARCHIVE_CORRUPT},
        {"extra block running past its area read",
         onEntry1([](Entry& e) {
             e.zip64 = {true, false, false, false};
             e.centralExtra = ExtraField({{0x6666, Bytes(4, 0), std::uint16_t{40}}});
         }),
         none, CATALOG_OK, ARCHIVE_CORRUPT},
        {"entry starting on another disk read",
         onEntry1([](Entry& e) {
             e.zip64 = {false, false, false, true};
             e.zip64Block = Bytes{1, 0, 0, 0};
         }),
         none, CATALOG_OK, ARCHIVE_CORRUPT},
        {"local ZIP64 sizes that disagree with the central directory accepted",
         onEntry1([](Entry& e) { e.localZip64 = true; }),
         [](Bytes& b, const ZipLayout& l) { PutU32(b, l.localHeader[1] + 30 + 5 + 4, 7); }, CATALOG_OK,
         ARCHIVE_CORRUPT},
    };
    for (const auto& c : cases) {
        ZipBuilder zip = ThreeEntries();
        c.shape(zip);
        ZipLayout layout;
        Bytes bytes = zip.Build(&layout);
        c.patch(bytes, layout);
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, bytes);
        if (c.openResult != CATALOG_OK) {
            EXPECT_EQ(handle, nullptr) << c.fault;
            EXPECT_EQ(lastReaderResult, c.openResult) << c.fault;
            continue;
        }
        ASSERT_NE(handle, nullptr) << c.fault << ": open gave " << lastReaderResult;
        ArchiveEntry e;
        EXPECT_EQ(GetArchiveEntry(handle.get(), 1, e), c.entryResult) << c.fault;
        EXPECT_EQ(ExtractEntry(handle.get(), 1, (folder / "out").u16string()), c.entryResult) << c.fault;
        CloseArchive(handle);
    }
}

TEST(Zip64Archive, CountsEntriesPast65535) {
    constexpr int kCount = 70000;
    ZipBuilder zip;
    for (int i = 0; i < kCount; ++i) zip.Add("f/" + std::to_string(i), std::to_string(i));
    zip.zip64End = Zip64End::kPlaceholders;
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, zip.Build());
    ASSERT_NE(handle, nullptr) << lastReaderResult;
    ArchiveEntry e;
    ASSERT_EQ(GetArchiveEntry(handle.get(), -1, e), ARCHIVE_OK);
    EXPECT_EQ(e.index, kCount);
    std::int32_t index = -1;
    ASSERT_EQ(FindEntryByName(handle.get(), u"F/69999", &index, e), ARCHIVE_OK);
    EXPECT_EQ(index, 69999);
    const auto out = folder / "last";
    ASSERT_EQ(ExtractEntry(handle.get(), index, out.u16string()), ARCHIVE_OK);
    EXPECT_EQ(testsupport::ReadFileBytes(out), ToBytes("69999"));
}

TEST(UnicodePath, NameComesFromAFieldThatMatchesTheStoredBytes) {
    const std::string cp932 = "\x93\xFA\x96\x7B.txt";  // 日本.txt in CP932
    struct Case {
        const char* fault;
        std::string stored;
        std::uint16_t flags;
        ExtraBlock block;
        std::u16string expected;
    };
    const Case cases[] = {
        {"matching field ignored", "nihon.txt", 0, UnicodePathBlock("nihon.txt", "日本.txt"), u"日本.txt"},
        {"stale field (renamed entry) believed", cp932, 0, UnicodePathBlock("old.txt", "古い.txt"), u"日本.txt"},
        {"field of another version believed", "nihon.txt", 0, UnicodePathBlock("nihon.txt", "日本.txt", 2),
         u"nihon.txt"},
        {"field preferred over a name already flagged UTF-8", "\xE8\xA1\xA8.txt", 0x0800,
         UnicodePathBlock("\xE8\xA1\xA8.txt", "other.txt"), u"表.txt"},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add("first.txt", "1");
        auto& entry = zip.Add(c.stored, "content");
        entry.flags = c.flags;
        entry.centralExtra = ExtraField({UtBlock(1, 1367411696), c.block});
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault;
        ArchiveEntry e;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 1, e), ARCHIVE_OK) << c.fault;
        EXPECT_EQ(e.name, c.expected) << c.fault;
        std::int32_t index = -1;
        EXPECT_EQ(FindEntryByName(handle.get(), c.expected, &index, e), ARCHIVE_OK) << c.fault;
        EXPECT_EQ(index, 1) << c.fault;
    }
}

TEST(UnicodePath, UnsafeNameFromTheFieldIsRefused) {
    // The name that counts is the one the safety checks see.
    ZipBuilder zip;
    auto& entry = zip.AddFolder("safe/");
    entry.centralExtra = ExtraField({UnicodePathBlock("safe/", "../escape/")});
    TempFolder folder;
    const auto base = folder / "base";
    std::filesystem::create_directory(base);
    std::unique_ptr<ArchiveHandle> handle;
    ziptest::InFolder(base.u16string(), [&] { handle = ziptest::OpenBytes(folder, zip.Build()); });
    ASSERT_NE(handle, nullptr);
    ExtractFailure why = ExtractFailure::kNone;
    EXPECT_EQ(ExtractEntry(handle.get(), 0, u"", &why), ARCHIVE_NO_FILE);
    EXPECT_EQ(why, ExtractFailure::kUnsafeName);
    EXPECT_FALSE(std::filesystem::exists(folder / "escape"));
}

TEST(Zip64Archive, ReadsWhatRealWritersMade) {
    struct File {
        const char* name;
        std::string content;
    };
    std::string second;
    for (int i = 0; i < 50; ++i) second += "second file\n";
    struct Case {
        const char* fixture;
        std::vector<File> files;
    };
    const Case cases[] = {
        {"infozip-fz.zip", {{"a.txt", "hello zip64\n"}, {"b.txt", second}}},
        {"bsdtar-zip64.zip", {{"a.txt", "hello zip64\n"}, {"b.txt", second}}},
        {"7z-stdin.zip", {{"piped.txt", "from a pipe\n"}}},
    };
    for (const auto& c : cases) {
        const auto path = std::filesystem::path(SORVANE_SOURCE_DIR) / "tests" / "data" / "zip64" / c.fixture;
        auto handle = OpenArchive(path.u16string());
        ASSERT_NE(handle, nullptr) << c.fixture << ": " << lastReaderResult;
        TempFolder folder;
        ArchiveEntry e;
        ASSERT_EQ(GetArchiveEntry(handle.get(), -1, e), ARCHIVE_OK);
        ASSERT_EQ(e.index, static_cast<std::int32_t>(c.files.size())) << c.fixture;
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            const auto index = static_cast<std::int32_t>(i);
            ASSERT_EQ(GetArchiveEntry(handle.get(), index, e), ARCHIVE_OK) << c.fixture;
            EXPECT_EQ(platform::Utf16ToUtf8(e.name), c.files[i].name) << c.fixture;
            EXPECT_EQ(e.uncompressedSize, c.files[i].content.size()) << c.fixture;
            const auto out = folder / "out";
            ASSERT_EQ(ExtractEntry(handle.get(), index, out.u16string()), ARCHIVE_OK) << c.fixture;
            EXPECT_EQ(testsupport::ReadFileBytes(out), ToBytes(c.files[i].content)) << c.fixture;
        }
        CloseArchive(handle);
    }
}
