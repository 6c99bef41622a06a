// The high-quality quantizer: rounding to the nearest level, exact bit counts by the column
// coder's own choice of method, and a rate control that gives the blocks of a bounded
// look-ahead about one common step.
//
// Why one common step: the squared error summed over the stream is lowest when every block
// has about the same step, not the same share of bits, since a loud block gains more from a
// bit than a quiet one. The rate control so looks for the step at which the held blocks
// would spend what the standard mode spends on them, corrected by what the blocks before
// saved or overspent. A cap keeps the stream within 1/256 of the standard mode's bits.

#include "acm/hq_quantizer.h"

#include <algorithm>  // std::fill, std::max, std::min
#include <cassert>    // assert
#include <cstddef>    // std::size_t
#include <cstring>    // std::memcpy

#include "acm/acm_format.h"
#include "common/alloc.h"

namespace vellox {

namespace {

// Smallest n with (1 << n) >= m, for m in 1 .. 2^31.
int ceil_log2(std::uint32_t m) { return m <= 1 ? 0 : 32 - __builtin_clz(m - 1); }

// The steps at which a block's size is estimated: about 2^(i/2), then 32769, at which every
// value codes as 0.
constexpr std::int32_t grid_step[HqQuantizer::grid_size] = {
    1,   2,   3,   4,    6,    8,    11,   16,   23,   32,   45,    64,    91,    128,   181,  256,
    362, 512, 724, 1024, 1448, 2048, 2896, 4096, 5793, 8192, 11585, 16384, 23170, 32768, 32769};

constexpr std::int64_t head_bits = range_bits_width + step_width;

// How strongly the last blocks count in the ratio of written to estimated bits: each block
// weighs 1/32 less than the one after it.
constexpr double ratio_memory = 31.0 / 32.0;

// The cap allows the stream to run this fraction ahead of the standard mode's bits.
constexpr std::int64_t cap_slack_divisor = 256;

// v at step 1.
struct Unchanged {
    std::int32_t operator()(std::int32_t v) const { return v; }
};

// v / step, rounded to the nearest integer (halves away from zero) or truncated toward
// zero, kept where k * step stays in -32768 .. 32767. The division is a multiplication by
// factor = floor(2^32 / step) + 1 = (2^32 + e) / step, 0 < e <= step: for a dividend a with
// a * step < 2^32 the product exceeds a / step by less than 1 / step, which never reaches the
// next integer. Dividends stay below 49153 and steps (from 2) below 32770, so the product of
// both stays below 2^31; the multiplication vectorises.
struct Divide {
    std::uint32_t half = 0;     // step / 2 when rounding, 0 when truncating
    std::uint32_t factor = 0;   // floor(2^32 / step) + 1
    std::int32_t positive = 0;  // largest k with k * step <= 32767
    std::int32_t negative = 0;  // largest k with -k * step >= -32768

