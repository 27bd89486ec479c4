// The tree of an archive's entries with check boxes: levels made as they
// are opened, folders implied by the names, checked state up and down the
// tree, the counts chosen, and the member choice a restore takes, down to
// the files a restore of it writes. Runs in the run-figures test program.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "restore/restore.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "ui/entry_tree.h"

namespace {

using Check = EntryTree::Check;

std::vector<TreeEntry> Catalogue() {
    return {
        {u"docs/", true, 0},          // 0
        {u"docs/b.txt", false, 10},   // 1
        {u"docs-old.txt", false, 5},  // 2: sorts between "docs" and "docs/..." by plain text
        {u"docs/a/x.txt", false, 20}, // 3
        {u"zeta.txt", false, 1},      // 4
        {u"pics/2024/c.jpg", false, 300},  // 5: folders only implied by the name
        {u"docs\\a\\y.txt", false, 40},    // 6: the other separator
        {u"empty/", true, 0},         // 7
    };
}

std::vector<std::string> Names(EntryTree& tree, EntryTree::Node node) {
    std::vector<std::string> names;
    for (EntryTree::Node c : tree.Children(node))
        names.push_back(platform::Utf16ToUtf8(tree.Name(c)) + (tree.IsFolder(c) ? "/" : ""));
    return names;
}

EntryTree::Node Child(EntryTree& tree, EntryTree::Node node, const char16_t* name) {
    for (EntryTree::Node c : tree.Children(node))
        if (tree.Name(c) == name) return c;
    ADD_FAILURE() << "no child " << platform::Utf16ToUtf8(name);
    return node;
}

TEST(EntryTree, LevelsAreFoldersFirstByNameAndMadeWhenOpened) {
    EntryTree tree(Catalogue());
    EXPECT_EQ(tree.NodeCount(), 1u) << "nothing but the root before it is opened";
    EXPECT_EQ(Names(tree, tree.Root()), (std::vector<std::string>{"docs/", "empty/", "pics/", "docs-old.txt", "zeta.txt"}))
        << "a name sorting inside a folder's range must not split it";
    EXPECT_EQ(tree.NodeCount(), 6u) << "only the opened level is made";
    const EntryTree::Node docs = Child(tree, tree.Root(), u"docs");
    EXPECT_EQ(Names(tree, docs), (std::vector<std::string>{"a/", "b.txt"}));
    EXPECT_EQ(Names(tree, Child(tree, docs, u"a")), (std::vector<std::string>{"x.txt", "y.txt"}))
        << "both separators divide levels";
    const EntryTree::Node pics = Child(tree, tree.Root(), u"pics");
    EXPECT_EQ(Names(tree, Child(tree, pics, u"2024")), std::vector<std::string>{"c.jpg"});
    EXPECT_TRUE(Names(tree, Child(tree, tree.Root(), u"empty")).empty());
}

TEST(EntryTree, CheckingGoesDownAndStatesGoUp) {
    struct Step {
        const char* fault;
        std::vector<const char16_t*> path;  // from the root
        bool checked;
        Check root, docs, docsA;
        std::int64_t entries;
        std::uint64_t bytes;
    };
    const Step steps[] = {
        {"all checked at first", {}, true, Check::kChecked, Check::kChecked, Check::kChecked, 8, 376},
        {"a folder unchecked takes everything below it", {u"docs"}, false, Check::kMixed, Check::kUnchecked,
         Check::kUnchecked, 4, 306},
        {"one file checked again makes its folders mixed", {u"docs", u"a", u"y.txt"}, true, Check::kMixed,
         Check::kMixed, Check::kMixed, 5, 346},
        {"the last one checked makes its folder whole", {u"docs", u"a", u"x.txt"}, true, Check::kMixed,
         Check::kMixed, Check::kChecked, 6, 366},
        {"the root unchecked takes everything", {u""}, false, Check::kUnchecked, Check::kUnchecked,
         Check::kUnchecked, 0, 0},
    };
    EntryTree tree(Catalogue());
    const EntryTree::Node docs = Child(tree, tree.Root(), u"docs");
    const EntryTree::Node docsA = Child(tree, docs, u"a");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.fault);
        if (!s.path.empty()) {
            EntryTree::Node node = tree.Root();
            for (const char16_t* name : s.path)
                if (*name) node = Child(tree, node, name);
            tree.SetChecked(node, s.checked);
        }
        EXPECT_EQ(tree.State(tree.Root()), s.root);
        EXPECT_EQ(tree.State(docs), s.docs);
        EXPECT_EQ(tree.State(docsA), s.docsA);
        EXPECT_EQ(tree.ChosenEntries(), s.entries);
        EXPECT_EQ(tree.ChosenBytes(), s.bytes);
    }
}

