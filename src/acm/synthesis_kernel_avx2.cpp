// The AVX2 build of the synthesis's inner loops: eight 32-bit lanes per vector. This file alone
// is compiled with -mavx2; the synthesis calls it only when the processor has AVX2.

#include "acm/synthesis_kernel.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include "acm/synthesis_kernel_impl.h"

namespace vellox {

namespace {

struct Avx2Ops {
    using Vec = __m256i;
    static constexpr int width = 8;

    static Vec load(const std::int32_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static void store(std::int32_t* p, Vec v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static Vec add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
    static Vec bit_xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    template <int s>
    static Vec shift_in(Vec prev, Vec cur) {
        static_assert(s == 1 || s == 2 || s == 4 || s == 8, "the stages shift by 1 to 8 lanes");
        if constexpr (s == width) {
            return prev;
        } else {
            // The upper half of prev and the lower half of cur: the lanes four places back.
            const Vec back4 = _mm256_permute2x128_si256(prev, cur, 0x21);
            if constexpr (s == 4) {
                return back4;
            } else {
                // Within each 128-bit half, the lanes of back4 and cur that precede by s.
                return _mm256_alignr_epi8(cur, back4, 16 - 4 * s);
            }
        }
    }
};

void to_samples_avx2(const std::int32_t* values, std::int32_t count, int shift,
                     std::int16_t* samples) {
    const __m128i by = _mm_cvtsi32_si128(shift);
    std::int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i low = _mm256_sra_epi32(Avx2Ops::load(values + i), by);
        const __m256i high = _mm256_sra_epi32(Avx2Ops::load(values + i + 8), by);
        // The saturating pack works within 128-bit halves: put the quarters back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + i), packed);
    }
    synthesis_kernels_portable.to_samples(values + i, count - i, shift, samples + i);
}

}  // namespace

bool synthesis_avx2_compiled() { return true; }

const SynthesisKernels synthesis_kernels_avx2 = {VectorSynthesis<Avx2Ops>::stage, to_samples_avx2};

}  // namespace vellox

#else

namespace vellox {

bool synthesis_avx2_compiled() { return false; }

const SynthesisKernels synthesis_kernels_avx2 = synthesis_kernels_portable;

}  // namespace vellox

#endif
