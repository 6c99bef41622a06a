// Checked allocation: the failure hook used by the tests.

#include "common/alloc.h"

namespace vellox {

namespace {
std::int64_t allocations_made = 0;    // checked allocations so far
std::int64_t failing_allocation = 0;  // number of the allocation that must fail; 0: none
}  // namespace

bool allocation_allowed() {
    ++allocations_made;
    if (failing_allocation != 0 && allocations_made == failing_allocation) {
        failing_allocation = 0;
        return false;
    }
    return true;
}

void fail_allocation_number(std::int64_t n) {
    failing_allocation = n > 0 ? allocations_made + n : 0;
}

std::int64_t allocation_count() { return allocations_made; }

}  // namespace vellox
