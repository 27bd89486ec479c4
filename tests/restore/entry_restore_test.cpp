// Entry restore: what one entry may do to the disk. Every case restores a
// whole archive into a fresh destination inside a sandbox and then looks at
// the destination and at what stands next to it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "links.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Tree;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

struct HostileName {
    const char* fault;
    std::string name;  // raw bytes as stored
};

const HostileName kHostileNames[] = {
    {"escapes by ../", "../evil.txt"},
    {"escapes by ..\\", "..\\evil.txt"},
    {"escapes after a level by ../", "a/../../evil.txt"},
    {"escapes after a level by ..\\", "a\\..\\..\\evil.txt"},
    {"escapes with mixed separators", "a/..\\..\\evil.txt"},
    {"a bare ..", ".."},
    {"a trailing ..", "a/.."},
    {"a folder entry escaping", "../evil/"},
    {"absolute by leading /", "/evil.txt"},
    {"absolute by leading \\", "\\evil.txt"},
    {"a drive letter", "C:evil.txt"},
    {"a drive root", "C:/evil.txt"},
    {"an alternate data stream", "first.txt:evil"},
    {"a device name", "NUL"},
    {"a device name with extension", "con.txt"},
    {"a device name as a level", "a/LPT1/evil.txt"},
};

TEST(EntryRestore, RefusesNamesThatLeaveTheDestinationBeforeTouchingAnything) {
    for (const auto& c : kHostileNames) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        testsupport::WriteFileBytes(box.root / "evil.txt", testzip::ToBytes("OLD"));
        box.Put("keep.txt", "KEEP");
        std::filesystem::create_directories(box.DestPath("a"));
        ZipBuilder zip;
        zip.Add("first.txt", "FIRST");
        zip.Add(c.name, "EVIL");
        zip.Add("third.txt", "THIRD");
        RestoreFailure failure;
        EXPECT_EQ(box.Run(zip, &failure), RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, EntryFailure::kUnsafeName);
        EXPECT_EQ(failure.entryIndex, 1);
        // The entry before it was restored, nothing else changed anywhere.
        EXPECT_EQ(Tree(box.root.path()),
                  Sorted({"archive.zip", "dest/", "dest/a/", "dest/first.txt", "dest/keep.txt", "evil.txt"}));
        EXPECT_EQ(box.Read("first.txt"), "FIRST");
        EXPECT_EQ(box.Read("keep.txt"), "KEEP");
        const auto evil = testsupport::ReadFileBytes(box.root / "evil.txt");
        EXPECT_EQ(std::string(evil.begin(), evil.end()), "OLD");
    }
}

TEST(EntryRestore, AcceptsNamesThatOnlyLookUnusual) {
    struct Case {
        const char* fault;
        std::string name;
        std::string restoredAs;  // UTF-8, below the destination
    };
    const Case cases[] = {
        {"dots inside a level taken for ..", "a..b/..c.txt", "a..b/..c.txt"},
        {"a . level refused", "sub/./x.txt", "sub/x.txt"},
        {"CP932 names garbled", "\x83\x74\x83\x40\x83\x43\x83\x8B/\x95\x5c.txt", "ファイル/表.txt"},
        {"a name merely starting with a device name refused", "console.txt", "console.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        ZipBuilder zip;
        zip.Add(c.name, "DATA");
        RestoreFailure failure;
        ASSERT_EQ(box.Run(zip, &failure), RESTORE_OK) << static_cast<int>(failure.reason);
        EXPECT_EQ(box.Read(c.restoredAs), "DATA");
    }
}

struct Corruption {
    const char* fault;
    std::function<void(ZipBuilder&)> make;  // adds the one broken entry "x.txt"
    bool extractionRefuses;                 // vs. the record itself being refused
};

const std::string kContent = [] {
    std::string s;
    for (int i = 0; i < 4000; ++i) s += "line " + std::to_string(i) + " of the entry\n";
    return s;
}();

const Corruption kCorruptions[] = {
    {"CRC-32 mismatch reported as success",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         const std::uint32_t wrong = testzip::Crc32(testzip::ToBytes(kContent)) ^ 0x1;
         e.localOverride.crc32 = wrong;
         e.centralOverride.crc32 = wrong;
     },
     true},
    {"corrupt deflate data reported as success",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         testzip::Bytes raw = testzip::Deflate(testzip::ToBytes(kContent));
         for (std::size_t i = raw.size() / 3; i < raw.size() / 3 + 64 && i < raw.size(); ++i) raw[i] ^= 0x5A;
         e.rawData = raw;
     },
     true},
    {"invalid deflate block type reported as success",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         e.rawData = testzip::Bytes(200, 0xFF);
     },
     true},
    {"data shorter than its declared size reported as success",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         e.localOverride.uncompressedSize = static_cast<std::uint32_t>(kContent.size() + 100);
         e.centralOverride.uncompressedSize = static_cast<std::uint32_t>(kContent.size() + 100);
     },
     true},
    {"a deflate stream cut short reported as success",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         testzip::Bytes raw = testzip::Deflate(testzip::ToBytes(kContent));
         raw.resize(raw.size() / 2);
         e.rawData = raw;
         e.localOverride.compressedSize = static_cast<std::uint32_t>(raw.size());
         e.centralOverride.compressedSize = static_cast<std::uint32_t>(raw.size());
     },
     true},
    {"stored data running past the end of the file reported as success",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 0);
         e.localOverride.compressedSize = e.centralOverride.compressedSize = 10'000'000;
         e.localOverride.uncompressedSize = e.centralOverride.uncompressedSize = 10'000'000;
     },
     true},
    {"encrypted entry restored as garbage",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         e.flags = 0x1;
     },
     true},
    {"local header disagreeing with the directory",
     [](ZipBuilder& zip) {
         auto& e = zip.Add("x.txt", kContent, 8);
         e.localOverride.method = 12;
     },
     false},
};

