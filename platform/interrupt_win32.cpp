// Win32 back end of the interrupt catcher: a console control handler. Ctrl-C
// and Ctrl-Break are handled and the program goes on to clean up; for a
// closing console, a logoff or a shutdown Windows ends the process once the
// handler returns, so the handler waits until the program has cleaned up.

#include <windows.h>

#include "platform/interrupt.h"

namespace platform {
namespace {

void (*g_onInterrupt)() = nullptr;
HANDLE g_cleanedUp = nullptr;

// Windows gives a closing console about five seconds before it ends the
// process anyway.
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI Handle(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (g_onInterrupt) g_onInterrupt();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (g_onInterrupt) g_onInterrupt();
        if (g_cleanedUp) ::WaitForSingleObject(g_cleanedUp, kCloseWaitMs);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

InterruptCatcher::InterruptCatcher(void (*onInterrupt)()) {
    g_onInterrupt = onInterrupt;
    g_cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(Handle, TRUE);
}

InterruptCatcher::~InterruptCatcher() {
    CleanedUp();
    ::SetConsoleCtrlHandler(Handle, FALSE);
    g_onInterrupt = nullptr;
    // The event stays: a handler thread may still be waiting on it.
}

void InterruptCatcher::CleanedUp() {
    if (g_cleanedUp) ::SetEvent(g_cleanedUp);
}

}  // namespace platform
