// Describing entries: the cursor and its cache, the attribute and time
// rules, names in CP932 and UTF-8, the search by name, and what a broken
// directory or local header gives.

#include <gtest/gtest.h>

#include <functional>

#include "tests/zip/zip_test_util.h"

using namespace testzip;
using testsupport::TempFolder;

namespace {

std::string EntryName(int i) { return std::string("e").append(std::to_string(i)).append(".txt"); }
std::string EntryContent(int i) { return std::string("content ").append(std::to_string(i)); }

// Entries named e0.txt .. e<n-1>.txt.
Bytes NumberedArchive(int n) {
    ZipBuilder zip;
    for (int i = 0; i < n; ++i) zip.Add(EntryName(i), EntryContent(i));
    return zip.Build();
}

std::string Utf8(const std::u16string& s) { return platform::Utf16ToUtf8(s); }

}  // namespace

TEST(ArchiveCatalog, ArchiveWideRecordAndIndexRange) {
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, NumberedArchive(3));
    ASSERT_NE(handle, nullptr);
    ArchiveEntry all;
    all.attributes = 7;
    all.writeTime = 9;
    all.name = u"junk";
    ASSERT_EQ(GetArchiveEntry(handle.get(), -1, all), ARCHIVE_OK);
    EXPECT_EQ(all.index, 3);
    EXPECT_EQ(all.name, u"");
    EXPECT_EQ(all.attributes, 0u);
    EXPECT_EQ(all.writeTime + all.accessTime + all.creationTime, 0u);
    EXPECT_EQ(all.compressedSize + all.uncompressedSize, 0u);

    struct Case {
        const char* fault;
        std::int32_t index;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"index equal to the count accepted", 3, ARCHIVE_BAD_ARGUMENT},
        {"index -2 accepted", -2, ARCHIVE_BAD_ARGUMENT},
        {"large index accepted", 0x7FFFFFFF, ARCHIVE_BAD_ARGUMENT},
        {"last entry refused", 2, ARCHIVE_OK},
    };
    for (const auto& c : cases) {
        ArchiveEntry e;
        e.name = u"untouched";
        EXPECT_EQ(GetArchiveEntry(handle.get(), c.index, e), c.expected) << c.fault;
        EXPECT_EQ(lastReaderResult, c.expected) << c.fault;
        if (c.expected != ARCHIVE_OK) {
            EXPECT_EQ(e.name, u"untouched") << c.fault;
        }
    }
}

TEST(ArchiveCatalog, WalksForwardAndBackwardToTheRightEntry) {
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, NumberedArchive(6));
    ASSERT_NE(handle, nullptr);
    const std::int32_t order[] = {2, 2, 3, 1, 5, 0, 4, 4, 0};
    for (std::int32_t i : order) {
        ArchiveEntry e;
        ASSERT_EQ(GetArchiveEntry(handle.get(), i, e), ARCHIVE_OK) << i;
        EXPECT_EQ(e.index, i);
        EXPECT_EQ(Utf8(e.name), EntryName(i));
        EXPECT_EQ(e.uncompressedSize, EntryContent(i).size());
    }
}

TEST(ArchiveCatalog, CachedEntryIsServedWithoutReadingTheFile) {
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, NumberedArchive(4));
    ASSERT_NE(handle, nullptr);
    ArchiveCatalog& c = ziptest::Catalog(*handle);
    ArchiveEntry e;
    ASSERT_EQ(GetArchiveEntry(handle.get(), 2, e), ARCHIVE_OK);
    // Make the file unreadable for the reader: a second request for 2 must
    // not need it, a request for another entry must.
    c.source->buffer.clear();
    c.source->bufferLength = 0;
    const std::uint64_t reads = c.source->osReads;
    ASSERT_EQ(GetArchiveEntry(handle.get(), 2, e), ARCHIVE_OK);
    EXPECT_EQ(c.source->osReads, reads) << "cache not used";
    EXPECT_EQ(handle->reader->cachedIndex, 2);
    ASSERT_EQ(GetArchiveEntry(handle.get(), 3, e), ARCHIVE_OK);
    EXPECT_GT(c.source->osReads, reads) << "entry 3 answered from a stale cache";
    EXPECT_EQ(Utf8(e.name), "e3.txt");
    // A search moves the cursor but leaves the cache alone.
    std::int32_t index = -1;
    ASSERT_EQ(LocateEntryByName(&c, u"E0.TXT"), CATALOG_OK);
    EXPECT_EQ(c.currentIndex, 0);
    EXPECT_EQ(handle->reader->cachedIndex, 3);
    (void)index;
}

