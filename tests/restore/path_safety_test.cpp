// Path safety against what already stands in the destination and against
// names the file system takes as one. The same tables run natively and
// under Wine, so both back ends of exclusive creation, the no-replace move
// and the identity check meet one behaviour.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Tree;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

constexpr std::uint16_t kUtf8Name = 0x800;

// Names ending in a separator, or marked as folders, become folder entries.
void AddEntry(ZipBuilder& zip, const std::string& name, const std::string& data, bool folder = false) {
    if (folder || (!name.empty() && (name.back() == '/' || name.back() == '\\'))) {
        zip.AddFolder(name);
    } else {
        zip.Add(name, data).flags = kUtf8Name;
    }
}

// What stands in the destination before the run, and where it leads: the
// folder "outside" beside the destination, with "victim.txt" in it.
enum class Standing { kFolderLink, kDanglingLink, kFileLink, kFifo, kNothing };

struct StandingCase {
    const char* name;  // the row's test name
    const char* fault;
    Standing standing;
    std::string at;      // below the destination
    std::string entry;   // one entry holding "DATA"
    EntryFailure reason; // kNone: restored
    std::string restoredAs;
};

const StandingCase kStanding[] = {
    {"FileThroughLinkedLevel", "a file written through a linked level", Standing::kFolderLink, "lnk", "lnk/new.txt",
     EntryFailure::kFolderFailed, ""},
    {"FileThroughLinkedLevelBackslash", "a file written through a linked level named with a backslash",
     Standing::kFolderLink, "lnk", "lnk\\new.txt", EntryFailure::kFolderFailed, ""},
    {"FolderThroughLinkedLevelBackslash", "a folder made through a linked level named with a backslash",
     Standing::kFolderLink, "lnk", "lnk\\sub/", EntryFailure::kFolderFailed, ""},
    {"DanglingLink", "the file a dangling link names created outside", Standing::kDanglingLink, "x.txt", "x.txt",
     EntryFailure::kNone, "x.txt"},
    {"FileLink", "a file outside overwritten through a link at the target", Standing::kFileLink, "x.txt", "x.txt",
     EntryFailure::kNone, "x.txt"},
    {"Pipe", "a pipe at the target opened and written", Standing::kFifo, "x.txt", "x.txt", EntryFailure::kNone,
     "x.txt"},
    {"BackslashInLeaf", "a backslash kept in the leaf instead of separating levels", Standing::kNothing, "",
     "d\\x.txt", EntryFailure::kNone, "d/x.txt"},
};

// One test per row, so that a row whose standing thing this system can't
// make is reported as skipped by its name while the others run.
class WhatStands : public ::testing::TestWithParam<StandingCase> {};

TEST_P(WhatStands, NothingIsWrittenThroughIt) {
    const StandingCase& c = GetParam();
    SCOPED_TRACE(c.fault);
    Sandbox box;
    const fs::path outside = box.MakeDestAndOutside();
    ASSERT_TRUE(testsupport::WriteFileBytes(outside / "victim.txt", testzip::ToBytes("VICTIM")));
    switch (c.standing) {
    case Standing::kFolderLink: RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath(c.at), outside, true)); break;
    case Standing::kDanglingLink:
        // Made while its file exists, so that the link can be seen to
        // stand there; then the file goes.
        ASSERT_TRUE(testsupport::WriteFileBytes(outside / "made.txt", testzip::ToBytes("GONE")));
        RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath(c.at), outside / "made.txt", false));
        ASSERT_TRUE(fs::remove(outside / "made.txt"));
        break;
    case Standing::kFileLink:
        RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath(c.at), outside / "victim.txt", false));
        break;
    case Standing::kFifo: RESTORETEST_SET_UP(restoretest::MakeFifo(box.DestPath(c.at))); break;
    case Standing::kNothing: break;
    }
    ZipBuilder zip;
    AddEntry(zip, c.entry, "DATA");
    RestoreFailure failure;
    const int code = box.Run(zip, &failure);
    EXPECT_EQ(Tree(outside), std::vector<std::string>{"victim.txt"}) << "something was made outside";
    const auto victim = testsupport::ReadFileBytes(outside / "victim.txt");
    EXPECT_EQ(std::string(victim.begin(), victim.end()), "VICTIM");
    if (c.reason == EntryFailure::kNone) {
        ASSERT_EQ(code, RESTORE_OK) << static_cast<int>(failure.reason);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(box.DestPath(c.restoredAs))));
        EXPECT_EQ(box.Read(c.restoredAs), "DATA");
    } else {
        EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, c.reason);
    }
}

