#pragma once
// A thin framework over Win32 for a dialog-based program: dialogs from
// templates with their messages dispatched to member handlers, the exchange
// of text between members and edit controls, message boxes owned by a
// window, the worker thread start, and one generic error box for an error
// that escapes a handler. Only what the restore dialog and the About box
// need; everything the user sees or answers goes through UserPrompts.

#include <windows.h>

#include <exception>
#include <memory>
#include <string>

#include "platform/wide.h"
#include "ui/user_prompts.h"

// The application title: the running executable's base name without its
// extension ("Sorvane" for Sorvane.exe). It is the caption of every
// message box.
std::u16string AppTitle();

// Text of the box shown when an error escapes a command handler.
extern const char16_t kHandlerErrorText[];
inline constexpr UINT kHandlerErrorStyle = MB_OK | MB_ICONSTOP;

class CWnd {
public:
    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    HWND GetDlgItem(int id) const noexcept { return ::GetDlgItem(m_hWnd, id); }
    std::u16string GetDlgItemText(int id) const;
    void SetDlgItemText(int id, const std::u16string& text) const;

    HWND m_hWnd = nullptr;
};

// One run of the data exchange: from the controls into the members
// (m_bSaveAndValidate) or the other way.
struct CDataExchange {
    HWND m_hDlg;
    bool m_bSaveAndValidate;
};

// Plain text exchange between an edit control and a string member.
void DDX_Text(CDataExchange* pDX, int id, std::u16string& value);

class CDialog : public CWnd {
public:
    CDialog(UINT templateId, UserPrompts& prompts, HWND parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; the value given to EndDialog, or -1 when the
    // template could not be loaded.
    INT_PTR DoModal();
    // Creates the dialog without a modal loop of its own (the caller pumps
    // messages). EndDialog then destroys the window. False on failure.
    bool Create();

    // Data exchange: controls into members (true) or members into controls.
    bool UpdateData(bool saveAndValidate = true);
    void EndDialog(int result);

    // A message box owned by this dialog, captioned with the application
    // title, asked through the dialog's UserPrompts.
    int ShowMessage(const std::u16string& text, UINT style);

    UserPrompts& Prompts() const noexcept { return m_prompts; }
    // The value given to EndDialog; -1 while the dialog has not ended.
    INT_PTR EndResult() const noexcept { return m_nResult; }

protected:
    // The framework's dialog initialisation: members into the controls.
    // TRUE lets the system put the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    virtual void OnOK();
    virtual void OnCancel();
    // The dialog's own message map. True when the message was handled, with
    // the value to return in `result`.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Shows the generic error box for an error that escaped a handler.
    virtual void ReportHandlerError(const std::exception* error);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
    UserPrompts& m_prompts;
    HWND m_hParent;
    bool m_bModal = false;
    INT_PTR m_nResult = -1;
};

// A worker thread started by BeginWorkerThread. The owner keeps it; the
// destructor waits for the thread to end (it must not be inside a call
// that waits for the owner's thread).
class CWinThread {
public:
    explicit CWinThread(HANDLE thread) noexcept : m_hThread(thread) {}
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    HANDLE Handle() const noexcept { return m_hThread; }
    // Waits up to `milliseconds`, handling sent messages meanwhile so that
    // a worker sending to this thread's windows cannot block the wait.
    bool WaitWhilePumping(DWORD milliseconds);

private:
    HANDLE m_hThread;
};

using WorkerProc = unsigned (*)(void* param);

// Starts proc(param) on a new thread with the runtime's thread start
// (default stack, priority and flags). Null when the thread could not start.
std::unique_ptr<CWinThread> BeginWorkerThread(WorkerProc proc, void* param);
