// A restore of an archive made by Info-ZIP zip (not by our own test writer),
// compared file by file with what went into it: names in CP932, folders, an
// empty folder, an empty file and a read-only file, contents and
// modification times.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Tree;

// The same contents as make_infozip_fixture.py writes.
std::string Readme() {
    std::string s;
    for (int i = 0; i < 200; ++i) s += "Sorvane fixture line " + std::to_string(i) + "\n";
    return s;
}
std::string Binary() {
    std::string s;
    for (int i = 0; i < 3000; ++i) s.push_back(static_cast<char>((i * 7) % 251));
    return s;
}
std::string Report() {
    // "報告書の本文です。\n" in CP932, three times.
    const std::string line = "\x95\xf1\x8d\x90\x8f\x91\x82\xcc\x96\x7b\x95\xb6\x82\xc5\x82\xb7\x81\x42\n";
    return line + line + line;
}

std::int64_t UnixWriteTime(const std::filesystem::path& p) {
    const auto t = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(p));
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

TEST(InfoZipArchive, RestoresEveryFileWithItsContentAndTime) {
    struct Expected {
        const char* name;  // UTF-8
        std::string content;
        std::int64_t writeTime;
    };
    const Expected files[] = {
        {"readme.txt", Readme(), 1600000000},
        {"empty.txt", "", 1600003600},
        {"readonly.txt", "read only\n", 1600007200},
        {"書類/報告書.txt", Report(), 1600014400},
        {"書類/画像/図.bin", Binary(), 1600021600},
    };
    Sandbox box;
    const std::filesystem::path fixture =
        std::filesystem::path(SORVANE_SOURCE_DIR) / "tests" / "data" / "restore" / "infozip-cp932.zip";
    const testzip::Bytes bytes = testsupport::ReadFileBytes(fixture);
    ASSERT_FALSE(bytes.empty()) << fixture;
    box.WriteArchive(bytes);

    RestoreFailure failure;
    ASSERT_EQ(RestoreArchive(box.Dest(), box.Archive(), nullptr, &failure), RESTORE_OK)
        << "entry " << failure.entryIndex << " reason " << static_cast<int>(failure.reason);

    EXPECT_EQ(Tree(box.DestPath()),
              std::vector<std::string>({"empty.txt", "readme.txt", "readonly.txt", "書類/", "書類/報告書.txt",
                                        "書類/画像/", "書類/画像/図.bin", "空のフォルダ/"}));
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(box.Read(f.name), f.content);
        EXPECT_EQ(UnixWriteTime(box.DestPath(f.name)), f.writeTime);
        // Restored files keep their times but none of their stored attributes.
        EXPECT_TRUE(restoretest::IsPlainFile(box.DestU16(f.name)));
    }
}

}  // namespace
