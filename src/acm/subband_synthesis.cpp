// The subband synthesis: stages of pairwise sums over ever taller views of the block.

#include "acm/subband_synthesis.h"

#include <cstddef>  // std::ptrdiff_t

#include "common/alloc.h"

namespace vellox {

namespace {

// Blocks are transformed a piece of whole rows at a time, each piece through every stage, so
// that a piece stays in the processor's first-level cache from one stage to the next: values
// per piece, unless a single row is longer.
constexpr std::int32_t piece_values = 8192;

}  // namespace

SubbandSynthesis::SubbandSynthesis(std::int32_t level_count)
    : levels(level_count),
      columns(std::int32_t{1} << level_count),
      path(fastest_synthesis_path()),
      kernels(&synthesis_kernels(path)) {}

SubbandSynthesis::~SubbandSynthesis() = default;

bool SubbandSynthesis::allocate_state() {
    if (levels == 0) return true;
    carried_state = allocate_array<std::int32_t>(2 * static_cast<std::int64_t>(columns) - 2);
    return carried_state != nullptr;
}

bool SubbandSynthesis::set_synthesis_path(SynthesisPath wanted) {
    if (!synthesis_path_available(wanted)) return false;
    path = wanted;
    kernels = &synthesis_kernels(path);
    return true;
}

// Each stage's pairs run on from row to row and block to block, so transforming the rows of a
// block piece by piece, every stage carrying its state, gives the values of the whole block.
void SubbandSynthesis::inverse_transform(std::int32_t* block, std::int32_t rows) {
    if (levels == 0) return;
    const std::int32_t piece_rows = columns >= piece_values ? 1 : piece_values / columns;
    for (std::int32_t first = 0; first < rows; first += piece_rows) {
        const std::int32_t n = rows - first < piece_rows ? rows - first : piece_rows;
        std::int32_t* piece = block + static_cast<std::ptrdiff_t>(first) * columns;
        std::int32_t* state = carried_state.get();
        for (std::int32_t s = 1; s <= levels; ++s) {
            // Stage 1 pairs column i of each block row's first half with column columns / 2 +
            // i. The 1 it adds to its column 0 reaches every final value as 2^(levels - 1), so
            // that the shift by levels rounds to the nearest integer, halves upward.
            const std::int32_t d = columns >> s;
            kernels->stage(piece, d, n << s, state, s == 1 ? 1 : 0);
            state += 2 * d;
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
