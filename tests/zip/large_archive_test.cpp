// Archives whose structures lie beyond 2 GiB: every offset a 32-bit archive
// can name must be reachable, and with ZIP64 every offset past 4 GiB. The file is sparse, so it costs no disk space
// where the file system supports holes; elsewhere the test is skipped.

#include <gtest/gtest.h>

#include <fstream>

#include "tests/zip/zip_test_util.h"

using namespace testzip;
using testsupport::TempFolder;

namespace {

// Writes `bytes` at `offset` of the file, extending it with a hole.
bool WriteAt(std::fstream& f, std::uint64_t offset, const Bytes& bytes) {
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

}  // namespace

TEST(LargeArchive, ReachesHeadersAndDataBeyond2GiB) {
    // Build the pieces with the writer, then move them far apart: entry 0
    // at 0, entry 1 just past 2 GiB, the directory just below 4 GiB.
    ZipBuilder zip;
    auto& e0 = zip.Add("near.txt", "near data");
    e0.localExtra = ExtraField({UtBlock(1, 1367411696)});
    auto& e1 = zip.Add("far.txt", std::string(40000, 'f'), 8);
    e1.localExtra = ExtraField({UtBlock(1, 1000000000)});
    ZipLayout layout;
    const Bytes small = zip.Build(&layout);

    const std::uint64_t farLocal = 0x80001000ull;
    const std::uint64_t directory = 0xFFFF0000ull;
    Bytes entry0(small.begin(), small.begin() + static_cast<std::ptrdiff_t>(layout.localHeader[1]));
    Bytes entry1(small.begin() + static_cast<std::ptrdiff_t>(layout.localHeader[1]),
                 small.begin() + static_cast<std::ptrdiff_t>(layout.centralStart));
    Bytes central(small.begin() + static_cast<std::ptrdiff_t>(layout.centralStart), small.end());
    const std::size_t c1 = layout.centralHeader[1] - layout.centralStart;
    PutU32(central, c1 + central::kLocalOffset, static_cast<std::uint32_t>(farLocal));
    const std::size_t end = layout.endRecord - layout.centralStart;
    PutU32(central, end + endrec::kDirectoryOffset, static_cast<std::uint32_t>(directory));

    TempFolder folder;
    const auto path = folder / "large.zip";
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
        if (!f || !WriteAt(f, 0, entry0) || !WriteAt(f, farLocal, entry1) || !WriteAt(f, directory, central))
            GTEST_SKIP() << "the file system cannot hold a sparse 4 GiB file here";
    }
    auto handle = OpenArchive(path.u16string());
    ASSERT_NE(handle, nullptr) << "end record or directory beyond 2 GiB not reached: " << lastReaderResult;
    ArchiveEntry e;
    ASSERT_EQ(GetArchiveEntry(handle.get(), 1, e), ARCHIVE_OK);
    EXPECT_EQ(e.name, u"far.txt");
    EXPECT_EQ(e.writeTime, ziptest::FileTimeUtc(2001, 9, 9, 1, 46, 40)) << "local extra beyond 2 GiB misread";
    std::int32_t index = -1;
    ASSERT_EQ(FindEntryByName(handle.get(), u"FAR.TXT", &index, e), ARCHIVE_OK);
    EXPECT_EQ(index, 1);
    const auto out = folder / "far.out";
    ASSERT_EQ(ExtractEntry(handle.get(), 1, out.u16string()), ARCHIVE_OK);
    const auto bytes = testsupport::ReadFileBytes(out);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string(40000, 'f'));
    ASSERT_EQ(ExtractEntry(handle.get(), 0, (folder / "near.out").u16string()), ARCHIVE_OK);
    EXPECT_EQ(CloseArchive(handle), ARCHIVE_OK);
}

namespace {

// A stored entry of 4.5 GiB of zeros (a hole in a sparse file), then small
// entries whose headers, data and directory lie past 4 GiB: every size and
// offset past the classic limits goes through ZIP64.
constexpr std::uint64_t kHuge = (9ull << 30) / 2;

bool WriteHugeArchive(const std::filesystem::path& path) {
    ZipBuilder zip;
    auto& huge = zip.Add("zeros.bin", "");
    huge.zeroRun = kHuge;
    huge.zip64 = {true, true, false, false};
    huge.localZip64 = true;
    auto& after = zip.Add("after.txt", std::string(5000, 'z'), 8);
    after.zip64.offset = true;
    zip.Add("last.txt", "last").zip64.offset = true;
    zip.zip64End = Zip64End::kPlaceholders;
    return zip.BuildToFile(path);
}

}  // namespace

TEST(LargeArchive, ReachesEntriesPast4GiB) {
    TempFolder folder;
    const auto path = folder / "huge.zip";
    if (!WriteHugeArchive(path)) GTEST_SKIP() << "the file system cannot hold a sparse 4.5 GiB file here";
    auto handle = OpenArchive(path.u16string());
    ASSERT_NE(handle, nullptr) << lastReaderResult;
    ArchiveEntry e;
    ASSERT_EQ(GetArchiveEntry(handle.get(), 0, e), ARCHIVE_OK);
    EXPECT_EQ(e.uncompressedSize, kHuge);
    EXPECT_EQ(e.compressedSize, kHuge);
    std::int32_t index = -1;
    ASSERT_EQ(FindEntryByName(handle.get(), u"AFTER.TXT", &index, e), ARCHIVE_OK);
    EXPECT_EQ(index, 1);
    const auto out = folder / "after.out";
    ASSERT_EQ(ExtractEntry(handle.get(), 1, out.u16string()), ARCHIVE_OK);
    EXPECT_EQ(testsupport::ReadFileBytes(out), ToBytes(std::string(5000, 'z')));
    ASSERT_EQ(ExtractEntry(handle.get(), 2, (folder / "last.out").u16string()), ARCHIVE_OK);
    CloseArchive(handle);
}

// Reads 4.5 GiB through the stream (5 to 10 s). It runs in every build:
// a counter that stops at 32 bits may do so on one platform only (long is
// 32 bits on Windows).
TEST(LargeArchive, StreamsAnEntryOver4GiB) {
    TempFolder folder;
    const auto path = folder / "huge.zip";
    if (!WriteHugeArchive(path)) GTEST_SKIP() << "the file system cannot hold a sparse 4.5 GiB file here";
    auto handle = OpenArchive(path.u16string());
    ASSERT_NE(handle, nullptr) << lastReaderResult;
    // Not to disk: the length and CRC check only hold if the stream's
    // counters carry past 4 GiB.
    ArchiveCatalog& catalog = ziptest::Catalog(*handle);
    ASSERT_TRUE(MoveCursorTo(&catalog, 0));
    ASSERT_EQ(OpenEntryStream(&catalog), CATALOG_OK);
    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint64_t total = 0;
    for (std::int32_t got; (got = ReadEntryStream(&catalog, buffer.data(), static_cast<std::uint32_t>(buffer.size()))) > 0;)
        total += static_cast<std::uint64_t>(got);
    EXPECT_EQ(total, kHuge);
    EXPECT_TRUE(GetEntryStreamFacts(&catalog).crcMatches);
    EXPECT_EQ(CloseEntryStream(&catalog), CATALOG_OK);
    CloseArchive(handle);
}
