// The thin dialog framework over Win32 (see framework.h).

#include "ui/framework.h"

#include <process.h>

#include <utility>

const char16_t kHandlerErrorText[] = u"予期しないエラーが発生したため、操作を中止しました。";

std::u16string AppTitle() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return u"Sorvane";
    std::u16string name = U16(path, length);
    const std::size_t slash = name.find_last_of(u"\\/");
    if (slash != std::u16string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of(u'.');
    if (dot != std::u16string::npos && dot > 0) name.erase(dot);
    return name;
}

std::u16string CWnd::GetDlgItemText(int id) const {
    HWND item = GetDlgItem(id);
    if (!item) return {};
    const int length = ::GetWindowTextLengthW(item);
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = ::GetWindowTextW(item, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void CWnd::SetDlgItemText(int id, const std::u16string& text) const {
    if (HWND item = GetDlgItem(id)) ::SetWindowTextW(item, W(text));
}

void DDX_Text(CDataExchange* pDX, int id, std::u16string& value) {
    HWND item = ::GetDlgItem(pDX->m_hDlg, id);
    if (!item) return;
    if (pDX->m_bSaveAndValidate) {
        const int length = ::GetWindowTextLengthW(item);
        std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
        const int copied = ::GetWindowTextW(item, reinterpret_cast<wchar_t*>(text.data()), length + 1);
        text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
        value = std::move(text);
    } else {
        ::SetWindowTextW(item, W(value));
    }
}

CDialog::CDialog(UINT templateId, UserPrompts& prompts, HWND parent)
    : m_nTemplateId(templateId), m_prompts(prompts), m_hParent(parent) {}

CDialog::~CDialog() {
    // A dialog created without its own modal loop may outlive its object's
    // owner's interest; its window must not outlive the object.
    if (m_hWnd && !m_bModal) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialog::DoModal() {
    m_bModal = true;
    m_nResult = -1;
    const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId),
                                             m_hParent, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

bool CDialog::Create() {
    m_bModal = false;
    m_nResult = -1;
    HWND hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), m_hParent,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

bool CDialog::UpdateData(bool saveAndValidate) {
    if (!m_hWnd) return false;
    CDataExchange dx{m_hWnd, saveAndValidate};
    DoDataExchange(&dx);
    return true;
}

void CDialog::EndDialog(int result) {
    m_nResult = result;
    if (!m_hWnd) return;
    if (m_bModal) {
        ::EndDialog(m_hWnd, result);
    } else {
        ::DestroyWindow(m_hWnd);
    }
}

int CDialog::ShowMessage(const std::u16string& text, UINT style) {
    return m_prompts.ShowMessage(m_hWnd, text, AppTitle(), style);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void CDialog::ReportHandlerError(const std::exception*) { ShowMessage(kHandlerErrorText, kHandlerErrorStyle); }

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    const INT_PTR handled = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return handled;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    // An error raised inside a handler ends that handler only: it is shown in
    // the generic box and the dialog goes on with what it showed before.
    try {
        if (message == WM_INITDIALOG) return OnInitDialog();
        LRESULT result = 0;
        if (OnMessage(message, wParam, lParam, result)) {
            // These few messages return their value straight from the
            // dialog procedure; all others through DWLP_MSGRESULT.
            if (message == WM_QUERYDRAGICON || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
                return static_cast<INT_PTR>(result);
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case IDOK:
                OnOK();
                return TRUE;
            case IDCANCEL:
                OnCancel();
                return TRUE;
            default:
                break;
            }
        }
    } catch (const std::exception& error) {
        ReportHandlerError(&error);
        return TRUE;
    } catch (...) {
        ReportHandlerError(nullptr);
        return TRUE;
    }
    return FALSE;
}

CWinThread::~CWinThread() {
    if (m_hThread) {
        WaitWhilePumping(INFINITE);
        ::CloseHandle(m_hThread);
    }
}

bool CWinThread::WaitWhilePumping(DWORD milliseconds) {
    if (!m_hThread) return true;
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        DWORD remaining = INFINITE;
        if (milliseconds != INFINITE) {
            const ULONGLONG now = ::GetTickCount64();
            remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        const DWORD wait = ::MsgWaitForMultipleObjects(1, &m_hThread, FALSE, remaining, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait != WAIT_OBJECT_0 + 1) return false;
        // Only sent messages are handled here; posted ones stay queued.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

namespace {

struct ThreadStart {
    WorkerProc proc;
    void* param;
};

unsigned __stdcall ThreadTrampoline(void* p) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(p));
    return start->proc(start->param);
}

}  // namespace

std::unique_ptr<CWinThread> BeginWorkerThread(WorkerProc proc, void* param) {
    auto start = std::make_unique<ThreadStart>(ThreadStart{proc, param});
    const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &ThreadTrampoline, start.get(), 0, nullptr);
    if (handle == 0) return nullptr;
    start.release();  // the thread owns it now
    return std::make_unique<CWinThread>(reinterpret_cast<HANDLE>(handle));
}
