// The restore dialog: choosing the archive and the destination, the
// questions before a restore, the worker's start, stopping it, and its
// result. Archives offered from outside are in archive_offer_win32.cpp, the
// hand-over of the run's figures in run_progress_win32.cpp.

#include "ui/vantrel_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <utility>

#include "platform/fs.h"
#include "ui/about_dlg.h"
#include "ui/backup_name.h"

bool BrowseForRestoreFolder(HWND owner, std::u16string& folder, UserPrompts& prompts) {
    // The browser's start-folder buffer holds MAX_PATH units; a longer
    // proposal is treated like one that does not exist.
    std::u16string start;
    if (!folder.empty() && folder.size() < MAX_PATH && ::PathFileExistsW(W(folder))) {
        start = folder;
    } else {
        wchar_t documents[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents))) start = U16(documents);
    }
    std::u16string chosen;
    if (!prompts.BrowseForFolder(owner, dlgtext::kBrowseTitle, start, chosen)) return false;
    folder = chosen;
    // Virtual items (the desktop's "This PC", a printer) have no path.
    if (folder.empty() || !::PathIsDirectoryW(W(folder))) return false;
    if (folder.back() != u'\\') folder.push_back(u'\\');
    return true;
}

namespace {

// A function of user32 that older systems lack, or null. (Through a plain
// function pointer type: FARPROC casts straight to another signature draw
// a warning.)
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// WM_COPYGLOBALDATA: carries a drag's data across the integrity boundary.
constexpr UINT kCopyGlobalData = 0x0049;
// How long the end of a session waits for a run to stop and clean up.
constexpr DWORD kSessionEndWaitMs = 10000;

// The size the system metrics give for `dpi`: Windows 10 answers per
// monitor; before it, the system DPI is the only one a program sees.
int MetricForDpi(int index, UINT dpi) {
    using ForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<ForDpi>("GetSystemMetricsForDpi");
    return forDpi && dpi ? forDpi(index, dpi) : ::GetSystemMetrics(index);
}

UINT WindowDpi(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiFor = User32Function<DpiForWindow>("GetDpiForWindow");
    return dpiFor && window ? dpiFor(window) : 0;
}

// Counts a handler as asking the user while it lasts, also when the
// decoder's error leaves it early.
class AskingScope {
public:
    explicit AskingScope(int& count) noexcept : count_(count) { ++count_; }
    ~AskingScope() { --count_; }
    AskingScope(const AskingScope&) = delete;
    AskingScope& operator=(const AskingScope&) = delete;

private:
    int& count_;
};

}  // namespace

CVantrelDlg::CVantrelDlg(UserPrompts& prompts, WorkerProc threadProc, TaskbarProgress* taskbar)
    : CDialog(IDD_VANTREL_DIALOG, prompts), m_hIcon(nullptr), m_threadProc(threadProc), m_pTaskbar(taskbar) {
    // The template's bar, the backup list and the tree of entries are
    // common controls: their classes must be registered before they are
    // made, whoever creates the dialog.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    LoadIcons(0);
}

void CVantrelDlg::LoadIcons(UINT dpi) {
    // Sized by the system metrics for the DPI the window is shown at, so
    // that neither icon is scaled from a bitmap of another size.
    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    const auto load = [&](int cx, int cy) {
        return static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               MetricForDpi(cx, dpi), MetricForDpi(cy, dpi), LR_DEFAULTCOLOR));
    };
    HICON big = load(SM_CXICON, SM_CYICON);
    HICON small = load(SM_CXSMICON, SM_CYSMICON);
    if (m_hWnd) {
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }
    // The window no longer uses the old icons once the new ones are set.
    m_bigIcon.reset(big);
    m_smallIcon.reset(small);
    m_hIcon = big;
}

CVantrelDlg::~CVantrelDlg() {
    // The worker holds a pointer to this object and its job; the window goes
    // first (so nothing more reaches the handlers), then the worker is
    // allowed to finish before the members it uses are released.
    // A catalogue still being read for the tree, or a plan still reading,
    // is not waited for to its end.
    if (m_pCatalogueJob) m_pCatalogueJob->stop.Request();
    if (m_pPlanJob) m_pPlanJob->stop.Request();
    if (m_hWnd) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    m_pRestoreThread.reset();
}

void CVantrelDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_ARCHIVE_PATH, m_strArchivePath);
    DDX_Text(pDX, IDC_BACKUP_TIME, m_strBackupTime);
    DDX_Text(pDX, IDC_BACKUP_KIND, m_strBackupKind);
    DDX_Text(pDX, IDC_ORIGINAL_PATH, m_strOriginalPath);
    DDX_Text(pDX, IDC_RESTORE_FOLDER, m_strRestoreFolder);
    DDX_Text(pDX, IDC_BACKUP_NAME, m_strBackupName);
}

bool CVantrelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
        if (!::IsIconic(m_hWnd)) return false;  // the dialog paints itself
        OnPaintWindow();
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return false;
        switch (LOWORD(wParam)) {
        case IDC_SELECT:
            OnBnClickedSelect();
            return true;
        case IDC_RESTORE:
            OnBnClickedRestore();
            return true;
        case IDC_CLEAR:
            OnBnClickedClear();
            return true;
        case IDC_RUN_STOP:
            OnBnClickedStop();
            return true;
        case IDC_FOLLOW_UP:
            OnBnClickedFollowUp();
            return true;
        case IDC_SAVE_REPORT:
            OnBnClickedSaveReport();
            return true;
        default:
            return false;
        }
    case WM_RESTORE_STARTED:
        result = OnRestoreStarted(wParam, lParam);
        return true;
    case WM_RESTORE_FINISHED:
        result = OnRestoreFinished(wParam, lParam);
        return true;
    case WM_RESTORE_PROGRESS:
        result = OnRestoreProgress(wParam, lParam);
        return true;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return true;
    case WM_COPYDATA:
        result = OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam)) ? TRUE : FALSE;
        return true;
    case WM_TIMER:
        if (wParam != kRunViewTimer) return false;
        RefreshRunView();
        return true;
    case WM_ARCHIVE_OFFERED:
        OnArchiveOffered();
        return true;
    case WM_ENDSESSION:
        OnEndSession(wParam != FALSE);
        result = 0;
        return true;
    case WM_NOTIFY:
        if (m_entryTree.OnNotify(reinterpret_cast<const NMHDR*>(lParam), result)) return true;
        return OnBackupListNotify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_CATALOGUE_READ:
        OnCatalogueRead();
        return true;
    case WM_BACKUP_LIST_LAYOUT:
        m_backupList.Relayout();
        m_entryTree.Relayout();
        return true;
    case WM_DPICHANGED:
        // New icon sizes for the new monitor; the dialog manager still
        // rescales the window and its controls, but not the backup list and
        // the tree, which it did not make: they follow once it is done.
        LoadIcons(HIWORD(wParam));
        ::PostMessageW(m_hWnd, WM_BACKUP_LIST_LAYOUT, 0, 0);
        return false;
    default:
        return false;
    }
}

BOOL CVantrelDlg::OnInitRestoreDialog() {
    CDialog::OnInitDialog();

    if (HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t text[256] = {};
        if (::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 256) > 0) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, text);
        }
    }
    // The big icon and, at its own size, the small one. On a monitor of
    // another DPI than the system's both are loaded again for it.
    const UINT dpi = WindowDpi(m_hWnd);
    if (dpi) {
        LoadIcons(dpi);
    } else {
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.get()));
    }
    m_pRestoreThread.reset();
    m_runView.Attach(m_hWnd);
    m_backupList.Attach(m_hWnd);
    m_entryTree.Attach(m_hWnd);
    m_followUp.Attach(m_hWnd);
    ShowRememberedBackups();

    // Files dropped from Explorer, and paths from a second instance. The
    // tool runs elevated, so the system drops these messages when they come
    // from an ordinary process unless this window lets them through; the
    // filter is this window's, not the process's.
    ::DragAcceptFiles(m_hWnd, TRUE);
    for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData})
        ::ChangeWindowMessageFilterEx(m_hWnd, message, MSGFLT_ALLOW, nullptr);
    // The command line's archive is selected once the dialog shows.
    if (!m_strOfferedArchive.empty()) ::PostMessageW(m_hWnd, WM_ARCHIVE_OFFERED, 0, 0);
    return TRUE;
}

