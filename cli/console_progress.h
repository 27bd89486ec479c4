#pragma once
// What the restore and test commands share: paths made absolute the way
// the engine needs them, and the one-line progress display on a terminal.

#include <chrono>
#include <cstddef>
#include <string>

#include "restore/restore.h"

// `path` with "/" as the platform separator, joined to the current folder
// when it is relative: the engine joins names to the destination by plain
// concatenation and changes the current folder around the open.
std::u16string AbsolutePath(std::u16string path);

// Exit status of a command the user interrupted (128 + SIGINT, as shells
// report it), on every platform.
inline constexpr int kExitInterrupted = 130;

// Ends the run of the calling command early on Ctrl-C (and the other ways a
// console asks a program to stop) while it lives; `Stop()` is what the run
// checks.
class ConsoleInterrupts {
public:
    ConsoleInterrupts();
    ConsoleInterrupts(const ConsoleInterrupts&) = delete;
    ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;
    ~ConsoleInterrupts();
    const StopRequest* Stop() const;
    // The command has cleaned up after an interruption.
    void CleanedUp();
};

// Redraws one line on a terminal; silent otherwise, so that logs and pipes
// get only the result.
class ConsoleProgress : public RestoreObserver {
public:
    explicit ConsoleProgress(bool show) : show_(show) {}

    void OnRestoreStarted() override { start_ = std::chrono::steady_clock::now(); }
    void OnRestoreFinished(int resultCode) override;
    void OnRestoreProgress(const RestoreProgress& progress) override;
    bool WantsByteTotal() const override { return show_; }
    // The last progress told.
    const RestoreProgress& Last() const { return last_; }

private:
    bool show_;
    RestoreProgress last_;
    bool drawn_ = false;
    std::size_t previousWidth_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_;
};
