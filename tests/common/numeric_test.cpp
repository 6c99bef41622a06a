// Real to integer conversion and wrapping arithmetic.

#include "common/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vellox {
namespace {

TEST(TruncateToInt32, TruncatesTowardZeroAndSaturates) {
    EXPECT_EQ(truncate_to_int32(1146.99), 1146);
    EXPECT_EQ(truncate_to_int32(-59.99), -59);
    EXPECT_EQ(truncate_to_int32(-0.5), 0);
    EXPECT_EQ(truncate_to_int32(2147483647.9), 2147483647);
    EXPECT_EQ(truncate_to_int32(2147483648.0), 2147483647);
    EXPECT_EQ(truncate_to_int32(-2147483648.9), -2147483647 - 1);
    EXPECT_EQ(truncate_to_int32(-1e300), -2147483647 - 1);
    EXPECT_EQ(truncate_to_int32(std::numeric_limits<double>::infinity()), 2147483647);
    EXPECT_EQ(truncate_to_int32(std::nan("")), 0);
}

TEST(RoundToInt32, RoundsHalvesAwayFromZeroAndSaturates) {
    EXPECT_EQ(round_to_int32(2.5), 3);
    EXPECT_EQ(round_to_int32(-2.5), -3);
    EXPECT_EQ(round_to_int32(2.4999999999999996), 2);
    EXPECT_EQ(round_to_int32(0.49999999999999994), 0);  // where floor(v + 0.5) gives 1
    EXPECT_EQ(round_to_int32(-0.49999999999999994), 0);
    EXPECT_EQ(round_to_int32(2147483647.4), 2147483647);
    EXPECT_EQ(round_to_int32(2147483647.5), 2147483647);
    EXPECT_EQ(round_to_int32(-2147483648.5), -2147483647 - 1);
    EXPECT_EQ(round_to_int32(std::nan("")), 0);
}

TEST(WrappingArithmetic, WrapsLikeTwosComplement) {
    EXPECT_EQ(wrapping_add(2147483647, 1), -2147483647 - 1);
    EXPECT_EQ(wrapping_sub(-2147483647 - 1, 1), 2147483647);
    EXPECT_EQ(wrapping_mul(65536, 65536), 0);
    EXPECT_EQ(saturate_to_int16(40000), 32767);
    EXPECT_EQ(saturate_to_int16(-40000), -32768);
}

}  // namespace
}  // namespace vellox
