#pragma once
// The dialog's progress on its taskbar button. The dialog reaches the
// taskbar only through this interface, so that a test can stand in for it
// and read what the user would have seen; the program uses the shell's
// taskbar list (ShellTaskbarProgress), which simply does nothing where the
// system offers none.

#include <windows.h>

#include <cstdint>
#include <memory>

class TaskbarProgress {
public:
    virtual ~TaskbarProgress() = default;
    // A normal (green) bar at completed / total on `window`'s button.
    // total is never 0.
    virtual void ShowProgress(HWND window, std::uint64_t completed, std::uint64_t total) = 0;
    // The bar turns to the error state, keeping its value.
    virtual void ShowError(HWND window) = 0;
    // No bar at all: the button looks as it does without a run.
    virtual void Clear(HWND window) = 0;
};

// The shell's taskbar list (ITaskbarList3), created on first use on the
// calling (user-interface) thread. When it can't be created every call does
// nothing. Must be used and destroyed on one thread.
std::unique_ptr<TaskbarProgress> MakeShellTaskbarProgress();
