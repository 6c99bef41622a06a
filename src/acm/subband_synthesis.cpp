// The subband synthesis: stages of pairwise sums over ever taller views of the block.

#include "acm/subband_synthesis.h"

#include <cstddef>  // std::ptrdiff_t

#include "common/alloc.h"

namespace vellox {

namespace {

// Blocks are transformed a piece at a time, each piece through every stage, so that a piece
// stays in the processor's first-level cache from one stage to the next: values per piece.
constexpr std::int32_t piece_values = 8192;

}  // namespace

SubbandSynthesis::SubbandSynthesis(std::int32_t level_count)
    : levels(level_count),
      columns(std::int32_t{1} << level_count),
      path(fastest_kernel_path(synthesis_path_available)),
      kernels(&synthesis_kernels(path)) {}

SubbandSynthesis::~SubbandSynthesis() = default;

vellox_status SubbandSynthesis::allocate_state() {
    if (levels == 0) return VELLOX_OK;
    carried_state = allocate_array<std::int32_t>(2 * static_cast<std::int64_t>(columns) - 2);
    return carried_state != nullptr ? VELLOX_OK : VELLOX_ERROR_MEMORY;
}

bool SubbandSynthesis::set_synthesis_path(KernelPath wanted) {
    if (!synthesis_path_available(wanted)) return false;
    path = wanted;
    kernels = &synthesis_kernels(path);
    return true;
}

// A stage's pairs run on from row pair to row pair and block to block, so a stage taken piece
// by piece, each piece a run of whole pairs of its view's rows (2d values), gives the values of
// the whole block. Stage s of a piece needs stage s - 1 of it only.
void SubbandSynthesis::inverse_transform(std::int32_t* block, std::int32_t rows) {
    if (levels == 0) return;
    const std::int32_t piece_rows = columns >= piece_values ? 1 : piece_values / columns;
    for (std::int32_t first = 0; first < rows; first += piece_rows) {
        const std::int32_t n = rows - first < piece_rows ? rows - first : piece_rows;
        std::int32_t* piece = block + static_cast<std::ptrdiff_t>(first) * columns;
        const std::int32_t values = n * columns;  // a multiple of piece_values when above it
        // Stage 1 pairs column i of each block row's first half with column columns / 2 + i.
        // The 1 it adds to its column 0 reaches every final value as 2^(levels - 1), so that
        // the shift by levels rounds to the nearest integer, halves upward.
        std::int32_t* state = carried_state.get();
        std::int32_t s = 1;
        // Stages whose pairs of rows are longer than a piece go over the whole row...
        for (; s <= levels && (columns >> s) * 2 > piece_values; ++s) {
            const std::int32_t d = columns >> s;
            kernels->stage(piece, d, values / d, state, s == 1 ? 1 : 0);
            state += 2 * d;
        }
        // ...the others over one piece at a time, each piece through all of them.
        for (std::int32_t start = 0; start < values; start += piece_values) {
            const std::int32_t size = values - start < piece_values ? values - start : piece_values;
            std::int32_t* at = state;
            for (std::int32_t t = s; t <= levels; ++t) {
                const std::int32_t d = columns >> t;
                kernels->stage(piece + start, d, size / d, at, t == 1 ? 1 : 0);
                at += 2 * d;
            }
        }
    }
}

std::pair<std::int32_t, std::int32_t> SubbandSynthesis::carried_pair(int stage,
                                                                     std::int32_t column) const {
    const std::int32_t* state = carried_state.get();
    for (int s = 1; s < stage; ++s) state += 2 * (columns >> s);
    const std::int32_t d = columns >> stage;
    return {state[column], state[d + column]};
}

}  // namespace vellox