TEST(EntryRestore, FailingEntryLeavesTheOldFileAndNoDebris) {
    enum class Old { kNone, kPlain, kReadOnly };
    for (const Old old : {Old::kNone, Old::kPlain, Old::kReadOnly}) {
        for (const auto& c : kCorruptions) {
            SCOPED_TRACE(std::string(c.fault) + (old == Old::kNone       ? " (no old file)"
                                                 : old == Old::kReadOnly ? " (old file read-only)"
                                                                         : ""));
            Sandbox box;
            std::filesystem::create_directories(box.DestPath());
            if (old != Old::kNone) box.Put("x.txt", "OLD CONTENT");
            if (old == Old::kReadOnly) platform::WriteAttributes(box.DestU16("x.txt"), platform::kAttributeReadOnly);
            ZipBuilder zip;
            c.make(zip);
            RestoreFailure failure;
            EXPECT_EQ(box.Run(zip, &failure), RESTORE_ENTRY_FAILED);
            if (old == Old::kNone) {
                EXPECT_TRUE(Tree(box.DestPath()).empty());
            } else {
                EXPECT_EQ(box.Read("x.txt"), "OLD CONTENT");
                EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>{"x.txt"});
            }
            if (c.extractionRefuses) {
                EXPECT_EQ(failure.reason, EntryFailure::kExtractFailed);
                EXPECT_EQ(failure.extractResult, ARCHIVE_WRITE_FAILED);
            }
        }
    }
}

struct OverwriteCase {
    const char* fault;
    std::function<void(const Sandbox&)> before;
    std::function<void(ZipBuilder&)> archive;
    int code;
    EntryFailure reason;
    std::function<void(const Sandbox&)> check;
};

