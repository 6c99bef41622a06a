// Checked allocation: the failure hook used by the tests.

#include "common/alloc.h"

#include <atomic>  // std::atomic

namespace vellox {

namespace {
// Atomic, so that encoders and decoders in several threads may allocate at once; only the
// tests ever set a failing allocation.
std::atomic<std::int64_t> allocations_made{0};  // checked allocations so far
std::atomic<std::int64_t> failing_allocation{
    0};  // number of the allocation that must fail; 0: none
}  // namespace

bool allocation_allowed() {
    const std::int64_t number = ++allocations_made;
    std::int64_t failing = failing_allocation.load(std::memory_order_relaxed);
    return failing == 0 || number != failing ||
           !failing_allocation.compare_exchange_strong(failing, 0);
}

void fail_allocation_number(std::int64_t n) {
    failing_allocation = n > 0 ? allocations_made + n : 0;
}

std::int64_t allocation_count() { return allocations_made; }

}  // namespace vellox
