#pragma once
// What a column of coded integers costs: the counts the choice of method looks at, the
// column coder's own choice (the standard mode's), the bits each method writes, and the
// cheapest method. The packer and the high-quality quantizer both decide by these.

#include <cstdint>  // std::int32_t, std::int64_t

#include "acm/acm_format.h"  // ColumnMethod
#include "common/numeric.h"  // ceil_log2

namespace vellox {

// What the choice of method looks at in one column of rows coded integers.
struct ColumnCounts {
    std::int32_t max_magnitude = 0;  // 0 .. 32768
    std::int32_t max_positive = 0;   // 0 when there is no positive value
    std::int32_t zeros = 0;          // rows holding 0
    std::int32_t ones = 0;           // rows holding 1 or -1
    std::int32_t pairs = 0;          // zero_pair symbols a pair method writes
    std::int32_t single_zeros = 0;   // zeros a pair method writes alone (for bit counts only)
};

// A pair method writes one zero_pair for every second zero of a run of zeros, and one more for
// a run of odd length at the end of the column, whose last zero pairs with the zero row past
// it; a zero at an odd place of its run that a non-zero value follows is written alone. One
// row of that count, without branches: zero is 1 for a zero row, 0 otherwise; run is the
// length of the run of zeros so far, and the end of the column adds run & 1 to pairs.
template <typename Count>
inline void count_zero_run(std::int32_t zero, Count& run, Count& pairs, Count& single_zeros) {
    single_zeros += (zero ^ 1) & run & 1;
    run = (run + 1) * zero;
    pairs += zero & ~run & 1;
}

// Width of the narrowest linear column that holds coded integers reaching the magnitude a
// (at least 4) and the positive value b (b <= a): the least w with -(1 << (w-1)) ..
// (1 << (w-1)) - 1 holding them, 3 .. 16.
[[nodiscard]] inline int wide_linear_width(std::int32_t a, std::int32_t b) {
    return ceil_log2(static_cast<std::uint32_t>(a > b ? a : b + 1)) + 1;
}

// The same for any a, where no linear column is narrower than 3 bits.
[[nodiscard]] inline int linear_width(std::int32_t a, std::int32_t b) {
    return a >= 4 ? wide_linear_width(a, b) : 3;
}

// The method the column coder writes a column with these counts in: by the largest magnitude,
// then by thresholds on the zeros, ones and zero_pairs where a prefix code becomes shorter
// than the dense method. This decision is part of the format's standard stream.
[[nodiscard]] inline ColumnMethod standard_column_method(const ColumnCounts& c, std::int32_t rows) {
    const std::int64_t r = rows;
    const std::int64_t zeros = c.zeros;
    const bool pairs_pay = 3 * std::int64_t{c.pairs} > r;
    switch (c.max_magnitude) {
        case 0:
            return ColumnMethod::zero;
        case 1:
            if (pairs_pay) return ColumnMethod::vlc1_pairs;
            return 3 * zeros > r ? ColumnMethod::vlc1 : ColumnMethod::packed3_5bit;
        case 2:
            if (pairs_pay) return ColumnMethod::vlc2_pairs;
            return 3 * zeros > r ? ColumnMethod::vlc2 : ColumnMethod::packed3_7bit;
        case 3:
            if (pairs_pay) return ColumnMethod::vlc3_pairs;
            return 3 * zeros + c.ones > r ? ColumnMethod::vlc3 : static_cast<ColumnMethod>(3);
        case 4:
            if (pairs_pay) return ColumnMethod::vlc4_pairs;
            if (c.max_positive <= 3) {
                return 3 * zeros > r ? ColumnMethod::vlc4 : static_cast<ColumnMethod>(3);
            }
            return 6 * zeros > r ? ColumnMethod::vlc4 : ColumnMethod::packed2_7bit;
        case 5:
            return ColumnMethod::packed2_7bit;
        default:
            return static_cast<ColumnMethod>(linear_width(c.max_magnitude, c.max_positive));
    }
}

// Bits method writes for a column of rows coded integers with these counts, its method code
// included. method must hold the column's integers.
[[nodiscard]] std::int64_t column_bits(ColumnMethod method, const ColumnCounts& counts,
                                       std::int32_t rows);

// column_bits of the standard_column_method.
[[nodiscard]] std::int64_t standard_column_bits(const ColumnCounts& counts, std::int32_t rows);

// A column's method and its bits, the method code included.
struct ColumnChoice {
    ColumnMethod method = ColumnMethod::zero;  // for a linear column its width, 3 .. 16
    std::int64_t bits = 0;
};

// The method that writes a column with these counts in the fewest bits, of those whose range
// holds its coded integers (on a tie the one considered first: linear, then the denser codes).
[[nodiscard]] ColumnChoice cheapest_column(const ColumnCounts& counts, std::int32_t rows);

}  // namespace vellox