INSTANTIATE_TEST_SUITE_P(PathSafety, WhatStands, ::testing::ValuesIn(kStanding),
                         [](const ::testing::TestParamInfo<StandingCase>& row) { return std::string(row.param.name); });

// Two entries whose names the file system may take as one file. Whether it
// does depends on the file system (é and É are one file under Wine's
// folding, two on Linux), so the rule checked is the one that matters: no
// entry silently loses its data. Either both files read back their own
// content, or the second entry fails as a duplicate and the first is
// intact. Rows with a fixed answer say so.
struct MergeCase {
    const char* fault;
    std::string first, second;  // raw names, UTF-8 flagged
    int code;                   // -1: whichever the file system decides, as above
    EntryFailure reason;
    bool secondIsFolder = false;  // a folder entry even without a separator at the end
};

TEST(PathSafety, OneFilePerEntry) {
    const MergeCase cases[] = {
        {"\"./x\" replacing \"x\"", "x.txt", "./x.txt", RESTORE_ENTRY_FAILED, EntryFailure::kDuplicateName},
        {"\"a/./b\" replacing \"a/b\"", "a/b.txt", "a/./b.txt", RESTORE_ENTRY_FAILED, EntryFailure::kDuplicateName},
        {"a trailing dot merged on Windows", "a", "a.", RESTORE_ENTRY_FAILED, EntryFailure::kUnsafeName},
        {"a trailing space merged on Windows", "a", "a ", RESTORE_ENTRY_FAILED, EntryFailure::kUnsafeName},
        {"a level ending in a dot", "d/x.txt", "d./x.txt", RESTORE_ENTRY_FAILED, EntryFailure::kUnsafeName},
        {"a folder entry deleting a restored file", "x.txt", "./x.txt", RESTORE_ENTRY_FAILED,
         EntryFailure::kDuplicateName, true},
        {"a folder listed after its files refused", "d/x.txt", "d\\", RESTORE_OK, EntryFailure::kNone},
        {"accented case twins merged", "\xC3\xA9.txt", "\xC3\x89.txt", -1, EntryFailure::kNone},
        {"full-width case twins merged", "\xEF\xBD\x81.txt", "\xEF\xBC\xA1.txt", -1, EntryFailure::kNone},
        {"Greek case twins merged", "\xCE\xB1.txt", "\xCE\x91.txt", -1, EntryFailure::kNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        ZipBuilder zip;
        AddEntry(zip, c.first, "ONE");
        AddEntry(zip, c.second, "TWO", c.secondIsFolder);
        RestoreFailure failure;
        const int code = box.Run(zip, &failure);
        if (c.code == RESTORE_OK || (c.code == -1 && code == RESTORE_OK)) {
            ASSERT_EQ(code, RESTORE_OK) << static_cast<int>(failure.reason);
            EXPECT_EQ(box.Read(c.first), "ONE");
            if (c.code == -1) {
                EXPECT_EQ(box.Read(c.second), "TWO") << "the second entry took the first one's file";
            }
            continue;
        }
        EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.entryIndex, 1);
        EXPECT_EQ(failure.reason, c.code == -1 ? EntryFailure::kDuplicateName : c.reason);
        EXPECT_EQ(box.Read(c.first), "ONE");
        EXPECT_EQ(Tree(box.DestPath()).size(), c.first.find('/') == std::string::npos ? 1u : 2u)
            << "the failed entry left something behind";
    }
}

}  // namespace
