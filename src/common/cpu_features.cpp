// What the processor supports, asked of the compiler's run-time check.

#include "common/cpu_features.h"

namespace vellox {

namespace {

bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

bool cpu_has_avx512f() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
#else
    return false;
#endif
}

}  // namespace

bool kernel_path_runs(KernelPath path, bool avx2_built, bool avx512_built) {
    switch (path) {
        case KernelPath::portable:
            return true;
        case KernelPath::avx2:
            return avx2_built && cpu_has_avx2();
        case KernelPath::avx512:
            return avx512_built && cpu_has_avx512f();
    }
    return false;
}

KernelPath fastest_kernel_path(bool (*available)(KernelPath)) {
    if (available(KernelPath::avx512)) return KernelPath::avx512;
    if (available(KernelPath::avx2)) return KernelPath::avx2;
    return KernelPath::portable;
}

}  // namespace vellox
