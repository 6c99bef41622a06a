// The analysis filter bank: designs, state and the level-by-level filtering.
//
// Every node output is the sum, in double precision, of value x tap products added oldest
// value first onto a sum that starts at 0, then truncated toward zero. The outputs are
// computed directly from each node's recent values, so consecutive outputs are independent
// sums and a block of them can be computed side by side; each sum still adds its own terms
// in the same order. Where a node has not yet seen a value the window holds 0; a zero value
// adds a signed zero, which changes no sum that is not zero and turns -0.0 into +0.0, so the
// truncated result is the same as when the term is left out. That holds while every tap is
// finite: with an infinite or NaN tap, 0 x tap is NaN, and such filters take a slower path
// that leaves zero values out.

#include "analysis/analysis_filter_bank.h"

#include <algorithm>  // std::max, std::min
#include <cmath>      // std::isfinite
#include <cstddef>    // std::size_t
#include <cstring>    // std::memmove

#include "analysis/filter_design.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

// One level of the tree. Level l deals its values to its 2^l nodes in turn, so its stream is
// a matrix of rows of 2^l values, one column per node: row r holds every node's r-th value,
// and each node filters its column with the taps of its r-th value's phase (r even: low
// pass). A level keeps its recent values in a flat window, or, when it is wide, its last
// full_length rows in a ring.
struct FilterLevel {
    std::int32_t level_nodes = 0;  // 2^l
    std::int32_t node_shift = 0;   // l
    std::int64_t seen = 0;         // values the level has taken since init
    std::int64_t warm_up = 0;      // filter_length rows: the values that give no output
    double* values = nullptr;      // this level's part of delay_lines (borrowed)
    // Flat window (level_nodes below ring_nodes): values[i] is the level's value number
    // first_index + i; the rows before the first read as zeros.
    std::int64_t history = 0;      // values kept when the window slides: full_length-1 rows
    std::int64_t capacity = 0;     // values the window holds
    std::int64_t fill = 0;         // values in the window
    std::int64_t first_index = 0;  // stream index of values[0]
    // Ring (wide levels): full_length rows of level_nodes values, row_stride values apart.
    std::int64_t row_stride = 0;
    std::int32_t ring_row = 0;  // ring row of the row being filled, 0 .. full_length-1
};

