#include "platform/SystemCalls.hpp"

#include <array>
#include <atomic>

namespace ni::sys {

namespace {

struct Fault {
    std::atomic<int> errnoValue{0};
    std::atomic<int> remainingSuccesses{0};
};

std::array<Fault, 10>& faults() {
    static std::array<Fault, 10> table;
    return table;
}

Fault& faultFor(Operation operation) { return faults()[static_cast<std::size_t>(operation)]; }

}  // namespace

void injectFault(Operation operation, int errnoValue, int succeedFirst) {
    Fault& fault = faultFor(operation);
    fault.remainingSuccesses = succeedFirst;
    fault.errnoValue = errnoValue;
}

void clearFaults() {
    for (Fault& fault : faults()) {
        fault.errnoValue = 0;
        fault.remainingSuccesses = 0;
    }
}

int injectedFault(Operation operation) {
    Fault& fault = faultFor(operation);
    const int value = fault.errnoValue.load(std::memory_order_relaxed);
    if (value == 0) return 0;
    if (fault.remainingSuccesses.fetch_sub(1) > 0) return 0;
    return value;
}

}  // namespace ni::sys
