#pragma once
// What both programs do first: closed standard descriptors get /dev/null, so that no file
// takes their place; and, in the test builds only, the hooks the fault tests set through the
// environment. Included by each program's main, whose build decides on the hooks.

#ifdef VELLOX_ALLOCATION_HOOK
#include <cstdlib>  // std::getenv, std::atoll

#include "common/alloc.h"
#include "frontend/output_file.h"
#endif
#include "frontend/standard_descriptors.h"

namespace vellox {

// False when a standard descriptor is closed and cannot be opened: then nothing may be
// written, not even a message.
[[nodiscard]] inline bool start_program() {
    if (!open_closed_standard_descriptors()) return false;
#ifdef VELLOX_ALLOCATION_HOOK
    // VELLOX_FAIL_ALLOCATION=k makes the k-th checked allocation fail.
    if (const char* k = std::getenv("VELLOX_FAIL_ALLOCATION"))
        fail_allocation_number(std::atoll(k));
    // VELLOX_NAMED_TEMPORARY: the output goes through a named temporary file, as where the
    // system cannot make one without a name.
    if (std::getenv("VELLOX_NAMED_TEMPORARY") != nullptr) use_named_temporary_files();
#endif
    return true;
}

}  // namespace vellox
