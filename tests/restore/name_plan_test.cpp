// Every step of an entry works on the one name its plan maps ("?" becomes
// "_"): the levels, the link checks, the folder made for a folder entry and
// what it replaces. A step that took the stored name instead would make a
// folder the plan never allowed, follow a link the plan never checked, or
// remove a file for a folder that then fails. Folder entries are also known
// by the separator their name ends in, whatever their attributes say, as
// most writers other than Windows' mark nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "links.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

// Entries before and after the one a row is about: a large one keeps a
// worker busy while the row's entry is committed.
void AddAround(ZipBuilder& zip, const std::function<void(ZipBuilder&)>& row) {
    zip.Add("pre/a.bin", Text(3 << 20, 1), 8);
    zip.Add("pre/b.txt", Text(5000, 2), 8);
    row(zip);
    zip.Add("post.txt", "POST");
}

std::vector<std::string> WithAround(std::vector<std::string> tree, bool restored) {
    for (const char* name : {"pre/", "pre/a.bin", "pre/b.txt"}) tree.push_back(name);
    if (restored) tree.push_back("post.txt");
    std::sort(tree.begin(), tree.end());
    return tree;
}

enum class Before { kNothing, kFile, kFolderLink };

struct PlanCase {
    const char* name;
    const char* fault;
    Before before;
    std::string at;      // below the destination; holds "PRECIOUS", or is a link to "outside"
    std::string entry;   // holds "DATA" unless it is a folder
    bool folder;         // marked as a folder in its attributes
    EntryFailure reason;  // kNone: restored
    std::vector<std::string> tree;  // the row's part of the destination afterwards
};

const PlanCase kPlanCases[] = {
    {"FolderOverAFileOfItsName", "the user's file removed, then a folder made under the stored name and failed",
     Before::kFile, "x_", "x?", true, EntryFailure::kNone, {"x_/"}},
    {"FolderEndingInASeparator", "a folder made under the stored name beside the planned one", Before::kNothing, "",
     "d?/", true, EntryFailure::kNone, {"d_/"}},
    {"FolderBelowALinkOfItsStoredName", "a folder made outside through a link the plan never checked",
     Before::kFolderLink, "l?", "l?/sub/", true, EntryFailure::kNone, {"l?/", "l_/", "l_/sub/"}},
    {"FolderLevelOverAFile", "a file removed for a level of a folder entry", Before::kFile, "y_", "y?/", true,
     EntryFailure::kFolderFailed, {"y_"}},
    {"FolderOverALink", "a folder entry replacing a link, or making something where it leads", Before::kFolderLink,
     "z_", "z?", true, EntryFailure::kTargetInTheWay, {"z_/"}},
    {"FileOverAFileOfItsName", "a file entry not replacing the file of its planned name", Before::kFile, "f_.txt",
     "f?.txt", false, EntryFailure::kNone, {"f_.txt"}},
};

class MappedName : public ::testing::TestWithParam<PlanCase> {};

TEST_P(MappedName, EveryStepUsesIt) {
    const PlanCase& c = GetParam();
    if (platform::kPathSeparator == u'\\' && c.at.find('?') != std::string::npos)
        GTEST_SKIP() << "not on this system: Windows names can't hold '?'";
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
        Sandbox box;
        const fs::path outside = box.MakeDestAndOutside();
        switch (c.before) {
        case Before::kFile: box.Put(c.at, "PRECIOUS"); break;
        case Before::kFolderLink: RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath(c.at), outside, true)); break;
        case Before::kNothing: break;
        }
        ZipBuilder zip;
        AddAround(zip, [&](ZipBuilder& z) {
            if (c.folder) {
                z.AddFolder(c.entry);
            } else {
                z.Add(c.entry, "DATA");
            }
        });
        box.WriteArchive(zip);
        RestoreFailure failure;
        const int code = RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers);
        const bool restored = c.reason == EntryFailure::kNone;
        EXPECT_EQ(code, restored ? RESTORE_OK : RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, c.reason);
        EXPECT_EQ(Tree(box.DestPath()), WithAround(c.tree, restored));
        EXPECT_TRUE(Tree(outside).empty()) << "something was made outside the destination";
        if (c.before == Before::kFile && !restored) {
            EXPECT_EQ(box.Read(c.at), "PRECIOUS");
        }
        if (c.before == Before::kFolderLink) {
            EXPECT_NE(platform::ReadAttributes(box.DestU16(c.at)) & platform::kAttributeReparsePoint, 0u)
                << "the link was replaced";
        }
        if (!c.folder && restored) {
            EXPECT_EQ(box.Read(c.tree[0]), "DATA");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(NamePlan, MappedName, ::testing::ValuesIn(kPlanCases),
                         [](const ::testing::TestParamInfo<PlanCase>& row) { return std::string(row.param.name); });

struct SlashEntry {
    std::string name;
    std::string data;
    std::uint16_t method;
    std::uint32_t externalAttributes;
    std::uint16_t versionMadeBy;
};

struct SlashCase {
    const char* fault;
    std::vector<SlashEntry> entries;
    EntryFailure reason;  // kNone: restored; else the last entry fails
    std::vector<std::string> tree;
};

constexpr std::uint16_t kMadeOnDos = 0x0014;
constexpr std::uint16_t kMadeOnUnix = 0x0314;
constexpr std::uint32_t kUnixFile0600 = 0100600u << 16;

TEST(NamePlan, AFolderIsKnownByItsSeparator) {
    const SlashCase cases[] = {
        {"Java's folder entries (no attributes, deflated, no data) failing the run",
         {{"a/", "", 8, 0, kMadeOnDos}, {"a/f.txt", "F", 8, 0, kMadeOnDos}},
         EntryFailure::kNone,
         {"a/", "a/f.txt"}},
        {"folder entries with a plain file's mode failing the run",
         {{"a/", "", 0, kUnixFile0600, kMadeOnUnix},
          {"a/b/", "", 0, kUnixFile0600, kMadeOnUnix},
          {"a/b/c.txt", "C", 0, kUnixFile0600, kMadeOnUnix}},
         EntryFailure::kNone,
         {"a/", "a/b/", "a/b/c.txt"}},
        {"a folder named with a backslash failing the run", {{"w\\", "", 0, 0x20, kMadeOnDos}}, EntryFailure::kNone,
         {"w/"}},
        {"data of a name that can only name a folder reported as restored",
         {{"a/", "DATA", 0, 0, kMadeOnDos}},
         EntryFailure::kTargetInTheWay,
         {"a/"}},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            ZipBuilder zip;
            for (const SlashEntry& e : c.entries) {
                testzip::Entry& added = zip.Add(e.name, e.data, e.method);
                added.externalAttributes = e.externalAttributes;
                added.versionMadeBy = e.versionMadeBy;
            }
            box.WriteArchive(zip);
            RestoreFailure failure;
            const int code = RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers);
            if (c.reason == EntryFailure::kNone) {
                EXPECT_EQ(code, RESTORE_OK);
            } else {
                EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
                EXPECT_EQ(failure.entryIndex, static_cast<std::int32_t>(c.entries.size()) - 1);
            }
            EXPECT_EQ(failure.reason, c.reason);
            EXPECT_EQ(Tree(box.DestPath()), c.tree);
        }
    }
}

}  // namespace
