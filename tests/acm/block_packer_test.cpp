// BlockPacker: the worked blocks, failures, and the packer against a plain transcription of
// the format (tests/acm/reference_packer.h) on seeded random blocks.

#include "acm/block_packer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "acm/byte_stream.h"
#include "acm/packer_streams.h"
#include "acm/reference_packer.h"
#include "common/alloc.h"
#include "common/test_seed.h"

namespace vellox {
namespace {

using namespace packer_test;

TEST(BlockPacker, ZeroBlocksAreAHeadAndZeroColumns) {
    const Block zeros(128 * 16, 0);
    // range_bits 0, step 1, 128 zero columns: 660 bits, of which only the step bit is 1.
    Bits one_block;
    one_block.field(0, 4).field(1, 16);
    for (int j = 0; j < 128; ++j) one_block.field(0, 5);
    EXPECT_EQ(pack(128, 16, -1, {zeros}), one_block.bytes());
    EXPECT_EQ(one_block.bytes(), Bytes{0x10});
    const Bytes two = pack(128, 16, 0, {zeros, zeros});
    ASSERT_EQ(two.size(), 84u);  // the second step bit is bit 664
    EXPECT_EQ(two.front(), 0x10);
    EXPECT_EQ(two.back(), 0x01);
    // One row of one column holding 0 is a zero column too.
    EXPECT_EQ(pack(1, 1, -1, {{0}}), Bytes{0x10});
}

TEST(BlockPacker, StepIsTheGreatestCommonDivisorWithoutBudget) {
    // Rows (6, -9) and (12, 0): step 3, coded (2, -3) and (4, 0), range_bits 3.
    const Bytes expected = Bits()
                               .field(3, 4)
                               .field(3, 16)
                               .field(29, 5)  // packed2_7bit: 2 + 11 * 4 + 60
                               .field(106, 7)
                               .field(23, 5)  // vlc3_pairs: -3, then the last row's zero
                               .pattern("11100")
                               .pattern("0")
                               .bytes();
    EXPECT_EQ(pack(2, 2, -1, {{6, -9, 12, 0}}), expected);

    // A lone negative value: step 7, coded -1, range_bits 0; packed3_5bit group 12.
    EXPECT_EQ(pack(1, 1, -1, {{-7}}),
              Bits().field(0, 4).field(7, 16).field(19, 5).field(12, 5).bytes());
    EXPECT_EQ(read_bits(pack(1, 1, -1, {{-5}}), 4, 16), 5u);
}

TEST(BlockPacker, FullRangeValuesGiveStepOneAndSixteenBitColumns) {
    EXPECT_EQ(pack(2, 1, -1, {{-32768, 32767}}), Bits()
                                                     .field(15, 4)
                                                     .field(1, 16)
                                                     .field(16, 5)
                                                     .field(0, 16)
                                                     .field(16, 5)
                                                     .field(65535, 16)
                                                     .bytes());
}

TEST(BlockPacker, WorkedTwoByTwoBlock) {
    // Rows (3, 0) and (-6, 0): step 3, packed3_7bit group 53, then a zero column.
    EXPECT_EQ(pack(2, 2, -1, {{3, 0, -6, 0}}), (Bytes{0x31, 0x00, 0x60, 0x6B}));
}

// ---------------------------------------------------------------------------------------
// The packer against the reference on seeded random blocks of many shapes.

TEST(BlockPacker, MatchesTheReferenceOnRandomBlocks) {
    const std::uint32_t first_seed = test::test_seed(1);
    for (std::uint32_t seed = first_seed; seed < first_seed + 700; ++seed) {
        std::mt19937 random(seed);
        const auto uniform = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        const int columns = 1 << uniform(0, 7);
        const int rows = uniform(1, 40);
        int budget = -1;
        switch (uniform(0, 4)) {
            case 0:
                break;
            case 1:
                budget = 0;
                break;
            case 2:
                budget = uniform(1, 60);
                break;
            default:
                // About 1 to 8 bits per value, where the search has work to do.
                budget = columns * rows * uniform(1, 8);
                break;
        }
        std::vector<Block> blocks;
        const int block_count = uniform(1, 3);
        for (int b = 0; b < block_count; ++b) {
            blocks.push_back(random_block(random, columns, rows, uniform(0, 7)));
        }
        SCOPED_TRACE(testing::Message() << test::seed_note(seed) << ": columns " << columns
                                        << ", rows " << rows << ", budget " << budget);
        ASSERT_EQ(pack(columns, rows, budget, blocks),
                  reference_pack(columns, rows, budget, blocks));
    }
}

TEST(BlockPacker, MatchesTheReferenceAtTheLargestShapes) {
    const std::uint32_t seed = test::test_seed(1);
    SCOPED_TRACE(test::seed_note(seed));
    std::mt19937 random(seed);
    // levels 15 with one row, and one column of 4095 rows.
    for (const auto& shape : {std::pair<int, int>{32768, 1}, std::pair<int, int>{1, 4095}}) {
        for (int kind = 0; kind < 8; ++kind) {
            for (const int budget : {-1, 0, shape.first * shape.second * 3}) {
                SCOPED_TRACE(testing::Message() << "columns " << shape.first << ", kind " << kind
                                                << ", budget " << budget);
                const std::vector<Block> blocks = {
                    random_block(random, shape.first, shape.second, kind)};
                ASSERT_EQ(pack(shape.first, shape.second, budget, blocks),
                          reference_pack(shape.first, shape.second, budget, blocks));
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Failures.

TEST(BlockPacker, WriteFailureMakesFinishFail) {
    FullSink full;
    const std::uint32_t seed = test::test_seed(1);
    SCOPED_TRACE(test::seed_note(seed));
    std::mt19937 random(seed);
    for (const int block_count : {1, 200}) {  // caught by the last flush; caught while packing
        SCOPED_TRACE(block_count);
        BlockPacker packer(full, 128, 16, -1);
        ASSERT_EQ(packer.init(), VELLOX_OK);
        for (int b = 0; b < block_count; ++b)
            packer.pack_block(random_block(random, 128, 16, 3).data());
        EXPECT_EQ(packer.finish(), VELLOX_ERROR_WRITE);
        EXPECT_EQ(packer.status(), VELLOX_ERROR_WRITE);
        EXPECT_EQ(packer.bytes_written(), 0);
    }
}

TEST(BlockPacker, InitFailsCleanlyOnSizesAndAllocations) {
    MemorySink file;
    {
        BlockPacker no_rows(file, 128, 0, -1);
        EXPECT_EQ(no_rows.init(), VELLOX_ERROR_SUBBLOCKS);
        BlockPacker no_columns(file, 0, 16, -1);
        EXPECT_EQ(no_columns.init(), VELLOX_ERROR_LEVELS);
        // Two extra rows of 32768 columns past 65534 rows would not fit 32-bit indexes.
        BlockPacker too_large(file, 32768, 65534, -1);
        EXPECT_EQ(too_large.init(), VELLOX_ERROR_SUBBLOCKS);
        BlockPacker huge(file, INT32_MAX, INT32_MAX, -1);
        EXPECT_EQ(huge.init(), VELLOX_ERROR_SUBBLOCKS);
        EXPECT_EQ(huge.finish(), VELLOX_ERROR_STATE);
    }
    const std::int64_t before = allocation_count();
    {
        BlockPacker packer(file, 4, 3, -1);
        ASSERT_EQ(packer.init(), VELLOX_OK);
    }
    const std::int64_t allocations = allocation_count() - before;
    for (std::int64_t n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        fail_allocation_number(n);
        BlockPacker packer(file, 4, 3, -1);
        EXPECT_EQ(packer.init(), VELLOX_ERROR_MEMORY);
        fail_allocation_number(0);
    }
    EXPECT_EQ(file.size(), 0U);
}

}  // namespace
}  // namespace vellox
