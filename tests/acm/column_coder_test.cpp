// The column coder, seen in the stream: the zero pairs, the group methods and the linear
// widths.

#include "acm/column_coder.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "acm/packer_streams.h"

namespace vellox {
namespace {

using namespace packer_test;

TEST(ColumnCoder, PairMethodWritesZeroPairsAndALastLoneZero) {
    // 1, 0, 0, 0: pairs 2 > 4 / 3, so vlc1_pairs: +1, a pair, the last zero alone.
    EXPECT_EQ(pack(1, 4, -1, {{1, 0, 0, 0}}), Bits()
                                                  .field(1, 4)
                                                  .field(1, 16)
                                                  .field(17, 5)
                                                  .pattern("111")
                                                  .pattern("0")
                                                  .pattern("0")
                                                  .bytes());
}

TEST(ColumnCoder, DenseColumnsArePackedInGroups) {
    // 1, -1, 0, 1, -1, 1: packed3_5bit with the groups 11 and 20.
    EXPECT_EQ(pack(1, 6, -1, {{1, -1, 0, 1, -1, 1}}),
              Bits().field(1, 4).field(1, 16).field(19, 5).field(11, 5).field(20, 5).bytes());
    // Column 0 holds 2, 0, -2: packed3_7bit group 14. Column 1 holds 1, 0, 0: vlc1.
    EXPECT_EQ(pack(2, 3, -1, {{2, 1, 0, 0, -2, 0}}), Bits()
                                                         .field(2, 4)
                                                         .field(1, 16)
                                                         .field(22, 5)
                                                         .field(14, 7)
                                                         .field(18, 5)
                                                         .pattern("11")
                                                         .pattern("0")
                                                         .pattern("0")
                                                         .bytes());
    // -4, 1, 2, 3 fits 3-bit linear; 4, 1, 2, 3 does not and is packed2_7bit.
    EXPECT_EQ(pack(1, 4, -1, {{-4, 1, 2, 3}}), Bits()
                                                   .field(2, 4)
                                                   .field(1, 16)
                                                   .field(3, 5)
                                                   .field(0, 3)
                                                   .field(5, 3)
                                                   .field(6, 3)
                                                   .field(7, 3)
                                                   .bytes());
    EXPECT_EQ(pack(1, 4, -1, {{4, 1, 2, 3}}),
              Bits().field(3, 4).field(1, 16).field(29, 5).field(75, 7).field(95, 7).bytes());
}

TEST(ColumnCoder, LinearWidthHoldsEveryCodedInteger) {
    // A column of the value and 1 (so the step is 1); the width is the method code.
    const struct {
        std::int16_t value;
        std::uint32_t width;
    } cases[] = {{-32768, 16}, {32767, 16}, {6, 4}, {8, 5}, {-8, 4}, {-9, 5}, {7, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const Bytes bytes = pack(1, 2, -1, {{c.value, 1}});
        EXPECT_EQ(read_bits(bytes, 20, 5), c.width);
        const std::uint32_t offset = 1u << (c.width - 1);
        EXPECT_EQ(read_bits(bytes, 25, static_cast<int>(c.width)),
                  static_cast<std::uint32_t>(c.value + static_cast<std::int32_t>(offset)));
        EXPECT_EQ(read_bits(bytes, 25 + c.width, static_cast<int>(c.width)), offset + 1);
    }
}

}  // namespace
}  // namespace vellox