TEST(ArchiveCatalog, AttributeWordFollowsExternalAttributes) {
    struct Case {
        const char* fault;
        std::uint32_t external;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"DOS archive file: owner-write bit clear means read-only", 0x20, 0xA1},
        {"DOS directory", 0x10, 0x91},
        {"DOS read-only hidden system archive", 0x27, 0xA7},
        {"Unix file with owner write", 0x00800000, 0x80},
        {"Unix directory", 0x40800000, 0x90},
        {"Unix read-only file", 0x81A40000 & ~0x00800000u, 0x81},
        {"DOS read-only with Unix owner write", 0x00800001, 0x81},
        {"hidden bit dropped", 0x00800002, 0x82},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add("x", "x").externalAttributes = c.external;
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr);
        ArchiveEntry e;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 0, e), ARCHIVE_OK);
        EXPECT_EQ(e.attributes, c.expected) << c.fault << std::hex << " got 0x" << e.attributes;
    }
}

TEST(ArchiveCatalog, TimesComeFromDosFieldsAndTheUtBlock) {
    // The DOS fields are the local wall clock (tests/restore/entry_times_test.cpp
    // pins the zones); here whatever zone the process has.
    const std::uint64_t dos = ziptest::FileTimeLocal(2013, 5, 1, 12, 34, 56);
    const std::uint64_t utA = ziptest::FileTimeUtc(2020, 2, 29, 23, 59, 58);
    const std::uint64_t utB = ziptest::FileTimeUtc(2001, 9, 9, 1, 46, 40);
    const std::uint64_t pre1970 = ziptest::FileTimeUtc(1960, 1, 1, 0, 0, 0);
    const std::int32_t stampA = 1583020798, stampB = 1000000000, stampPre = -315619200;
    ExtraBlock big{0x1234, Bytes(300, 0x55), {}};
    ExtraBlock fakeUt{0x9999, {0x55, 0x54, 0x05, 0x00, 0x01}, {}};  // "UT" bytes inside another block
    struct Case {
        const char* fault;
        std::uint16_t dosDate, dosTime;
        Bytes localExtra;
        Bytes centralExtra;
        std::uint64_t write, access, creation;
    };
    const std::uint16_t d = DosDate(2013, 5, 1), t = DosTime(12, 34, 56);
    const Case cases[] = {
        {"DOS fields not read as the local clock", d, t, {}, {}, dos, dos, dos},
        {"UT modification time ignored", d, t, ExtraField({UtBlock(1, stampA)}), {}, utA, dos, dos},
        {"UT stamps taken in the wrong order", d, t, ExtraField({UtBlock(7, stampA, stampB, stampPre)}), {},
         utA, utB, pre1970},
        {"UT access without modification misread", d, t, ExtraField({UtBlock(2, 0, stampB)}), {}, dos, utB, dos},
        {"block size read as 8 bits: UT after a 300-byte block missed", d, t,
         ExtraField({big, UtBlock(1, stampA)}), {}, utA, dos, dos},
        {"UT bytes inside another block's data taken as a block", d, t, ExtraField({fakeUt}), {}, dos, dos, dos},
        {"central extra field read instead of the local one", d, t, {}, ExtraField({UtBlock(1, stampA)}), dos,
         dos, dos},
        {"negative stamp not converted", d, t, ExtraField({UtBlock(1, stampPre)}), {}, pre1970, dos, dos},
        {"invalid DOS date gives garbage instead of 0", 0, 0, {}, {}, 0, 0, 0},
        {"month 13 accepted", static_cast<std::uint16_t>(DosDate(2013, 1, 1) | (13 << 5)), t, {}, {}, 0, 0, 0},
        {"UT kept with an invalid DOS date", 0, 0, ExtraField({UtBlock(1, stampA)}), {}, utA, 0, 0},
        {"stamp running past the extra field read", d, t, ExtraField({UtBlock(1, stampA)}), {}, utA, dos, dos},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        ZipBuilder zip;
        auto& e = zip.Add("x", "data");
        e.dosDate = c.dosDate;
        e.dosTime = c.dosTime;
        e.localExtra = c.localExtra;
        e.centralExtra = c.centralExtra;
        if (i + 1 == std::size(cases)) {
            // Claim two stamps where only one fits: the second is not read.
            e.localExtra = ExtraField({UtBlock(1, stampA)});
            e.localExtra[4] = 0x03;
        }
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr);
        ArchiveEntry entry;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 0, entry), ARCHIVE_OK) << c.fault;
        EXPECT_EQ(entry.writeTime, c.write) << c.fault;
        EXPECT_EQ(entry.accessTime, c.access) << c.fault;
        EXPECT_EQ(entry.creationTime, c.creation) << c.fault;
    }
}

