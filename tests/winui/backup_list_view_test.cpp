// The list of backups beside the chosen archive, in the real dialog: the
// rows a folder of backups gives, a row chosen filling the fields as the
// file-open dialog does, the archive remembered in profile.ini for the
// next start, and the list's texts whole at each DPI.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "tests/support/base64.h"
#include "tests/support/temp_folder.h"
#include "tests/winui/scripted_user.h"
#include "ui/backup_list_view.h"
#include "ui/vantrel_dlg.h"

namespace {

using winuitest::PumpPending;
using winuitest::ScriptedUser;
using winuitest::WindowText;

// The backup name for `originalPath` (its ANSI code page bytes encoded).
std::u16string BackupName(const std::u16string& originalPath, const std::u16string& stamp) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, W(originalPath), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, W(originalPath), -1, ansi.data(), size, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    const std::string encoded = testsupport::Base64(ansi);
    return stamp + u"_1_" + std::u16string(encoded.begin(), encoded.end()) + u".zip";
}

std::u16string CellText(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return U16(text);
}

int RowCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

int SelectedRow(HWND list) {
    return static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// What a user's click on a row does to the list's state.
void ClickRow(HWND list, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

int ChildCount(HWND dialog) {
    int n = 0;
    for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) ++n;
    return n;
}

// Three items backed up, six backups, and two files that are no backups.
struct BackupShelf {
    testsupport::TempFolder folder;
    std::u16string photosNew, photosOld, photosOldest, mailNew, mailOld, work;

    BackupShelf() {
        photosNew = Add(u"D:\\データ\\写真", u"20240315093000", 2500000);
        photosOld = Add(u"D:\\データ\\写真", u"20240301090000", 2400000);
        photosOldest = Add(u"D:\\データ\\写真", u"20240201090000", 100);
        mailNew = Add(u"C:\\Users\\u\\メール", u"20240320080000", 52000);
        mailOld = Add(u"C:\\Users\\u\\メール", u"20240310080000", 51000);
        work = Add(u"E:\\仕事\\報告書.docx", u"20240312170000", 800);
        testsupport::WriteFileBytes(folder / "holiday.zip", {});
        testsupport::WriteFileBytes(folder / "notes.txt", {});
    }
    std::u16string Add(const std::u16string& original, const std::u16string& stamp, std::size_t size) {
        const std::u16string path = folder.path().u16string() + u"\\" + BackupName(original, stamp);
        testsupport::WriteFileBytes(std::filesystem::path(path), std::vector<std::uint8_t>(size, 1));
        return path;
    }
};

class BackupListInDialog : public ::testing::Test {
protected:
    void TearDown() override { dialog.reset(); }
    void Open(const std::u16string& profile = u"") {
        dialog = std::make_unique<CVantrelDlg>(user);
        if (!profile.empty()) dialog->SetProfilePath(profile);
        ASSERT_TRUE(dialog->Create());
        user.dialog = dialog->m_hWnd;
    }
    HWND hwnd() const { return dialog->m_hWnd; }
    HWND List() const { return ::GetDlgItem(hwnd(), IDC_BACKUP_LIST); }
    std::u16string Text(int id) const { return WindowText(::GetDlgItem(hwnd(), id)); }
    void Select(const std::u16string& path) {
        user.files.push_back(path);
        ::SendMessageW(::GetDlgItem(hwnd(), IDC_SELECT), BM_CLICK, 0, 0);
    }
    // The four fields the user sees and the two hidden ones.
    std::vector<std::u16string> Fields() const {
        std::vector<std::u16string> f;
        for (int id : {IDC_ARCHIVE_PATH, IDC_BACKUP_TIME, IDC_BACKUP_KIND, IDC_ORIGINAL_PATH, IDC_RESTORE_FOLDER,
                       IDC_BACKUP_NAME})
            f.push_back(Text(id));
        return f;
    }

    ScriptedUser user;
    std::unique_ptr<CVantrelDlg> dialog;
};

TEST_F(BackupListInDialog, ShowsTheFolderByItemNewestFirst) {
    BackupShelf shelf;
    Open();
    const int childrenBefore = ChildCount(hwnd());
    RECT before{};
    ::GetClientRect(hwnd(), &before);
    EXPECT_EQ(List(), nullptr) << "no list before there is a folder to show";

    Select(shelf.photosOld);
    ASSERT_NE(List(), nullptr);
    EXPECT_EQ(ChildCount(hwnd()), childrenBefore + 1);
    EXPECT_TRUE(::IsWindowVisible(List()));
    RECT after{};
    ::GetClientRect(hwnd(), &after);
    RECT growth{0, 0, 0, kBackupListGrowthUnits};
    ::MapDialogRect(hwnd(), &growth);
    EXPECT_EQ(after.bottom - before.bottom, growth.bottom) << "the dialog grows by the list's share";
    RECT listRect{};
    ::GetWindowRect(List(), &listRect);
    ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&listRect), 2);
    EXPECT_LE(listRect.bottom, after.bottom) << "the list lies inside the dialog";

    struct Row {
        const char* fault;
        std::u16string time, name, original;
    };
    const Row rows[] = {
        {"the item with the newest backup first", u"2024/03/20 08:00:00", u"メール", u"C:\\Users\\u\\メール"},
        {"its older backup next to it", u"2024/03/10 08:00:00", u"メール", u"C:\\Users\\u\\メール"},
        {"then the next item, newest first", u"2024/03/15 09:30:00", u"写真", u"D:\\データ\\写真"},
        {"", u"2024/03/01 09:00:00", u"写真", u"D:\\データ\\写真"},
        {"", u"2024/02/01 09:00:00", u"写真", u"D:\\データ\\写真"},
        {"a file's backup", u"2024/03/12 17:00:00", u"報告書.docx", u"E:\\仕事\\報告書.docx"},
    };
    ASSERT_EQ(RowCount(List()), static_cast<int>(std::size(rows))) << "non-backups are not listed";
    for (int i = 0; i < RowCount(List()); ++i) {
        SCOPED_TRACE(rows[i].fault);
        EXPECT_EQ(CellText(List(), i, 0), rows[i].time);
        EXPECT_EQ(CellText(List(), i, 1), rows[i].name);
        EXPECT_EQ(CellText(List(), i, 2), rows[i].original);
    }
    EXPECT_EQ(CellText(List(), 2, 3), u"2.4 MB");
    EXPECT_EQ(CellText(List(), 4, 3), u"0.1 KB");
    EXPECT_EQ(SelectedRow(List()), 3) << "the archive chosen is the row marked";

    HWND header = reinterpret_cast<HWND>(::SendMessageW(List(), LVM_GETHEADER, 0, 0));
    const std::u16string headers[] = {u"バックアップ時間", u"名前", u"元のパス", u"サイズ"};
    ASSERT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 4);
    for (int c = 0; c < 4; ++c) {
        wchar_t text[64] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        ::SendMessageW(header, HDM_GETITEMW, c, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(U16(text), headers[c]);
    }
}