    Divide() = default;
    Divide(std::int32_t divisor, bool rounding)
        : half(rounding ? static_cast<std::uint32_t>(divisor / 2) : 0),
          factor(static_cast<std::uint32_t>(
              (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(divisor) + 1)),
          positive(32767 / divisor),
          negative(32768 / divisor) {
        assert(divisor >= 2 && divisor <= 32769);
    }

    std::int32_t operator()(std::int32_t v) const {
        const std::uint32_t a = static_cast<std::uint32_t>(v < 0 ? -v : v) + half;
        const auto k = static_cast<std::int32_t>((std::uint64_t{a} * factor) >> 32);
        return v < 0 ? -std::min(k, negative) : std::min(k, positive);
    }
};

}  // namespace

std::int64_t hq_column_bits(const HqColumnCounts& c, std::int32_t rows) {
    const std::int64_t r = rows;
    const std::int64_t zeros = c.zeros;
    const std::int64_t ones = c.ones;
    const std::int64_t nonzero = r - zeros;
    const bool pairs_pay = 3 * std::int64_t{c.pairs} > r;
    // A pair method writes one bit per zero_pair symbol and two per zero written alone.
    const std::int64_t pair_zero_bits = c.pairs + 2 * std::int64_t{c.single_zeros};
    const std::int64_t groups_of_3 = (r + 2) / 3;
    const std::int64_t groups_of_2 = (r + 1) / 2;
    std::int64_t data = 0;
    switch (c.max_magnitude) {
        case 0:  // zero
            break;
        case 1:  // vlc1_pairs, vlc1, packed3_5bit
            if (pairs_pay) {
                data = pair_zero_bits + 3 * nonzero;
            } else if (3 * zeros > r) {
                data = zeros + 2 * nonzero;
            } else {
                data = 5 * groups_of_3;
            }
            break;
        case 2:  // vlc2_pairs, vlc2, packed3_7bit
            if (pairs_pay) {
                data = pair_zero_bits + 4 * nonzero;
            } else if (3 * zeros > r) {
                data = zeros + 3 * nonzero;
            } else {
                data = 7 * groups_of_3;
            }
            break;
        case 3:  // vlc3_pairs, vlc3, 3-bit linear
            if (pairs_pay) {
                data = pair_zero_bits + 4 * ones + 5 * (nonzero - ones);
            } else if (3 * zeros + ones > r) {
                data = zeros + 3 * ones + 4 * (nonzero - ones);
            } else {
                data = 3 * r;
            }
            break;
        case 4:  // vlc4_pairs, vlc4, then 3-bit linear or packed2_7bit
            if (pairs_pay) {
                data = pair_zero_bits + 5 * nonzero;
            } else if (c.max_positive <= 3) {
                data = 3 * zeros > r ? zeros + 4 * nonzero : 3 * r;
            } else {
                data = 6 * zeros > r ? zeros + 4 * nonzero : 7 * groups_of_2;
            }
            break;
        case 5:  // packed2_7bit
            data = 7 * groups_of_2;
            break;
        default: {  // linear
            const std::int32_t reach = std::max(c.max_magnitude, c.max_positive + 1);
            data = (ceil_log2(static_cast<std::uint32_t>(reach)) + 1) * r;
            break;
        }
    }
    return method_width + data;
}

HqColumnChoice hq_cheapest_column(const HqColumnCounts& c, std::int32_t rows) {
    HqColumnChoice best;
    best.bits = method_width;
    if (c.max_magnitude == 0) return best;
    const std::int64_t r = rows;
    const std::int64_t zeros = c.zeros;
    const std::int64_t ones = c.ones;
    const std::int64_t nonzero = r - zeros;
    const std::int64_t pair_zero_bits = c.pairs + 2 * std::int64_t{c.single_zeros};
    const std::int64_t groups_of_3 = (r + 2) / 3;
    const std::int64_t groups_of_2 = (r + 1) / 2;
    // The narrowest linear column that holds the coded integers, then every method of a
    // smaller range that holds them too.
    const std::int32_t reach = std::max(c.max_magnitude, c.max_positive + 1);
    const int width = std::max(3, ceil_log2(static_cast<std::uint32_t>(reach)) + 1);
    std::int64_t data = width * r;
    best.method = static_cast<ColumnMethod>(width);
    auto consider = [&](ColumnMethod method, std::int64_t bits) {
        if (bits < data) {
            data = bits;
            best.method = method;
        }
    };
    const std::int32_t a = c.max_magnitude;
    if (a <= 5) consider(ColumnMethod::packed2_7bit, 7 * groups_of_2);
    if (a <= 4) {
        consider(ColumnMethod::vlc4, zeros + 4 * nonzero);
        consider(ColumnMethod::vlc4_pairs, pair_zero_bits + 5 * nonzero);
    }
    if (a <= 3) {
        consider(ColumnMethod::vlc3, zeros + 3 * ones + 4 * (nonzero - ones));
        consider(ColumnMethod::vlc3_pairs, pair_zero_bits + 4 * ones + 5 * (nonzero - ones));
    }
    if (a <= 2) {
        consider(ColumnMethod::packed3_7bit, 7 * groups_of_3);
        consider(ColumnMethod::vlc2, zeros + 3 * nonzero);
        consider(ColumnMethod::vlc2_pairs, pair_zero_bits + 4 * nonzero);
    }
    if (a <= 1) {
        consider(ColumnMethod::packed3_5bit, 5 * groups_of_3);
        consider(ColumnMethod::vlc1, zeros + 2 * nonzero);
        consider(ColumnMethod::vlc1_pairs, pair_zero_bits + 3 * nonzero);
    }
    best.bits = method_width + data;
    return best;
}

HqQuantizer::HqQuantizer(std::int32_t column_count, std::int32_t row_count, std::int64_t bytes)
    : columns(column_count),
      rows(row_count),
      block_size(std::int64_t{column_count} * row_count),
      lookahead_bytes(bytes) {}

HqQuantizer::~HqQuantizer() = default;

bool HqQuantizer::init() {
    if (columns < 1 || rows < 1) return false;
    // A held block costs its values, its estimates, its target and its exact step.
    const std::int64_t block_bytes = block_size * std::int64_t{sizeof(std::int16_t)} +
                                     std::int64_t{grid_size * sizeof(std::int64_t) +
                                                  sizeof(std::int64_t) + sizeof(std::int32_t)};
    const std::int64_t fit = lookahead_bytes / block_bytes;
    direct = fit < 2;
    capacity = direct ? 1 : static_cast<std::int32_t>(std::min<std::int64_t>(fit, INT32_MAX / 64));
    if (!direct) {
        held_values = allocate_array<std::int16_t>(capacity * block_size);
        if (!held_values) return false;
    }
    held_estimate = allocate_array<std::int64_t>(std::int64_t{capacity} * grid_size);
    held_target = allocate_array<std::int64_t>(capacity);
    held_gcd = allocate_array<std::int32_t>(capacity);
    if (!held_estimate || !held_target || !held_gcd) return false;
    std::unique_ptr<std::int32_t[]>* arrays[] = {
        &column_magnitude, &column_positive, &column_zeros, &column_ones,  &column_pairs,
        &column_singles,   &column_run,      &column_top,   &column_bottom};
    for (std::unique_ptr<std::int32_t[]>* array : arrays) {
        *array = allocate_array<std::int32_t>(columns);
        if (!*array) return false;
    }
    return true;
}

namespace {

// The per-column counts of a tally, one array each (columns entries).
struct Tallies {
    std::int32_t* __restrict magnitude;
    std::int32_t* __restrict positive;
    std::int32_t* __restrict zeros;
    std::int32_t* __restrict ones;
    std::int32_t* __restrict pairs;
    std::int32_t* __restrict singles;  // zeros a pair method writes alone
    std::int32_t* __restrict run;      // zeros so far in the current run
    std::int32_t* __restrict top;      // largest value, at least 0
    std::int32_t* __restrict bottom;   // largest negated value, at least 0
};

// One row of a tally. The arrays do not overlap (__restrict), so the loop vectorises.
template <typename Quantize, bool store, bool extremes>
void tally_row(const std::int16_t* __restrict row, std::int16_t* __restrict out, std::int32_t width,
               const Quantize q, const Tallies t) {
    for (std::int32_t j = 0; j < width; ++j) {
        const std::int32_t v = row[j];
        if (extremes) {
            t.top[j] = std::max(t.top[j], v);
            t.bottom[j] = std::max(t.bottom[j], -v);
        }
        const std::int32_t k = q(v);
        if (store) out[j] = static_cast<std::int16_t>(k);
        const std::int32_t m = k < 0 ? -k : k;
        const std::int32_t zero = k == 0 ? 1 : 0;
        t.magnitude[j] = std::max(t.magnitude[j], m);
        t.positive[j] = std::max(t.positive[j], k);
        // A zero at an odd place of its run of zeros that a non-zero value follows is written
        // alone; every second zero of a run ends a zero_pair.
        t.singles[j] += (zero ^ 1) & t.run[j] & 1;
        t.run[j] = (t.run[j] + 1) * zero;
        t.pairs[j] += zero & ~t.run[j] & 1;
        t.zeros[j] += zero;
        t.ones[j] += m == 1 ? 1 : 0;
    }
}

}  // namespace

// One pass over a block: the coded integers (stored into coded when store is set) and their
// counts per column. Returns the bits the packer writes for them: with standard, by the
// standard mode's choice of methods, and then also the per-column maxima of the values
// themselves; otherwise with the cheapest method for each column.
template <typename Quantize, bool store, bool standard>
std::int64_t HqQuantizer::tally(const std::int16_t* values, const Quantize& quantize,
                                std::int16_t* coded) {
    constexpr bool extremes = standard;
    const Tallies t = {column_magnitude.get(), column_positive.get(), column_zeros.get(),
                       column_ones.get(),      column_pairs.get(),    column_singles.get(),
                       column_run.get(),       column_top.get(),      column_bottom.get()};
    for (std::int32_t* array :
         {t.magnitude, t.positive, t.zeros, t.ones, t.pairs, t.singles, t.run})
        std::fill(array, array + columns, 0);
    if (extremes) {
        std::fill(t.top, t.top + columns, 0);
        std::fill(t.bottom, t.bottom + columns, 0);
    }
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int64_t offset = std::int64_t{i} * columns;
        tally_row<Quantize, store, extremes>(values + offset, store ? coded + offset : nullptr,
                                             columns, quantize, t);
    }
    std::int64_t bits = head_bits;
    for (std::int32_t j = 0; j < columns; ++j) {
        const HqColumnCounts c = counts_of(j);
        bits += standard ? hq_column_bits(c, rows) : hq_cheapest_column(c, rows).bits;
    }
    return bits;
}

void HqQuantizer::push(const std::int16_t* values, std::int32_t standard_step,
                       std::int32_t gcd_step) {
    assert(standard_step >= 1 && standard_step <= 32769);
    const std::int16_t* source = hold(values);
    // What the standard mode writes (truncating division), and the maxima of the values.
    const std::int64_t target =
        standard_step == 1
            ? tally<Unchanged, false, true>(source, Unchanged{}, nullptr)
            : tally<Divide, false, true>(source, Divide(standard_step, false), nullptr);
    finish_push(target, gcd_step);
}

std::int64_t HqQuantizer::standard_bits(const std::int16_t* values, std::int32_t standard_step) {
    assert(standard_step >= 1 && standard_step <= 32769);
    return standard_step == 1
               ? tally<Unchanged, false, true>(values, Unchanged{}, nullptr)
               : tally<Divide, false, true>(values, Divide(standard_step, false), nullptr);
}

void HqQuantizer::push_with_target(const std::int16_t* values, std::int64_t target,
                                   std::int32_t gcd_step) {
    assert(target >= least_bits());
    const std::int16_t* source = hold(values);
    std::int32_t* __restrict top = column_top.get();
    std::int32_t* __restrict bottom = column_bottom.get();
    std::fill(top, top + columns, 0);
    std::fill(bottom, bottom + columns, 0);
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int16_t* __restrict row = source + std::int64_t{i} * columns;
        for (std::int32_t j = 0; j < columns; ++j) {
            top[j] = std::max<std::int32_t>(top[j], row[j]);
            bottom[j] = std::max<std::int32_t>(bottom[j], -std::int32_t{row[j]});
        }
    }
    finish_push(target, gcd_step);
}

