// Opening archives: the end-record search, its checks, prepended data, the
// empty archive, and the handle-level bookkeeping.

#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/zip/zip_test_util.h"

using namespace testzip;
using testsupport::TempFolder;

namespace {

Bytes TwoEntries() {
    ZipBuilder zip;
    zip.Add("a.txt", "alpha");
    zip.Add("b.txt", std::string(3000, 'b'), 8);
    return zip.Build();
}

}  // namespace

TEST(ArchiveOpen, RefusesWhatIsNoArchive) {
    struct Case {
        const char* fault;
        Bytes bytes;
        ArchiveResult expected;
    };
    Bytes notZip(100, 0x41);  // bytes 4..7 not zero
    Bytes zeros(100, 0x00);   // reads as an end record of nothing, but none was found
    Bytes countsDiffer(100, 0x00);
    PutU16(countsDiffer, 8, 1);
    const Case cases[] = {
        {"empty file opened", {}, CATALOG_IO_ERROR},
        {"4-byte file opened", {0x50, 0x4B, 0x05, 0x06}, CATALOG_IO_ERROR},
        {"text file opened, or checks of the fields read from offset 0 skipped", notZip, CATALOG_BAD_ARCHIVE},
        {"no end record taken as an empty archive", zeros, CATALOG_IO_ERROR},
        {"counts at offsets 8 and 10 not compared when nothing is found", countsDiffer, CATALOG_BAD_ARCHIVE},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, c.bytes);
        EXPECT_EQ(handle, nullptr) << c.fault;
        EXPECT_EQ(lastReaderResult, c.expected) << c.fault;
        EXPECT_EQ(lastOpenResult, c.expected) << c.fault;
    }
}

TEST(ArchiveOpen, MissingFileGivesNoFile) {
    TempFolder folder;
    lastReaderResult = 0;
    EXPECT_EQ(OpenArchive(folder.U16("absent.zip")), nullptr);
    EXPECT_EQ(lastReaderResult, ARCHIVE_NO_FILE);
}

TEST(ArchiveOpen, RefusesEndRecordThatFailsItsChecks) {
    struct Case {
        const char* fault;
        EndOverride end;
    };
    std::vector<Case> cases;
    cases.push_back({"disk number not checked", {}});
    cases.back().end.diskNumber = 1;
    cases.push_back({"directory disk not checked", {}});
    cases.back().end.directoryDisk = 2;
    cases.push_back({"the two entry counts not compared", {}});
    cases.back().end.entriesTotal = 3;
    cases.push_back({"directory ending after the end record accepted", {}});
    cases.back().end.directorySize = 100000;
    cases.push_back({"directory offset beyond the end record accepted", {}});
    cases.back().end.directoryOffset = 0x7FFFFFFF;
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add("a.txt", "alpha");
        zip.end = c.end;
        TempFolder folder;
        EXPECT_EQ(ziptest::OpenBytes(folder, zip.Build()), nullptr) << c.fault;
        EXPECT_EQ(lastReaderResult, CATALOG_BAD_ARCHIVE) << c.fault;
    }
}

TEST(ArchiveOpen, FindsTheEndRecordNearestTheEnd) {
    struct Case {
        const char* fault;
        std::string comment;
        bool opens;
        std::uint32_t entries;
    };
    std::string fakeRecord("PK\x05\x06", 4);
    fakeRecord += std::string(18, '\0');  // a plausible record of 0 entries
    const Case cases[] = {
        {"comment not skipped", "an ordinary comment", true, 2},
        {"long comment: search window too small", std::string(60000, 'c'), true, 2},
        {"signature straddling two windows missed (1 byte out)", std::string(1007, 'c'), true, 2},
        {"signature straddling two windows missed (2 bytes out)", std::string(1008, 'c'), true, 2},
        {"first occurrence taken instead of the last", std::string("xx") + fakeRecord, true, 0},
        {"signature in the last four bytes missed", std::string("tail PK\x05\x06"), false, 0},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.Add("a.txt", "alpha");
        zip.Add("b.txt", "beta");
        zip.comment = c.comment;
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_EQ(handle != nullptr, c.opens) << c.fault << " " << lastReaderResult;
        if (!handle) continue;
        ArchiveEntry all;
        EXPECT_EQ(GetArchiveEntry(handle.get(), -1, all), ARCHIVE_OK) << c.fault;
        EXPECT_EQ(all.index, static_cast<std::int32_t>(c.entries)) << c.fault;
    }
}

