// The restore dialog: choosing the archive and the destination, the
// questions before a restore, and the worker's start and result.

#include "ui/vantrel_dlg.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

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

CVantrelDlg::CVantrelDlg(UserPrompts& prompts, WorkerProc threadProc)
    : CDialog(IDD_VANTREL_DIALOG, prompts),
      m_hIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_threadProc(threadProc) {}

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
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_pRestoreThread.reset();
    return TRUE;
}

bool CVantrelDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
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
    std::u16string path;
    if (!Prompts().OpenFile(m_hWnd, dlgtext::kFileFilter, OFN_HIDEREADONLY, path)) return;

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
        if (!::PathFileExistsW(W(target))) break;
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
    m_pRestoreJob->destinationFolder = m_strRestoreFolder;
    m_pRestoreJob->archivePath = m_strArchivePath;
    m_pRestoreJob->observer = this;
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
    if (resultCode == RESTORE_OK) {
        ShowMessage(dlgtext::kRestoreSucceeded, MB_OK | MB_ICONINFORMATION);
    } else {
        ShowMessage(dlgtext::kRestoreFailed, MB_OK | MB_ICONEXCLAMATION);
    }
    HWND button = GetDlgItem(IDC_RESTORE);
    ::EnableWindow(button, TRUE);
    ::SetWindowTextW(button, W(std::u16string(dlgtext::kRestoreButton)));
    ::SendMessageW(GetDlgItem(IDC_ARCHIVE_PATH), EM_SETSEL, 0, 0);
    m_bRestoreRunning = false;
    return 0;
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
