// The AVX2 build of the bank's inner loop: four doubles per vector. This file alone is
// compiled with -mavx2; the bank calls it only when the processor has AVX2.

#include "analysis/filter_kernel.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include "analysis/filter_kernel_impl.h"

namespace vellox {

namespace {

struct Avx2Ops {
    using Vec = __m256d;
    static constexpr int width = 4;

    static Vec zero() { return _mm256_setzero_pd(); }
    static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    static Vec broadcast(const double* p) { return _mm256_broadcast_sd(p); }
    template <int period>
    static Vec load_period(const double* p) {
        static_assert(period == 2 || period == width, "a pattern of taps spans a whole vector");
        if constexpr (period == 2) {
            return _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(p));
        } else {
            return load(p);
        }
    }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    static Vec add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
    static void store(Vec v, double* p) { _mm256_storeu_pd(p, v); }

    // Every sum strictly between -2^31 - 1 and 2^31 (so not NaN): they truncate into int32.
    static bool all_in_range(const Vec (&sum)[group_vectors]) {
        const Vec low = _mm256_set1_pd(-2147483649.0);
        const Vec high = _mm256_set1_pd(2147483648.0);
        Vec in = _mm256_cmp_pd(sum[0], low, _CMP_GT_OQ);
        for (const Vec& s : sum) {
            in = _mm256_and_pd(in, _mm256_cmp_pd(s, low, _CMP_GT_OQ));
            in = _mm256_and_pd(in, _mm256_cmp_pd(s, high, _CMP_LT_OQ));
        }
        return _mm256_movemask_pd(in) == 0xF;
    }
    static void store_whole(Vec v, double* p) {
        store(_mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC), p);
    }
    static void store_coefficients(Vec v, std::int32_t* p) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_cvttpd_epi32(v));
    }
};

}  // namespace

bool avx2_compiled() { return true; }

void filter_blocks_avx2(const BlockJob& job) { filter_blocks_with<Avx2Ops>(job); }

}  // namespace vellox

#else

namespace vellox {

bool avx2_compiled() { return false; }

void filter_blocks_avx2(const BlockJob& job) { filter_blocks_portable(job); }

}  // namespace vellox

#endif
