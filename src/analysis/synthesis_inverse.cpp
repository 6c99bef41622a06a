// The exact inverse of the subband synthesis.
//
// A synthesis stage takes each column of its view as pairs (x, y) and writes x + a + 2b and
// 2x - y - b, (a, b) being the pair before. In terms of the pair index, with z^-1 one pair
// back, that is the matrix S = [1 + z^-1, 2 z^-1; 2, -(1 + z^-1)], and S times S is
// (1 + 6 z^-1 + z^-2) times the identity. So the inverse of a stage is the same stage followed
// by 1 / (1 + 6 z^-1 + z^-2) = 1 / ((1 - r z^-1) (1 - z^-1 / r)) with r = 2 sqrt(2) - 3: a
// forward factor f(k) = u(k) + r f(k - 1), and a backward factor for the root 1 / r outside
// the unit circle, run from later pairs to earlier ones: b(k) = r (b(k + 1) - f(k + 1)).
//
// The stages are inverted from the synthesis's last (the time-domain samples, one column)
// to its first (the block's columns). Every stage keeps the positions of the values: the row
// pair k of its input view (2d values for d columns) becomes row k of the next view, 2d wide,
// x of column i at i and y at d + i. Each stage so holds a window of its last row pairs. A
// row pair enters through the stage and the forward factor at once; the backward factor runs
// over a segment of row pairs when lookahead_pairs more have come, starting from 0 past them,
// and the oldest row pair leaves a fixed number of row pairs after it came. Segments lie at
// fixed places of the stream, so the values do not depend on how the input is cut, and the
// terms the look-ahead leaves out are below the last bit of a double.
//
// The samples enter at the synthesis's scale, times 2^levels. The 1 that the synthesis adds
// after its first stage comes back in every value as 2^(levels - 1), the half that makes the
// reader's shift by levels round to the nearest integer: taking the increment off and adding
// that half to the target cancel, so the inverse does neither, and silence stays all zeros.
// What is left is the start: the synthesis begins every column from a zero pair, where the
// inverse would have values before the stream, so the first 2^(levels + 1) samples or so
// decode with an error, as with the filter bank.

#include "analysis/synthesis_inverse.h"

#include <algorithm>  // std::max, std::min
#include <cmath>      // std::sqrt
#include <cstring>    // std::memcpy

#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

// One stage of the inverse: the synthesis stage with d columns, as a window of row pairs.
struct InverseLevel {
    std::int32_t columns = 0;           // d
    std::int32_t width = 0;             // 2d: the values of a row pair
    std::int32_t window_rows = 0;       // row pairs from one entering to the oldest leaving
    std::int32_t segment_rows = 0;      // row pairs the backward factor completes at a time
    std::int32_t capacity_rows = 0;     // window_rows and room for the row pairs of one batch
    std::int64_t capacity = 0;          // capacity_rows * width values
    double* window = nullptr;           // value number p of the stage at p % capacity
    double* previous = nullptr;         // width: each column's last input pair, x values first
    double* forward = nullptr;          // width: the forward factor's last outputs, x then y
    std::int64_t values_in = 0;         // values taken
    std::int64_t pairs_done = 0;        // row pairs through the stage and the forward factor
    std::int64_t pairs_out = 0;         // row pairs handed on
    std::int64_t next_segment_top = 0;  // the row pair that completes the next segment
};

