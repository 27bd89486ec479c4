// POSIX back end of the wake-up: an atomic word the C++ library waits on
// (a futex on Linux), so waking is one system call and never blocks.

#include <atomic>

#include "platform/wake.h"

namespace platform {

struct WakeUp::State {
    std::atomic<std::uint32_t> epoch{0};
};

WakeUp::WakeUp() : state_(std::make_unique<State>()) {}
WakeUp::~WakeUp() = default;

std::uint32_t WakeUp::Epoch() const { return state_->epoch.load(std::memory_order_acquire); }

void WakeUp::WaitPast(std::uint32_t seen) { state_->epoch.wait(seen, std::memory_order_acquire); }

void WakeUp::Wake() {
    state_->epoch.fetch_add(1, std::memory_order_release);
    state_->epoch.notify_all();
}

}  // namespace platform
