#pragma once
// The synthesis's inner loops in three builds (portable, AVX2, AVX-512), picked at run time:
// one stage of pairwise sums over a view of the block, and the scaling of transformed values
// down to 16-bit samples. All three give the same bits.

#include <cstdint>  // std::int16_t, std::int32_t

#include "common/cpu_features.h"

namespace vellox {

// True when this build holds the path and this processor (and its operating system) can run it.
[[nodiscard]] bool synthesis_path_available(KernelPath path);

// One synthesis stage, in place, on the view of n rows (even, at least 2) by d columns (a power
// of two) at block: row t, column i at t * d + i. Each column is taken top to bottom in pairs
// of rows (x, y); with (a, b) the column's previous pair, x becomes x + a + 2b + increment in
// column 0 (0 elsewhere) and y becomes 2x - y - b + that increment, sums wrapping in 32-bit
// two's complement; then (a, b) = (x, y) as they were. state holds the pairs carried from the
// previous block, a for the d columns then b for them, and receives the last pairs.
//
// Read in memory order the stage is a stencil over its inputs v: the output at position p is
// 2 v[p - d] + (v[p] + v[p - 2d]) in the x rows and 2 v[p - d] - (v[p] + v[p - 2d]) in the y
// rows, state being the 2d values before position 0. Narrow views are worked that way.
using SynthesisStage = void (*)(std::int32_t* block, std::int32_t d, std::int32_t n,
                                std::int32_t* state, std::int32_t increment);

// Stores count values, each shifted right by shift (0 .. 15) with sign and saturated to
// -32768 .. 32767, as samples.
using ValuesToSamples = void (*)(const std::int32_t* values, std::int32_t count, int shift,
                                 std::int16_t* samples);

struct SynthesisKernels {
    SynthesisStage stage;
    ValuesToSamples to_samples;
};

// The kernels of an available path.
[[nodiscard]] const SynthesisKernels& synthesis_kernels(KernelPath path);

// Each path's kernels; only to be called when that path is available.
extern const SynthesisKernels synthesis_kernels_portable;
extern const SynthesisKernels synthesis_kernels_avx2;
extern const SynthesisKernels synthesis_kernels_avx512;

// Whether the build holds the vector paths (they need an x86-64 compiler).
bool synthesis_avx2_compiled();
bool synthesis_avx512_compiled();

}  // namespace vellox
