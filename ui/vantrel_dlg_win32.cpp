// The restore dialog: choosing the archive and the destination, the
// questions before a restore, and the worker's start and result.

#include "ui/vantrel_dlg.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <utility>
#include <vector>

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
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
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

// The drop's file list belongs to the receiver, which must release it.
struct DropDeleter {
    void operator()(HDROP drop) const noexcept { ::DragFinish(drop); }
};

// The path of a valid hand-over message, or false.
bool ReadHandedArchive(const COPYDATASTRUCT& data, std::u16string& path) {
    if (data.dwData != kArchiveHandoverTag || !data.lpData) return false;
    // Whole UTF-16 units, at least one character and its terminator.
    if (data.cbData % sizeof(char16_t) != 0 || data.cbData < 2 * sizeof(char16_t)) return false;
    const std::size_t units = data.cbData / sizeof(char16_t);
    if (units - 1 > kHandedPathMaxUnits) return false;
    const auto* text = static_cast<const char16_t*>(data.lpData);
    // The terminator is where the size says, and nowhere before it: a path
    // cut short by an inner zero is not the path that was meant.
    if (text[units - 1] != u'\0') return false;
    const std::u16string handed(text, units - 1);
    if (handed.find(u'\0') != std::u16string::npos) return false;
    // The engine resolves nothing against a current folder of ours.
    if (::PathIsRelativeW(W(handed))) return false;
    path = handed;
    return true;
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

bool SendArchiveToDialog(HWND dialog, const std::u16string& path) {
    if (!dialog || path.empty() || path.size() > kHandedPathMaxUnits) return false;
    COPYDATASTRUCT data{};
    data.dwData = kArchiveHandoverTag;
    data.cbData = static_cast<DWORD>((path.size() + 1) * sizeof(char16_t));
    data.lpData = const_cast<char16_t*>(path.c_str());
    // A hung first instance must not hang this one too.
    DWORD_PTR taken = FALSE;
    return ::SendMessageTimeoutW(dialog, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                                 &taken) != 0 &&
           taken == TRUE;
}

CVantrelDlg::CVantrelDlg(UserPrompts& prompts, WorkerProc threadProc, TaskbarProgress* taskbar)
    : CDialog(IDD_VANTREL_DIALOG, prompts), m_hIcon(nullptr), m_threadProc(threadProc), m_pTaskbar(taskbar) {
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
    case WM_ARCHIVE_OFFERED:
        OnArchiveOffered();
        return true;
    case WM_ENDSESSION:
        OnEndSession(wParam != FALSE);
        result = 0;
        return true;
    case WM_DPICHANGED:
        // New icon sizes for the new monitor; the dialog manager still
        // rescales the window and its controls.
        LoadIcons(HIWORD(wParam));
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
    // While a run lasts the dialog stays: the worker still reports to it.
    if ((nID & 0xFFF0) == SC_CLOSE && m_bRestoreRunning) return true;
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
}

void CVantrelDlg::OnBnClickedRestore() {
    // The button is disabled during a run; a click that still arrives (a
    // message sent to it) must not start a second worker.
    if (m_bRestoreRunning) return;
    AskingScope asking(m_nAsking);
    UpdateData(true);
    if (m_strArchivePath.empty()) {
        ShowMessage(dlgtext::kNoArchive, MB_OK | MB_ICONEXCLAMATION);
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
    m_strRestoreFolder = folder;

    // The previous worker has ended its last message already; wait for its
    // exit before its job is replaced.
    m_pRestoreThread.reset();
    m_pRestoreJob = std::make_unique<RestoreJob>();
    m_pRestoreStop = std::make_unique<StopRequest>();
    m_pRestoreJob->destinationFolder = m_strRestoreFolder;
    m_pRestoreJob->archivePath = m_strArchivePath;
    m_pRestoreJob->observer = this;
    m_pRestoreJob->stop = m_pRestoreStop.get();
    m_progressSeen = false;
    m_lastProgressPost = {};
    m_bRestoreRunning = true;
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
    return 0;
}

LRESULT CVantrelDlg::OnRestoreFinished(WPARAM wParam, LPARAM) {
    // Only the run this dialog started may report a result: a stray message
    // must never announce a restore that did not happen.
    if (!m_bRestoreRunning) return 0;
    const int resultCode = static_cast<int>(static_cast<std::int32_t>(wParam));
    // The taskbar shows where the run ended (the last value may have been
    // held back by the rate limit), red when it failed, until the box is
    // answered.
    ForwardProgress();
    if (m_bSessionEnding) {
        // Nobody is there to read a box, and it would hold the worker.
        m_bRestoreRunning = false;
        return 0;
    }
    if (resultCode != RESTORE_OK && m_pTaskbar) m_pTaskbar->ShowError(m_hWnd);
    if (resultCode == RESTORE_OK) {
        ShowMessage(dlgtext::kRestoreSucceeded, MB_OK | MB_ICONINFORMATION);
    } else {
        ShowMessage(dlgtext::kRestoreFailed, MB_OK | MB_ICONEXCLAMATION);
    }
    if (m_pTaskbar) m_pTaskbar->Clear(m_hWnd);
    HWND button = GetDlgItem(IDC_RESTORE);
    ::EnableWindow(button, TRUE);
    ::SetWindowTextW(button, W(std::u16string(dlgtext::kRestoreButton)));
    ::SendMessageW(GetDlgItem(IDC_ARCHIVE_PATH), EM_SETSEL, 0, 0);
    m_bRestoreRunning = false;
    return 0;
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
}

void CVantrelDlg::OnRestoreStarted() { ::SendMessageW(m_hWnd, WM_RESTORE_STARTED, 0, 0); }

void CVantrelDlg::OnRestoreFinished(int resultCode) {
    ::SendMessageW(m_hWnd, WM_RESTORE_FINISHED, static_cast<WPARAM>(static_cast<std::uint32_t>(resultCode)), 0);
}

void CVantrelDlg::OnRestoreProgress(const RestoreProgress& progress) {
    m_entriesDone = progress.entriesDone;
    m_entriesTotal = progress.entriesTotal;
    m_bytesDone = progress.bytesDone;
    m_bytesTotal = progress.bytesTotal;
    m_progressSeen = true;
    const auto now = std::chrono::steady_clock::now();
    if (m_lastProgressPost != std::chrono::steady_clock::time_point{} && now - m_lastProgressPost < kProgressInterval)
        return;
    m_lastProgressPost = now;
    ::PostMessageW(m_hWnd, WM_RESTORE_PROGRESS, 0, 0);
}

LRESULT CVantrelDlg::OnRestoreProgress(WPARAM, LPARAM) {
    // A message posted by a run that has since finished finds no run.
    if (m_bRestoreRunning) ForwardProgress();
    return 0;
}

void CVantrelDlg::ForwardProgress() {
    if (!m_pTaskbar || !m_progressSeen) return;
    // By bytes when the run knows its byte total; an archive of empty
    // files and folders has none and is shown by entries.
    const std::uint64_t bytesTotal = m_bytesTotal;
    const std::int32_t entriesTotal = m_entriesTotal;
    if (bytesTotal > 0) {
        m_pTaskbar->ShowProgress(m_hWnd, m_bytesDone, bytesTotal);
    } else if (entriesTotal > 0) {
        m_pTaskbar->ShowProgress(m_hWnd, static_cast<std::uint64_t>(m_entriesDone.load()),
                                 static_cast<std::uint64_t>(entriesTotal));
    }
}

void CVantrelDlg::OnDropFiles(HDROP drop) {
    const std::unique_ptr<std::remove_pointer_t<HDROP>, DropDeleter> owned(drop);
    if (!drop || !AcceptsOfferedArchive()) return;
    // Only the first item counts; several files select the first one.
    if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0) return;
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    if (length == 0) return;
    std::vector<wchar_t> name(length + 1, L'\0');
    if (::DragQueryFileW(drop, 0, name.data(), length + 1) != length) return;
    const std::u16string path = U16(name.data(), length);
    // A folder is no archive: nothing happens, not even a warning.
    if (platform::IsFolder(path)) return;
    SelectArchive(path);
}

bool CVantrelDlg::OnCopyData(const COPYDATASTRUCT* data) {
    std::u16string path;
    if (!data || !ReadHandedArchive(*data, path)) return false;
    if (!AcceptsOfferedArchive()) return true;  // taken, and ignored
    OfferArchive(std::move(path));
    return true;
}

void CVantrelDlg::OfferArchive(std::u16string path) {
    m_strOfferedArchive = std::move(path);
    ::PostMessageW(m_hWnd, WM_ARCHIVE_OFFERED, 0, 0);
}

void CVantrelDlg::OnArchiveOffered() {
    std::u16string path = std::exchange(m_strOfferedArchive, std::u16string());
    // A run or a question may have begun since the offer was queued.
    if (path.empty() || !AcceptsOfferedArchive()) return;
    SelectArchive(std::move(path));
}