TEST(EntryTree, ChoiceTakesTheFoldersTheChosenLieIn) {
    struct Case {
        const char* fault;
        std::vector<std::vector<const char16_t*>> unchecked;  // paths unchecked from all checked
        std::vector<bool> choice;
    };
    const Case cases[] = {
        {"everything", {}, {true, true, true, true, true, true, true, true}},
        {"every level unchecked: nothing chosen, no folder entry either",
         {{u"docs"}, {u"zeta.txt"}, {u"pics"}, {u"empty"}, {u"docs-old.txt"}},
         {false, false, false, false, false, false, false, false}},
        {"an empty folder unchecked", {{u"empty"}}, {true, true, true, true, true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EntryTree tree(Catalogue());
        for (const auto& path : c.unchecked) {
            EntryTree::Node node = tree.Root();
            for (const char16_t* name : path) node = Child(tree, node, name);
            tree.SetChecked(node, false);
        }
        EXPECT_EQ(tree.Choice(), c.choice);
    }
    // Unchecked as a whole, then one file deep inside checked again: the
    // folder entry "docs/" comes with it, the rest of docs does not.
    EntryTree tree(Catalogue());
    tree.SetChecked(tree.Root(), false);
    const EntryTree::Node a = Child(tree, Child(tree, tree.Root(), u"docs"), u"a");
    tree.SetChecked(Child(tree, a, u"x.txt"), true);
    EXPECT_EQ(tree.Choice(), (std::vector<bool>{true, false, false, true, false, false, false, false}));
}

TEST(EntryTree, ARestoreOfTheChoiceWritesTheCheckedEntriesAndNothingElse) {
    testzip::ZipBuilder zip;
    std::vector<TreeEntry> entries;
    for (const char* name : {"docs/", "docs/b.txt", "docs/a/x.txt", "docs/a/y.txt", "pics/c.jpg", "top.txt"}) {
        const std::string n(name);
        zip.Add(n, n.back() == '/' ? "" : "data of " + n);
        entries.push_back({platform::Utf8ToUtf16(n), n.back() == '/', 0});
    }
    testsupport::TempFolder box;
    ASSERT_TRUE(testsupport::WriteFileBytes(box / "a.zip", zip.Build()));
    EntryTree tree(entries);
    tree.SetChecked(tree.Root(), false);
    const EntryTree::Node docs = Child(tree, tree.Root(), u"docs");
    tree.SetChecked(Child(tree, docs, u"a"), true);
    tree.SetChecked(Child(tree, tree.Root(), u"top.txt"), true);
    const std::vector<bool> choice = tree.Choice();
    RestoreChoices choices;
    choices.entries = &choice;
    const std::filesystem::path dest = box / "out";
    std::filesystem::create_directory(dest);
    ASSERT_EQ(RestoreArchive((box / "out").u16string() + u"/", (box / "a.zip").u16string(), nullptr, nullptr, nullptr,
                             choices),
              RESTORE_OK);
    std::vector<std::string> written;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
        written.push_back(std::filesystem::relative(e.path(), dest).generic_string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"docs", "docs/a", "docs/a/x.txt", "docs/a/y.txt", "top.txt"}));
}

TEST(EntryTree, AMillionEntriesOpenOneLevelAtATime) {
    std::vector<TreeEntry> entries;
    entries.reserve(1000000);
    for (int f = 0; f < 1000; ++f)
        for (int i = 0; i < 1000; ++i) {
            std::u16string name = u"d";
            name += platform::Utf8ToUtf16(std::to_string(f));
            name += u"/f";
            name += platform::Utf8ToUtf16(std::to_string(i));
            entries.push_back({std::move(name), false, 1});
        }
    EntryTree tree(std::move(entries));
    EXPECT_EQ(tree.Children(tree.Root()).size(), 1000u);
    EXPECT_EQ(tree.NodeCount(), 1001u) << "opening the root makes its level only";
    const EntryTree::Node first = tree.Children(tree.Root())[0];
    tree.SetChecked(first, false);
    EXPECT_EQ(tree.ChosenEntries(), 999000);
    EXPECT_EQ(tree.State(tree.Root()), Check::kMixed);
    EXPECT_EQ(tree.Children(first).size(), 1000u);
}

}  // namespace