TEST(ArchiveOpen, SignatureMoreThan64KiBFromTheEndIsNotFound) {
    ZipBuilder zip;
    zip.Add("a.txt", "alpha");
    zip.comment = std::string(65535, 'c');
    Bytes bytes = zip.Build();
    TempFolder folder;
    // Comment of 65535 bytes: the record starts 65557 bytes from the end.
    EXPECT_EQ(ziptest::OpenBytes(folder, bytes), nullptr);
}

TEST(ArchiveOpen, EmptyArchiveOpensWithNoEntries) {
    ZipBuilder zip;
    const Bytes bytes = zip.Build();
    ASSERT_EQ(bytes.size(), 22u);
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, bytes);
    ASSERT_NE(handle, nullptr) << "the end record at offset 0 is taken for 'none found': " << lastReaderResult;
    ArchiveEntry all;
    ASSERT_EQ(GetArchiveEntry(handle.get(), -1, all), ARCHIVE_OK);
    EXPECT_EQ(all.index, 0);
    ArchiveEntry e;
    EXPECT_EQ(GetArchiveEntry(handle.get(), 0, e), ARCHIVE_BAD_ARGUMENT);
    std::int32_t index = 5;
    EXPECT_EQ(FindEntryByName(handle.get(), u"", &index, e), ARCHIVE_NOT_FOUND);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(CloseArchive(handle), ARCHIVE_OK);
}

TEST(ArchiveOpen, PrependedBytesBecomeLeadingBytes) {
    struct Case {
        const char* fault;
        std::size_t prefix;
        bool shifted;
        std::uint64_t leading;
    };
    const Case cases[] = {
        {"leading bytes not added to offsets", 1000, false, 1000},
        {"self-extractor offsets counted twice", 1000, true, 0},
        {"odd prefix sizes", 7, false, 7},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        zip.prefix = Bytes(c.prefix, 0xCC);
        zip.prefixShiftsOffsets = c.shifted;
        auto& e = zip.Add("t.txt", std::string(5000, 't'), 8);
        e.localExtra = ExtraField({UtBlock(1, 1367411696)});  // 2013-05-01 12:34:56 UTC
        zip.Add("u.txt", "second");
        TempFolder folder;
        auto handle = ziptest::OpenBytes(folder, zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault;
        EXPECT_EQ(ziptest::Catalog(*handle).leadingBytes, c.leading) << c.fault;
        ArchiveEntry entry;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 0, entry), ARCHIVE_OK) << c.fault;
        EXPECT_EQ(entry.writeTime, ziptest::FileTimeUtc(2013, 5, 1, 12, 34, 56)) << c.fault;
        int status = 0;
        ASSERT_TRUE(MoveCursorTo(&ziptest::Catalog(*handle), 0));
        ASSERT_EQ(OpenEntryStream(&ziptest::Catalog(*handle)), CATALOG_OK) << c.fault;
        EXPECT_EQ(ziptest::ReadAll(ziptest::Catalog(*handle), 1000, status), std::string(5000, 't')) << c.fault;
        EXPECT_EQ(CloseEntryStream(&ziptest::Catalog(*handle)), CATALOG_OK) << c.fault;
        ASSERT_EQ(GetArchiveEntry(handle.get(), 1, entry), ARCHIVE_OK) << c.fault;
    }
}

