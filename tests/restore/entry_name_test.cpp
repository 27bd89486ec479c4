// An entry's name judged and planned on the text alone: the target path,
// the folder levels on the way, and the refusals, before anything exists.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fs.h"
#include "restore/entry_name.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using testzip::ZipBuilder;

// Written with '/', compared with the platform's separator.
std::u16string Native(std::u16string path) {
    for (char16_t& c : path) {
        if (c == u'/') c = platform::kPathSeparator;
    }
    return path;
}

TEST(EntryName, PlansTargetAndLevelsOrRefuses) {
    const std::u16string dest = Native(u"/d/");
    const struct {
        const char* fault;
        std::u16string name;
        EntryFailure refused;
        std::u16string target;               // below dest, when planned
        std::vector<std::u16string> levels;  // below dest
        bool namesFolder;
    } cases[] = {
        {"nested file planned wrong", u"a/b/c.txt", EntryFailure::kNone, u"a/b/c.txt", {u"a", u"a/b"}, false},
        {"backslash kept in the leaf", u"a\\b.txt", EntryFailure::kNone, u"a/b.txt", {u"a"}, false},
        {"question mark kept", u"a?b", EntryFailure::kNone, u"a_b", {}, false},
        {"folder name taken for a file", u"a/b/", EntryFailure::kNone, u"a/b/", {u"a", u"a/b"}, true},
        {"empty and dot levels kept", u"a//./b", EntryFailure::kNone, u"a/b", {u"a"}, false},
        {"a name of dots read past its end", u".", EntryFailure::kNone, u"", {}, true},
        {"a name of dot levels read past its end", u"./.", EntryFailure::kNone, u"", {}, true},
        {"escape by .. accepted", u"a/../../x", EntryFailure::kUnsafeName, u"", {}, false},
        {"device name accepted", u"a/com1.txt", EntryFailure::kUnsafeName, u"", {}, false},
        {"trailing dot accepted", u"a./b", EntryFailure::kUnsafeName, u"", {}, false},
        {"empty name accepted", u"", EntryFailure::kEmptyName, u"", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        TargetPlan plan;
        ASSERT_EQ(PlanEntryTarget(c.name, dest, plan), c.refused);
        if (c.refused != EntryFailure::kNone) continue;
        EXPECT_EQ(plan.target, dest + Native(c.target));
        std::vector<std::u16string> levels;
        for (std::size_t end : plan.levelEnds) levels.push_back(plan.target.substr(dest.size(), end - dest.size()));
        std::vector<std::u16string> expected;
        for (const auto& level : c.levels) expected.push_back(Native(level));
        EXPECT_EQ(levels, expected);
        EXPECT_EQ(plan.NamesFolder(), c.namesFolder);
    }
}

// A file entry that names the destination itself fails like one naming a
// folder; it must not take the destination for its file.
TEST(EntryName, AFileEntryNamingTheDestinationFails) {
    for (const char* name : {".", "./."}) {
        SCOPED_TRACE(name);
        Sandbox box;
        ZipBuilder zip;
        zip.Add(name, "DATA");
        RestoreFailure failure;
        EXPECT_EQ(box.Run(zip, &failure), RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, EntryFailure::kTargetInTheWay);
        EXPECT_TRUE(restoretest::Tree(box.DestPath()).empty());
    }
}

}  // namespace