namespace {

// Outputs computed side by side. Sixteen independent sums keep enough additions in flight
// to hide their latency, and a level at least this wide has every lane of a block in the
// same row.
constexpr std::int32_t block_width = 16;

// Levels of this many nodes or more keep rings of rows, which need no copying and little
// more memory than the rows themselves but cost some set-up per row; narrower levels keep
// flat windows.
constexpr std::int32_t ring_nodes = 256;

// Ring rows are this many values longer than the level is wide: rows a power of two apart
// would fall into the same few cache sets, and a block reads full_length of them.
constexpr std::int32_t row_padding = 8;

// A window slides after taking this many values (or its history, if longer), so sliding
// costs at most one copy per value.
constexpr std::int64_t window_step = 4096;

// The nearest 32-bit value toward zero: the common case inline, the rest (beyond the range,
// NaN) through the shared conversion.
inline std::int32_t to_coefficient(double sum) {
    if (sum > -2147483649.0 && sum < 2147483648.0) return static_cast<std::int32_t>(sum);
    return truncate_to_int32(sum);
}

// One output: term j is taps[j] x term_values[j][at], added from the oldest term
// (j = taps - 1) to the newest (j = 0).
double sum_terms(const double* const* term_values, std::int64_t at, const double* taps,
                 std::int32_t tap_count) {
    double sum = 0.0;
    for (std::int32_t j = tap_count - 1; j >= 0; --j) sum += taps[j] * term_values[j][at];
    return sum;
}

// The same, leaving zero values out, for filters with a tap that is not finite.
double sum_nonzero_terms(const double* const* term_values, std::int64_t at, const double* taps,
                         std::int32_t tap_count) {
    double sum = 0.0;
    for (std::int32_t j = tap_count - 1; j >= 0; --j) {
        const double value = term_values[j][at];
        if (value != 0.0) sum += taps[j] * value;
    }
    return sum;
}

// Two doubles side by side: one SSE2 register on x86-64, a pair of scalars elsewhere.
typedef double Pair __attribute__((vector_size(16)));
typedef std::int64_t PairMask __attribute__((vector_size(16)));  // a Pair comparison
typedef std::int32_t IntPair __attribute__((vector_size(8)));

// The core loop: block after block of block_width consecutive outputs of a level of 2^shift
// nodes. Output k of block b adds, for j from tap_count - 1 down to 0, the product of
// term_values[j][at + b * block_width + k] and the tap of its row's parity; stream_index is
// the level's value number of lane 0 of block 0. Lanes 2v and 2v + 1 take pair j of a
// table. In a narrow level (lane_shift = shift < 4) the blocks start on multiples of
// block_width and the rows change every 2^shift lanes, so the pair comes from even_pairs
// when bit lane_shift of 2v is clear and from odd_pairs when it is set (with shift 0,
// even_pairs holds mixed pairs). In a wider level (lane_shift 4) every block lies in one
// row, whose parity picks the table.
// Vectorised across the lanes, never across the terms: every lane adds its terms oldest
// first, with one rounding per product and per sum.
template <int lane_shift>
void filter_blocks(const double* const* term_values, std::int64_t at, std::int64_t stream_index,
                   std::int32_t shift, const double* even_pairs, const double* odd_pairs,
                   std::int32_t tap_count, std::int64_t blocks, std::int32_t* out) {
    constexpr int pairs = block_width / 2;
    for (std::int64_t b = 0; b < blocks; ++b) {
        Pair sum[pairs];
        for (Pair& s : sum) s = Pair{0.0, 0.0};
        const std::int64_t first = at + b * block_width;
        const bool odd_row =
            lane_shift >= 4 && (((stream_index + b * block_width) >> shift) & 1) != 0;
        const double* row_pairs = odd_row ? odd_pairs : even_pairs;
        for (std::int32_t j = tap_count - 1; j >= 0; --j) {
            const double* value = term_values[j] + first;
            Pair even_tap;
            Pair odd_tap;
            std::memcpy(&even_tap, row_pairs + 2 * j, sizeof even_tap);
            std::memcpy(&odd_tap, odd_pairs + 2 * j, sizeof odd_tap);
            for (int v = 0; v < pairs; ++v) {
                Pair x;
                std::memcpy(&x, value + 2 * v, sizeof x);
                sum[v] += ((((2 * v) >> lane_shift) & 1) != 0 ? odd_tap : even_tap) * x;
            }
        }
        // Sums inside the 32-bit range (all but those of huge "-fc" taps) convert side by
        // side; the others go through the shared saturating conversion.
        PairMask in_range = PairMask{-1, -1};
        for (const Pair& s : sum) in_range &= (s > -2147483649.0) & (s < 2147483648.0);
        std::int32_t* block_out = out + b * block_width;
        if ((in_range[0] & in_range[1]) != 0) {
            for (int v = 0; v < pairs; ++v) {
                const IntPair converted = __builtin_convertvector(sum[v], IntPair);
                std::memcpy(block_out + 2 * v, &converted, sizeof converted);
            }
        } else {
            for (int v = 0; v < pairs; ++v) {
                block_out[2 * v] = truncate_to_int32(sum[v][0]);
                block_out[2 * v + 1] = truncate_to_int32(sum[v][1]);
            }
        }
    }
}

// filter_blocks for a level of 2^shift nodes.
void run_blocks(std::int32_t shift, const double* const* term_values, std::int64_t at,
                std::int64_t stream_index, const double* even_pairs, const double* odd_pairs,
                std::int32_t tap_count, std::int64_t blocks, std::int32_t* out) {
    switch (shift) {
        case 0:
            filter_blocks<0>(term_values, at, stream_index, shift, even_pairs, odd_pairs, tap_count,
                             blocks, out);
            break;
        case 1:
            filter_blocks<1>(term_values, at, stream_index, shift, even_pairs, odd_pairs, tap_count,
                             blocks, out);
            break;
        case 2:
            filter_blocks<2>(term_values, at, stream_index, shift, even_pairs, odd_pairs, tap_count,
                             blocks, out);
            break;
        case 3:
            filter_blocks<3>(term_values, at, stream_index, shift, even_pairs, odd_pairs, tap_count,
                             blocks, out);
            break;
        default:
            filter_blocks<4>(term_values, at, stream_index, shift, even_pairs, odd_pairs, tap_count,
                             blocks, out);
            break;
    }
}

}  // namespace