TEST(ArchiveCatalog, TheCentralNtfsFieldIsTheFinestTime) {
    const std::uint64_t dos = ziptest::FileTimeLocal(2013, 5, 1, 12, 34, 56);
    const std::uint64_t ut = ziptest::FileTimeUtc(2020, 2, 29, 23, 59, 58);
    const std::int32_t stamp = 1583020798;
    const std::uint64_t w = ziptest::FileTimeUtc(2021, 3, 4, 5, 6, 7) + 1234567;
    const std::uint64_t a = ziptest::FileTimeUtc(2021, 3, 5, 0, 0, 0) + 1;
    const std::uint64_t c = ziptest::FileTimeUtc(2019, 1, 1, 0, 0, 0) + 9999999;
    const ExtraBlock ntfs = NtfsBlock(w, a, c);
    auto edited = [&](auto edit) {
        ExtraBlock b = ntfs;
        edit(b.data);
        return b;
    };
    // Attribute 1 of 16 bytes; a second attribute that claims 64 bytes with
    // 1 left; an unknown attribute before attribute 1; 2^63 as the write time.
    const ExtraBlock shortTimes = edited([](Bytes& d) { d[6] = 16, d.resize(24); });
    const ExtraBlock overrun = edited([](Bytes& d) { d.insert(d.end(), {0x02, 0x00, 0x40, 0x00, 0x00}); });
    const ExtraBlock unknownFirst = edited([](Bytes& d) { d.insert(d.begin() + 4, {0x07, 0x00, 0x02, 0x00, 0xAA, 0xBB}); });
    const ExtraBlock hugeWrite = edited([](Bytes& d) { d[15] = 0x80; });
    ExtraBlock claimsMore = ntfs;
    claimsMore.declaredSize = 200;
    struct Case {
        const char* fault;
        Bytes localExtra, centralExtra;
        std::uint64_t write, access, creation;
    };
    const Case cases[] = {
        {"NTFS field not read", {}, ExtraField({ntfs}), w, a, c},
        {"UT wins over NTFS", ExtraField({UtBlock(7, stamp, stamp, stamp)}), ExtraField({UtBlock(1, stamp), ntfs}),
         w, a, c},
        {"an NTFS zero taken for a time", ExtraField({UtBlock(3, stamp, stamp)}), ExtraField({NtfsBlock(w, 0, 0)}), w,
         ut, dos},
        {"an unknown attribute ends the reading", {}, ExtraField({unknownFirst}), w, a, c},
        {"a short attribute 1 believed", ExtraField({UtBlock(1, stamp)}), ExtraField({shortTimes}), ut, dos, dos},
        {"an overrunning attribute believed", {}, ExtraField({overrun}), dos, dos, dos},
        {"a time Windows can't take kept", {}, ExtraField({hugeWrite}), dos, a, c},
        {"a field claiming more than the extra holds believed", ExtraField({UtBlock(1, stamp)}),
         ExtraField({claimsMore}), ut, dos, dos},
        {"an NTFS field in the local header taken for the central one", ExtraField({ntfs}), {}, dos, dos, dos},
    };
    for (const auto& k : cases) {
        ZipBuilder zip;
        auto& e = zip.Add("x", "data");
        e.dosDate = DosDate(2013, 5, 1);
        e.dosTime = DosTime(12, 34, 56);
        e.localExtra = k.localExtra;
        e.centralExtra = k.centralExtra;
        zip.Add("y", "after it");
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr) << k.fault;
        ArchiveEntry entry;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 0, entry), ARCHIVE_OK) << k.fault << ": a malformed field failed";
        EXPECT_EQ(entry.writeTime, k.write) << k.fault;
        EXPECT_EQ(entry.accessTime, k.access) << k.fault;
        EXPECT_EQ(entry.creationTime, k.creation) << k.fault;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 1, entry), ARCHIVE_OK) << k.fault;
        EXPECT_EQ(entry.writeTime, ziptest::FileTimeLocal(2013, 1, 1, 12, 0, 0)) << k.fault << ": next entry";
    }
}