TEST(ArchiveOpen, HandleKeepsBaseFolderAndFileSharing) {
    TempFolder folder;
    const auto path = folder / "x.zip";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, TwoEntries()));
    std::unique_ptr<ArchiveHandle> handle;
    ziptest::InFolder(folder.path().u16string(), [&] { handle = OpenArchive(path.u16string()); });
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->kind, 1u);
    EXPECT_EQ(lastReaderResult, ARCHIVE_OK);
    EXPECT_EQ(handle->reader->baseFolder, folder.WithSeparator());
    // Others may still read the archive while it is open.
    platform::File other = platform::File::OpenForReading(path.u16string());
    EXPECT_TRUE(other.IsOpen());
    other.Close();
    EXPECT_EQ(CloseArchive(handle), ARCHIVE_OK);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(lastReaderResult, ARCHIVE_OK);
}

TEST(ArchiveHandle, ChecksComeFirst) {
    struct Case {
        const char* fault;
        bool null;
        std::uint32_t kind;
        ArchiveResult expected;
    };
    const Case cases[] = {
        {"null handle dereferenced", true, 1, ARCHIVE_BAD_ARGUMENT},
        {"kind not checked", false, 2, ARCHIVE_WRONG_KIND},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        auto handle = ziptest::OpenBytes(folder, TwoEntries());
        ASSERT_NE(handle, nullptr);
        handle->kind = c.kind;
        ArchiveHandle* h = c.null ? nullptr : handle.get();
        ArchiveEntry e;
        std::int32_t index = 0;
        lastReaderResult = 0;
        EXPECT_EQ(GetArchiveEntry(h, 0, e), c.expected) << c.fault;
        EXPECT_EQ(lastReaderResult, c.expected) << c.fault;
        lastReaderResult = 0;
        EXPECT_EQ(FindEntryByName(h, u"a.txt", &index, e), c.expected) << c.fault;
        EXPECT_EQ(lastReaderResult, c.expected) << c.fault;
        lastReaderResult = 0;
        EXPECT_EQ(ExtractEntry(h, 0, folder.U16("out")), c.expected) << c.fault;
        EXPECT_EQ(lastReaderResult, c.expected) << c.fault;
        if (c.kind != 1) {
            lastWriterResult = 0;
            EXPECT_EQ(CloseArchive(handle), ARCHIVE_WRONG_KIND) << c.fault;
            EXPECT_EQ(lastWriterResult, ARCHIVE_WRONG_KIND) << c.fault;
            EXPECT_NE(handle, nullptr) << "a handle of another kind must be left alone";
            handle->kind = 1;
        }
        EXPECT_EQ(CloseArchive(handle), ARCHIVE_OK);
    }
}

TEST(ArchiveSource, FieldReadsAreLittleEndianAndStopAtTheEnd) {
    TempFolder folder;
    const auto path = folder / "f.bin";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    ArchiveResult result = -1;
    auto source = OpenArchiveSource(path.u16string(), result);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(result, ARCHIVE_OK);
    EXPECT_TRUE(source->seekable);
    std::uint32_t v = 0;
    EXPECT_EQ(ReadSourceUInt32(*source, v), 0);
    EXPECT_EQ(v, 0x04030201u);
    EXPECT_EQ(ReadSourceUInt16(*source, v), 0);
    EXPECT_EQ(v, 0x0605u);
    // One byte left: a 16-bit field cut by the end of the file is no field.
    EXPECT_EQ(ReadSourceUInt16(*source, v), -1);
    EXPECT_EQ(v, 0u);
    std::uint8_t b = 0;
    bool received = true;
    EXPECT_EQ(ReadSourceByte(*source, b, received), 0);
    EXPECT_FALSE(received) << "end of file reported as a byte";
    EXPECT_FALSE(source->readFailed) << "end of file is not a read failure";
    ASSERT_EQ(SeekSource(*source, 5), 0);
    EXPECT_EQ(ReadSourceByte(*source, b, received), 0);
    EXPECT_TRUE(received);
    EXPECT_EQ(b, 0x06);
    std::uint8_t items[8] = {};
    ASSERT_EQ(SeekSource(*source, 1), 0);
    EXPECT_EQ(ReadSourceBytes(*source, items, 2, 4), 3u) << "whole items counted wrongly";
    ASSERT_EQ(SeekSource(*source, 0), 0);
    EXPECT_EQ(ReadSourceBytes(*source, items, 8, 1), 0u) << "a short single item counted as read";
}
