#pragma once
// How far a run has come, as its observer is told it: entries by those
// confirmed, bytes by those handled (written into files, or read from
// files that hold their entry already), confirmed or not. Confirmation
// waits for every earlier entry, so a count of confirmed bytes alone stands
// still for the last stretch of a run with workers, and for the whole of a
// single large entry; the bytes handled move with the data.
//
// Any thread counts bytes; only the run thread tells the observer, at
// least every kReportInterval while data moves: a worker that finds a
// report due wakes the run thread (see SetWake), which reports as it comes
// out of its wait.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "restore/restore.h"

namespace platform {
class WakeUp;
}

class RunMeter {
public:
    static constexpr std::chrono::milliseconds kReportInterval{250};

    // Created on the run thread. `progress` holds the confirmed figures
    // (the ledger keeps them); `observer` may be null.
    RunMeter(RestoreObserver* observer, RestoreProgress& progress,
             std::chrono::milliseconds interval = kReportInterval);
    RunMeter(const RunMeter&) = delete;
    RunMeter& operator=(const RunMeter&) = delete;

    // Any thread: `bytes` more of the run's data handled.
    void Count(std::uint64_t bytes) noexcept;
    // Run thread: the confirmed figures changed (an entry kept without its
    // data handled adds `unhandledBytes`); tells the observer now.
    void Confirmed(std::uint64_t unhandledBytes);
    // Run thread: tells the observer if a report is due.
    void Tick();
    // What a worker wakes when a report is due (the run thread's wait).
    void SetWake(platform::WakeUp* wake) noexcept { wake_.store(wake, std::memory_order_release); }

private:
    using Clock = std::chrono::steady_clock;
    bool Due() const noexcept;
    void Report();

    RestoreObserver* observer_;
    RestoreProgress& progress_;
    const std::thread::id runThread_;
    const Clock::rep interval_;  // steady clock ticks
    std::atomic<std::uint64_t> handled_{0};
    std::atomic<Clock::rep> lastReport_;  // steady clock ticks
    std::atomic<bool> wakeAsked_{false};
    std::atomic<platform::WakeUp*> wake_{nullptr};
    std::uint64_t unhandled_ = 0;  // bytes of confirmed entries kept as they stood
    std::uint64_t shown_ = 0;      // never goes back while the run lasts
};