AnalysisFilterBank::AnalysisFilterBank(std::int32_t level_count, std::int32_t taps)
    : levels(level_count), filter_length(taps), full_length(0) {}

AnalysisFilterBank::~AnalysisFilterBank() = default;

bool AnalysisFilterBank::init() {
    if (levels < 0 || levels > 15) return false;
    if (filter_length < 0 || filter_length > max_filter_length) return false;
    full_length = 2 * filter_length - 1;
    if (!design_filters()) return false;
    if (filter_length < 1 || filter_length > max_filter_length) return false;
    if (levels == 0) return true;

    const std::int32_t taps = full_length;
    term_taps = allocate_array<double>(2 * static_cast<std::int64_t>(taps));
    pair_taps = allocate_array<double>(6 * static_cast<std::int64_t>(taps));
    term_values = allocate_array<const double*>(taps);
    level_table = allocate_array<FilterLevel>(levels);
    if (!term_taps || !pair_taps || !term_values || !level_table) return false;

    // Term j of an output in row r is the node's value from row r - j, filtered with the
    // taps of that value's phase: low pass when r - j is even, high pass when odd.
    const double* low = low_pass_taps();
    const double* high = high_pass_taps();
    double* even_taps = term_taps.get();
    double* odd_taps = term_taps.get() + taps;
    for (std::int32_t j = 0; j < taps; ++j) {
        const double even = j % 2 == 0 ? low[j] : high[j];
        const double odd = j % 2 == 0 ? high[j] : low[j];
        even_taps[j] = even;
        odd_taps[j] = odd;
        double* pair = pair_taps.get() + 2 * j;
        pair[0] = even;  // both lanes in an even row
        pair[1] = even;
        pair += 2 * taps;
        pair[0] = odd;  // both lanes in an odd row
        pair[1] = odd;
        pair += 2 * taps;
        pair[0] = even;  // a pair of lanes across an even and an odd row
        pair[1] = odd;
        if (!std::isfinite(low[j]) || !std::isfinite(high[j])) finite_taps = false;
    }

    // All windows and rings in one block; its size is at most about 2^36 values, which
    // int64_t holds, and the allocator refuses what the machine cannot give.
    std::int64_t total = 0;
    FilterLevel* const level_records = level_table.get();
    for (std::int32_t l = 0; l < levels; ++l) {
        FilterLevel& level = level_records[l];
        level.level_nodes = 1 << l;
        level.node_shift = l;
        level.warm_up = static_cast<std::int64_t>(filter_length) << l;
        if (level.level_nodes < ring_nodes) {
            level.history = static_cast<std::int64_t>(taps - 1) << l;
            level.capacity = level.history + std::max(window_step, level.history);
            level.fill = level.history;
            level.first_index = -level.history;
        } else {
            level.row_stride = level.level_nodes + row_padding;
            level.capacity = taps * level.row_stride;
        }
        total += level.capacity;
    }
    delay_lines = allocate_array<double>(total);
    if (!delay_lines) return false;
    std::int64_t offset = 0;
    for (std::int32_t l = 0; l < levels; ++l) {
        level_records[l].values = delay_lines.get() + offset;
        offset += level_records[l].capacity;
    }
    return true;
}

