// The standard mode's step search, seen in the stream: the smallest fitting step, the zero
// budget, and budgets that always or never fit.

#include "acm/step_search.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "acm/packer_streams.h"

namespace vellox {
namespace {

using namespace packer_test;

TEST(StepSearch, BudgetSearchFindsTheSmallestFittingStep) {
    // Estimates 32 at step 1, 14 at 17, 9.33 at 49, 0 at 113; then 81 .. 51 fit and 50 does
    // not: step 51, coded 1, 0, 0, 0 as vlc1_pairs.
    EXPECT_EQ(pack(1, 4, 8, {{100, -50, 30, 7}}), (Bytes{0x31, 0x03, 0x10, 0x0F}));
    // A budget of 10 takes coded magnitudes up to 2 (9.33 bits): 100 / 34 is the first.
    EXPECT_EQ(read_bits(pack(1, 4, 10, {{100, -50, 30, 7}}), 4, 16), 34u);
}

TEST(StepSearch, ZeroBudgetGivesTheLargestMagnitudePlusOne) {
    const Block values = {5, -1234, 0, 7, 100, 3, -2, 0, 1000, 0, 0, 1};
    Bits expected;
    expected.field(0, 4).field(1235, 16);
    for (int j = 0; j < 4; ++j) expected.field(0, 5);
    EXPECT_EQ(pack(4, 3, 0, {values}), expected.bytes());
    // -32768 needs the largest step of all, 32769.
    EXPECT_EQ(read_bits(pack(1, 2, 0, {{-32768, 1}}), 4, 16), 32769u);
}

TEST(StepSearch, BudgetThatAlwaysFitsKeepsTheDivisor) {
    const Block values = {6, -9, 12, 0};
    const Bytes exact = pack(2, 2, -1, {values});
    EXPECT_EQ(pack(2, 2, INT32_MAX, {values}), exact);
    // Below -1 no step could fit: taken as no limit.
    EXPECT_EQ(pack(2, 2, -5, {values}), exact);
}

}  // namespace
}  // namespace vellox
