#pragma once
// The restore dialog (template 102), the program's only window. The user
// picks a backup archive, whose file name tells when it was taken and where
// the backed-up item lived; the dialog proposes that folder, asks before
// overwriting and runs the restore on a worker thread. The worker reports
// back with two messages sent to the dialog's window; its progress reaches
// the taskbar button through a third, posted at most four times a second,
// and the view below the restore button (bar, status, the entry the run is
// on) on a timer of the same pace. The user may stop a run: the stop button
// and the close box ask first.
//
// An archive can also come from outside the dialog: the program's one
// argument, a file dropped onto the window, or a path handed over by a
// second instance (WM_COPYDATA). Each is selected exactly as a choice in
// the file-open dialog, unless a run is in progress or the dialog is busy
// asking the user something; then it is ignored.

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "res/resource.h"
#include "restore/plan.h"
#include "restore/restore.h"
#include "ui/backup_list_view.h"
#include "ui/entry_tree_view.h"
#include "ui/follow_up_view.h"
#include "ui/framework.h"
#include "ui/run_view.h"
#include "ui/taskbar_progress.h"

inline constexpr UINT WM_RESTORE_STARTED = WM_USER + 100;   // 1124
inline constexpr UINT WM_RESTORE_FINISHED = WM_USER + 200;  // 1224, wParam = result code
// Posted by the worker when new progress waits in the dialog's atomics.
inline constexpr UINT WM_RESTORE_PROGRESS = WM_USER + 150;  // 1174
// Posted by the dialog to itself: an archive offered from outside waits in
// m_strOfferedArchive. Selecting it later, not inside the message that
// brought it, lets a second instance's WM_COPYDATA return at once.
inline constexpr UINT WM_ARCHIVE_OFFERED = WM_USER + 160;  // 1184
// Posted by the dialog to itself after a change of DPI: the backup list and
// the tree, made at run time, are laid out again once the dialog manager
// has rescaled the template's controls.
inline constexpr UINT WM_BACKUP_LIST_LAYOUT = WM_USER + 170;  // 1194
// Posted by the worker that reads the chosen archive's catalogue for the
// tree of its entries, when it is done.
inline constexpr UINT WM_CATALOGUE_READ = WM_USER + 180;  // 1204

// A second instance hands its archive over in WM_COPYDATA with this dwData
// ("SVA1") and, as lpData, the full path in UTF-16 with its terminating
// zero (cbData = 2 * (length + 1)). The path must be absolute and at most
// kHandedPathMaxUnits long; anything else is refused (the message returns
// FALSE).
inline constexpr ULONG_PTR kArchiveHandoverTag = 0x53564131;
inline constexpr std::size_t kHandedPathMaxUnits = 32767;

// Sends `path` to the restore dialog `dialog` of another instance. True
// when that dialog took it (it may still ignore it when it is busy).
bool SendArchiveToDialog(HWND dialog, const std::u16string& path);

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
inline constexpr char16_t kConfirmStop[] = u"復元を中止しますか？";
inline constexpr char16_t kRestoreStopped[] = u"復元を中止しました。";
inline constexpr char16_t kNothingChosen[] = u"復元する項目を選んでください。";
}  // namespace dlgtext

// Opens the folder browser on `folder` (or, when that does not exist, on
// the user's documents folder). True when the user chose an existing
// folder; `folder` then holds it, ending in '\\'.
bool BrowseForRestoreFolder(HWND owner, std::u16string& folder, UserPrompts& prompts);

class CVantrelDlg : public CDialog, private RestoreObserver {
public:
    // `threadProc` runs the restore on the worker thread; it receives the
    // RestoreJob the dialog made. The program uses RestoreThreadProc.
    // `taskbar`, when given, shows each run's progress on the taskbar
    // button; it must outlive the dialog.
    explicit CVantrelDlg(UserPrompts& prompts, WorkerProc threadProc = &RestoreThreadProc,
                         TaskbarProgress* taskbar = nullptr);
    ~CVantrelDlg() override;

    // The archive given on the command line: selected once the dialog has
    // opened, as if chosen in the file-open dialog. Call before DoModal or
    // Create; `path` must be absolute.
    void SetStartArchive(std::u16string path) { m_strOfferedArchive = std::move(path); }

