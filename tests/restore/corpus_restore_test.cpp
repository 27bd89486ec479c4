// Whole restores over a corpus of deliberately inconsistent archives from
// another project's regression suite: whatever the input, the run ends with
// one of its codes, writes nothing outside the destination, and leaves no
// temporary file behind. The corpus lives beside the source tree; without
// it the test is skipped.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "restore_sandbox.h"

namespace {

namespace fs = std::filesystem;
using restoretest::Sandbox;
using restoretest::Tree;

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::path dir = fs::path(SORVANE_SOURCE_DIR) / ".." / "shared" / "corpus" / "libzip-regress";
    if (!fs::is_directory(dir, ec)) return files;
    // Absolute, drive included on Windows: the run changes the current
    // folder around the open.
    dir = fs::absolute(dir, ec);
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.is_regular_file() && e.path().extension() == ".zip" && e.file_size() < 64 * 1024 * 1024)
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CorpusRestore, EndsWithACodeAndWritesOnlyIntoTheDestination) {
    const auto files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no corpus beside the source tree";
    const std::regex temporaryName(R"((^|/)~[a-z0-9]{7}$)");
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        Sandbox box;
        const fs::path archive = box.root / "archive.zip";
        fs::copy_file(file, archive);
        RestoreFailure failure;
        const int code = RestoreArchive(box.Dest(), box.Archive(), nullptr, &failure);
        EXPECT_TRUE(code == RESTORE_OK || code == RESTORE_OPEN_FAILED || code == RESTORE_COUNT_FAILED ||
                    code == RESTORE_ENTRY_FAILED)
            << code;
        std::vector<std::string> outside;
        for (const auto& e : fs::directory_iterator(box.root.path())) outside.push_back(e.path().filename().string());
        std::sort(outside.begin(), outside.end());
        EXPECT_EQ(outside, std::vector<std::string>({"archive.zip", "dest"}));
        for (const auto& name : Tree(box.DestPath()))
            EXPECT_FALSE(std::regex_search(name, temporaryName)) << "left behind: " << name;
    }
}

}  // namespace
