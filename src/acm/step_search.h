#pragma once
// The standard mode's choice of a block's quantizer step: the greatest common divisor of its
// magnitudes, or with a bit budget the smallest step from there whose estimated size fits.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint32_t

namespace vellox {

// The greatest common divisor of the magnitudes of count values, 0 when all are 0.
[[nodiscard]] std::uint32_t magnitude_gcd(const std::int16_t* values, std::int64_t count);

// A column that holds a value other than 0: its largest magnitude and its largest positive
// value (0 when there is none).
struct ColumnMaxima {
    std::int32_t magnitude;
    std::int32_t positive;
};

// Estimated bits of a block whose non-zero columns have these maxima, at step (1 .. 2^17 - 1):
// per value, the cost of the dense method the column coder would fall back to for the
// column's coded maxima.
[[nodiscard]] double estimate_block_bits(const ColumnMaxima* columns, std::int32_t count,
                                         std::int32_t rows, std::int32_t step);

// The smallest step from first_step (1 .. 32768) on whose estimate is at most bit_budget
// (>= 0): first_step when it fits, else found by probes with doubling increments upward and a
// binary search between the last two. Every step above the largest magnitude fits (it
// estimates 0 bits), so the result lies below 32770.
[[nodiscard]] std::int32_t search_step(const ColumnMaxima* columns, std::int32_t count,
                                       std::int32_t rows, std::int32_t bit_budget,
                                       std::int32_t first_step);

}  // namespace vellox
