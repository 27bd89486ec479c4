// Archives whose structures lie beyond 2 GiB: every offset a 32-bit archive
// can name must be reachable. The file is sparse, so it costs no disk space
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
