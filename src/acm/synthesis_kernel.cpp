// The portable build of the synthesis's inner loops (plain scalar code, the reference the
// vector paths are tested against) and the choice of path from what the processor supports.

#include "acm/synthesis_kernel.h"

#include <cstddef>  // std::ptrdiff_t

#include "common/numeric.h"

namespace vellox {

namespace {

// Views narrower than this are worked column by column with the pair in registers; wider
// ones row pair by row pair, which walks the block in memory order.
constexpr std::int32_t wide_view = 8;

void stage_portable(std::int32_t* block, std::int32_t d, std::int32_t n, std::int32_t* state,
                    std::int32_t increment) {
    std::int32_t* a = state;
    std::int32_t* b = state + d;
    const std::int32_t pairs = n / 2;
    const std::ptrdiff_t pair_stride = 2 * static_cast<std::ptrdiff_t>(d);
    if (d < wide_view) {
        for (std::int32_t i = 0; i < d; ++i) {
            const std::int32_t inc = i == 0 ? increment : 0;
            std::int32_t pa = a[i];
            std::int32_t pb = b[i];
            std::ptrdiff_t at = i;  // row 2k, column i of the view
            for (std::int32_t k = 0; k < pairs; ++k, at += pair_stride) {
                const std::int32_t x = block[at];
                const std::int32_t y = block[at + d];
                block[at] =
                    wrapping_add(wrapping_add(x, pa), wrapping_add(wrapping_add(pb, pb), inc));
                block[at + d] =
                    wrapping_add(wrapping_sub(wrapping_sub(wrapping_add(x, x), y), pb), inc);
                pa = x;
                pb = y;
            }
            a[i] = pa;
            b[i] = pb;
        }
        return;
    }
    std::ptrdiff_t row = 0;  // row 2k of the view
    for (std::int32_t k = 0; k < pairs; ++k, row += pair_stride) {
        std::int32_t* x_row = block + row;
        std::int32_t* y_row = x_row + d;
        for (std::int32_t i = 0; i < d; ++i) {
            const std::int32_t x = x_row[i];
            const std::int32_t y = y_row[i];
            x_row[i] = wrapping_add(wrapping_add(x, a[i]), wrapping_add(b[i], b[i]));
            y_row[i] = wrapping_sub(wrapping_sub(wrapping_add(x, x), y), b[i]);
            a[i] = x;
            b[i] = y;
        }
        x_row[0] = wrapping_add(x_row[0], increment);
        y_row[0] = wrapping_add(y_row[0], increment);
    }
}

void to_samples_portable(const std::int32_t* values, std::int32_t count, int shift,
                         std::int16_t* samples) {
    for (std::int32_t i = 0; i < count; ++i) samples[i] = saturate_to_int16(values[i] >> shift);
}

}  // namespace

const SynthesisKernels synthesis_kernels_portable = {stage_portable, to_samples_portable};

bool synthesis_path_available(KernelPath path) {
    return kernel_path_runs(path, synthesis_avx2_compiled(), synthesis_avx512_compiled());
}

const SynthesisKernels& synthesis_kernels(KernelPath path) {
    switch (path) {
        case KernelPath::avx2:
            return synthesis_kernels_avx2;
        case KernelPath::avx512:
            return synthesis_kernels_avx512;
        case KernelPath::portable:
            break;
    }
    return synthesis_kernels_portable;
}

}  // namespace vellox
