// Robustness over a corpus of deliberately inconsistent archives: whatever
// the input, every operation ends with a result code, nothing is written
// outside the folder given, and an entry whose data fails its CRC is never
// reported as extracted.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "tests/zip/zip_test_util.h"

namespace fs = std::filesystem;
using testsupport::TempFolder;

namespace {

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    fs::path dir = fs::path(SORVANE_SOURCE_DIR) / ".." / "shared" / "corpus" / "libzip-regress";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return files;
    // Absolute (with its drive on Windows): the test changes the current
    // folder while it opens them.
    dir = fs::absolute(dir, ec);
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.file_size() < 64 * 1024 * 1024) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::size_t CountOutside(const fs::path& root) {
    std::size_t n = 0;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        (void)e;
        ++n;
    }
    return n;
}

}  // namespace

TEST(ArchiveCorpus, EveryArchiveEndsWithAResultAndNothingEscapes) {
    const auto files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    int opened = 0, extracted = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        TempFolder root;
        fs::create_directories(root / "dest");
        std::unique_ptr<ArchiveHandle> handle;
        ziptest::InFolder((root / "dest").u16string(), [&] { handle = OpenArchive(file.u16string()); });
        if (!handle) {
            EXPECT_NE(lastReaderResult, ARCHIVE_OK);
            continue;
        }
        ++opened;
        ArchiveEntry all;
        ASSERT_EQ(GetArchiveEntry(handle.get(), -1, all), ARCHIVE_OK);
        for (std::int32_t i = 0; i < all.index; ++i) {
            ArchiveEntry e;
            if (GetArchiveEntry(handle.get(), i, e) != ARCHIVE_OK) continue;
            std::int32_t found = -1;
            ArchiveEntry byName;
            const ArchiveResult r = FindEntryByName(handle.get(), e.name, &found, byName);
            if (r == ARCHIVE_OK) {
                EXPECT_LE(found, i) << "search passed over an earlier entry of that name";
            }
            // Extract into a file name of our own inside dest.
            const auto target = root / "dest" / ("entry" + std::to_string(i));
            ExtractFailure why = ExtractFailure::kNone;
            ArchiveResult x = -1;
            ziptest::InFolder((root / "dest").u16string(),
                              [&] { x = ExtractEntry(handle.get(), i, target.u16string(), &why); });
            if (x == ARCHIVE_OK && !(e.attributes & 0x10)) {
                ++extracted;
                // Success means the file is the entry: its size and CRC agree.
                const auto bytes = testsupport::ReadFileBytes(target);
                EXPECT_EQ(bytes.size(), e.uncompressedSize) << "entry " << i;
                ArchiveCatalog& cat = ziptest::Catalog(*handle);
                const auto crc = static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
                ASSERT_TRUE(MoveCursorTo(&cat, i));
                EXPECT_EQ(crc, cat.currentHeader.crc32) << "entry " << i << " reported extracted with a bad CRC";
            }
            testsupport::MakeWritable(target);
        }
        EXPECT_EQ(CloseArchive(handle), ARCHIVE_OK);
        // Only dest and what is inside it.
        std::size_t inside = CountOutside(root / "dest");
        EXPECT_EQ(CountOutside(root.path()), inside + 1) << "written outside the destination";
    }
    EXPECT_GT(opened, 0);
    RecordProperty("opened", opened);
    RecordProperty("extracted", extracted);
}