TEST(ArchiveCatalog, NamesConvertFromCp932OrUtf8) {
    struct Case {
        const char* fault;
        std::string stored;
        std::uint16_t flags;
        std::u16string expected;
    };
    const Case cases[] = {
        {"CP932 trail byte 0x5C taken as a separator", "\x95\x5C.txt", 0, u"表.txt"},
        {"CP932 katakana with 0x5C trail byte", "\x83\x5C\x83\x74\x83\x67/a", 0, u"ソフト/a"},
        {"UTF-8 flag ignored", "\xE8\xA1\xA8/\xE3\x82\xBD.txt", 0x0800, u"表/ソ.txt"},
        {"long name cut at 259 units",
         std::string(300, 'n'), 0, std::u16string(300, u'n')},
        {"name with a zero byte shown beyond it", std::string("ab\0cd", 5), 0, u"ab"},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add(c.stored, "x").flags = c.flags;
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr);
        ArchiveEntry e;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 0, e), ARCHIVE_OK) << c.fault;
        EXPECT_EQ(e.name, c.expected) << c.fault << ": " << Utf8(e.name);
    }
}

TEST(ArchiveSearch, FindsFirstMatchIgnoringAsciiCase) {
    ZipBuilder zip;
    zip.Add("README.txt", "1");                     // 0
    zip.Add("readme.txt", "2");                     // 1: same name, other case
    zip.Add("\x95\x5C.txt", "3");                   // 2: 表.txt in CP932
    zip.Add("\xE3\x82\xBD.TXT", "4").flags = 0x800; // 3: ソ.TXT in UTF-8
    zip.Add("\x83\x5C.txt", "5");                   // 4: ソ.txt in CP932
    zip.Add("dir/Sub/File.dat", "6");               // 5
    zip.Add(std::string(255, 'L'), "7");            // 6
    zip.Add("\x83\x41.txt", "8");                   // 7: ア.txt; ヂ is 0x83 0x61
    zip.Add("Readme.txt", "9").flags = 0x800;       // 8: UTF-8 twin of entry 0
    zip.Add("Zebra.ZIP", "10");                     // 9
    zip.Add("\x89\x41.txt", "11");                  // 10: 陰.txt
    zip.Add("\x89\x61.txt", "12");                  // 11: 餌.txt, the same bytes but for a-to-A in the trail
    struct Case {
        const char* fault;
        std::u16string name;
        ArchiveResult expected;
        std::int32_t index;
    };
    const Case cases[] = {
        {"case not ignored", u"readme.TXT", ARCHIVE_OK, 0},
        {"later duplicate preferred over the first", u"README.TXT", ARCHIVE_OK, 0},
        {"CP932 name not converted for the search", u"表.TXT", ARCHIVE_OK, 2},
        {"UTF-8 entry compared in CP932", u"ソ.txt", ARCHIVE_OK, 3},
        {"separators or path case", u"DIR/sub/file.DAT", ARCHIVE_OK, 5},
        {"separator kinds confused", u"dir\\Sub\\File.dat", ARCHIVE_NOT_FOUND, -1},
        {"prefix taken as a match", u"dir/Sub/File", ARCHIVE_NOT_FOUND, -1},
        {"longer name taken as a match", u"README.txt2", ARCHIVE_NOT_FOUND, -1},
        {"255-unit name refused", std::u16string(255, u'l'), ARCHIVE_OK, 6},
        {"256-unit name accepted", std::u16string(256, u'l'), ARCHIVE_NOT_FOUND, -1},
        {"trail byte of a double-byte character folded like a letter", u"ヂ.txt", ARCHIVE_NOT_FOUND, -1},
        {"餌 found as 陰 by folding its trail byte", u"餌.txt", ARCHIVE_OK, 11},
        {"陰 not found by its own bytes", u"陰.TXT", ARCHIVE_OK, 10},
        {"empty name found", u"", ARCHIVE_NOT_FOUND, -1},
        {"later UTF-8 match preferred over an earlier ANSI one", u"rEADME.txt", ARCHIVE_OK, 0},
        {"z not upper-cased", u"zebra.zip", ARCHIVE_OK, 9},
    };
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, zip.Build());
    ASSERT_NE(handle, nullptr);
    for (const auto& c : cases) {
        std::int32_t index = 99;
        ArchiveEntry e;
        EXPECT_EQ(FindEntryByName(handle.get(), c.name, &index, e), c.expected) << c.fault;
        EXPECT_EQ(index, c.index) << c.fault;
        if (c.expected == ARCHIVE_OK) {
            EXPECT_EQ(e.index, c.index) << c.fault;
        }
    }
}

