#pragma once
// A wake-up that never makes the waking thread wait. A condition variable's
// signal may (glibc's does) block the signalling thread until an earlier
// woken waiter has been scheduled; when the thread that signals most is the
// one everything else waits for, that stalls the whole pipeline.
//
// The protocol: a waiter checks its condition under the lock that guards it
// and, when it must wait, reads Epoch() before letting the lock go, then
// calls WaitPast with what it read. A waker changes the condition under that
// lock and calls Wake() after letting it go. A wake-up between the check and
// the sleep is never lost: the epoch has moved by then.

#include <cstdint>
#include <memory>

namespace platform {

class WakeUp {
public:
    WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;
    ~WakeUp();

    std::uint32_t Epoch() const;
    // Returns once the epoch differs from `seen` (or spuriously).
    void WaitPast(std::uint32_t seen);
    // Moves the epoch on and wakes every waiter.
    void Wake();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
