// POSIX back end of the interrupt catcher: SIGINT, SIGTERM and SIGHUP call
// the function instead of ending the process. The handler stays in place,
// so a second Ctrl-C while the program cleans up changes nothing.

#include <signal.h>

#include "platform/interrupt.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
void (*g_onInterrupt)() = nullptr;
struct sigaction g_previous[3];

void Handle(int) {
    if (g_onInterrupt) g_onInterrupt();
}

}  // namespace

InterruptCatcher::InterruptCatcher(void (*onInterrupt)()) {
    g_onInterrupt = onInterrupt;
    struct sigaction action {};
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    // Reads and writes in progress go on rather than fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

InterruptCatcher::~InterruptCatcher() {
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_onInterrupt = nullptr;
}

void InterruptCatcher::CleanedUp() {}

}  // namespace platform