TEST(ArchiveSearch, NameLengthLimitAndCursorRestoration) {
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, NumberedArchive(5));
    ASSERT_NE(handle, nullptr);
    ArchiveCatalog& c = ziptest::Catalog(*handle);
    EXPECT_EQ(LocateEntryByName(&c, std::u16string(256, u'a')), CATALOG_BAD_PARAMETER);
    EXPECT_EQ(LocateEntryByName(&c, std::u16string(255, u'a')), CATALOG_END_OF_LIST);
    ArchiveEntry e;
    ASSERT_EQ(GetArchiveEntry(handle.get(), 3, e), ARCHIVE_OK);
    ASSERT_EQ(c.currentIndex, 3);
    const std::uint64_t pos = c.currentHeaderPos;
    EXPECT_EQ(LocateEntryByName(&c, u"nothing.txt"), CATALOG_END_OF_LIST);
    EXPECT_EQ(c.currentIndex, 3) << "cursor not put back after a failed search";
    EXPECT_EQ(c.currentHeaderPos, pos);
    EXPECT_TRUE(c.currentValid);
    ASSERT_EQ(GoToNextEntry(&c), CATALOG_OK);
    EXPECT_EQ(c.currentIndex, 4);
    EXPECT_EQ(GoToNextEntry(&c), CATALOG_END_OF_LIST) << "walked past the last entry";
    EXPECT_EQ(c.currentIndex, 4);
    ASSERT_EQ(LocateEntryByName(&c, u"E1.TXT"), CATALOG_OK);
    EXPECT_EQ(c.currentIndex, 1);
    EXPECT_EQ(c.currentHeader.nameLength, 6u);
    // The header read from the file at the cursor agrees with the cursor.
    EntryHeader header;
    std::uint64_t local = 1;
    std::string name;
    ASSERT_EQ(ReadEntryHeader(&c, &header, &local, &name), CATALOG_OK);
    EXPECT_EQ(name, "e1.txt");
    EXPECT_EQ(local, c.currentLocalOffset);
    EXPECT_EQ(header.crc32, c.currentHeader.crc32);
    EXPECT_EQ(header.uncompressedSize, EntryContent(1).size());
}

