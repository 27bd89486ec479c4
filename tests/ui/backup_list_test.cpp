// The backups of a folder, found by their names: which files count, how
// they are grouped and ordered, and a folder that can't be read. Runs in
// the backup-name test program, whose time zone is fixed to JST.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"
#include "tests/support/base64.h"
#include "tests/support/temp_folder.h"
#include "ui/backup_list.h"

namespace {

// The name a backup of `path` (ASCII) taken at `stamp` carries.
std::u16string Name(const std::string& stamp, const std::string& path) {
    return platform::Utf8ToUtf16(stamp + "_1_" + testsupport::Base64(path) + ".zip");
}

platform::FolderItem File(std::u16string name, std::uint64_t size = 0) { return {std::move(name), false, size}; }

// The listing as "original path|file name" rows, in the order given.
std::vector<std::string> Rows(const BackupFolder& f) {
    std::vector<std::string> rows;
    for (const BackupGroup& g : f.groups)
        for (const BackupFile& b : g.backups)
            rows.push_back(platform::Utf16ToUtf8(g.originalPath) + "|" + platform::Utf16ToUtf8(b.fileName));
    return rows;
}

struct SortCase {
    const char* fault;
    std::vector<platform::FolderItem> items;
    std::vector<std::string> rows;
    std::size_t undecoded;
};

TEST(BackupList, GroupsByItemNewestFirstAndCountsWhatDoesNotDecode) {
    const std::u16string photos1 = Name("20240301090000", "D:\\Data\\Photos");
    const std::u16string photos2 = Name("20240315093000", "D:\\Data\\Photos");
    const std::u16string photos3 = Name("20240310120000", "D:\\Data\\Photos");
    const std::u16string mail1 = Name("20240320080000", "C:\\Mail");
    const std::u16string mail2 = Name("20240101000000", "C:\\Mail");
    const std::u16string work = Name("20240312000000", "E:\\Work");
    const auto u8 = [](const std::u16string& s) { return platform::Utf16ToUtf8(s); };
    const SortCase cases[] = {
        {"newest first within an item, whatever order the folder lists",
         {File(photos1), File(photos2), File(photos3)},
         {"D:\\Data\\Photos|" + u8(photos2), "D:\\Data\\Photos|" + u8(photos3), "D:\\Data\\Photos|" + u8(photos1)},
         0},
        {"items ordered by their newest backup, each item's backups together",
         {File(photos1), File(mail2), File(work), File(photos2), File(mail1)},
         {"C:\\Mail|" + u8(mail1), "C:\\Mail|" + u8(mail2), "D:\\Data\\Photos|" + u8(photos2),
          "D:\\Data\\Photos|" + u8(photos1), "E:\\Work|" + u8(work)},
         0},
        {"letter case and a final backslash name the same Windows item",
         {File(photos2), File(Name("20240101000000", "d:\\data\\photos\\"))},
         {"D:\\Data\\Photos|" + u8(photos2), "D:\\Data\\Photos|" + u8(Name("20240101000000", "d:\\data\\photos\\"))},
         0},
        {"a .zip not named as a backup is counted, not listed; .ZIP never decodes",
         {File(photos1), File(u"holiday.zip"), File(u"20240301090000_1_RDpc.ZIP"), File(u"20240301090000_1_.zip")},
         {"D:\\Data\\Photos|" + u8(photos1)},
         3},
        {"other files and folders are neither listed nor counted",
         {File(u"notes.txt"), File(u"20240301090000_1_RDpcRGF0YVxQaG90b3M=.zip.part"),
          platform::FolderItem{photos1, true, 0}},
         {},
         0},
        {"a time the platform can't convert hides no other backup",
         {File(Name("30010101090000", "D:\\Far")), File(work)},
         {"E:\\Work|" + u8(work)},
         1},
    };
    for (const SortCase& c : cases) {
        SCOPED_TRACE(c.fault);
        const BackupFolder f = SortBackups(u"X:\\b\\", c.items);
        EXPECT_EQ(Rows(f), c.rows);
        EXPECT_EQ(f.undecoded, c.undecoded);
        EXPECT_EQ(f.BackupCount(), c.rows.size());
    }
}

TEST(BackupList, EachBackupCarriesItsPathSizeAndWhatTheNameTells) {
    struct JoinCase {
        const char* fault;
        std::u16string folder;
        std::u16string path;
    };
    const std::u16string name = Name("20131008081717", "D:\\Data\\Photos");
    const std::u16string sep(1, platform::kPathSeparator);
    const JoinCase cases[] = {
        {"folder ending in a backslash", u"X:\\b\\", u"X:\\b\\" + name},
        {"folder ending in a slash", u"/b/", u"/b/" + name},
        {"folder without a separator gets the platform's", u"b", u"b" + sep + name},
    };
    for (const JoinCase& c : cases) {
        SCOPED_TRACE(c.fault);
        const BackupFolder f = SortBackups(c.folder, {File(name, 123456789012ULL)});
        ASSERT_EQ(f.BackupCount(), 1u);
        const BackupFile& b = f.groups[0].backups[0];
        EXPECT_EQ(b.path, c.path);
        EXPECT_EQ(b.size, 123456789012ULL) << "sizes past 4 GiB";
        EXPECT_EQ(b.info.timeText, u"2013/10/08 08:17:17");
        EXPECT_EQ(b.info.itemName, u"Photos");
        EXPECT_EQ(b.info.parentFolder, u"D:\\Data\\");
    }
}

TEST(BackupList, ReadsARealFolderAndRefusesOneThatIsNotThere) {
    testsupport::TempFolder box;
    const std::u16string a = Name("20240301090000", "D:\\Data\\Photos");
    const std::u16string b = Name("20240302090000", "D:\\Data\\Photos");
    ASSERT_TRUE(testsupport::WriteFileBytes(box.path() / std::filesystem::path(a), std::vector<std::uint8_t>(10)));
    ASSERT_TRUE(testsupport::WriteFileBytes(box.path() / std::filesystem::path(b), std::vector<std::uint8_t>(2500)));
    ASSERT_TRUE(testsupport::WriteFileBytes(box / "other.zip", {}));
    std::filesystem::create_directory(box / "sub.zip");

    BackupFolder f;
    ASSERT_TRUE(ListBackups(box.path().u16string(), f));
    EXPECT_EQ(f.undecoded, 1u);
    ASSERT_EQ(f.BackupCount(), 2u);
    EXPECT_EQ(f.groups[0].backups[0].fileName, b);
    EXPECT_EQ(f.groups[0].backups[0].size, 2500u);
    EXPECT_EQ(f.groups[0].backups[1].size, 10u);
    EXPECT_TRUE(platform::PathExists(f.groups[0].backups[0].path)) << "the joined path names the file";

    BackupFolder none;
    EXPECT_TRUE(ListBackups((box / "sub.zip").u16string(), none)) << "an empty folder is readable";
    EXPECT_EQ(none.BackupCount(), 0u);

    f.undecoded = 7;
    EXPECT_FALSE(ListBackups((box / "missing").u16string(), f));
    EXPECT_EQ(f.BackupCount(), 0u);
    EXPECT_EQ(f.undecoded, 0u) << "nothing of an earlier listing stays";
    EXPECT_FALSE(ListBackups((box / "other.zip").u16string(), f)) << "a file is no folder";
}

TEST(BackupList, FolderOfPath) {
    struct Case {
        std::u16string path, folder;
    };
    const Case cases[] = {
        {u"C:\\b\\x.zip", u"C:\\b\\"}, {u"/b/x.zip", u"/b/"}, {u"C:\\b/x.zip", u"C:\\b/"}, {u"x.zip", u""}};
    for (const Case& c : cases) EXPECT_EQ(FolderOfPath(c.path), c.folder) << platform::Utf16ToUtf8(c.path);
}

}  // namespace
