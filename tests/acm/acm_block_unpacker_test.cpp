// The ACM block unpacker: amplitude table, every column method, the bit position across
// blocks and failures, and streams that end early.

#include "acm/acm_block_unpacker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "common/test_seed.h"
#include "sources/acm_stream_builder.h"

namespace vellox {
namespace {

using acm_test::BitStreamBuilder;
using acm_test::prefix_codes;
using acm_test::put_column;

constexpr std::int32_t untouched = 0x5A5A5A5A;  // marks values a decoder must not write

// An unpacker reading stream bytes from memory.
class Unpacker {
public:
    Unpacker(const std::vector<std::uint8_t>& bytes, int levels, int rows)
        : stream(bytes), source(stream.data(), stream.size()), size(rows << levels) {
        unpacker = std::make_unique<AcmBlockUnpacker>(source, levels, rows);
        EXPECT_EQ(unpacker->init(), VELLOX_OK);
    }
    // The next block, row after row; expect_ok is what unpack_block must return.
    std::vector<std::int32_t> next(bool expect_ok = true) {
        std::vector<std::int32_t> block(static_cast<std::size_t>(size), untouched);
        EXPECT_EQ(unpacker->unpack_block(block.data()), expect_ok);
        return block;
    }

    // Whether the last block began before the end of the stream.
    bool present() const { return unpacker->block_present(); }

private:
    std::vector<std::uint8_t> stream;
    MemorySource source;
    int size;
    std::unique_ptr<AcmBlockUnpacker> unpacker;
};

using Block = std::vector<std::int32_t>;

// One column of rows coded integers through a linear field of width bits (levels 0).
Block linear_column(int range_bits, int step, int width, const std::vector<int>& k) {
    BitStreamBuilder s;
    s.put_block_head(range_bits, step);
    put_column(s, width, k);
    return Unpacker(s.bytes(), 0, static_cast<int>(k.size())).next();
}

TEST(AcmBlockUnpacker, AmplitudeTableHoldsMultiplesOfStepWrappedTo16Bits) {
    const std::vector<int> all = {-4, -3, -2, -1, 0, 1, 2, 3};
    EXPECT_EQ(linear_column(2, 3, 3, all), (Block{-12, -9, -6, -3, 0, 3, 6, 9}));
    EXPECT_EQ(linear_column(2, 16384, 3, all),
              (Block{0, 16384, -32768, -16384, 0, 16384, -32768, -16384}));
    // Linear 16 reaches both ends of the 16-bit index range; linear 3 with field 0 is -4.
    EXPECT_EQ(linear_column(15, 1, 16, {-32768, 32767, 0}), (Block{-32768, 32767, 0}));
    EXPECT_EQ(linear_column(2, 7, 3, {-4}), (Block{-28}));
}

TEST(AcmBlockUnpacker, IndexOutsideTheFilledRangeReadsWhatIsLeftThere) {
    // A hostile width larger than range_bits + 1: never filled entries are 0, entries of
    // an earlier block's larger range keep that block's multiples.
    BitStreamBuilder s;
    s.put_block_head(0, 5);
    put_column(s, 16, {-32768, 32767, 1, -1});
    s.put_block_head(3, 2);
    put_column(s, 4, {-8, 7, 0, 1});
    s.put_block_head(0, 9);
    put_column(s, 16, {-8, 7, 1, -1});
    Unpacker u(s.bytes(), 0, 4);
    EXPECT_EQ(u.next(), (Block{0, 0, 0, -5}));
    EXPECT_EQ(u.next(), (Block{-16, 14, 0, 2}));
    EXPECT_EQ(u.next(), (Block{-16, 14, 2, -9}));
}

TEST(AcmBlockUnpacker, HostileWidthsReadWhatEarlierBlocksLeftInThePlainTable) {
    // Blocks of random ranges and steps, each one linear column of random width (often wider
    // than the range), against a plain table of 65,536 entries filled as running sums.
    const std::uint32_t seed = test::test_seed(7);
    SCOPED_TRACE(test::seed_note(seed));
    std::mt19937 rng(seed);
    std::vector<std::int16_t> table(65536, 0);
    BitStreamBuilder s;
    Block expected;
    const int blocks = 3000;
    for (int b = 0; b < blocks; ++b) {
        const int range_bits = static_cast<int>(rng() % 16);
        const int step = static_cast<int>(rng() % 65536);
        s.put_block_head(range_bits, step);
        std::uint16_t up = 0;
        std::uint16_t down = 0;
        for (int k = 0; k < (1 << range_bits); ++k) {
            table[static_cast<std::size_t>(32768 + k)] = static_cast<std::int16_t>(up);
            down = static_cast<std::uint16_t>(down - step);
            table[static_cast<std::size_t>(32767 - k)] = static_cast<std::int16_t>(down);
            up = static_cast<std::uint16_t>(up + step);
        }
        const int width = 3 + static_cast<int>(rng() % 14);
        std::vector<int> k(3);
        for (int& v : k) v = static_cast<int>(rng() % (1u << width)) - (1 << (width - 1));
        put_column(s, width, k);
        for (int v : k) expected.push_back(table[static_cast<std::size_t>(32768 + v)]);
    }
    Unpacker u(s.bytes(), 0, 3);
    for (int b = 0; b < blocks; ++b) {
        const Block got = u.next();
        ASSERT_EQ(got, Block(expected.begin() + 3 * b, expected.begin() + 3 * b + 3)) << b;
    }
}

TEST(AcmBlockUnpacker, GroupDigitTables) {
    EXPECT_EQ(group_digits_base3[1], 1);
    EXPECT_EQ(group_digits_base3[3], 4);
    EXPECT_EQ(group_digits_base3[26], 42);
    EXPECT_EQ(group_digits_base5[25], 64);
    EXPECT_EQ(group_digits_base11[11], 16);
    for (std::size_t g = 27; g < 32; ++g) EXPECT_EQ(group_digits_base3[g], 0) << g;
    for (std::size_t g = 125; g < 128; ++g) EXPECT_EQ(group_digits_base5[g], 0) << g;
    for (std::size_t g = 121; g < 128; ++g) EXPECT_EQ(group_digits_base11[g], 0) << g;
}

TEST(AcmBlockUnpacker, WorkedBlockWithTheLastMethodCodeBeyondTheFile) {
    Unpacker u({0x31, 0x00, 0x60, 0x6B}, 1, 2);
    EXPECT_EQ(u.next(), (Block{3, 0, -6, 0}));
    // Blocks wholly beyond the end are all zeros and never fail.
    EXPECT_EQ(u.next(), (Block{0, 0, 0, 0}));
}

TEST(AcmBlockUnpacker, EveryPrefixCodewordDecodesToItsValue) {
    for (const acm_test::PrefixCode& p : prefix_codes) {
        for (int k = -p.limit; k <= p.limit; ++k) {
            // Two rows: the value, then a 1 in a 3-bit linear column behind it shows that
            // exactly the codeword's bits were taken.
            BitStreamBuilder s;
            s.put_block_head(3, 10);
            s.put_method(p.code);
            s.put_pattern(p.words[k + 4]);
            s.put_pattern(p.words[4 + 1]);
            put_column(s, 3, {1, -1});
            EXPECT_EQ(Unpacker(s.bytes(), 1, 2).next(), (Block{10 * k, 10, 10, -10}))
                << "code " << p.code << " k " << k;
        }
    }
}

TEST(AcmBlockUnpacker, ZeroPairCoversTwoRowsOrTheLastOne) {
    BitStreamBuilder s;
    s.put_block_head(2, 4);
    s.put_method(23);
    s.put_pattern("0");     // rows 0 and 1
    s.put_pattern("1101");  // row 2: +1
    s.put_pattern("0");     // row 3, the last: one zero, one bit
    put_column(s, 3, {1, 2, 3, -4});
    EXPECT_EQ(Unpacker(s.bytes(), 1, 4).next(), (Block{0, 4, 0, 8, 4, 12, 0, -16}));

    // Without the pair symbol a lone 0 is a single zero.
    BitStreamBuilder t;
    t.put_block_head(1, 4);
    t.put_method(18);
    t.put_pattern("0");
    t.put_pattern("11");
    EXPECT_EQ(Unpacker(t.bytes(), 0, 2).next(), (Block{0, 4}));
}

TEST(AcmBlockUnpacker, GroupsAreReadWholeAndUndefinedValuesDecodeLikeZero) {
    // 16 rows of packed3_5bit take six groups (30 bits); the column behind starts right after.
    std::vector<int> k16;
    for (int r = 0; r < 16; ++r) k16.push_back(r % 3 - 1);
    BitStreamBuilder s;
    s.put_block_head(1, 2);
    put_column(s, 19, k16);
    EXPECT_EQ(s.bits(), 4 + 16 + 5 + 30);
    put_column(s, 29, std::vector<int>(16, 1));  // eight groups of two
    put_column(s, 22, std::vector<int>(16, -2));
    put_column(s, 0, std::vector<int>(16, 0));
    Block expected;
    for (int r = 0; r < 16; ++r) {
        expected.insert(expected.end(), {2 * (r % 3 - 1), 2, -4, 0});
    }
    EXPECT_EQ(Unpacker(s.bytes(), 2, 16).next(), expected);

    // Three rows; the fourth column's code comes from beyond the end of the file.
    BitStreamBuilder t;
    t.put_block_head(3, 3);
    t.put_method(19);
    t.put(31, 5);
    t.put_method(22);
    t.put(127, 7);
    t.put_method(29);
    t.put(127, 7);
    t.put(127, 7);
    EXPECT_EQ(Unpacker(t.bytes(), 2, 3).next(),
              (Block{-3, -6, -15, 0, -3, -6, -15, 0, -3, -6, -15, 0}));
}

TEST(AcmBlockUnpacker, MethodWithoutDecoderFailsAndTheNextBlockFollowsItsCode) {
    for (int code : {1, 2, 25, 28, 30, 31}) {
        BitStreamBuilder s;
        s.put_block_head(2, 3);
        put_column(s, 3, {1, 2});
        s.put_method(code);  // second column
        s.put_block_head(1, 5);
        put_column(s, 4, {-1, 1});
        put_column(s, 0, {0, 0});
        Unpacker u(s.bytes(), 1, 2);
        EXPECT_EQ(u.next(false), (Block{3, untouched, 6, untouched})) << code;
        EXPECT_EQ(u.next(), (Block{-5, 0, 5, 0})) << code;
    }
    // The same in a block wide enough to be decoded a tile of columns at a time: the 20
    // columns before the failing one are written, across a tile's end, and no other.
    BitStreamBuilder wide;
    wide.put_block_head(3, 2);
    for (int j = 0; j < 20; ++j) put_column(wide, 4, {j % 8, -j % 8});
    wide.put_method(30);
    Unpacker w(wide.bytes(), 9, 2);
    const Block got = w.next(false);
    for (int j = 0; j < 512; ++j) {
        EXPECT_EQ(got[static_cast<std::size_t>(j)], j < 20 ? 2 * (j % 8) : untouched) << j;
        EXPECT_EQ(got[static_cast<std::size_t>(512 + j)], j < 20 ? -2 * (j % 8) : untouched) << j;
    }

    // Code 25 in the first column fails after 4 + 16 + 5 bits.
    BitStreamBuilder s;
    s.put_block_head(0, 1);
    s.put_method(25);
    EXPECT_EQ(s.bits(), 25);
    s.put_block_head(2, 1);
    put_column(s, 3, {3});
    Unpacker u(s.bytes(), 0, 1);
    EXPECT_EQ(u.next(false), (Block{untouched}));
    EXPECT_EQ(u.next(), (Block{3}));
}

TEST(AcmBlockUnpacker, BlocksContinueMidByteAndCutStreamsReadZeroBits) {
    // 4 + 16 + 5 + 3 = 28 bits per block: every other block begins inside a byte. Many blocks
    // cross the read buffer refills of the unpacker.
    BitStreamBuilder s;
    const int blocks = 50000;
    for (int i = 0; i < blocks; ++i) {
        s.put_block_head(2, i % 1000 + 1);
        put_column(s, 3, {i % 8 - 4});
    }
    // Without the last byte the last block's method code and field read as zero bits.
    std::vector<std::uint8_t> bytes = s.bytes();
    bytes.pop_back();
    Unpacker u(bytes, 0, 1);
    for (int i = 0; i < blocks - 1; ++i) {
        const Block b = u.next();
        ASSERT_EQ(b[0], (i % 8 - 4) * (i % 1000 + 1)) << i;
    }
    EXPECT_EQ(u.next(), (Block{0}));
    EXPECT_EQ(u.next(), (Block{0}));
}

}  // namespace
}  // namespace vellox