bool CVantrelDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        AskingScope asking(m_nAsking);
        CAboutDlg about(Prompts(), m_hWnd);
        about.DoModal();
        return true;
    }
    // While a run lasts the dialog stays (the worker still reports to it);
    // the user is asked whether to stop the run and close afterwards.
    if ((nID & 0xFFF0) == SC_CLOSE && m_bRestoreRunning) {
        AskToStopRun(true);
        return true;
    }
    return false;
}

void CVantrelDlg::OnOK() {
    if (m_bRestoreRunning) return;  // Enter must not end the dialog during a run
    CDialog::OnOK();
}

void CVantrelDlg::OnCancel() {
    if (m_bRestoreRunning) return;  // nor Esc
    CDialog::OnCancel();
}

void CVantrelDlg::OnPaintWindow() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
}

HCURSOR CVantrelDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CVantrelDlg::OnBnClickedSelect() {
    AskingScope asking(m_nAsking);
    std::u16string path;
    if (!Prompts().OpenFile(m_hWnd, dlgtext::kFileFilter, OFN_HIDEREADONLY, path)) return;
    SelectArchive(std::move(path));
}

void CVantrelDlg::SelectArchive(std::u16string path) {
    AskingScope asking(m_nAsking);
    // Only the file-name part carries the description. Nothing is stored
    // before the name has decoded, so a refused name, or an error raised by
    // the decoder, leaves members and display as they were.
    BackupInfo info;
    if (!DescribeBackup(U16(::PathFindFileNameW(W(path))), info)) {
        ShowMessage(dlgtext::kUnreadableName, MB_OK | MB_ICONEXCLAMATION);
        UpdateData(true);
        return;
    }
    m_strArchivePath = std::move(path);
    m_strBackupTime = info.timeText;
    m_strBackupKind = info.backupKind;
    m_strOriginalPath = info.originalPath;
    m_strRestoreFolder = info.parentFolder;
    m_strBackupName = info.itemName;
    UpdateData(false);
    // The last run's outcome stays on view until another archive is chosen.
    if (!m_bRestoreRunning) m_runView.Reset();
    if (!m_bRestoreRunning) m_followUp.Reset();
    AfterArchiveSelected();
}

