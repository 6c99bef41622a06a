// velloxdec's process entry: the standard streams made safe, then everything happens in
// run_decoder.

#include "frontend/console.h"
#include "frontend/decoder_driver.h"

#ifdef VELLOX_ALLOCATION_HOOK
#include <cstdlib>  // std::getenv, std::atoll

#include "common/alloc.h"
#endif

int main(int argc, char** argv) {
#ifdef VELLOX_ALLOCATION_HOOK
    // Test builds only: VELLOX_FAIL_ALLOCATION=k makes the k-th checked allocation fail.
    if (const char* k = std::getenv("VELLOX_FAIL_ALLOCATION")) {
        vellox::fail_allocation_number(std::atoll(k));
    }
#endif
    vellox::reserve_standard_streams();
    return vellox::run_decoder(argc, argv);
}
