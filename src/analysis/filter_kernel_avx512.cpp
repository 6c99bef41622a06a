// The AVX-512 build of the bank's inner loop: eight doubles per vector. This file alone is
// compiled with -mavx512f; the bank calls it only when the processor has AVX-512.

#include "analysis/filter_kernel.h"

#if defined(__AVX512F__)

#include <immintrin.h>

#include "analysis/filter_kernel_impl.h"

namespace vellox {

namespace {

// The masked forms with every lane set stand for the plain ones, whose undefined inputs GCC 12
// warns about.
struct Avx512Ops {
    using Vec = __m512d;
    static constexpr int width = 8;

    static Vec zero() { return _mm512_setzero_pd(); }
    static Vec load(const double* p) { return _mm512_loadu_pd(p); }
    static Vec broadcast(const double* p) { return _mm512_set1_pd(*p); }
    // The first period doubles at p repeated over the vector (the bits moved as they are).
    template <int period>
    static Vec load_period(const double* p) {
        static_assert(period == 2 || period == 4 || period == width,
                      "a pattern of taps spans a whole vector");
        if constexpr (period == 2) {
            return _mm512_castps_pd(_mm512_maskz_broadcast_f32x4(
                0xFFFF, _mm_loadu_ps(reinterpret_cast<const float*>(p))));
        } else if constexpr (period == 4) {
            return _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(p));
        } else {
            return load(p);
        }
    }
    static Vec mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
    static Vec add(Vec a, Vec b) { return _mm512_add_pd(a, b); }
    static void store(Vec v, double* p) { _mm512_storeu_pd(p, v); }

    // Every sum strictly between -2^31 - 1 and 2^31 (so not NaN): they truncate into int32.
    static bool all_in_range(const Vec (&sum)[group_vectors]) {
        const Vec low = _mm512_set1_pd(-2147483649.0);
        const Vec high = _mm512_set1_pd(2147483648.0);
        __mmask8 in = 0xFF;
        for (const Vec& s : sum) {
            in = static_cast<__mmask8>(in & _mm512_cmp_pd_mask(s, low, _CMP_GT_OQ) &
                                       _mm512_cmp_pd_mask(s, high, _CMP_LT_OQ));
        }
        return in == 0xFF;
    }
    static void store_whole(Vec v, double* p) {
        store(_mm512_maskz_roundscale_pd(0xFF, v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC), p);
    }
    static void store_coefficients(Vec v, std::int32_t* p) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_maskz_cvttpd_epi32(0xFF, v));
    }
};

}  // namespace

bool avx512_compiled() { return true; }

void filter_blocks_avx512(const BlockJob& job) { filter_blocks_with<Avx512Ops>(job); }

}  // namespace vellox

#else

namespace vellox {

bool avx512_compiled() { return false; }

void filter_blocks_avx512(const BlockJob& job) { filter_blocks_portable(job); }

}  // namespace vellox

#endif
