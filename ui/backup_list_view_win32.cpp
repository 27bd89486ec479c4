// The list of backups beside the chosen archive (see backup_list_view.h),
// and the dialog's part in it: which folder it shows, what a chosen row
// does, and the archive remembered in profile.ini for the next start.

#include "ui/backup_list_view.h"

#include <algorithm>
#include <utility>

#include "platform/profile.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "ui/run_text.h"
#include "ui/vantrel_dlg.h"

namespace {

enum Column { kTimeColumn, kNameColumn, kPathColumn, kSizeColumn, kColumnCount };

int ListTextWidth(HWND list, const std::u16string& text) {
    return static_cast<int>(::SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(W(text))));
}

std::u16string ItemText(HWND list, int row, int column) {
    wchar_t text[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 1024;
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return U16(text);
}

// The profile's section of this program's own; the update program's
// "Update" section is never written here.
constexpr char16_t kProfileSection[] = u"Sorvane";
constexpr char16_t kLastArchiveKey[] = u"LastArchive";
constexpr std::size_t kProfilePathCapacity = 32767;

}  // namespace

void FitBackupColumns(HWND list) {
    const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    // The list's own margins around a text, as its header and cells draw
    // them: a few pixels each side, in the unit of the font's height.
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    const int margin = std::max<int>(16, metrics.tmHeight);

    const char16_t* headers[kColumnCount] = {dlgtext::kBackupTimeColumn, dlgtext::kBackupNameColumn,
                                             dlgtext::kOriginalPathColumn, dlgtext::kBackupSizeColumn};
    int widths[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) widths[c] = ListTextWidth(list, headers[c]) + margin;
    // Every time has the same digits; the widest digit string stands for
    // all of them.
    widths[kTimeColumn] = std::max(widths[kTimeColumn], ListTextWidth(list, u"8888/88/88 88:88:88") + margin);
    for (int row = 0; row < count; ++row) {
        widths[kNameColumn] = std::max(widths[kNameColumn], ListTextWidth(list, ItemText(list, row, kNameColumn)) + margin);
        widths[kSizeColumn] = std::max(widths[kSizeColumn], ListTextWidth(list, ItemText(list, row, kSizeColumn)) + margin);
    }
    RECT client{};
    ::GetClientRect(list, &client);
    const int room = client.right - ::GetSystemMetrics(SM_CXVSCROLL);
    const int nameHeader = ListTextWidth(list, dlgtext::kBackupNameColumn) + margin;
    widths[kNameColumn] = std::max(nameHeader, std::min(widths[kNameColumn], room / 4));
    const int rest = room - widths[kTimeColumn] - widths[kNameColumn] - widths[kSizeColumn];
    widths[kPathColumn] = std::max(widths[kPathColumn], rest);
    for (int c = 0; c < kColumnCount; ++c) ::SendMessageW(list, LVM_SETCOLUMNWIDTH, c, widths[c]);
}

void BackupListView::Create() {
    RECT place = kBackupListUnits;
    place.right += place.left;
    place.bottom += place.top;
    ::MapDialogRect(dialog_, &place);
    // The dialog grows downwards by the list's share; its template stays
    // as it is for a dialog that never shows a list.
    RECT growth{0, 0, 0, kBackupListGrowthUnits};
    ::MapDialogRect(dialog_, &growth);
    RECT window{};
    ::GetWindowRect(dialog_, &window);
    ::SetWindowPos(dialog_, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + growth.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    list_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                  LVS_NOSORTHEADER,
                              place.left, place.top, place.right - place.left, place.bottom - place.top, dialog_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_BACKUP_LIST)),
                              ::GetModuleHandleW(nullptr), nullptr);
    if (!list_) return;
    ::SendMessageW(list_, WM_SETFONT, ::SendMessageW(dialog_, WM_GETFONT, 0, 0), FALSE);
    ::SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const char16_t* headers[kColumnCount] = {dlgtext::kBackupTimeColumn, dlgtext::kBackupNameColumn,
                                             dlgtext::kOriginalPathColumn, dlgtext::kBackupSizeColumn};
    for (int c = 0; c < kColumnCount; ++c) {
        std::u16string text = headers[c];
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
        column.fmt = c == kSizeColumn ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.pszText = const_cast<wchar_t*>(W(text));
        column.iSubItem = c;
        ::SendMessageW(list_, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
}

void BackupListView::Show(const BackupFolder& backups, const std::u16string& chosenPath) {
    if (!list_) Create();
    if (!list_) return;
    marking_ = true;
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    paths_.clear();
    for (const BackupGroup& group : backups.groups) {
        for (const BackupFile& b : group.backups) {
            const int row = static_cast<int>(paths_.size());
            const std::u16string texts[kColumnCount] = {b.info.timeText, b.info.itemName, b.info.originalPath,
                                                        SizeText(b.size, numbers_)};
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = const_cast<wchar_t*>(W(texts[kTimeColumn]));
            ::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            for (int c = 1; c < kColumnCount; ++c) {
                LVITEMW sub{};
                sub.iSubItem = c;
                sub.pszText = const_cast<wchar_t*>(W(texts[c]));
                ::SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
            }
            paths_.push_back(b.path);
        }
    }
    FitBackupColumns(list_);
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
    marking_ = false;
    MarkChosen(chosenPath);
}

void BackupListView::MarkChosen(const std::u16string& path) {
    if (!list_) return;
    marking_ = true;
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    const auto found = std::find(paths_.begin(), paths_.end(), path);
    if (!path.empty() && found != paths_.end()) {
        const int row = static_cast<int>(found - paths_.begin());
        LVITEMW chosen{};
        chosen.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        chosen.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&chosen));
        ::SendMessageW(list_, LVM_ENSUREVISIBLE, row, FALSE);
    }
    marking_ = false;
}