TEST(ArchiveCatalog, BrokenDirectoryAndLocalHeaders) {
    struct Case {
        const char* fault;
        std::function<void(ZipBuilder&)> edit;
        std::int32_t index;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"method 12 accepted", [](ZipBuilder& z) { z.entries()[1].method = 12; }, 1, ARCHIVE_CORRUPT},
        {"local method differing from central accepted",
         [](ZipBuilder& z) { z.entries()[1].localOverride.method = 0; z.entries()[1].method = 8; }, 1,
         ARCHIVE_CORRUPT},
        {"local name length differing accepted",
         [](ZipBuilder& z) { z.entries()[1].localName = "e1.txtx"; }, 1, ARCHIVE_CORRUPT},
        {"equal-length different local name refused",
         [](ZipBuilder& z) { z.entries()[1].localName = "E1.TXT"; }, 1, ARCHIVE_OK},
        {"local CRC differing accepted",
         [](ZipBuilder& z) { z.entries()[1].localOverride.crc32 = 1; }, 1, ARCHIVE_CORRUPT},
        {"local size differing accepted",
         [](ZipBuilder& z) { z.entries()[1].localOverride.uncompressedSize = 1; }, 1, ARCHIVE_CORRUPT},
        {"local compressed size differing accepted",
         [](ZipBuilder& z) { z.entries()[1].localOverride.compressedSize = 1; }, 1, ARCHIVE_CORRUPT},
        {"data descriptor with zeroed local fields refused",
         [](ZipBuilder& z) { z.entries()[1].dataDescriptor = true; }, 1, ARCHIVE_OK},
        {"local signature not checked",
         [](ZipBuilder& z) { z.entries()[1].localOverride.signature = 0x04034B51; }, 1, ARCHIVE_CORRUPT},
        {"central signature not checked",
         [](ZipBuilder& z) { z.entries()[1].centralOverride.signature = 0; }, 1, ARCHIVE_CORRUPT},
        {"entries before a bad header lost",
         [](ZipBuilder& z) { z.entries()[2].centralOverride.signature = 0; }, 1, ARCHIVE_OK},
        {"bad entry 0 makes the open fail or entry 1 reachable",
         [](ZipBuilder& z) { z.entries()[0].centralOverride.signature = 0; }, 1, ARCHIVE_CORRUPT},
        {"local offset past the file accepted",
         [](ZipBuilder& z) { z.entries()[1].centralOverride.localHeaderOffset = 0x7FFFFFF0; }, 1,
         ARCHIVE_CORRUPT},
        {"local extra field past the end read",
         [](ZipBuilder& z) { z.entries()[2].localOverride.extraLength = 0xFFFF; }, 2, ARCHIVE_READ_FAILED},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add("e0.txt", "zero");
        zip.Add("e1.txt", std::string(100, '1'), 8);
        zip.Add("e2.txt", "two");
        c.edit(zip);
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault;
        ArchiveEntry all;
        ASSERT_EQ(GetArchiveEntry(handle.get(), -1, all), ARCHIVE_OK);
        EXPECT_EQ(all.index, 3) << c.fault;
        ArchiveEntry e;
        EXPECT_EQ(GetArchiveEntry(handle.get(), c.index, e), c.expected) << c.fault;
        EXPECT_EQ(handle->reader->cachedIndex, c.expected == ARCHIVE_OK ? c.index : -1) << c.fault;
    }
}

TEST(ArchiveSearch, StopsAtAnUnreadableHeaderWithItsStatus) {
    ZipBuilder zip;
    zip.Add("a", "1");
    zip.Add("b", "2");
    zip.Add("c", "3");
    zip.entries()[2].centralOverride.signature = 0x12345678;
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, zip.Build());
    ASSERT_NE(handle, nullptr);
    ArchiveCatalog& c = ziptest::Catalog(*handle);
    EXPECT_EQ(LocateEntryByName(&c, u"B"), CATALOG_OK);
    EXPECT_EQ(c.currentIndex, 1);
    EXPECT_EQ(LocateEntryByName(&c, u"C"), CATALOG_BAD_ARCHIVE);
    EXPECT_EQ(c.currentIndex, 1) << "cursor not put back";
    ArchiveEntry e;
    EXPECT_EQ(GetArchiveEntry(handle.get(), 2, e), ARCHIVE_CORRUPT);
    EXPECT_EQ(c.currentIndex, 2);
    EXPECT_FALSE(c.currentValid);
    EXPECT_EQ(LocateEntryByName(&c, u"a"), CATALOG_END_OF_LIST) << "search started from an invalid cursor";
    EXPECT_EQ(GetArchiveEntry(handle.get(), 0, e), ARCHIVE_OK) << "walk back to entry 0 failed";
    EXPECT_EQ(c.currentIndex, 0);
}
