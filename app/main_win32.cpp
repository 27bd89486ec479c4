// Sorvane.exe: the Windows application object, the Win32 side of its
// start-up (common controls, sockets, message boxes, process start, the
// single-instance lookup) and the program's entry point.

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <winsock2.h>

#include <memory>
#include <vector>

#include "app/vantrel_app.h"
#include "platform/system_library.h"
#include "platform/wide.h"
#include "ui/framework.h"
#include "ui/taskbar_progress.h"
#include "ui/vantrel_dlg.h"

namespace {

class Win32AppHost final : public AppHost {
public:
    explicit Win32AppHost(const CVantrelApp& app) : m_app(app) {}
    Win32AppHost(const Win32AppHost&) = delete;
    Win32AppHost& operator=(const Win32AppHost&) = delete;
    ~Win32AppHost() override {
        if (m_bSocketsStarted) ::WSACleanup();
    }

    bool InitializeFramework() override {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);  // 8
        controls.dwICC = ICC_WIN95_CLASSES;
        ::InitCommonControlsEx(&controls);
        WSADATA data;
        m_bSocketsStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        // Hosting ActiveX controls and a registry key for settings have no
        // counterpart here: the dialog hosts none, and the tool keeps its
        // settings in profile.ini only.
        return m_bSocketsStarted;
    }

    int ShowMessage(const std::u16string& text, unsigned style) override {
        return ::MessageBoxW(nullptr, W(text), W(AppTitle()), style);
    }

    std::u16string LoadText(unsigned id) override {
        wchar_t text[512] = {};
        const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, text, 512);
        return length > 0 ? U16(text, static_cast<std::size_t>(length)) : std::u16string();
    }

    bool StartProcess(const std::u16string& applicationPath, const std::u16string& commandLine) override {
        // CreateProcessW may write into the command line: give it a copy.
        std::u16string line = commandLine;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(W(applicationPath), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE,
                              NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process))
            return false;
        // The program runs on its own; the tool never waits for it.
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        return true;
    }

    bool ActivateWindowTitled(const std::u16string& title) override {
        HWND existing = ::FindWindowW(nullptr, W(title));
        if (!existing) return false;
        // A minimized window is restored first: shown as it is, it would stay
        // a button on the taskbar.
        if (::IsIconic(existing)) ::ShowWindow(existing, SW_RESTORE);
        ::SetForegroundWindow(existing);
        ::ShowWindow(existing, SW_SHOW);
        return true;
    }

    bool HandArchiveToWindow(const std::u16string& title, const std::u16string& archivePath) override {
        return SendArchiveToDialog(::FindWindowW(nullptr, W(title)), archivePath);
    }

    void RunMainDialog() override {
        // Declared before the dialog so that it outlives it.
        const std::unique_ptr<TaskbarProgress> taskbar = MakeShellTaskbarProgress();
        CVantrelDlg dialog(SystemUserPrompts(), &RestoreThreadProc, taskbar.get());
        if (!m_app.m_strArchiveArgument.empty()) dialog.SetStartArchive(m_app.m_strArchiveArgument);
        dialog.SetProfilePath(m_app.m_strProfilePath);
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }

private:
    const CVantrelApp& m_app;
    CWnd* m_pMainWnd = nullptr;  // the restore dialog while it runs
    bool m_bSocketsStarted = false;
};

CVantrelApp theApp;

// The archive the program was started with: exactly one argument (what
// Explorer passes for "open with" and for a file dropped on the program's
// icon), made absolute against the current folder here, since the first
// instance's current folder may be another one. Anything else on the
// command line is ignored.
std::u16string ArchiveArgument() {
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&::LocalFree)> args(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                         &::LocalFree);
    if (!args || count != 2 || args.get()[1][0] == L'\0') return {};
    const wchar_t* argument = args.get()[1];
    const DWORD size = ::GetFullPathNameW(argument, 0, nullptr, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(argument, size, full.data(), nullptr);
    if (length == 0 || length >= size) return {};
    return U16(full.data(), length);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL of its own accord.
    platform::SearchDllsInSystemFolderOnly();
    // The one optional archive is the only thing read from the command
    // line; reading it touches nothing, so start-up keeps its order.
    theApp.m_strArchiveArgument = ArchiveArgument();
    Win32AppHost host(theApp);
    theApp.StartApplication(host);
    return 0;
}