TEST_F(BackupListInDialog, ARowChosenFillsTheFieldsAsTheFileDialogDoes) {
    BackupShelf shelf;
    // What 選択... shows for each archive, in a dialog of its own.
    std::vector<std::vector<std::u16string>> bySelect;
    const std::u16string order[] = {shelf.mailNew, shelf.mailOld, shelf.photosNew, shelf.photosOld,
                                    shelf.photosOldest, shelf.work};
    Open();
    for (const std::u16string& path : order) {
        Select(path);
        bySelect.push_back(Fields());
    }
    dialog.reset();
    user.asked.clear();

    Open();
    Select(shelf.work);
    const std::size_t askedBefore = user.asked.size();
    for (int row : {2, 0, 4, 1, 5, 3}) {
        SCOPED_TRACE(row);
        ClickRow(List(), row);
        PumpPending(hwnd());
        EXPECT_EQ(Fields(), bySelect[static_cast<std::size_t>(row)]);
        EXPECT_EQ(SelectedRow(List()), row);
        EXPECT_EQ(RowCount(List()), 6);
    }
    EXPECT_EQ(user.asked.size(), askedBefore) << "choosing a row asks nothing";

    // Clear empties the fields and the mark; the same row chosen again
    // fills them again.
    ::SendMessageW(::GetDlgItem(hwnd(), IDC_CLEAR), BM_CLICK, 0, 0);
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), u"");
    EXPECT_EQ(SelectedRow(List()), -1);
    ClickRow(List(), 3);
    EXPECT_EQ(Fields(), bySelect[3]);

    // A name that is no backup's changes neither the fields nor the list.
    Select(shelf.folder.path().u16string() + u"\\holiday.zip");
    EXPECT_EQ(Fields(), bySelect[3]);
    EXPECT_EQ(SelectedRow(List()), 3);
}

TEST_F(BackupListInDialog, FollowsArchivesDroppedOrHandedOver) {
    BackupShelf first, second;
    Open();
    Select(first.photosNew);
    ASSERT_EQ(RowCount(List()), 6);
    const std::u16string other = second.Add(u"F:\\音楽", u"20240401000000", 10);
    ASSERT_TRUE(SendArchiveToDialog(hwnd(), other));
    PumpPending(hwnd());
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), other);
    EXPECT_EQ(RowCount(List()), 7) << "the list shows the handed archive's folder";
    EXPECT_EQ(CellText(List(), SelectedRow(List()), 1), u"音楽");
    // A folder that can't be read keeps the list as it was.
    Select(u"C:\\nowhere\\" + BackupName(u"C:\\Data\\Photos", u"20131008081717"));
    EXPECT_EQ(RowCount(List()), 7);
    EXPECT_EQ(SelectedRow(List()), -1) << "no row is the archive chosen";
}

