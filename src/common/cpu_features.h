#pragma once
// What the processor this runs on (and its operating system) supports, for the inner loops
// that are built for several instruction sets and picked at run time.

namespace vellox {

[[nodiscard]] inline bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

[[nodiscard]] inline bool cpu_has_avx512f() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
#else
    return false;
#endif
}

}  // namespace vellox
