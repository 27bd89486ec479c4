// The tree of the chosen archive's entries in the real dialog: filled from
// the catalogue on a worker, a level's items made when it is opened, the
// boxes toggled by the space key as a user does, the count under it, and a
// restore that writes the checked entries and nothing else.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/wide.h"
#include "res/resource.h"
#include "restore/restore.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "tests/winui/scripted_user.h"
#include "ui/entry_tree_view.h"
#include "ui/vantrel_dlg.h"

namespace {

namespace fs = std::filesystem;
using winuitest::PumpUntil;
using winuitest::ScriptedUser;
using winuitest::WindowText;

// The backup of C:\\Data\\Photos (its name's Base64 part).
constexpr char16_t kBackupName[] = u"20240315093000_1_QzpcRGF0YVxQaG90b3M=.zip";

HTREEITEM Next(HWND tree, HTREEITEM item, UINT how) {
    return reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

std::u16string ItemText(HWND tree, HTREEITEM item) {
    wchar_t text[260] = {};
    TVITEMW data{};
    data.mask = TVIF_TEXT | TVIF_HANDLE;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = 260;
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    return U16(text);
}

int StateOf(HWND tree, HTREEITEM item) {
    const LRESULT state = ::SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_STATEIMAGEMASK);
    return static_cast<int>((state & TVIS_STATEIMAGEMASK) >> 12);
}

// The items of one level, as "name:state".
std::vector<std::string> Level(HWND tree, HTREEITEM first) {
    std::vector<std::string> items;
    for (HTREEITEM i = first; i; i = Next(tree, i, TVGN_NEXT)) {
        const std::u16string t = ItemText(tree, i);
        items.push_back(std::string(t.begin(), t.end()) + ":" + std::to_string(StateOf(tree, i)));
    }
    return items;
}

HTREEITEM Find(HWND tree, HTREEITEM first, const char16_t* name) {
    for (HTREEITEM i = first; i; i = Next(tree, i, TVGN_NEXT))
        if (ItemText(tree, i) == name) return i;
    return nullptr;
}

// What a user does to a box from the keyboard: the item selected, space.
void PressSpaceOn(HWND tree, HTREEITEM item) {
    ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    ::SendMessageW(tree, WM_KEYDOWN, VK_SPACE, 0);
}

// Answers the question about what stands there with "replace", noting
// what it was told.
class ReplacingUser : public ScriptedUser {
public:
    int decisions = 0;
    DecisionTexts shown;
    bool DecideAboutExisting(HWND, const DecisionTexts& texts, RestoreDecision& decision) override {
        ++decisions;
        shown = texts;
        decision = RestoreDecision{};
        return true;
    }
};

class TreeInDialog : public ::testing::Test {
protected:
    void TearDown() override {
        if (dialog && dialog->IsRestoreRunning()) PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); });
        dialog.reset();
    }
    void OpenWith(const testzip::ZipBuilder& zip) {
        archive = box.path() / fs::path(std::u16string(kBackupName));
        ASSERT_TRUE(zip.BuildToFile(archive));
        dialog = std::make_unique<CVantrelDlg>(user);
        ASSERT_TRUE(dialog->Create());
        user.dialog = dialog->m_hWnd;
        user.files.push_back(archive.u16string());
        ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_SELECT), BM_CLICK, 0, 0);
        ASSERT_TRUE(PumpUntil(dialog->m_hWnd, [&] { return Tree() && Next(Tree(), nullptr, TVGN_ROOT); }, 30000))
            << "the tree did not fill";
    }
    HWND Tree() const { return ::GetDlgItem(dialog->m_hWnd, IDC_ENTRY_TREE); }
    std::u16string Count() const { return WindowText(::GetDlgItem(dialog->m_hWnd, IDC_ENTRY_COUNT)); }

    testsupport::TempFolder box;
    fs::path archive;
    ReplacingUser user;
    std::unique_ptr<CVantrelDlg> dialog;
};

testzip::ZipBuilder SmallBackup() {
    testzip::ZipBuilder zip;
    for (const char* name : {"docs/", "docs/b.txt", "docs/a/x.txt", "docs/a/y.txt", "pics/c.jpg", "top.txt"}) {
        const std::string n(name);
        zip.Add(n, n.back() == '/' ? "" : std::string(1000, 'x'));
    }
    return zip;
}

