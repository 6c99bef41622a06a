// The AVX-512 build of the synthesis's inner loops: sixteen 32-bit lanes per vector. This file
// alone is compiled with -mavx512f; the synthesis calls it only when the processor has
// AVX-512.

#include "acm/synthesis_kernel.h"

#if defined(__AVX512F__)

#include <immintrin.h>

#include "acm/synthesis_kernel_impl.h"

namespace vellox {

namespace {

// The masked forms with every lane set stand for the plain ones, whose undefined inputs GCC 12
// warns about.
struct Avx512Ops {
    using Vec = __m512i;
    static constexpr int width = 16;

    static Vec load(const std::int32_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::int32_t* p, Vec v) { _mm512_storeu_si512(p, v); }
    static Vec add(Vec a, Vec b) { return _mm512_add_epi32(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm512_sub_epi32(a, b); }
    static Vec bit_xor(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
    template <int s>
    static Vec shift_in(Vec prev, Vec cur) {
        if constexpr (s == width) {
            return prev;
        } else {
            return _mm512_maskz_alignr_epi32(0xFFFF, cur, prev, width - s);
        }
    }
};

void to_samples_avx512(const std::int32_t* values, std::int32_t count, int shift,
                       std::int16_t* samples) {
    const __m128i by = _mm_cvtsi32_si128(shift);
    std::int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512i v = _mm512_maskz_sra_epi32(0xFFFF, Avx512Ops::load(values + i), by);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + i),
                            _mm512_maskz_cvtsepi32_epi16(0xFFFF, v));
    }
    synthesis_kernels_portable.to_samples(values + i, count - i, shift, samples + i);
}

}  // namespace

bool synthesis_avx512_compiled() { return true; }

const SynthesisKernels synthesis_kernels_avx512 = {VectorSynthesis<Avx512Ops>::stage,
                                                   to_samples_avx512};

}  // namespace vellox

#else

namespace vellox {

bool synthesis_avx512_compiled() { return false; }

const SynthesisKernels synthesis_kernels_avx512 = synthesis_kernels_portable;

}  // namespace vellox

#endif
