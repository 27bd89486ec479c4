// How far a run has come, for its observer.

#include "restore/run_meter.h"

#include <algorithm>

#include "platform/wake.h"

RunMeter::RunMeter(RestoreObserver* observer, RestoreProgress& progress, std::chrono::milliseconds interval)
    : observer_(observer), progress_(progress), runThread_(std::this_thread::get_id()),
      interval_(std::chrono::duration_cast<Clock::duration>(interval).count()),
      lastReport_(Clock::now().time_since_epoch().count()) {}

bool RunMeter::Due() const noexcept {
    const Clock::rep now = Clock::now().time_since_epoch().count();
    return now - lastReport_.load(std::memory_order_relaxed) >= interval_;
}

void RunMeter::Count(std::uint64_t bytes) noexcept {
    handled_.fetch_add(bytes, std::memory_order_relaxed);
    if (!observer_) return;
    if (std::this_thread::get_id() == runThread_) {
        Tick();
        return;
    }
    // One wake-up per report due, whichever worker finds it first.
    if (Due() && !wakeAsked_.exchange(true, std::memory_order_acq_rel)) {
        if (platform::WakeUp* wake = wake_.load(std::memory_order_acquire)) wake->Wake();
    }
}

void RunMeter::Tick() {
    if (observer_ && Due()) Report();
}

void RunMeter::Confirmed(std::uint64_t unhandledBytes) {
    unhandled_ += unhandledBytes;
    if (observer_) Report();
}

void RunMeter::Report() {
    RestoreProgress shown = progress_;
    if (progress_.entriesTotal > 0 && progress_.entriesDone >= progress_.entriesTotal) {
        // Every entry confirmed: the exact figure.
        shown_ = progress_.bytesDone;
    } else {
        // An entry filled again after a failure counts twice: never past
        // the total, and never back.
        std::uint64_t moving = std::max(progress_.bytesDone, handled_.load(std::memory_order_relaxed) + unhandled_);
        if (progress_.bytesTotal > 0) moving = std::min(moving, progress_.bytesTotal);
        shown_ = std::max(shown_, moving);
    }
    shown.bytesDone = shown_;
    lastReport_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    wakeAsked_.store(false, std::memory_order_release);
    observer_->OnRestoreProgress(shown);
}
