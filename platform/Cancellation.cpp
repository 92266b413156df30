#include "platform/Cancellation.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace ni {

namespace {

// Lock-free atomics: safe to set from a signal handler.
std::atomic<bool> requested{false};
std::atomic<int> requestingSignal{0};
std::atomic<void (*)(int)> extraHandler{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<void (*)(int)>::is_always_lock_free);

extern "C" void niRecordTerminationSignal(int signalNumber) {
    requestCancellation(signalNumber);
    if (const auto extra = extraHandler.load(std::memory_order_relaxed)) extra(signalNumber);
}

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

void requestCancellationOnTerminationSignals(void (*extra)(int)) {
    extraHandler.store(extra, std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = niRecordTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: the handler only records, and the loops look at the record between files.
    action.sa_flags = SA_RESTART;
    // A launcher may have left them blocked: a stop asked for would then wait for the end of the run.
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signalNumber, &action, nullptr);
        sigaddset(&handled, signalNumber);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
}

void dieOfSignal(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signalNumber);
    ::_exit(128 + signalNumber);
}

}  // namespace ni
