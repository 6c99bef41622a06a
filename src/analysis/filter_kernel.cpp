// The portable build of the bank's inner loop (two doubles per vector: SSE2 on x86-64, pairs
// of scalars elsewhere) and the choice of path from what the processor supports.

#include "analysis/filter_kernel.h"

#include <cstring>  // std::memcpy

#include "analysis/filter_kernel_impl.h"

namespace vellox {

namespace {

struct PortableOps {
    typedef double Vec __attribute__((vector_size(16)));
    typedef std::int64_t Mask __attribute__((vector_size(16)));
    typedef std::int32_t Ints __attribute__((vector_size(8)));
    static constexpr int width = 2;

    static Vec zero() { return Vec{0.0, 0.0}; }
    static Vec load(const double* p) {
        Vec v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static Vec broadcast(const double* p) { return Vec{*p, *p}; }
    template <int period>
    static Vec load_period(const double* p) {
        static_assert(period == width, "a pattern of taps spans a whole vector");
        return load(p);
    }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static void store(Vec v, double* p) { std::memcpy(p, &v, sizeof v); }

    // Every sum strictly between -2^31 - 1 and 2^31 (so not NaN): they truncate into int32.
    static bool all_in_range(const Vec (&sum)[group_vectors]) {
        Mask in = Mask{-1, -1};
        for (const Vec& s : sum) in &= (s > -2147483649.0) & (s < 2147483648.0);
        return (in[0] & in[1]) != 0;
    }
    static void store_whole(Vec v, double* p) {
        store(__builtin_convertvector(__builtin_convertvector(v, Ints), Vec), p);
    }
    static void store_coefficients(Vec v, std::int32_t* p) {
        const Ints c = __builtin_convertvector(v, Ints);
        std::memcpy(p, &c, sizeof c);
    }
};

}  // namespace

void filter_blocks_portable(const BlockJob& job) { filter_blocks_with<PortableOps>(job); }

bool filter_path_available(KernelPath path) {
    return kernel_path_runs(path, avx2_compiled(), avx512_compiled());
}

}  // namespace vellox