void CVantrelDlg::OnBnClickedRestore() {
    // The button is disabled during a run; a click that still arrives (a
    // message sent to it) must not start a second worker, nor one made
    // while the plan before a run reads.
    if (m_bRestoreRunning || m_bPlanning) return;
    AskingScope asking(m_nAsking);
    UpdateData(true);
    if (m_strArchivePath.empty()) {
        ShowMessage(dlgtext::kNoArchive, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // Only the entries left checked in the tree, when some are not.
    const std::vector<bool>* chosen = ChosenEntriesForRun();
    if (chosen && std::find(chosen->begin(), chosen->end(), true) == chosen->end()) {
        ShowMessage(dlgtext::kNothingChosen, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (ShowMessage(dlgtext::kConfirmRestore, MB_YESNO | MB_ICONQUESTION) != IDYES) return;

    std::u16string folder = m_strRestoreFolder;
    if (!BrowseForRestoreFolder(m_hWnd, folder, Prompts())) return;
    for (;;) {
        const std::u16string target = folder + m_strBackupName;
        // The item's name comes from the backup, so the path may pass 260
        // units: the platform layer asks about it in the long form.
        if (!platform::PathExists(target)) break;
        if (ShowMessage(dlgtext::kConfirmOverwrite, MB_YESNO | MB_ICONQUESTION) == IDYES) break;
        // Turned down: the browser opens again on the dialog's proposal.
        folder = m_strRestoreFolder;
        if (!BrowseForRestoreFolder(m_hWnd, folder, Prompts())) return;
    }
    // What stands at the entries' paths, and the user's answer to it.
    if (!DecideAboutWhatStands(folder, chosen)) return;
    m_strRestoreFolder = folder;

    auto job = std::make_unique<RestoreJob>();
    job->destinationFolder = m_strRestoreFolder;
    job->archivePath = m_strArchivePath;
    job->observer = this;
    job->choices = m_decidedChoices;
    BeginRun(std::move(job), m_bDecisionMade);
}

void CVantrelDlg::BeginRun(std::unique_ptr<RestoreJob> job, bool hadDecision) {
    // The previous worker has ended its last message already; wait for its
    // exit before its job is replaced.
    m_pRestoreThread.reset();
    m_pRestoreJob = std::move(job);
    m_pRestoreStop = std::make_unique<StopRequest>();
    m_pRestoreJob->stop = m_pRestoreStop.get();
    m_bRunHadDecision = hadDecision;
    m_entriesRestored = m_entriesKept = m_entriesIdentical = 0;
    m_progressSeen = false;
    m_lastProgressPost = {};
    m_entriesDone = 0;
    m_entriesTotal = 0;
    m_bytesDone = 0;
    m_bytesTotal = 0;
    {
        std::lock_guard<std::mutex> lock(m_entryLock);
        m_strRunEntry.clear();
    }
    m_bStopRequested = m_bCloseAfterRun = m_bFinishDeferred = false;
    m_followUp.RunStarting(*m_pRestoreJob);
    m_bRestoreRunning = true;
    m_bRunEnded = false;
    m_pRestoreThread = BeginWorkerThread(m_threadProc, m_pRestoreJob.get());
    if (!m_pRestoreThread) {
        // No worker, nothing restored: say so rather than stay silent.
        m_bRestoreRunning = false;
        ShowMessage(dlgtext::kRestoreFailed, MB_OK | MB_ICONEXCLAMATION);
    }
}

LRESULT CVantrelDlg::OnRestoreStarted(WPARAM, LPARAM) {
    if (!m_bRestoreRunning) return 0;  // not from our worker
    HWND button = GetDlgItem(IDC_RESTORE);
    ::SetWindowTextW(button, W(std::u16string(dlgtext::kRestoreButtonRunning)));
    ::EnableWindow(button, FALSE);
    m_runView.Started();
    ::SetTimer(m_hWnd, kRunViewTimer, static_cast<UINT>(kProgressInterval.count()), nullptr);
    return 0;
}

LRESULT CVantrelDlg::OnRestoreFinished(WPARAM wParam, LPARAM) {
    // Only the run this dialog started may report a result: a stray message
    // must never announce a restore that did not happen.
    if (!m_bRestoreRunning) return 0;
    const int resultCode = static_cast<int>(static_cast<std::int32_t>(wParam));
    m_bRunEnded = true;
    ::KillTimer(m_hWnd, kRunViewTimer);
    // The taskbar shows where the run ended (the last value may have been
    // held back by the rate limit), red when it failed, until the box is
    // answered.
    ForwardProgress();
    if (m_bSessionEnding) {
        // Nobody is there to read a box, and it would hold the worker.
        m_bRestoreRunning = false;
        return 0;
    }
    // A real question box runs a message loop, so the end may arrive while
    // the user is still asked whether to stop: the result follows the
    // answer instead of covering the question.
    if (m_bAskingStop) {
        m_bFinishDeferred = true;
        m_nDeferredResult = resultCode;
        return 0;
    }
    ShowRunResult(resultCode);
    return 0;
}

void CVantrelDlg::ShowRunResult(int resultCode) {
    const RestoreFailure& failure = m_pRestoreJob->failure;
    m_runView.Finished(resultCode, failure, LatestProgress(), platform::PathExists(m_pRestoreJob->archivePath),
                       m_pRestoreJob->archivePath, m_pRestoreJob->destinationFolder);
    if (resultCode != RESTORE_OK && m_pTaskbar) m_pTaskbar->ShowError(m_hWnd);
    if (resultCode == RESTORE_OK) {
        ShowMessage(dlgtext::kRestoreSucceeded, MB_OK | MB_ICONINFORMATION);
    } else if (RunWasStopped(resultCode, failure)) {
        // Not the failure text: the user asked for this end.
        ShowMessage(dlgtext::kRestoreStopped, MB_OK | MB_ICONINFORMATION);
    } else {
        ShowMessage(dlgtext::kRestoreFailed, MB_OK | MB_ICONEXCLAMATION);
    }
    // A failed run's entry line names the entry it failed at.
    if (resultCode == RESTORE_OK) ShowOutcomeCounts();
    if (m_pTaskbar) m_pTaskbar->Clear(m_hWnd);
    HWND button = GetDlgItem(IDC_RESTORE);
    ::EnableWindow(button, TRUE);
    ::SetWindowTextW(button, W(std::u16string(dlgtext::kRestoreButton)));
    ::SendMessageW(GetDlgItem(IDC_ARCHIVE_PATH), EM_SETSEL, 0, 0);
    m_followUp.RunEnded(resultCode, *m_pRestoreJob);
    m_bRestoreRunning = false;
    // Closed from the close box during the run: the dialog ends now, once
    // the handler that brought the result has returned.
    if (std::exchange(m_bCloseAfterRun, false)) ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void CVantrelDlg::OnBnClickedStop() {
    // Before a run, 中止 gives up the look at what stands there: nothing
    // has been written, so nothing is asked.
    if (m_bPlanning) {
        m_bPlanAbandoned = true;
        return;
    }
    AskToStopRun(false);
}

void CVantrelDlg::OnBnClickedFollowUp() {
    if (m_bRestoreRunning || !m_pRestoreJob || !m_followUp.Offered()) return;
    // The last follow-up's worker may still be on its way out through the
    // recorder the new job replaces.
    m_pRestoreThread.reset();
    // Its own report follows its result: not the counts of an answer.
    BeginRun(m_followUp.MakeFollowUpJob(*m_pRestoreJob, this), false);
}

void CVantrelDlg::OnBnClickedSaveReport() {
    AskingScope asking(m_nAsking);
    m_followUp.SaveReport(Prompts());
}

void CVantrelDlg::AskToStopRun(bool thenClose) {
    if (!m_bRestoreRunning || m_bAskingStop) return;
    if (m_bStopRequested) {
        // Asked and answered already; the run is ending.
        m_bCloseAfterRun = m_bCloseAfterRun || thenClose;
        return;
    }
    bool yes = false;
    {
        AskingScope asking(m_nAsking);
        m_bAskingStop = true;
        yes = ShowMessage(dlgtext::kConfirmStop, MB_YESNO | MB_ICONQUESTION) == IDYES;
        m_bAskingStop = false;
    }
    if (yes && m_bRestoreRunning) {
        m_bStopRequested = true;
        m_bCloseAfterRun = thenClose;
        m_pRestoreStop->Request();
        if (!m_bFinishDeferred) m_runView.Stopping();
    }
    if (std::exchange(m_bFinishDeferred, false)) ShowRunResult(m_nDeferredResult);
}

void CVantrelDlg::OnEndSession(bool ending) {
    if (!ending || !m_bRestoreRunning || !m_pRestoreThread) return;
    m_bSessionEnding = true;
    m_pRestoreStop->Request();
    // The process may end as soon as this returns. The run stops at its next
    // buffer and takes back what is unfinished; its last message arrives
    // while this waits. Windows gives a handler a few seconds.
    m_pRestoreThread->WaitWhilePumping(kSessionEndWaitMs);
}

void CVantrelDlg::OnBnClickedClear() {
    m_strArchivePath.clear();
    m_strBackupTime.clear();
    m_strBackupKind.clear();
    m_strOriginalPath.clear();
    m_strRestoreFolder.clear();
    m_strBackupName.clear();
    UpdateData(false);
    m_backupList.MarkChosen({});
    m_entryTree.Clear();
}

void CVantrelDlg::OnRestoreStarted() { ::SendMessageW(m_hWnd, WM_RESTORE_STARTED, 0, 0); }

void CVantrelDlg::OnRestoreFinished(int resultCode) {
    ::SendMessageW(m_hWnd, WM_RESTORE_FINISHED, static_cast<WPARAM>(static_cast<std::uint32_t>(resultCode)), 0);
}