    // The program's profile.ini (full path): the archive chosen last is
    // kept there, in a section of the program's own, and the list of the
    // backups beside it shows when the dialog opens. Without one (tests)
    // nothing is remembered. Call before DoModal or Create.
    void SetProfilePath(std::u16string path) { m_strProfilePath = std::move(path); }

    // How the run is planned before it writes (PlanRestore; a test slows it
    // down to watch the dialog wait). Call before a restore is started.
    using PlanFunction = int (*)(const std::u16string& destinationFolder, const std::u16string& archivePath,
                                 const RestoreChoices& choices, std::vector<PlannedEntry>& entries,
                                 RestoreFailure* failure, const StopRequest* stop);
    void SetPlanFunction(PlanFunction plan) { m_planFunction = plan; }

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
    void OnBnClickedStop();
    // After a run that failed at an entry or was stopped: the rest of the
    // same archive into the same folder, asking nothing (see
    // follow_up_view.h), and the list of what that run left.
    void OnBnClickedFollowUp();
    void OnBnClickedSaveReport();
    // Starts a worker on `job` (its destination, archive, observer and
    // choices set) once the last one has ended.
    // `hadDecision`: the user answered what to do with what stands there,
    // and the counts of that answer follow the result.
    void BeginRun(std::unique_ptr<RestoreJob> job, bool hadDecision);
    // Asks whether to stop the run, and on Yes stops it at its next buffer;
    // `thenClose` (the close box) ends the dialog once the run has ended.
    void AskToStopRun(bool thenClose);
    // The run's end as the user sees it: the view, the taskbar, the box,
    // the restore button back.
    void ShowRunResult(int resultCode);
    RestoreProgress LatestProgress() const;
    void RefreshRunView();
    // What a confirmed file-open choice does: decode the name, fill the
    // members and controls, or warn and keep what was shown.
    void SelectArchive(std::u16string path);
    // The list of backups beside the archive (backup_list_view_win32.cpp):
    // read again for the folder of an archive selected any way but from
    // the list itself; remembered for the next start.
    void AfterArchiveSelected();
    void ShowBackupsBeside(const std::u16string& archivePath);
    void ShowRememberedBackups();
    // True when the notification was the list's.
    bool OnBackupListNotify(const NMHDR* header);
    // Before a run into `folder` (restore_decision_win32.cpp): the plan on
    // a worker, and where files stand at the entries' paths the question
    // what to do with them. False when nothing is to be written (the user
    // cancelled or gave the plan up); true leaves the answer in
    // m_decidedChoices.
    bool DecideAboutWhatStands(const std::u16string& folder, const std::vector<bool>* chosen);
    static unsigned PlanThreadProc(void* param);
    // The outcome's counts on the entry line, after a run that followed
    // the question.
    void ShowOutcomeCounts();
    // The tree of the archive's entries (entry_tree_view_win32.cpp): its
    // catalogue read on a worker for each archive selected, and what the
    // user left checked, for the plan and the run (null: every entry).
    void ReadCatalogueOf(const std::u16string& archivePath);
    void OnCatalogueRead();
    const std::vector<bool>* ChosenEntriesForRun();
    static unsigned CatalogueThreadProc(void* param);
    void OnDropFiles(HDROP drop);
    bool OnCopyData(const COPYDATASTRUCT* data);
    void OfferArchive(std::u16string path);
    void OnArchiveOffered();
    bool AcceptsOfferedArchive() const noexcept { return !m_bRestoreRunning && m_nAsking == 0; }
    LRESULT OnRestoreProgress(WPARAM wParam, LPARAM lParam);
    // The session ends (logoff, shutdown): a run is stopped the way a
    // console's Ctrl-C stops it, so that only complete entries stay, before
    // the process goes.
    void OnEndSession(bool ending);
    // The latest progress onto the taskbar button (UI thread).
    void ForwardProgress();
    void LoadIcons(UINT dpi);

