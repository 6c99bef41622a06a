// The process entry: everything happens in run_conversion.

#include "frontend/driver.h"
#include "frontend/standard_descriptors.h"

#ifdef VELLOX_ALLOCATION_HOOK
#include <cstdlib>  // std::getenv, std::atoll

#include "common/alloc.h"
#include "frontend/output_file.h"
#endif

int main(int argc, char** argv) {
    if (!vellox::open_closed_standard_descriptors()) return 1;
#ifdef VELLOX_ALLOCATION_HOOK
    // Test builds only: VELLOX_FAIL_ALLOCATION=k makes the k-th checked allocation fail.
    if (const char* k = std::getenv("VELLOX_FAIL_ALLOCATION")) {
        vellox::fail_allocation_number(std::atoll(k));
    }
    // VELLOX_NAMED_TEMPORARY: the output goes through a named temporary file, as where the
    // system cannot make one without a name.
    if (std::getenv("VELLOX_NAMED_TEMPORARY") != nullptr) vellox::use_named_temporary_files();
#endif
    return vellox::run_conversion(argc, argv);
}
