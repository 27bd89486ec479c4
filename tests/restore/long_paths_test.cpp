// Deep backups restore whole: targets of hundreds and thousands of units
// (beyond the 260 of a plain Windows path), Japanese names among them, are
// made, filled and replaced like short ones, while what the platform can't
// take (a name longer than its file system allows) fails that entry with
// the reason, before anything is made, and a link level stays refused at
// any depth. Files are looked at through the platform layer, which reaches
// long paths on both systems.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using testzip::ZipBuilder;

// Levels of `unit` repeated `width` times, as many as make `total` units
// of path below the destination (the last one shorter).
std::vector<std::u16string> Levels(std::u16string_view unit, std::size_t width, std::size_t total) {
    std::vector<std::u16string> levels;
    std::size_t used = 0;
    while (used < total) {
        std::u16string level;
        while (level.size() + unit.size() <= width && used + level.size() + unit.size() < total) level += unit;
        if (level.empty()) break;
        used += level.size() + 1;
        levels.push_back(level);
    }
    return levels;
}

std::string Join(const std::vector<std::u16string>& levels, std::u16string_view leaf) {
    std::u16string name;
    for (const auto& level : levels) name += level + u"/";
    name += leaf;
    return platform::Utf16ToUtf8(name);
}

std::u16string Native(std::u16string path) {
    for (char16_t& c : path) {
        if (c == u'/') c = platform::kPathSeparator;
    }
    return path;
}

std::string ReadThrough(const std::u16string& path) {
    platform::File file = platform::File::OpenForReading(path);
    std::string text(1 << 16, '\0');
    std::size_t got = 0;
    if (!file.IsOpen() || !file.Read(text.data(), text.size(), got)) return "(unreadable)";
    text.resize(got);
    return text;
}

bool WriteThrough(const std::u16string& path, const std::string& text) {
    platform::File file = platform::File::CreateNew(path);
    return file.IsOpen() && file.Write(text.data(), text.size()) && file.Close();
}

// Removes what a row made below the destination, deepest first: the
// sandbox's own clean-up can't reach paths this long everywhere.
void RemoveBelow(const std::u16string& dest, const std::vector<std::u16string>& levels, std::u16string_view leaf) {
    std::u16string path = dest;
    std::vector<std::u16string> folders;
    for (const auto& level : levels) {
        path += level + platform::kPathSeparator;
        folders.push_back(path);
    }
    platform::RemoveFile(path + std::u16string(leaf));
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) platform::RemoveEmptyFolder(*it);
}

struct LongCase {
    const char* fault;
    std::u16string unit;  // what the levels are made of
    std::size_t width;    // units per level
    std::size_t total;    // units below the destination
    bool folderEntry = false;
    bool replaces = false;        // a file stands at the target before the run
    EntryFailure reason = EntryFailure::kNone;
};

TEST(LongPaths, RestoreLikeShortOnesOrFailWithTheLimitNamed) {
    const LongCase cases[] = {
        {"a path of about 300 units refused", u"写真", 60, 300},
        {"a path of about 1,000 units refused", u"データ", 84, 1000},
        // Under Wine the Unix path behind it, with the prefix's folders, must
        // stay within Linux's 4,096 bytes as well.
        {"a path of about 4,000 units refused", u"d", 200, 3800},
        {"a folder entry of about 1,000 units not made", u"フォルダ", 80, 1000, true},
        {"a long path's old file not replaced", u"x", 120, 600, false, true},
        {"a name over 255 units accepted", u"n", 300, 600, false, false, EntryFailure::kNameTooLong},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            const std::u16string dest = box.Dest();
            ASSERT_TRUE(platform::MakeFolder(dest));
            const std::vector<std::u16string> levels = Levels(c.unit, c.width, c.total);
            const std::u16string leaf = c.folderEntry ? u"" : u"最後のファイル.txt";
            const std::string name = Join(levels, leaf);  // a folder entry's ends in "/"
            const std::u16string target = dest + Native(platform::Utf8ToUtf16(name));
            if (c.replaces) {
                std::u16string folder = dest;
                for (const auto& level : levels) ASSERT_TRUE(platform::MakeFolder(folder += level + platform::kPathSeparator));
                ASSERT_TRUE(WriteThrough(target, "OLD"));
            }
            ZipBuilder zip;
            zip.Add("short.txt", "S");
            if (c.folderEntry) {
                zip.AddFolder(name).flags = 0x800;
            } else {
                zip.Add(name, restoretest::Text(5000, 3), 8).flags = 0x800;
            }
            zip.Add("after.txt", "A");
            box.WriteArchive(zip);
            RestoreFailure failure;
            const int code = RestoreArchiveWithProducers(dest, box.Archive(), nullptr, &failure, producers);
            if (c.reason != EntryFailure::kNone) {
                EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
                EXPECT_EQ(failure.reason, c.reason);
                EXPECT_EQ(failure.entryIndex, 1);
                EXPECT_FALSE(platform::PathExists(dest + levels.front())) << "made for a refused entry";
                continue;
            }
            EXPECT_EQ(code, RESTORE_OK) << "entry " << failure.entryIndex << ", reason "
                                        << static_cast<int>(failure.reason);
            if (c.folderEntry) {
                EXPECT_TRUE(platform::IsFolder(target));
            } else {
                EXPECT_EQ(ReadThrough(target), restoretest::Text(5000, 3));
            }
            EXPECT_EQ(box.Read("after.txt"), "A");
            RemoveBelow(dest, levels, leaf);
        }
    }
}

// Deep or not, nothing is written through a link where a level goes.
TEST(LongPaths, ALinkLevelStaysRefusedAtAnyDepth) {
    Sandbox box;
    const std::filesystem::path outside = box.MakeDestAndOutside();
    RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath("lnk"), outside, true));
    const std::vector<std::u16string> levels = Levels(u"l", 100, 700);
    ZipBuilder zip;
    zip.Add("lnk/" + Join(levels, u"x.txt"), "THROUGH");
    RestoreFailure failure;
    EXPECT_EQ(box.Run(zip, &failure), RESTORE_ENTRY_FAILED);
    EXPECT_EQ(failure.reason, EntryFailure::kFolderFailed);
    EXPECT_TRUE(restoretest::Tree(outside).empty());
}

}  // namespace