// The pushed block's place in the look-ahead, its values copied there (or borrowed).
const std::int16_t* HqQuantizer::hold(const std::int16_t* values) {
    assert(held_estimate && count < capacity && !input_ended);
    if (direct) {
        borrowed = values;
        return values;
    }
    const std::int32_t slot = (first + count) % capacity;
    std::int16_t* copy = held_values.get() + slot * block_size;
    std::memcpy(copy, values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    return copy;
}

// The rest of a push: the block's target, exact step and estimates, from the maxima of its
// values in column_top and column_bottom.
void HqQuantizer::finish_push(std::int64_t target, std::int32_t gcd_step) {
    assert(gcd_step >= 1 && gcd_step <= 32768);
    const std::int32_t slot = (first + count) % capacity;
    held_target.get()[slot] = target;
    held_gcd.get()[slot] = gcd_step;
    std::int64_t* estimate = held_estimate.get() + std::int64_t{slot} * grid_size;
    estimate_block(estimate, gcd_step);
    window_target += target;
    for (int g = 0; g < grid_size; ++g) window_estimate[g] += estimate[g];
    ++count;
}

namespace {

// What a column's data costs in the estimate for the largest magnitude a of its rounded
// integers: the costs for a = 1, 2, 3 (also 4 without +4) and 5 (also 4 with +4), and the
// linear bits per row, for one block shape.
struct DenseCosts {
    std::uint32_t one;
    std::uint32_t two;
    std::uint32_t three;
    std::uint32_t five;
    std::uint32_t row;  // rows: each bit of a linear width costs this much
};

// The estimated data bits of a block at one step, from the per-column maxima of its values.
// Free of branches and tables, so that the loop over the columns vectorises; the sum fits 32
// bits (at most 16 bits per value, and a block holds fewer than 2^27 values).
template <bool unchanged>
std::uint32_t estimate_row(const std::int32_t* __restrict top,
                           const std::int32_t* __restrict bottom, std::int32_t width,
                           const Divide d, const DenseCosts c) {
    std::uint32_t sum = 0;
    for (std::int32_t j = 0; j < width; ++j) {
        std::int32_t b = top[j];
        std::int32_t n = bottom[j];
        if (!unchanged) {
            const auto top_k = static_cast<std::int32_t>(
                (std::uint64_t{static_cast<std::uint32_t>(b) + d.half} * d.factor) >> 32);
            const auto bottom_k = static_cast<std::int32_t>(
                (std::uint64_t{static_cast<std::uint32_t>(n) + d.half} * d.factor) >> 32);
            b = std::min(top_k, d.positive);
            n = std::min(bottom_k, d.negative);
        }
        const std::int32_t a = std::max(b, n);
        const std::int32_t reach = std::max(a, b + 1);  // a linear width w needs 2^(w-1) >= it
        // The cost steps up at a = 1, 2, 3, 5 (or 4 with +4), 6 (4-bit linear) and then by a
        // bit per row at each power of two the reach passes.
        const std::uint32_t linear_widths = (reach > 8) + (reach > 16) + (reach > 32) +
                                            (reach > 64) + (reach > 128) + (reach > 256) +
                                            (reach > 512) + (reach > 1024) + (reach > 2048) +
                                            (reach > 4096) + (reach > 8192) + (reach > 16384);
        // Differences of unsigned costs wrap, and wrap back in the sum.
        const std::uint32_t five = (a >= 5) | ((a == 4) & (b > 3));
        sum += c.one * (a >= 1) + (c.two - c.one) * (a >= 2) + (c.three - c.two) * (a >= 3) +
               (c.five - c.three) * five + (4 * c.row - c.five) * (a >= 6) + linear_widths * c.row;
    }
    return sum;
}

}  // namespace

// The estimated data bits at every grid step, from the per-column maxima of the last tally:
// each column costs what the cheapest method for its rounded maxima costs when every value
// reaches them (so the estimate leaves out what zeros save, like the standard mode's).
void HqQuantizer::estimate_block(std::int64_t* estimate, std::int32_t gcd) const {
    const std::int32_t* top = column_top.get();
    const std::int32_t* bottom = column_bottom.get();
    std::int32_t largest = 0;
    for (std::int32_t j = 0; j < columns; ++j) largest = std::max({largest, top[j], bottom[j]});
    // Per largest magnitude, the cheapest method for a column whose values all reach it.
    const auto r = static_cast<std::uint32_t>(rows);
    const std::uint32_t groups_of_3 = (r + 2) / 3;
    const std::uint32_t groups_of_2 = (r + 1) / 2;
    const DenseCosts costs = {std::min({5 * groups_of_3, 2 * r, 3 * r}),
                              std::min({7 * groups_of_3, 3 * r}), 3 * r,
                              std::min(7 * groups_of_2, 4 * r), r};
    estimate[0] = estimate_row<true>(top, bottom, columns, Divide{}, costs);
    for (int g = 1; g < grid_size; ++g) {
        // Every value below half the step rounds to 0.
        estimate[g] =
            2 * largest < grid_step[g]
                ? 0
                : estimate_row<false>(top, bottom, columns, Divide(grid_step[g], true), costs);
    }
    // Where the block's own exact step codes it in fewer bits, pop takes that step.
    if (gcd > 1) {
        const std::int64_t exact =
            estimate_row<false>(top, bottom, columns, Divide(gcd, true), costs);
        for (int g = 0; g < grid_size; ++g) estimate[g] = std::min(estimate[g], exact);
    }
}

HqColumnCounts HqQuantizer::counts_of(std::int32_t j) const {
    HqColumnCounts c;
    c.max_magnitude = column_magnitude.get()[j];
    c.max_positive = column_positive.get()[j];
    c.zeros = column_zeros.get()[j];
    c.ones = column_ones.get()[j];
    // A run of odd length at the end pairs with the zero row past the column.
    c.pairs = column_pairs.get()[j] + (column_run.get()[j] & 1);
    c.single_zeros = column_singles.get()[j];
    return c;
}

std::int64_t HqQuantizer::least_bits() const {
    return head_bits + std::int64_t{method_width} * columns;
}

void HqQuantizer::end_input() { input_ended = true; }

bool HqQuantizer::ready() const { return count > 0 && (count == capacity || input_ended); }

// The step at which the held blocks are estimated to spend what the standard mode would spend
// on them plus what the blocks before saved (or minus what they overspent), between two grid
// steps by linear interpolation. Each held block spends the bits of its head and method codes
// and the estimated bits of its data; the estimate leaves out what the prefix codes save, and
// the ratio of written to estimated data bits over the last blocks corrects it. Also gives
// the oldest block's own data estimate at that step.
std::int32_t HqQuantizer::choose_step(std::int32_t gcd, double* estimate_at_step) const {
    const double allowed =
        static_cast<double>(target_so_far - coded_so_far + window_target - count * least_bits());
    double ratio = recent_estimate > 0.0 ? recent_coded / recent_estimate : 1.0;
    ratio = std::min(std::max(ratio, 0.125), 8.0);
    // The estimates fall as the step grows: the first grid step that fits, by bisection.
    int low = 0;
    int high = grid_size - 1;
    while (low < high) {
        const int mid = (low + high) / 2;
        if (ratio * static_cast<double>(window_estimate[mid]) <= allowed) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    const std::int64_t* own = held_estimate.get() + std::int64_t{first} * grid_size;
    std::int32_t step = grid_step[low];
    double own_estimate = static_cast<double>(own[low]);
    if (low > 0) {
        // Where between the grid step before (which does not fit) and this one.
        const double above = ratio * static_cast<double>(window_estimate[low - 1]);
        const double below = ratio * static_cast<double>(window_estimate[low]);
        const double t = above > below ? std::min((above - allowed) / (above - below), 1.0) : 1.0;
        const std::int32_t previous = grid_step[low - 1];
        step = std::min(
            previous + 1 +
                static_cast<std::int32_t>(t * static_cast<double>(grid_step[low] - previous)),
            grid_step[low]);
        own_estimate =
            static_cast<double>(own[low - 1]) + t * static_cast<double>(own[low] - own[low - 1]);
    }
    *estimate_at_step = own_estimate;
    // Below the block's own exact step, that step is both exact and cheaper.
    return std::max(step, gcd);
}

// Bits the packer writes for values coded at step, with the coded integers stored into coded
// when store is set.
std::int64_t HqQuantizer::code_at(const std::int16_t* values, std::int32_t step,
                                  std::int16_t* coded, bool store) {
    if (step == 1) {
        return store ? tally<Unchanged, true, false>(values, Unchanged{}, coded)
                     : tally<Unchanged, false, false>(values, Unchanged{}, nullptr);
    }
    const Divide round(step, true);
    return store ? tally<Divide, true, false>(values, round, coded)
                 : tally<Divide, false, false>(values, round, nullptr);
}

// The smallest step from gcd on whose bits fit allowed (at least a block of zeros), found by
// halving or doubling from start and then by bisection. The bits need not fall strictly as
// the step grows, so this is a step that fits next to one that does not.
std::int32_t HqQuantizer::fit_step(const std::int16_t* values, std::int32_t start, std::int32_t gcd,
                                   std::int64_t allowed) {
    constexpr std::int32_t zero_step = 32769;  // every value codes as 0: a block of zeros
    auto fits = [&](std::int32_t step) { return code_at(values, step, nullptr, false) <= allowed; };
    std::int32_t low = 0;  // largest step known not to fit; 0: none
    std::int32_t high = start;
    if (fits(start)) {
        while (high > gcd) {
            const std::int32_t lower = std::max(gcd, high / 2);
            if (!fits(lower)) {
                low = lower;
                break;
            }
            high = lower;
        }
        if (low == 0) return high;
    } else {
        low = start;
        high = std::min(2 * start, zero_step);
        while (high < zero_step && !fits(high)) {
            low = high;
            high = std::min(2 * high, zero_step);
        }
    }
    while (high - low > 1) {
        const std::int32_t mid = low + (high - low) / 2;
        if (fits(mid)) {
            high = mid;
        } else {
            low = mid;
        }
    }
    return high;
}

HqBlockHead HqQuantizer::pop(std::int16_t* coded, ColumnMethod* methods) {
    assert(ready());
    const std::int32_t slot = first;
    const std::int16_t* values = direct ? borrowed : held_values.get() + slot * block_size;
    const std::int64_t target = held_target.get()[slot];

    const std::int32_t gcd = held_gcd.get()[slot];
    double estimate = 0.0;
    std::int32_t step = choose_step(gcd, &estimate);
    // The cap: a block may borrow from the held blocks behind it only as much as leaves each
    // of them the bits of a block of zeros (the head and a method code per column), the least
    // the standard mode spends on any block. So the stream never ends more than 1/256 ahead of
    // the standard mode's bits.
    const std::int64_t target_through = target_so_far + window_target;
    const std::int64_t cap = target_through + target_through / cap_slack_divisor - coded_so_far -
                             (count - 1) * least_bits();
    assert(cap >= least_bits());
    std::int64_t bits = 0;
    bool stored = false;  // coded holds the coded integers at step
    if (input_ended && count == 1) {
        // The last block takes exactly what is left of the standard mode's bits, where that
        // is at least a block of zeros: the estimate cannot make up for itself any more.
        const std::int64_t left = target_so_far + target - coded_so_far;
        step = fit_step(values, step, gcd, left >= least_bits() ? std::min(left, cap) : cap);
        bits = code_at(values, step, nullptr, false);
    } else {
        // Without a look-ahead the values are the coded integers' place: measure first.
        stored = !direct;
        bits = code_at(values, step, coded, stored);
        // Over the cap: larger grid steps, galloping. At the last one every value codes as 0.
        int g = 0;
        for (int jump = 1; bits > cap && step < grid_step[grid_size - 1]; jump *= 2) {
            while (grid_step[g] <= step) ++g;  // the last grid step lies above every other
            g = std::min(g + jump - 1, grid_size - 1);
            step = grid_step[g];
            estimate = static_cast<double>(held_estimate.get()[std::int64_t{slot} * grid_size + g]);
            bits = code_at(values, step, coded, stored);
        }
    }
    // A block that its own exact step codes in no more bits is coded exactly. (The counts per
    // column are then those of the exact step: the chosen step's are taken again below.)
    if (gcd > 1 && gcd < step) {
        const std::int64_t exact_bits = code_at(values, gcd, nullptr, false);
        if (exact_bits <= bits) {
            step = gcd;
            bits = exact_bits;
        }
        stored = false;
    }
    if (!stored) (void)code_at(values, step, coded, true);
    assert(bits <= cap);

    std::int32_t range_needed = 1;  // largest -k over negative k and k + 1 over the others
    for (std::int32_t j = 0; j < columns; ++j) {
        const HqColumnCounts c = counts_of(j);
        methods[j] = hq_cheapest_column(c, rows).method;
        range_needed = std::max(range_needed, std::max(c.max_magnitude, c.max_positive + 1));
    }

    recent_coded = recent_coded * ratio_memory + static_cast<double>(bits - least_bits());
    recent_estimate = recent_estimate * ratio_memory + estimate;
    target_so_far += target;
    coded_so_far += bits;
    window_target -= target;
    const std::int64_t* held = held_estimate.get() + std::int64_t{slot} * grid_size;
    for (int i = 0; i < grid_size; ++i) window_estimate[i] -= held[i];
    first = (first + 1) % capacity;
    --count;
    borrowed = nullptr;

    HqBlockHead head;
    head.range_bits = ceil_log2(static_cast<std::uint32_t>(range_needed));
    head.step = step;
    head.bits = bits;
    return head;
}

}  // namespace vellox