TEST(EntryRestore, ReplacesWhatStandsInTheWayOrFailsWithoutHarm) {
    const OverwriteCase cases[] = {
        {"read-only file not replaced or left read-only",
         [](const Sandbox& box) {
             box.Put("x.txt", "OLD");
             platform::WriteAttributes(box.DestU16("x.txt"), platform::kAttributeReadOnly);
         },
         [](ZipBuilder& zip) { zip.Add("x.txt", "NEW"); }, RESTORE_OK, EntryFailure::kNone,
         [](const Sandbox& box) {
             EXPECT_EQ(box.Read("x.txt"), "NEW");
             EXPECT_TRUE(restoretest::IsPlainFile(box.DestU16("x.txt")));
             EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>{"x.txt"});
         }},
        {"stored read-only attribute kept on the restored file",
         [](const Sandbox&) {},
         [](ZipBuilder& zip) { zip.Add("ro.txt", "RO").externalAttributes = 0x21; }, RESTORE_OK,
         EntryFailure::kNone,
         [](const Sandbox& box) {
             EXPECT_EQ(box.Read("ro.txt"), "RO");
             EXPECT_TRUE(restoretest::IsPlainFile(box.DestU16("ro.txt")));
         }},
        {"a folder where the file goes removed or written into",
         [](const Sandbox& box) { box.Put("x.txt/inner.txt", "INNER"); },
         [](ZipBuilder& zip) { zip.Add("x.txt", "NEW"); }, RESTORE_ENTRY_FAILED, EntryFailure::kTargetInTheWay,
         [](const Sandbox& box) {
             EXPECT_EQ(box.Read("x.txt/inner.txt"), "INNER");
             EXPECT_EQ(Tree(box.DestPath()), Sorted({"x.txt/", "x.txt/inner.txt"}));
         }},
        {"a plain file where a folder level goes replaced",
         [](const Sandbox& box) { box.Put("a", "PLAIN"); },
         [](ZipBuilder& zip) { zip.Add("a/b.txt", "NEW"); }, RESTORE_ENTRY_FAILED, EntryFailure::kFolderFailed,
         [](const Sandbox& box) {
             EXPECT_EQ(box.Read("a"), "PLAIN");
             EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>{"a"});
         }},
        {"the second of two names differing in case overwriting the first",
         [](const Sandbox&) {},
         [](ZipBuilder& zip) {
             zip.Add("Read.txt", "ONE");
             zip.Add("read.txt", "TWO");
         },
         RESTORE_ENTRY_FAILED, EntryFailure::kNameMismatch,
         [](const Sandbox& box) {
             EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>{"Read.txt"});
             EXPECT_EQ(box.Read("Read.txt"), "ONE");
         }},
        {"a second entry of the same name reported restored with the first one's data",
         [](const Sandbox&) {},
         [](ZipBuilder& zip) {
             zip.Add("same.txt", "ONE");
             zip.Add("same.txt", "TWO");
         },
         RESTORE_ENTRY_FAILED, EntryFailure::kDuplicateName,
         [](const Sandbox& box) { EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>{"same.txt"}); }},
        {"a folder entry removing an existing folder's content",
         [](const Sandbox& box) { box.Put("docs/keep.txt", "KEEP"); },
         [](ZipBuilder& zip) {
             zip.AddFolder("docs/");
             zip.AddFolder("docs/img/");
         },
         RESTORE_OK, EntryFailure::kNone,
         [](const Sandbox& box) {
             EXPECT_EQ(Tree(box.DestPath()), Sorted({"docs/", "docs/img/", "docs/keep.txt"}));
             EXPECT_EQ(box.Read("docs/keep.txt"), "KEEP");
         }},
        {"names not cleaned or levels not made",
         [](const Sandbox&) {},
         [](ZipBuilder& zip) {
             zip.Add("docs/sub/a?b.txt", "Q");
             zip.Add("x.txt", "X");
             zip.Add("a//b.txt", "B");
             zip.Add("empty.txt", "");
         },
         RESTORE_OK, EntryFailure::kNone,
         [](const Sandbox& box) {
             EXPECT_EQ(Tree(box.DestPath()), Sorted({"a/", "a/b.txt", "docs/", "docs/sub/", "docs/sub/a_b.txt",
                                                     "empty.txt", "x.txt"}));
             EXPECT_EQ(box.Read("docs/sub/a_b.txt"), "Q");
             EXPECT_EQ(box.Read("a/b.txt"), "B");
             EXPECT_EQ(std::filesystem::file_size(box.DestPath("empty.txt")), 0u);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        c.before(box);
        ZipBuilder zip;
        c.archive(zip);
        RestoreFailure failure;
        EXPECT_EQ(box.Run(zip, &failure), c.code);
        EXPECT_EQ(failure.reason, c.reason);
        c.check(box);
    }
}

TEST(EntryRestore, RefusesTargetsLongerThanThePathLimit) {
    for (const std::size_t extra : {1u, 40u}) {
        SCOPED_TRACE("units over the limit: " + std::to_string(extra));
        Sandbox box;
        // The longest target this platform takes (what the text of a path
        // of 'f' measures: units on Windows, UTF-8 bytes on POSIX), then
        // dest + levels of 200 + leaf of that length plus `extra`.
        const auto fits = [&](std::size_t units) {
            return platform::PathFits(box.Dest() + std::u16string(units - box.Dest().size(), u'f'));
        };
        std::size_t limit = box.Dest().size(), over = 1 << 16;
        while (over - limit > 1) {
            const std::size_t middle = (limit + over) / 2;
            (fits(middle) ? limit : over) = middle;
        }
        std::string name;
        for (std::size_t left = limit + extra - box.Dest().size(); left > 0;) {
            const std::size_t part = std::min<std::size_t>(left, 200);
            name += std::string(part, 'f');
            left -= part;
            if (left > 0) {
                name += '/';
                --left;
            }
        }
        ZipBuilder zip;
        zip.Add(name, "LONG");
        RestoreFailure failure;
        EXPECT_EQ(box.Run(zip, &failure), RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, EntryFailure::kPathTooLong);
        EXPECT_TRUE(Tree(box.DestPath()).empty());
    }
}