std::u16string BackupListView::ChosenArchive(const NMHDR* header) const {
    if (!list_ || marking_ || header->hwndFrom != list_ || header->code != LVN_ITEMCHANGED) return {};
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (!(change->uChanged & LVIF_STATE)) return {};
    if (!(change->uNewState & LVIS_SELECTED) || (change->uOldState & LVIS_SELECTED)) return {};
    if (change->iItem < 0 || static_cast<std::size_t>(change->iItem) >= paths_.size()) return {};
    return paths_[static_cast<std::size_t>(change->iItem)];
}

void BackupListView::Relayout() {
    if (!list_) return;
    RECT place = kBackupListUnits;
    place.right += place.left;
    place.bottom += place.top;
    ::MapDialogRect(dialog_, &place);
    ::SendMessageW(list_, WM_SETFONT, ::SendMessageW(dialog_, WM_GETFONT, 0, 0), FALSE);
    ::SetWindowPos(list_, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    FitBackupColumns(list_);
}

// ---------------------------------------------------------------- the dialog's part

void CVantrelDlg::ShowBackupsBeside(const std::u16string& archivePath) {
    const std::u16string folder = FolderOfPath(archivePath);
    BackupFolder backups;
    // A folder that can't be read (gone, a share offline, a path from
    // another machine) shows nothing new: the list keeps what it showed.
    if (folder.empty() || !ListBackups(folder, backups)) {
        m_backupList.MarkChosen(archivePath);
        return;
    }
    // The dialog grows for a list only when it has a row to show.
    if (!m_backupList.Shown() && backups.BackupCount() == 0) return;
    m_backupList.SetFolder(folder);
    m_backupList.Show(backups, archivePath);
}

void CVantrelDlg::AfterArchiveSelected() {
    if (!m_strProfilePath.empty())
        platform::WriteIniValue(m_strProfilePath, kProfileSection, kLastArchiveKey, m_strArchivePath);
    // A row chosen in the list is in the folder the list shows; the list is
    // read again only for an archive that came another way (and not from
    // inside the list's own notification). The tree is every archive's.
    ReadCatalogueOf(m_strArchivePath);
    if (!m_bChoosingFromList) ShowBackupsBeside(m_strArchivePath);
    m_entryTree.Relayout();
}

void CVantrelDlg::ShowRememberedBackups() {
    if (m_strProfilePath.empty()) return;
    const std::u16string last =
        platform::ReadIniValue(m_strProfilePath, kProfileSection, kLastArchiveKey, u"", kProfilePathCapacity);
    if (last.empty()) return;
    // Only the list: the fields stay empty until the user chooses.
    const std::u16string folder = FolderOfPath(last);
    BackupFolder backups;
    if (folder.empty() || !ListBackups(folder, backups) || backups.BackupCount() == 0) return;
    m_backupList.SetFolder(folder);
    m_backupList.Show(backups, {});
}

bool CVantrelDlg::OnBackupListNotify(const NMHDR* header) {
    if (!header || header->idFrom != IDC_BACKUP_LIST) return false;
    const std::u16string chosen = m_backupList.ChosenArchive(header);
    if (chosen.empty() || chosen == m_strArchivePath) return true;
    m_bChoosingFromList = true;
    SelectArchive(chosen);
    m_bChoosingFromList = false;
    return true;
}
