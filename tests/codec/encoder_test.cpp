// The per-block bit budget the driver hands to the packer.

#include "codec/encoder.h"

#include <gtest/gtest.h>

namespace vellox {
namespace {

TEST(DeriveBitBudget, ScalesTheAverageInputBitsOfABlock) {
    // Defaults: 2048 values a block, 4096 16-bit samples at 50 percent.
    EXPECT_EQ(derive_bit_budget(50.0, true, 4096, 2048), 16384);
    // The last, partial block counts whole: 16 * 4097 / 3 * 0.5.
    EXPECT_EQ(derive_bit_budget(50.0, true, 4097, 2048), 10925);
    EXPECT_EQ(derive_bit_budget(50.0, false, 4096, 2048), 8192);
    EXPECT_EQ(derive_bit_budget(100.0, true, 1, 2048), 16);
    // 16 * 3 / 1 * 33 * 0.01 is 15.84: truncated.
    EXPECT_EQ(derive_bit_budget(33.0, true, 3, 16), 15);
    // The largest block at 100 percent still fits the 32-bit budget.
    EXPECT_EQ(derive_bit_budget(100.0, true, 134184960, 134184960), 2146959360);
}

TEST(DeriveBitBudget, NoTargetOrNoInputMeansNoLimit) {
    EXPECT_EQ(derive_bit_budget(-1.0, true, 4096, 2048), -1);
    EXPECT_EQ(derive_bit_budget(50.0, true, 0, 2048), -1);
}

}  // namespace
}  // namespace vellox
