#pragma once
// The restore dialog (template 102), the program's only window. The user
// picks a backup archive, whose file name tells when it was taken and where
// the backed-up item lived; the dialog proposes that folder, asks before
// overwriting and runs the restore on a worker thread. The worker reports
// back with two messages sent to the dialog's window.

#include <windows.h>

#include <memory>
#include <string>

#include "res/resource.h"
#include "restore/restore.h"
#include "ui/framework.h"

inline constexpr UINT WM_RESTORE_STARTED = WM_USER + 100;   // 1124
inline constexpr UINT WM_RESTORE_FINISHED = WM_USER + 200;  // 1224, wParam = result code

// Texts the dialog shows.
namespace dlgtext {
inline constexpr char16_t kFileFilter[] = u"バックアップファイル (*.zip)|*.zip||";
inline constexpr char16_t kUnreadableName[] =
    u"バックアップファイルの情報が読み取れませんでした。正しいバックアップファイルを指定してください。";
inline constexpr char16_t kNoArchive[] = u"バックアップファイルを指定してください。";
inline constexpr char16_t kConfirmRestore[] = u"バックアップファイルを復元します。よろしいですか？";
inline constexpr char16_t kConfirmOverwrite[] = u"既にファイルまたはフォルダが存在します。上書きしますか?";
inline constexpr char16_t kRestoreSucceeded[] = u"バックアップデータの復元が完了しました。";
inline constexpr char16_t kRestoreFailed[] = u"バックアップデータの復元に失敗しました。";
inline constexpr char16_t kRestoreButton[] = u"復元";
inline constexpr char16_t kRestoreButtonRunning[] = u"復元中...";
inline constexpr char16_t kBrowseTitle[] = u"復元先フォルダの指定";
}  // namespace dlgtext

// Opens the folder browser on `folder` (or, when that does not exist, on
// the user's documents folder). True when the user chose an existing
// folder; `folder` then holds it, ending in '\\'.
bool BrowseForRestoreFolder(HWND owner, std::u16string& folder, UserPrompts& prompts);

class CVantrelDlg : public CDialog, private RestoreObserver {
public:
    // `threadProc` runs the restore on the worker thread; it receives the
    // RestoreJob the dialog made. The program uses RestoreThreadProc.
    explicit CVantrelDlg(UserPrompts& prompts, WorkerProc threadProc = &RestoreThreadProc);
    ~CVantrelDlg() override;

    // True from the start of a worker until its result has been shown.
    bool IsRestoreRunning() const noexcept { return m_bRestoreRunning; }

    HICON m_hIcon;
    std::u16string m_strArchivePath;
    std::u16string m_strBackupTime;
    std::u16string m_strBackupKind;
    std::u16string m_strOriginalPath;
    std::u16string m_strRestoreFolder;
    std::u16string m_strBackupName;
    std::unique_ptr<CWinThread> m_pRestoreThread;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override { return OnInitRestoreDialog(); }
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    BOOL OnInitRestoreDialog();
    // True when the command was handled here; false hands it to the
    // system's default handling.
    bool OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaintWindow();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedSelect();
    void OnBnClickedRestore();
    LRESULT OnRestoreStarted(WPARAM wParam, LPARAM lParam);
    LRESULT OnRestoreFinished(WPARAM wParam, LPARAM lParam);
    void OnBnClickedClear();

    // RestoreObserver, called on the worker thread: both become messages
    // sent to the dialog's window, so the worker waits for the handlers.
    void OnRestoreStarted() override;
    void OnRestoreFinished(int resultCode) override;

    WorkerProc m_threadProc;
    // The worker's own copies of the destination and archive path: the
    // select and clear buttons stay usable during a run.
    std::unique_ptr<RestoreJob> m_pRestoreJob;
    bool m_bRestoreRunning = false;
};
