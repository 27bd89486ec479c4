#pragma once
// A console program's user asking it to stop: Ctrl-C and, on POSIX,
// SIGTERM and SIGHUP; on Windows Ctrl-C, Ctrl-Break and the console window
// being closed (or the session ending). While an InterruptCatcher lives,
// these no longer end the process at once: they call the given function,
// and the program ends itself once it has cleaned up.

namespace platform {

class InterruptCatcher {
public:
    // `onInterrupt` runs in a signal handler or on a thread of the system's,
    // perhaps more than once: it may only set a lock-free atomic flag.
    explicit InterruptCatcher(void (*onInterrupt)());
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;
    // The default handling comes back.
    ~InterruptCatcher();

    // The program has cleaned up. A closing Windows console ends the
    // process as soon as its handler returns, so the handler waits for this
    // (within the few seconds Windows allows).
    void CleanedUp();
};

}  // namespace platform
