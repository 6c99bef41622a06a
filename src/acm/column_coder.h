#pragma once
// The column coder: writes a column of coded integers with a given method, counts what the
// standard choice of method looks at, and puts the columns of a block, runs of zero columns
// together.

#include <cstddef>  // std::ptrdiff_t
#include <cstdint>  // std::int16_t, std::int32_t

#include "acm/acm_format.h"
#include "acm/bit_writer.h"
#include "acm/column_cost.h"

namespace vellox {

// A column of the block: rows coded integers stride elements apart, followed by two zeros at
// the same stride (the coders read past the last row).
struct Column {
    const std::int16_t* first;
    std::ptrdiff_t stride;
    std::int32_t rows;

    std::int32_t at(std::int32_t row) const { return first[row * stride]; }
};

// The counts of column for the standard choice of method, its largest magnitude a and largest
// positive value b given: the zeros, ones and zero_pairs are counted for a = 1 .. 4 only,
// where the choice looks at them.
[[nodiscard]] inline ColumnCounts count_column(const Column& column, std::int32_t a,
                                               std::int32_t b) {
    ColumnCounts counts;
    counts.max_magnitude = a;
    counts.max_positive = b;
    if (a < 1 || a > 4) return counts;
    std::int32_t run = 0;  // zeros so far in the current run
    std::int32_t single_zeros = 0;
    for (std::int32_t i = 0; i < column.rows; ++i) {
        const std::int32_t k = column.at(i);
        const std::int32_t zero = k == 0 ? 1 : 0;
        count_zero_run(zero, run, counts.pairs, single_zeros);
        counts.zeros += zero;
        counts.ones += (static_cast<std::uint32_t>(k + 1) <= 2 ? 1 : 0) - zero;
    }
    counts.pairs += run & 1;
    counts.single_zeros = single_zeros;
    return counts;
}

// Writes the method code, then the column's integers as method writes them; method holds them.
void put_column(BitWriter& out, ColumnMethod method, const Column& column);

// Puts columns 0 .. columns - 1 of a block: a run of zero columns (is_zero(j)) as a run of
// zero method codes, twelve to a put, and every other column through code_column(j).
template <typename IsZero, typename CodeColumn>
void put_columns(BitWriter& out, std::int32_t columns, IsZero is_zero, CodeColumn code_column) {
    std::int32_t j = 0;
    while (j < columns) {
        std::int32_t zero_columns = 0;
        while (j < columns && is_zero(j)) {
            ++zero_columns;
            ++j;
        }
        for (; zero_columns >= 12; zero_columns -= 12) out.put_bits(0, 12 * method_width);
        if (zero_columns > 0) out.put_bits(0, zero_columns * method_width);
        if (j < columns) code_column(j++);
    }
}

}  // namespace vellox