    // RestoreObserver, called on the worker thread: both become messages
    // sent to the dialog's window, so the worker waits for the handlers.
    void OnRestoreStarted() override;
    void OnRestoreFinished(int resultCode) override;
    // Progress only lands in atomics; a message is posted (never sent, so
    // the worker never waits for the UI) when 250 ms have passed since the
    // last one.
    void OnRestoreProgress(const RestoreProgress& progress) override;
    // The entry's name is copied under a lock the view's timer takes four
    // times a second; the run calls this for every entry it takes up.
    void OnEntryStarted(std::int32_t index, const std::u16string& name) override;
    // The bar goes by bytes.
    bool WantsByteTotal() const override { return true; }
    // Counted for the outcome after the result box.
    void OnEntryDone(std::int32_t index, EntryOutcome outcome) override;

    // Figures reach the taskbar and the view at most this often; the view
    // is redrawn on the timer kRunViewTimer.
    static constexpr std::chrono::milliseconds kProgressInterval{250};
    static constexpr UINT_PTR kRunViewTimer = 1;

    WorkerProc m_threadProc;
    TaskbarProgress* m_pTaskbar;
    // The worker's own copies of the destination and archive path: the
    // select and clear buttons stay usable during a run.
    std::unique_ptr<RestoreJob> m_pRestoreJob;
    std::unique_ptr<StopRequest> m_pRestoreStop;
    bool m_bRestoreRunning = false;
    // The run's result has arrived: from then on the taskbar shows only
    // where it ended (a progress message still queued, handled inside the
    // result box's message loop, must not undo the red state).
    bool m_bRunEnded = false;
    bool m_bSessionEnding = false;
    bool m_bStopRequested = false;
    bool m_bAskingStop = false;
    bool m_bCloseAfterRun = false;
    // The run's result, when it arrived while the stop question was up.
    bool m_bFinishDeferred = false;
    int m_nDeferredResult = 0;
    RunView m_runView;
    BackupListView m_backupList;
    std::u16string m_strProfilePath;
    // The plan before a run and the user's answer to what it found.
    PlanFunction m_planFunction = &PlanRestore;
    struct PlanJob {
        PlanFunction planFunction = nullptr;
        std::vector<bool> chosen;
        bool some = false;  // `chosen` is the choice; else every entry
        std::u16string destinationFolder, archivePath;
        std::vector<PlannedEntry> plan;
        int code = 0;
        StopRequest stop;  // the question given up: the plan ends at its next entry or buffer
    };
    std::unique_ptr<PlanJob> m_pPlanJob;
    std::unique_ptr<CWinThread> m_pPlanThread;  // declared after its job: it goes first
    bool m_bPlanning = false;
    bool m_bPlanAbandoned = false;
    bool m_bDecisionMade = false;
    bool m_bRunHadDecision = false;
    RestoreChoices m_decidedChoices;
    std::atomic<std::int32_t> m_entriesRestored{0}, m_entriesKept{0}, m_entriesIdentical{0};
    EntryTreeView m_entryTree;
    struct CatalogueJob {
        std::u16string archivePath;
        HWND dialog = nullptr;
        StopRequest stop;
        std::unique_ptr<EntryTree> tree;
    };
    std::unique_ptr<CatalogueJob> m_pCatalogueJob;
    std::unique_ptr<CWinThread> m_pCatalogueThread;  // after its job: it goes first
    std::vector<bool> m_runChosen;  // the choice of the last run started
    // A row of the list is being selected (its notification is on the
    // stack): the list must not be rebuilt under it.
    bool m_bChoosingFromList = false;
    FollowUpView m_followUp;
    // Handlers that are asking the user something (their boxes run message
    // loops in which an offered archive could otherwise swap the archive
    // under a question already answered).
    int m_nAsking = 0;
    std::u16string m_strOfferedArchive;
    // Icons owned by the dialog, loaded at the sizes the system metrics
    // give for the window's DPI; m_hIcon is the big one.
    struct IconDeleter {
        void operator()(HICON icon) const noexcept { ::DestroyIcon(icon); }
    };
    std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter> m_bigIcon, m_smallIcon;

    std::atomic<bool> m_progressSeen{false};
    std::atomic<std::int32_t> m_entriesDone{0}, m_entriesTotal{0};
    std::atomic<std::uint64_t> m_bytesDone{0}, m_bytesTotal{0};
    std::chrono::steady_clock::time_point m_lastProgressPost;  // worker thread only
    mutable std::mutex m_entryLock;
    std::u16string m_strRunEntry;  // guarded by m_entryLock
};
