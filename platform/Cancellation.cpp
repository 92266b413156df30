#include "platform/Cancellation.hpp"

#include <atomic>

namespace ni {

namespace {

// Lock-free atomics: safe to set from a signal handler.
std::atomic<bool> requested{false};
std::atomic<int> requestingSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

}  // namespace

void requestCancellation(int signalNumber) noexcept {
    requestingSignal.store(signalNumber, std::memory_order_relaxed);
    requested.store(true, std::memory_order_release);
}

bool cancellationRequested() noexcept { return requested.load(std::memory_order_acquire); }

int cancellationSignal() noexcept { return requestingSignal.load(std::memory_order_relaxed); }

void clearCancellation() noexcept {
    requested.store(false, std::memory_order_relaxed);
    requestingSignal.store(0, std::memory_order_relaxed);
}

}  // namespace ni