namespace {

// A stage's window holds at least this many values, so that the narrow stages run the
// backward factor over long segments (a look-ahead of 24 row pairs per segment of 4072), and
// at least 8 row pairs more than the look-ahead; as much again takes the values of a batch.
constexpr std::int64_t window_values = 8192;
constexpr std::int32_t least_segment = 8;

// Input values into a stage's window: samples at the synthesis's scale, or a stage's values.
inline void put_values(double* to, const std::int16_t* from, std::int64_t n, double scale) {
    for (std::int64_t i = 0; i < n; ++i) to[i] = from[i] * scale;
}
inline void put_values(double* to, const double* from, std::int64_t n, double) {
    std::memcpy(to, from, static_cast<std::size_t>(n) * sizeof(double));
}

// The stage and the forward factor on count row pairs of d columns from rows, in place. The
// narrow stages (D columns, 1 to 4) keep their pairs in registers; wider ones (D = 0) run
// across the columns. Every form computes the same expressions in the same order.
template <int D>
void forward_rows(double* __restrict rows, std::int64_t count, std::int32_t d,
                  double* __restrict previous, double* __restrict forward, double r) {
    if constexpr (D > 0) {
        double px[D], py[D], fx[D], fy[D];
        for (int i = 0; i < D; ++i) {
            px[i] = previous[i];
            py[i] = previous[D + i];
            fx[i] = forward[i];
            fy[i] = forward[D + i];
        }
        for (std::int64_t k = 0; k < count; ++k, rows += 2 * D) {
            for (int i = 0; i < D; ++i) {
                const double x = rows[i];
                const double y = rows[D + i];
                const double u = x + px[i] + 2.0 * py[i];
                const double w = 2.0 * x - y - py[i];
                px[i] = x;
                py[i] = y;
                fx[i] = u + r * fx[i];
                fy[i] = w + r * fy[i];
                rows[i] = fx[i];
                rows[D + i] = fy[i];
            }
        }
        for (int i = 0; i < D; ++i) {
            previous[i] = px[i];
            previous[D + i] = py[i];
            forward[i] = fx[i];
            forward[D + i] = fy[i];
        }
    } else {
        for (std::int64_t k = 0; k < count; ++k, rows += 2 * d) {
            for (std::int32_t i = 0; i < d; ++i) {
                const double x = rows[i];
                const double y = rows[d + i];
                const double u = x + previous[i] + 2.0 * previous[d + i];
                const double w = 2.0 * x - y - previous[d + i];
                previous[i] = x;
                previous[d + i] = y;
                forward[i] = u + r * forward[i];
                forward[d + i] = w + r * forward[d + i];
                rows[i] = forward[i];
                rows[d + i] = forward[d + i];
            }
        }
    }
}

void forward_rows(double* rows, std::int64_t count, std::int32_t d, double* previous,
                  double* forward, double r) {
    switch (d) {
        case 1:
            forward_rows<1>(rows, count, d, previous, forward, r);
            break;
        case 2:
            forward_rows<2>(rows, count, d, previous, forward, r);
            break;
        case 4:
            forward_rows<4>(rows, count, d, previous, forward, r);
            break;
        default:
            forward_rows<0>(rows, count, d, previous, forward, r);
            break;
    }
}

// The backward factor b = r (b' - f') from row pair top down to row pair stop + 1 of a ring
// of capacity row pairs of W values (W = 0: width at run time), writing b over the row pairs
// below end; b starts at 0 above top. above holds the row pair above the one being written.
template <int W>
void backward_rows(double* __restrict window, std::int64_t capacity, std::int32_t width,
                   std::int64_t top, std::int64_t stop, std::int64_t end,
                   double* __restrict b_values, double* __restrict above_values, double r) {
    constexpr int fixed = W > 0 ? W : 1;
    double b_fixed[fixed] = {};
    double above_fixed[fixed];
    double* __restrict b = W > 0 ? b_fixed : b_values;
    double* __restrict above = W > 0 ? above_fixed : above_values;
    const std::int32_t n = W > 0 ? W : width;
    std::int64_t slot = top % capacity;
    for (std::int32_t j = 0; j < n; ++j) {
        b[j] = 0.0;
        above[j] = window[slot * n + j];
    }
    for (std::int64_t m = top; m > stop; --m) {
        slot = slot == 0 ? capacity - 1 : slot - 1;
        double* __restrict below = window + slot * n;
        if (m - 1 >= end) {
            for (std::int32_t j = 0; j < n; ++j) {
                b[j] = r * (b[j] - above[j]);
                above[j] = below[j];
            }
        } else {
            for (std::int32_t j = 0; j < n; ++j) {
                b[j] = r * (b[j] - above[j]);
                above[j] = below[j];
                below[j] = b[j];
            }
        }
    }
}

}  // namespace

SynthesisInverse::SynthesisInverse(std::int32_t level_count)
    : levels(level_count),
      scale(level_count >= 0 && level_count <= 15 ? static_cast<double>(1 << level_count) : 1.0),
      root(std::sqrt(8.0) - 3.0) {}

SynthesisInverse::~SynthesisInverse() = default;

vellox_status SynthesisInverse::init() {
    if (levels < 0 || levels > 15) return VELLOX_ERROR_LEVELS;
    if (levels == 0) return VELLOX_OK;
    level_table = allocate_array<InverseLevel>(levels);
    if (!level_table) return VELLOX_ERROR_MEMORY;
    std::int64_t values = 0;
    total_delay = 0;
    least = 0;
    for (std::int32_t a = 0; a < levels; ++a) {
        InverseLevel& level = level_table.get()[a];
        level.columns = std::int32_t{1} << a;
        level.width = 2 * level.columns;
        const auto batch_rows =
            static_cast<std::int32_t>(std::max<std::int64_t>(1, window_values / level.width));
        level.window_rows = std::max(lookahead_pairs + least_segment, batch_rows);
        level.segment_rows = level.window_rows - lookahead_pairs;
        level.capacity_rows = level.window_rows + batch_rows;
        level.capacity = std::int64_t{level.capacity_rows} * level.width;
        level.next_segment_top = level.window_rows - 1;
        values += level.capacity + 2 * level.width;
        // A row pair leaves when the one window_rows - 1 after it is complete: its last value
        // waits for (window_rows - 1) * width values after it, its first for width - 1 more.
        total_delay += std::int64_t{level.window_rows} * level.width;
        least += std::int64_t{level.window_rows - 1} * level.width;
    }
    const std::int64_t widest = std::int64_t{2} << (levels - 1);
    storage = allocate_array<double>(values + 2 * widest);
    if (!storage) return VELLOX_ERROR_MEMORY;
    double* next = storage.get();
    for (std::int32_t a = 0; a < levels; ++a) {
        InverseLevel& level = level_table.get()[a];
        level.window = next;
        next += level.capacity;
        level.previous = next;
        next += level.width;
        level.forward = next;
        next += level.width;
    }
    backward = next;
    newer = next + widest;
    return VELLOX_OK;
}

