// The column cost model against the column coder: what the model says a column costs is what
// the coder writes for it, for the standard mode's choice, for every method and for -hq's
// cheapest, on every short column of -1, 0 and 1.

#include "acm/column_cost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acm/block_packer.h"
#include "acm/byte_stream.h"
#include "acm/column_coder.h"
#include "acm/hq_tally.h"

namespace vellox {
namespace {

using Values = std::vector<std::int16_t>;

// Bits the column coder writes for values (one column, two zero rows behind it) with method.
std::int64_t written_bits(const Values& values, ColumnMethod method) {
    Values column = values;
    column.resize(values.size() + 2, 0);
    MemorySink sink;
    BitWriter out(sink);
    EXPECT_EQ(out.init(), VELLOX_OK);
    put_column(out, method, Column{column.data(), 1, static_cast<std::int32_t>(values.size())});
    return out.bits_written();
}

// Bits the standard mode's packer writes for values as a block of one column, head included.
std::int64_t packed_bits(const Values& values) {
    MemorySink sink;
    BlockPacker packer(sink, 1, static_cast<std::int32_t>(values.size()), -1);
    EXPECT_EQ(packer.init(), VELLOX_OK);
    packer.pack_block(values.data());
    EXPECT_EQ(packer.finish(), VELLOX_OK);
    return packer.bits_written();
}

TEST(ColumnCost, WorkedColumns) {
    // 0, 1, 0: one zero_pair (the last zero with the row past the column) is not more than a
    // third of the rows, and two zeros are: vlc1, 1 + 2 + 1 bits and the method code.
    const Values values = {0, 1, 0};
    const Values with_zero_rows = {0, 1, 0, 0, 0};
    const ColumnCounts counts = count_column(Column{with_zero_rows.data(), 1, 3}, 1, 1);
    EXPECT_EQ(counts.pairs, 1);
    EXPECT_EQ(standard_column_method(counts, 3), ColumnMethod::vlc1);
    EXPECT_EQ(standard_column_bits(counts, 3), 9);
    EXPECT_EQ(packed_bits(values), block_head_bits + 9);

    // 1, 0, 1 is 5 bits as packed3_5bit and as vlc1: on a tie -hq keeps the method it
    // considered first, the denser one.
    const Values tie = {1, 0, 1, 0, 0};
    const ColumnCounts tie_counts = count_column(Column{tie.data(), 1, 3}, 1, 1);
    EXPECT_EQ(column_bits(ColumnMethod::vlc1, tie_counts, 3), 10);
    const ColumnChoice cheapest = cheapest_column(tie_counts, 3);
    EXPECT_EQ(cheapest.method, ColumnMethod::packed3_5bit);
    EXPECT_EQ(cheapest.bits, 10);
}

TEST(ColumnCost, EveryShortColumnCostsWhatTheCoderWrites) {
    const ColumnMethod methods[] = {
        ColumnMethod::vlc1_pairs,     ColumnMethod::vlc1,         ColumnMethod::packed3_5bit,
        ColumnMethod::vlc2_pairs,     ColumnMethod::vlc2,         ColumnMethod::packed3_7bit,
        ColumnMethod::vlc3_pairs,     ColumnMethod::vlc3,         ColumnMethod::vlc4_pairs,
        ColumnMethod::vlc4,           ColumnMethod::packed2_7bit, static_cast<ColumnMethod>(3),
        static_cast<ColumnMethod>(16)};
    for (std::int32_t rows = 1; rows <= 7; ++rows) {
        HqTally tally(1, rows);
        ASSERT_EQ(tally.init(), VELLOX_OK);
        std::int32_t columns = 1;
        for (std::int32_t r = 0; r < rows; ++r) columns *= 3;
        for (std::int32_t number = 0; number < columns; ++number) {
            Values values;
            for (std::int32_t r = 0, rest = number; r < rows; ++r, rest /= 3) {
                values.push_back(static_cast<std::int16_t>(rest % 3 - 1));
            }
            SCOPED_TRACE(testing::PrintToString(values));
            // The standard mode: the model's bits are the packer's.
            const std::int64_t standard = tally.standard_bits(values.data(), 1);
            EXPECT_EQ(standard, packed_bits(values));
            // -hq: every method that holds the column costs what it writes, and the cheapest
            // is the least of them.
            const std::int64_t cheapest = tally.rounded_bits(values.data(), 1, nullptr);
            const ColumnCounts counts = tally.counts(0);
            std::int64_t least = INT64_MAX;
            for (const ColumnMethod method : methods) {
                const std::int64_t written = written_bits(values, method);
                if (counts.max_magnitude > 0) {
                    EXPECT_EQ(column_bits(method, counts, rows), written);
                }
                least = std::min(least, written);
            }
            if (counts.max_magnitude == 0) least = written_bits(values, ColumnMethod::zero);
            EXPECT_EQ(cheapest, block_head_bits + least);
            EXPECT_EQ(cheapest_column(counts, rows).bits, least);
        }
    }
}

}  // namespace
}  // namespace vellox
