#pragma once
// The bank's inner loop in three builds (portable, AVX2, AVX-512), picked at run time: each
// computes blocks of consecutive outputs of one level, vectorised across the outputs, every
// output adding its own terms oldest first. All three give the same bits.

#include <cstdint>  // std::int32_t, std::int64_t

#include "common/cpu_features.h"

namespace vellox {

// True when this build holds the path and this processor (and its operating system) can run it.
[[nodiscard]] bool filter_path_available(KernelPath path);

// Outputs of every path come in runs that start on a multiple of this many values of the
// level's stream and hold a multiple of it.
constexpr std::int64_t block_outputs = 64;

// One run of outputs of a level of 2^shift nodes. Output i (a level stream index) adds, for
// j = tap_count - 1 down to 0, the tap j of its row's parity (row = i >> shift) times the
// level's value i - j * 2^shift, onto a sum that starts at 0, and is then truncated toward
// zero (saturating beyond the 32-bit range).
struct BlockJob {
    const double* newest = nullptr;  // the level's value number begin (term 0 of the first output)
    std::int64_t begin = 0;          // the first output's stream index, a multiple of block_outputs
    std::int64_t count = 0;          // outputs, a multiple of block_outputs
    std::int32_t shift = 0;          // 0 .. 15
    std::int32_t tap_count = 0;      // full_length
    const double* even_taps = nullptr;  // tap_count taps of outputs in even rows, term j at [j]
    const double* odd_taps = nullptr;   // the same for odd rows
    // For shift s < 3: per term 2^(s+1) taps, entry k the tap of an output whose stream index
    // is k modulo 2^(s+1) (even rows first, then odd ones).
    const double* period_taps[3] = {nullptr, nullptr, nullptr};
    // True when every sum is known to lie strictly between -2^31 - 1 and 2^31 (and so to
    // truncate into int32); otherwise every group of sums is checked.
    bool in_range = false;
    double* values = nullptr;              // outputs as whole doubles, when not null
    std::int32_t* coefficients = nullptr;  // otherwise outputs as 32-bit integers
};

// Each computes job on its path; only to be called when that path is available.
void filter_blocks_portable(const BlockJob& job);
void filter_blocks_avx2(const BlockJob& job);
void filter_blocks_avx512(const BlockJob& job);

// Whether the build holds the vector paths (they need an x86-64 compiler).
bool avx2_compiled();
bool avx512_compiled();

}  // namespace vellox