std::int64_t AnalysisFilterBank::delay() const {
    if (levels < 0 || levels > 15) return 0;
    return static_cast<std::int64_t>(filter_length) * ((std::int64_t{1} << levels) - 1);
}

std::int32_t AnalysisFilterBank::process(const std::int16_t* source, std::int32_t count,
                                         std::int32_t* destination) {
    if (count <= 0) return 0;
    for (std::int32_t i = 0; i < count; ++i) destination[i] = source[i];
    if (levels == 0) return count;
    if (!delay_lines) return 0;  // init failed or never ran
    // Each level works in place: it takes its values from the start of destination and
    // writes its outputs there, never past the value it has just read.
    std::int32_t n = count;
    for (std::int32_t l = 0; l < levels; ++l) {
        n = filter_level(level_table.get()[l], destination, n);
    }
    return n;
}

std::int32_t AnalysisFilterBank::filter_level(FilterLevel& level, std::int32_t* data,
                                              std::int32_t count) {
    std::int32_t read = 0;
    std::int32_t written = 0;
    const std::int32_t nodes = level.level_nodes;
    while (read < count) {
        std::int32_t step = 0;
        if (nodes < ring_nodes) {
            step = static_cast<std::int32_t>(
                std::min<std::int64_t>(count - read, level.capacity - level.fill));
            double* window = level.values + level.fill;
            for (std::int32_t i = 0; i < step; ++i) window[i] = data[read + i];
            const std::int64_t begin = std::max(level.seen, level.warm_up);
            const std::int64_t end = level.seen + step;
            if (begin < end) written += window_outputs(level, begin, end, data + written);
            level.fill += step;
            if (level.fill == level.capacity) {
                const std::int64_t dropped = level.capacity - level.history;
                std::memmove(level.values, level.values + dropped,
                             static_cast<std::size_t>(level.history) * sizeof(double));
                level.first_index += dropped;
                level.fill = level.history;
            }
        } else {
            const std::int64_t row = level.seen >> level.node_shift;
            const auto column = static_cast<std::int32_t>(level.seen & (nodes - 1));
            step = std::min(count - read, nodes - column);
            double* cells = level.values + level.ring_row * level.row_stride;
            for (std::int32_t i = 0; i < step; ++i) cells[column + i] = data[read + i];
            if (row >= filter_length) {
                written += ring_outputs(level, row, column, column + step, data + written);
            }
            if (column + step == nodes) {
                level.ring_row = level.ring_row + 1 == full_length ? 0 : level.ring_row + 1;
            }
        }
        level.seen += step;
        read += step;
    }
    return written;
}

std::int32_t AnalysisFilterBank::window_outputs(const FilterLevel& level, std::int64_t begin,
                                                std::int64_t end, std::int32_t* out) {
    const std::int32_t taps = full_length;
    const std::int64_t nodes = level.level_nodes;
    const std::int64_t position = begin - level.first_index;
    const double** starts = term_values.get();
    for (std::int32_t j = 0; j < taps; ++j) starts[j] = level.values + (position - j * nodes);
    const double* even_taps = term_taps.get();
    const double* odd_taps = term_taps.get() + taps;
    const std::int64_t count = end - begin;
    const auto single = [&](std::int64_t i) {
        const double* row_taps = ((begin + i) >> level.node_shift) % 2 == 0 ? even_taps : odd_taps;
        return finite_taps ? sum_terms(term_values.get(), i, row_taps, taps)
                           : sum_nonzero_terms(term_values.get(), i, row_taps, taps);
    };
    // Blocks start on a multiple of block_width in the level's stream, where every block
    // has the same pattern of rows.
    std::int64_t i = 0;
    const std::int64_t lead = std::min(count, (-begin) & (block_width - 1));
    for (; i < lead; ++i) out[i] = to_coefficient(single(i));
    const std::int64_t blocks = finite_taps ? (count - i) / block_width : 0;
    if (blocks > 0) {
        const double* even_pairs = pair_taps.get() + (level.node_shift == 0 ? 4 * taps : 0);
        const double* odd_pairs = pair_taps.get() + 2 * taps;
        run_blocks(level.node_shift, term_values.get(), i, begin + i, even_pairs, odd_pairs, taps,
                   blocks, out + i);
        i += blocks * block_width;
    }
    for (; i < count; ++i) out[i] = to_coefficient(single(i));
    return static_cast<std::int32_t>(count);
}