TEST_F(TreeInDialog, ACheckedSubsetIsRestoredAndNothingElse) {
    OpenWith(SmallBackup());
    HWND tree = Tree();
    const HTREEITEM root = Next(tree, nullptr, TVGN_ROOT);
    EXPECT_EQ(Level(tree, root), (std::vector<std::string>{"docs:2", "pics:2", "top.txt:2"}))
        << "folders first, every box checked";
    EXPECT_EQ(Count(), u"選んだ項目：6（4.9 KB）");
    const HTREEITEM docs = Find(tree, root, u"docs");
    EXPECT_EQ(Next(tree, docs, TVGN_CHILD), nullptr) << "a level's items wait until it is opened";
    ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(docs));
    EXPECT_EQ(Level(tree, Next(tree, docs, TVGN_CHILD)), (std::vector<std::string>{"a:2", "b.txt:2"}));

    PressSpaceOn(tree, Find(tree, root, u"pics"));
    PressSpaceOn(tree, Find(tree, Next(tree, docs, TVGN_CHILD), u"b.txt"));
    EXPECT_EQ(Level(tree, root), (std::vector<std::string>{"docs:3", "pics:1", "top.txt:2"}))
        << "an unchecked file makes its folder mixed";
    EXPECT_EQ(Count(), u"選んだ項目：4（2.9 KB）");

    testsupport::TempFolder dest;
    user.asked.clear();
    user.messageAnswers = {IDYES, IDOK};
    user.folders.push_back(dest.path().u16string());
    ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_RESTORE), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); }, 30000));
    ASSERT_EQ(user.Messages().size(), 2u);
    EXPECT_EQ(user.Messages()[1].text, dlgtext::kRestoreSucceeded);
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(dest.path()))
        written.push_back(fs::relative(e.path(), dest.path()).generic_string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"docs", "docs/a", "docs/a/x.txt", "docs/a/y.txt", "top.txt"}));

    // Nothing checked: nothing to restore, and nothing asked but that.
    for (HTREEITEM i = root; i; i = Next(tree, i, TVGN_NEXT))
        if (StateOf(tree, i) != 1) PressSpaceOn(tree, i);
    if (StateOf(tree, Find(tree, root, u"docs")) != 1) PressSpaceOn(tree, Find(tree, root, u"docs"));
    EXPECT_EQ(Count(), u"選んだ項目：0（0.0 KB）");
    user.asked.clear();
    ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_RESTORE), BM_CLICK, 0, 0);
    ASSERT_EQ(user.asked.size(), 1u);
    EXPECT_EQ(user.asked[0].text, dlgtext::kNothingChosen);
}

TEST_F(TreeInDialog, ALargeCatalogueFillsOnlyItsFirstLevel) {
    testzip::ZipBuilder zip;
    for (int f = 0; f < 50; ++f)
        for (int i = 0; i < 1000; ++i) {
            std::string name = "d";
            name += std::to_string(f);
            name += "/f";
            name += std::to_string(i);
            zip.Add(name, "");
        }
    OpenWith(zip);
    HWND tree = Tree();
    EXPECT_EQ(::SendMessageW(tree, TVM_GETCOUNT, 0, 0), 50) << "50,000 entries, one level of 50 items";
    EXPECT_EQ(Count(), u"選んだ項目：50,000（0.0 KB）");
}

TEST_F(TreeInDialog, EveryEntryCheckedRestoresTheWholeArchive) {
    OpenWith(SmallBackup());
    testsupport::TempFolder dest;
    user.asked.clear();
    user.messageAnswers = {IDYES, IDOK};
    user.folders.push_back(dest.path().u16string());
    ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_RESTORE), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); }, 30000));
    EXPECT_TRUE(fs::exists(dest / "pics/c.jpg"));
    EXPECT_TRUE(fs::exists(dest / "docs/b.txt"));
}

TEST_F(TreeInDialog, TheQuestionCountsOnlyTheCheckedEntries) {
    OpenWith(SmallBackup());
    testsupport::TempFolder dest;
    ASSERT_EQ(RestoreArchive(dest.WithSeparator(), archive.u16string()), RESTORE_OK);
    // Every file stands there, the photo and top.txt changed since.
    testsupport::WriteFileBytes(dest / "pics/c.jpg", testzip::ToBytes("edited"));
    testsupport::WriteFileBytes(dest / "top.txt", testzip::ToBytes("edited"));
    HWND tree = Tree();
    PressSpaceOn(tree, Find(tree, Next(tree, nullptr, TVGN_ROOT), u"pics"));
    user.asked.clear();
    user.messageAnswers = {IDYES, IDOK};
    user.folders.push_back(dest.path().u16string());
    ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_RESTORE), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); }, 30000));
    ASSERT_EQ(user.decisions, 1);
    EXPECT_EQ(user.shown.replaced, u"置き換わるファイル：1") << "the unchecked photo is no part of the restore";
    EXPECT_EQ(user.shown.identical, u"内容が同じファイル：3");
    EXPECT_EQ(testsupport::ReadFileBytes(dest / "top.txt"), std::vector<std::uint8_t>(1000, 'x'));
    EXPECT_EQ(testsupport::ReadFileBytes(dest / "pics/c.jpg"), testzip::ToBytes("edited")) << "not checked, not touched";
}

}  // namespace
