// Win32 back end of the wake-up: the epoch under a slim reader/writer lock
// with a condition variable (both from Windows Vista on). Waking all never
// waits for the woken threads.

#include <windows.h>

#include "platform/wake.h"

namespace platform {

struct WakeUp::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::uint32_t epoch = 0;
};

WakeUp::WakeUp() : state_(std::make_unique<State>()) {}
WakeUp::~WakeUp() = default;

std::uint32_t WakeUp::Epoch() const {
    ::AcquireSRWLockShared(&state_->lock);
    const std::uint32_t epoch = state_->epoch;
    ::ReleaseSRWLockShared(&state_->lock);
    return epoch;
}

void WakeUp::WaitPast(std::uint32_t seen) {
    ::AcquireSRWLockExclusive(&state_->lock);
    while (state_->epoch == seen) ::SleepConditionVariableSRW(&state_->changed, &state_->lock, INFINITE, 0);
    ::ReleaseSRWLockExclusive(&state_->lock);
}

void WakeUp::Wake() {
    ::AcquireSRWLockExclusive(&state_->lock);
    ++state_->epoch;
    ::ReleaseSRWLockExclusive(&state_->lock);
    ::WakeAllConditionVariable(&state_->changed);
}

}  // namespace platform