TEST(EntryRestore, FailsWithoutAnOpenArchiveOrAnEntryOfThatName) {
    Sandbox box;
    ZipBuilder zip;
    zip.Add("x.txt", "X");
    box.WriteArchive(zip);
    std::filesystem::create_directories(box.DestPath());
    RestoreFailure failure;
    EXPECT_FALSE(RestoreEntry(u"x.txt", box.Dest(), nullptr, &failure));
    EXPECT_EQ(failure.reason, EntryFailure::kBadHandle);

    std::unique_ptr<ArchiveHandle> handle = OpenArchive(box.Archive());
    ASSERT_TRUE(handle);
    EXPECT_FALSE(RestoreEntry(u"y.txt", box.Dest(), handle.get(), &failure));
    EXPECT_EQ(failure.reason, EntryFailure::kNotFound);
    EXPECT_FALSE(RestoreEntry(u"", box.Dest(), handle.get(), &failure));
    EXPECT_EQ(failure.reason, EntryFailure::kEmptyName);
    EXPECT_TRUE(Tree(box.DestPath()).empty());
    // The search ignores ASCII case but the restore does not.
    EXPECT_FALSE(RestoreEntry(u"X.TXT", box.Dest(), handle.get(), &failure));
    EXPECT_EQ(failure.reason, EntryFailure::kNameMismatch);
    EXPECT_TRUE(RestoreEntry(u"x.txt", box.Dest(), handle.get(), &failure));
    EXPECT_EQ(box.Read("x.txt"), "X");
    CloseArchive(handle);
}

}  // namespace

// Links already in the destination lead elsewhere: nothing may be written
// through them, while a link standing where a file goes is simply replaced.
// One test per row, so that where links can't be made each row is reported
// as skipped by its name.
namespace {

struct LinkCase {
    const char* name;  // the row's test name
    const char* fault;
    std::string entry;
    bool linkToFolder;       // the link leads to the outside folder, else to a missing file there
    std::string linkAt;      // below the destination
    bool restored;
};

const LinkCase kLinkCases[] = {
    {"FileThroughLinkedFolder", "writes through a linked folder level", "link/pwned.txt", true, "link", false},
    {"FolderEntryThroughLinkedLevel", "creates a folder entry through a linked level", "link/sub/", true, "link",
     false},
    {"DanglingLinkReplaced", "creates the file a dangling link names", "dangling.txt", false, "dangling.txt", true},
};

class LinkInTheDestination : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkInTheDestination, IsNeverWrittenThrough) {
    const LinkCase& c = GetParam();
    SCOPED_TRACE(c.fault);
    Sandbox box;
    const fs::path outside = box.MakeDestAndOutside();
    if (c.linkToFolder) {
        RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath(c.linkAt), outside, true));
    } else {
        // Made while its file exists, so that the link can be seen to
        // stand there; then the file goes.
        ASSERT_TRUE(testsupport::WriteFileBytes(outside / "created.txt", testzip::ToBytes("GONE")));
        RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath(c.linkAt), outside / "created.txt", false));
        ASSERT_TRUE(fs::remove(outside / "created.txt"));
    }
    ZipBuilder zip;
    if (c.entry.back() == '/') {
        zip.AddFolder(c.entry);
    } else {
        zip.Add(c.entry, "DATA");
    }
    RestoreFailure failure;
    EXPECT_EQ(box.Run(zip, &failure), c.restored ? RESTORE_OK : RESTORE_ENTRY_FAILED);
    EXPECT_TRUE(Tree(outside).empty()) << "something was written outside the destination";
    if (c.restored) {
        EXPECT_FALSE(fs::is_symlink(box.DestPath(c.linkAt))) << "the link was not replaced by the file";
        EXPECT_EQ(box.Read(c.linkAt), "DATA");
    }
}

INSTANTIATE_TEST_SUITE_P(EntryRestore, LinkInTheDestination, ::testing::ValuesIn(kLinkCases),
                         [](const ::testing::TestParamInfo<LinkCase>& row) { return std::string(row.param.name); });

}  // namespace

// Distinct names that lead to one file: the later would replace what the
// run has just restored and success would be reported for data now gone.
TEST(RestoreRun, RefusesASecondEntryThatLandsOnTheSameFile) {
    struct Case {
        const char* fault;
        std::string first, second, path;
    };
    const Case cases[] = {
        {"question mark cleaned onto an existing name", "a_b.txt", "a?b.txt", "a_b.txt"},
        {"empty level collapsed onto a name", "d/x.txt", "d//x.txt", "d/x.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        ZipBuilder zip;
        zip.Add(c.first, "ONE");
        zip.Add(c.second, "TWO");
        RestoreFailure failure;
        EXPECT_EQ(box.Run(zip, &failure), RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, EntryFailure::kDuplicateName);
        EXPECT_EQ(failure.entryIndex, 1);
        EXPECT_EQ(box.Read(c.path), "ONE");
    }
}
