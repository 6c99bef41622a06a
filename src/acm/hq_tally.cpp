// The high-quality quantizer's kernels: one pass over a block per step tried, vectorised
// across the columns, and the size estimate from the column maxima, free of branches.

#include "acm/hq_tally.h"

#include <algorithm>  // std::fill, std::max, std::min
#include <cassert>    // assert

#include "acm/acm_format.h"
#include "acm/reciprocal.h"
#include "common/alloc.h"

namespace vellox {

namespace {

// v at step 1.
struct Unchanged {
    std::int32_t operator()(std::int32_t v) const { return v; }
    std::int32_t of_positive(std::int32_t b) const { return b; }
    std::int32_t of_negated(std::int32_t n) const { return n; }
};

// v / step, rounded to the nearest integer or truncated toward zero, kept where k * step stays
// in -32768 .. 32767. A half rounds toward zero: either way it errs by half a step, and the
// smaller magnitude never costs more bits. Dividends stay below 49153 and steps
// (from 2) below 32770, inside the reciprocal's exact range.
struct Divide {
    std::uint32_t half;     // (step - 1) / 2 when rounding, 0 when truncating
    Reciprocal reciprocal;  // of the step
    std::int32_t positive;  // largest k with k * step <= 32767
    std::int32_t negative;  // largest k with -k * step >= -32768

    Divide(std::int32_t divisor, bool rounding)
        : half(rounding ? static_cast<std::uint32_t>((divisor - 1) / 2) : 0),
          reciprocal(divisor),
          positive(32767 / divisor),
          negative(32768 / divisor) {
        assert(divisor >= 2 && divisor <= 32769);
    }

    std::int32_t operator()(std::int32_t v) const {
        const std::uint32_t a = static_cast<std::uint32_t>(v < 0 ? -v : v) + half;
        const auto k = static_cast<std::int32_t>(reciprocal.divide(a));
        return v < 0 ? -std::min(k, negative) : std::min(k, positive);
    }
    // The k of a value b >= 0, and the -k of a value -n <= 0.
    std::int32_t of_positive(std::int32_t b) const {
        const auto k =
            static_cast<std::int32_t>(reciprocal.divide(static_cast<std::uint32_t>(b) + half));
        return std::min(k, positive);
    }
    std::int32_t of_negated(std::int32_t n) const {
        const auto k =
            static_cast<std::int32_t>(reciprocal.divide(static_cast<std::uint32_t>(n) + half));
        return std::min(k, negative);
    }
};

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
        count_zero_run(zero, t.run[j], t.pairs[j], t.singles[j]);
        t.zeros[j] += zero;
        t.ones[j] += m == 1 ? 1 : 0;
    }
}

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
template <typename Quantize>
std::uint32_t estimate_row(const std::int32_t* __restrict top,
                           const std::int32_t* __restrict bottom, std::int32_t width,
                           const Quantize q, const DenseCosts c) {
    std::uint32_t sum = 0;
    for (std::int32_t j = 0; j < width; ++j) {
        const std::int32_t b = q.of_positive(top[j]);
        const std::int32_t n = q.of_negated(bottom[j]);
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

HqTally::HqTally(std::int32_t column_count, std::int32_t row_count)
    : columns(column_count), rows(row_count) {}

vellox_status HqTally::init() {
    std::unique_ptr<std::int32_t[]>* arrays[] = {
        &column_magnitude, &column_positive, &column_zeros, &column_ones,  &column_pairs,
        &column_singles,   &column_run,      &column_top,   &column_bottom};
    for (std::unique_ptr<std::int32_t[]>* array : arrays) {
        *array = allocate_array<std::int32_t>(columns);
        if (!*array) return VELLOX_ERROR_MEMORY;
    }
    return VELLOX_OK;
}

// One pass over a block: the coded integers (stored into coded when store is set) and their
// counts per column. Returns the bits the packer writes for them: with standard, by the
// standard mode's choice of methods, and then also the per-column maxima of the values
// themselves; otherwise with the cheapest method for each column.
template <typename Quantize, bool store, bool standard>
std::int64_t HqTally::tally(const std::int16_t* values, const Quantize& quantize,
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
    std::int64_t bits = block_head_bits;
    for (std::int32_t j = 0; j < columns; ++j) {
        const ColumnCounts c = counts(j);
        bits += standard ? standard_column_bits(c, rows) : cheapest_column(c, rows).bits;
    }
    return bits;
}

void HqTally::take_maxima(const std::int16_t* values) {
    std::int32_t* __restrict top = column_top.get();
    std::int32_t* __restrict bottom = column_bottom.get();
    std::fill(top, top + columns, 0);
    std::fill(bottom, bottom + columns, 0);
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int16_t* __restrict row = values + std::int64_t{i} * columns;
        for (std::int32_t j = 0; j < columns; ++j) {
            top[j] = std::max<std::int32_t>(top[j], row[j]);
            bottom[j] = std::max<std::int32_t>(bottom[j], -std::int32_t{row[j]});
        }
    }
}

std::int64_t HqTally::standard_bits(const std::int16_t* values, std::int32_t step) {
    return step == 1 ? tally<Unchanged, false, true>(values, Unchanged{}, nullptr)
                     : tally<Divide, false, true>(values, Divide(step, false), nullptr);
}

std::int64_t HqTally::rounded_bits(const std::int16_t* values, std::int32_t step,
                                   std::int16_t* coded) {
    if (step == 1) {
        return coded != nullptr ? tally<Unchanged, true, false>(values, Unchanged{}, coded)
                                : tally<Unchanged, false, false>(values, Unchanged{}, nullptr);
    }
    const Divide round(step, true);
    return coded != nullptr ? tally<Divide, true, false>(values, round, coded)
                            : tally<Divide, false, false>(values, round, nullptr);
}

void HqTally::estimate(std::int64_t* estimate, std::int32_t gcd) const {
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
    estimate[0] = estimate_row(top, bottom, columns, Unchanged{}, costs);
    for (int g = 1; g < hq_grid_size; ++g) {
        // Every value below half the step rounds to 0.
        estimate[g] =
            2 * largest < hq_grid_step[g]
                ? 0
                : estimate_row(top, bottom, columns, Divide(hq_grid_step[g], true), costs);
    }
    // Where the block's own exact step codes it in fewer bits, pop takes that step.
    if (gcd > 1) {
        const std::int64_t exact = estimate_row(top, bottom, columns, Divide(gcd, true), costs);
        for (int g = 0; g < hq_grid_size; ++g) estimate[g] = std::min(estimate[g], exact);
    }
}

}  // namespace vellox