TEST_F(BackupListInDialog, TheArchiveChosenLastIsRememberedForTheNextStart) {
    BackupShelf shelf;
    testsupport::TempFolder settings;
    const std::u16string profile = settings.path().u16string() + u"\\profile.ini";
    ASSERT_TRUE(platform::WriteIniValue(profile, u"Update", u"CurrentVersion", u"1.0.0.0"));
    ASSERT_TRUE(platform::WriteIniValue(profile, u"Update", u"UpdateSiteURL", u"http://example.invalid/x.ini"));
    const std::vector<std::uint8_t> updateOnly = testsupport::ReadFileBytes(std::filesystem::path(profile));

    Open(profile);
    EXPECT_EQ(List(), nullptr) << "nothing remembered yet";
    Select(shelf.photosOld);
    ClickRow(List(), 0);
    EXPECT_EQ(platform::ReadIniValue(profile, u"Sorvane", u"LastArchive", u"", 32767), shelf.mailNew)
        << "a row chosen is the archive chosen last";
    EXPECT_EQ(platform::ReadIniValue(profile, u"Update", u"CurrentVersion", u"", 64), u"1.0.0.0");
    EXPECT_EQ(platform::ReadIniValue(profile, u"Update", u"UpdateSiteURL", u"", 256), u"http://example.invalid/x.ini");
    const std::vector<std::uint8_t> now = testsupport::ReadFileBytes(std::filesystem::path(profile));
    ASSERT_GE(now.size(), updateOnly.size());
    EXPECT_TRUE(std::equal(updateOnly.begin(), updateOnly.end(), now.begin())) << "the update keys' lines untouched";
    dialog.reset();

    Open(profile);
    ASSERT_NE(List(), nullptr) << "the next start shows the backups beside the archive chosen last";
    EXPECT_EQ(RowCount(List()), 6);
    EXPECT_EQ(SelectedRow(List()), -1);
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), u"") << "the fields wait for the user's choice";
    dialog.reset();

    // Without a profile nothing is read or written.
    Open();
    EXPECT_EQ(List(), nullptr);
}

TEST_F(BackupListInDialog, HeadersAndTimesAreWholeAtEachDpi) {
    BackupShelf shelf;
    Open();
    Select(shelf.work);
    HWND list = List();
    ASSERT_NE(list, nullptr);
    RECT base{};
    ::GetWindowRect(list, &base);
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    LOGFONTW dialogFont{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)), sizeof(dialogFont), &dialogFont);
    for (const wchar_t* face : {L"MS UI Gothic", L"Yu Gothic UI", L"Meiryo"}) {
        for (int dpi : {96, 120, 144, 192}) {
            SCOPED_TRACE(std::to_string(dpi) + " DPI");
            // The list as the dialog lays it out at that DPI: its font at the
            // pixel height of 9 points there, its width scaled alike.
            LOGFONTW lf = dialogFont;
            lf.lfHeight = -::MulDiv(9, dpi, 72);
            wcscpy_s(lf.lfFaceName, face);
            HFONT font = ::CreateFontIndirectW(&lf);
            ::SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
            ::SetWindowPos(list, nullptr, 0, 0, ::MulDiv(base.right - base.left, dpi, 96),
                           ::MulDiv(base.bottom - base.top, dpi, 96), SWP_NOMOVE | SWP_NOZORDER);
            FitBackupColumns(list);
            HDC dc = ::GetDC(list);
            HGDIOBJ old = ::SelectObject(dc, font);
            const auto need = [&](const std::u16string& text) {
                RECT r{0, 0, 0, 0};
                ::DrawTextW(dc, W(text), -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
                return r.right;
            };
            const std::u16string texts[] = {u"バックアップ時間", u"名前", u"元のパス", u"サイズ"};
            for (int c = 0; c < 4; ++c) {
                RECT item{};
                ::SendMessageW(header, HDM_GETITEMRECT, c, reinterpret_cast<LPARAM>(&item));
                // The header draws its text between margins of about three
                // edges each side.
                EXPECT_GE(item.right - item.left, need(texts[c]) + 6 * ::GetSystemMetrics(SM_CXEDGE))
                    << "column " << c;
            }
            const int timeWidth = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
            for (int row = 0; row < RowCount(list); ++row)
                EXPECT_GE(timeWidth, need(CellText(list, row, 0)) + 6 * ::GetSystemMetrics(SM_CXEDGE));
            ::SelectObject(dc, old);
            ::ReleaseDC(list, dc);
            ::SendMessageW(list, WM_SETFONT, 0, FALSE);
            ::DeleteObject(font);
        }
    }
}

}  // namespace