std::int32_t SynthesisInverse::process(const std::int16_t* source, std::int32_t count,
                                       std::int32_t* destination) {
    if (levels == 0) {
        for (std::int32_t i = 0; i < count; ++i) destination[i] = source[i];
        return count;
    }
    out = destination;
    written = 0;
    take(0, source, count);
    out = nullptr;
    return written;
}

// Appends count input values to stage a, a batch at a time: each row pair they complete goes
// through the stage and the forward factor, each segment whose look-ahead they complete
// through the backward factor, and the row pairs that are done leave for the next stage.
template <typename Value>
void SynthesisInverse::take(std::int32_t a, const Value* values, std::int64_t count) {
    InverseLevel& level = level_table.get()[a];
    const std::int32_t width = level.width;
    while (count > 0) {
        // The values not yet handed on stay: room for the rest of the window.
        const std::int64_t held = level.values_in - level.pairs_out * width;
        std::int64_t n = std::min(count, level.capacity - held);
        for (std::int64_t at = level.values_in % level.capacity; n > 0;) {
            const std::int64_t piece = std::min(n, level.capacity - at);
            put_values(level.window + at, values, piece, scale);
            level.values_in += piece;
            values += piece;
            count -= piece;
            n -= piece;
            at = 0;
        }
        // Through the forward factor a run of row pairs at a time: up to the next segment's
        // look-ahead or the ring's end.
        const std::int64_t complete = level.values_in / width;
        while (level.pairs_done < complete) {
            const std::int64_t k = level.pairs_done;
            const std::int64_t slot = k % level.capacity_rows;
            const std::int64_t rows =
                std::min({complete, level.next_segment_top + 1, k + level.capacity_rows - slot}) -
                k;
            forward_rows(level.window + slot * width, rows, level.columns, level.previous,
                         level.forward, root);
            level.pairs_done = k + rows;
            if (level.pairs_done == level.next_segment_top + 1) {
                backward_segment(level, level.next_segment_top + 1 - level.window_rows);
                level.next_segment_top += level.segment_rows;
            }
        }
        // The row pairs whose segments are complete and whose window has passed leave.
        const std::int64_t leaving = complete - level.window_rows + 1;
        if (leaving > level.pairs_out) hand_on(a, level.pairs_out, leaving);
        level.pairs_out = std::max(level.pairs_out, leaving);
    }
}

// The backward factor over the segment from row pair first, running from the newest row pair
// in the window down to first, with 0 beyond the newest.
void SynthesisInverse::backward_segment(InverseLevel& level, std::int64_t first) {
    const std::int64_t top = first + level.window_rows - 1;
    const std::int64_t end = first + level.segment_rows;
    const std::int64_t capacity = level.capacity_rows;
    switch (level.width) {
        case 2:
            backward_rows<2>(level.window, capacity, 2, top, first, end, backward, newer, root);
            break;
        case 4:
            backward_rows<4>(level.window, capacity, 4, top, first, end, backward, newer, root);
            break;
        case 8:
            backward_rows<8>(level.window, capacity, 8, top, first, end, backward, newer, root);
            break;
        default:
            backward_rows<0>(level.window, capacity, level.width, top, first, end, backward, newer,
                             root);
            break;
    }
}

// Row pairs from .. to - 1 of stage a, done: the next stage's input, or the coefficients.
void SynthesisInverse::hand_on(std::int32_t a, std::int64_t from, std::int64_t to) {
    const InverseLevel& level = level_table.get()[a];
    std::int64_t n = (to - from) * level.width;
    for (std::int64_t at = from * level.width % level.capacity; n > 0;) {
        const std::int64_t piece = std::min(n, level.capacity - at);
        const double* done = level.window + at;
        if (a + 1 < levels) {
            take(a + 1, done, piece);
        } else {
            std::int32_t* to_coefficients = out + written;
            for (std::int64_t j = 0; j < piece; ++j) to_coefficients[j] = round_to_int32(done[j]);
            written += static_cast<std::int32_t>(piece);
        }
        n -= piece;
        at = 0;
    }
}

}  // namespace vellox
