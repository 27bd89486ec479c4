#pragma once
// The restore dialog's list of the backups that lie beside the archive
// chosen (backup_list.h): a report-style list view under the run's view,
// columns バックアップ時間, 名前, 元のパス, サイズ, one row a backup. It is
// made, and the dialog grows to hold it, the first time there is a folder
// to show; a dialog that never had one looks as its template draws it.
// The view only shows the list and says which row the user chose; the
// dialog selects that archive as its file-open dialog would. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/backup_list.h"
#include "ui/run_view.h"

namespace dlgtext {
inline constexpr char16_t kBackupTimeColumn[] = u"バックアップ時間";
inline constexpr char16_t kBackupNameColumn[] = u"名前";
inline constexpr char16_t kOriginalPathColumn[] = u"元のパス";
inline constexpr char16_t kBackupSizeColumn[] = u"サイズ";
}  // namespace dlgtext

// Where the list sits below the run's view, and how much the dialog grows
// for it (dialog units).
inline constexpr RECT kBackupListUnits{13, 226, 291, 98};  // x, y, width, height
inline constexpr int kBackupListGrowthUnits = 100;

// Sets the list's column widths for the font it has now: the time, the
// name and the size as wide as their header and their longest text (the
// name at most a quarter of the list), the original path the rest, never
// less than its header. So every header and time is whole at any DPI.
void FitBackupColumns(HWND list);

class BackupListView {
public:
    void Attach(HWND dialog) { dialog_ = dialog; }

    // Shows the backups of one folder, marking the row of `chosenPath`
    // (none when it names no row).
    void Show(const BackupFolder& backups, const std::u16string& chosenPath);
    // Marks the row of `path` without telling the dialog; none when empty.
    void MarkChosen(const std::u16string& path);
    bool Shown() const noexcept { return list_ != nullptr; }
    // The folder whose backups are shown, as given to Show.
    const std::u16string& Folder() const noexcept { return folder_; }
    void SetFolder(std::u16string folder) { folder_ = std::move(folder); }

    // A WM_NOTIFY from the list: the archive of the row the user chose
    // (a row newly selected, by mouse or keys), else empty.
    std::u16string ChosenArchive(const NMHDR* header) const;

    // After a change of DPI: the dialog's font again, the place the
    // template's units give, the columns fitted anew.
    void Relayout();

private:
    void Create();

    HWND dialog_ = nullptr;
    HWND list_ = nullptr;  // a child of the dialog, destroyed with it
    std::u16string folder_;
    std::vector<std::u16string> paths_;  // by row
    bool marking_ = false;
    UserNumberText numbers_;
};