std::int32_t AnalysisFilterBank::ring_outputs(const FilterLevel& level, std::int64_t row,
                                              std::int32_t begin, std::int32_t end,
                                              std::int32_t* out) {
    const std::int32_t taps = full_length;
    const double** starts = term_values.get();
    for (std::int32_t j = 0; j < taps; ++j) {
        std::int32_t ring_row = level.ring_row - j;
        if (ring_row < 0) ring_row += taps;
        starts[j] = level.values + ring_row * level.row_stride + begin;
    }
    const double* row_taps = term_taps.get() + (row % 2 == 0 ? 0 : taps);
    const std::int32_t count = end - begin;
    std::int32_t i = 0;
    if (finite_taps) {
        const std::int32_t blocks = count / block_width;
        run_blocks(level.node_shift, term_values.get(), 0, (row << level.node_shift) + begin,
                   pair_taps.get(), pair_taps.get() + 2 * taps, taps, blocks, out);
        i = blocks * block_width;
        for (; i < count; ++i)
            out[i] = to_coefficient(sum_terms(term_values.get(), i, row_taps, taps));
    } else {
        for (; i < count; ++i) {
            out[i] = to_coefficient(sum_nonzero_terms(term_values.get(), i, row_taps, taps));
        }
    }
    return count;
}

FdFilterBank::FdFilterBank(std::int32_t level_count, std::int32_t taps)
    : AnalysisFilterBank(level_count, taps) {}

bool FdFilterBank::allocate_filters() {
    low_pass = allocate_array<double>(full_length);
    high_pass = allocate_array<double>(full_length);
    return low_pass && high_pass;
}

void FdFilterBank::finish_filters() {
    vellox::finish_filters(low_pass.get(), high_pass.get(), filter_length, dc_norm);
    vellox::print_filters(report_stream, low_pass.get(), high_pass.get(), filter_length);
}

void FdFilterBank::print_filters(std::FILE* stream) const {
    if (!low_pass || !high_pass) return;
    vellox::print_filters(stream, low_pass.get(), high_pass.get(), filter_length);
}

bool FdFilterBank::design_filters() {
    if (filter_length < 1 || !allocate_filters()) return false;
    dc_norm = design_fd_magnitudes(low_pass.get(), filter_length);
    finish_filters();
    return true;
}

FoFilterBank::FoFilterBank(std::int32_t level_count, std::int32_t taps)
    : FdFilterBank(level_count, taps) {}

bool FoFilterBank::design_filters() {
    // The divisor takes the two outer magnitudes, so one tap is not a filter of this design.
    if (filter_length < 2 || !allocate_filters()) return false;
    dc_norm = design_fo_magnitudes(low_pass.get(), filter_length);
    finish_filters();
    return true;
}

FcFilterBank::FcFilterBank(std::int32_t level_count, const char* file_name)
    : FdFilterBank(level_count, 0), filter_file_name(file_name) {}

bool FcFilterBank::design_filters() {
    std::int32_t count = 0;
    const FilterFileResult result =
        read_filter_file(filter_file_name, &count, &low_pass, &high_pass);
    filter_length = count;
    full_length = count >= 1 && count <= max_filter_length ? 2 * count - 1 : 0;
    if (result != FilterFileResult::ok) return false;
    finish_filters();  // file taps keep their scale: dc_norm stays 1
    return true;
}

}  // namespace vellox
