#pragma once
// HqTally: the high-quality quantizer's passes over a block: its coded integers at a step
// with the counts per column and the bits the packer writes for them, and the estimate of the
// block's size at every step of a grid, from the maxima of its values.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "acm/column_cost.h"
#include "vellox/vellox.h"  // vellox_status

namespace vellox {

// The steps at which a block's size is estimated: about 2^(i/2), then 32769, at which every
// value codes as 0.
inline constexpr int hq_grid_size = 31;
inline constexpr std::int32_t hq_grid_step[hq_grid_size] = {
    1,   2,   3,   4,    6,    8,    11,   16,   23,   32,   45,    64,    91,    128,   181,  256,
    362, 512, 724, 1024, 1448, 2048, 2896, 4096, 5793, 8192, 11585, 16384, 23170, 32768, 32769};

class HqTally {
public:
    // Blocks of columns * rows values, row after row. Stores the values; allocates nothing.
    HqTally(std::int32_t columns, std::int32_t rows);

    HqTally(const HqTally&) = delete;
    HqTally& operator=(const HqTally&) = delete;

    // Allocates the per-column counts: VELLOX_OK or VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status init();

    // Bits the standard mode writes for values at step (1 .. 32769: truncating division and
    // the column coder's own choice of methods), head included; keeps the per-column maxima of
    // the values themselves for estimate.
    std::int64_t standard_bits(const std::int16_t* values, std::int32_t step);

    // Keeps the per-column maxima of values for estimate, as standard_bits does, without the
    // tally: for a block whose standard mode's bits come from elsewhere.
    void take_maxima(const std::int16_t* values);

    // Bits the packer writes for values rounded to the nearest multiple of step (1 .. 32769;
    // halves toward zero)
    // with the cheapest method for each column, head included; the coded integers go to coded
    // unless it is null (it may be values).
    std::int64_t rounded_bits(const std::int16_t* values, std::int32_t step, std::int16_t* coded);

    // The estimated data bits (all but the head and the method codes) of the block of the last
    // standard_bits (or take_maxima) at every grid step (hq_grid_size entries): each column costs
    // what the cheapest method for its rounded maxima costs when every value reaches them. Where
    // the block's own exact step gcd (1: none) codes it in fewer, that is the estimate.
    void estimate(std::int64_t* estimate, std::int32_t gcd) const;

    // The counts of column j in the last tally.
    ColumnCounts counts(std::int32_t j) const {
        ColumnCounts c;
        c.max_magnitude = column_magnitude.get()[j];
        c.max_positive = column_positive.get()[j];
        c.zeros = column_zeros.get()[j];
        c.ones = column_ones.get()[j];
        // A run of odd length at the end pairs with the zero row past the column.
        c.pairs = column_pairs.get()[j] + (column_run.get()[j] & 1);
        c.single_zeros = column_singles.get()[j];
        return c;
    }

private:
    template <typename Quantize, bool store, bool standard>
    std::int64_t tally(const std::int16_t* values, const Quantize& quantize, std::int16_t* coded);

    std::int32_t columns;
    std::int32_t rows;

    // Per column, the counts of the last tally (see ColumnCounts), the length of the current
    // run of zeros, and the largest value and the largest negated value (at least 0) of the
    // last standard_bits.
    std::unique_ptr<std::int32_t[]> column_magnitude;
    std::unique_ptr<std::int32_t[]> column_positive;
    std::unique_ptr<std::int32_t[]> column_zeros;
    std::unique_ptr<std::int32_t[]> column_ones;
    std::unique_ptr<std::int32_t[]> column_pairs;
    std::unique_ptr<std::int32_t[]> column_singles;
    std::unique_ptr<std::int32_t[]> column_run;
    std::unique_ptr<std::int32_t[]> column_top;
    std::unique_ptr<std::int32_t[]> column_bottom;
};

}  // namespace vellox
