// BlockPacker: the worked blocks, the budget search, every column method, failures, and the
// packer against a plain transcription of the format (byte-at-a-time writer, per-value loops)
// on seeded random blocks.

#include "acm/block_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "acm/byte_stream.h"
#include "common/alloc.h"
#include "common/test_files.h"

namespace vellox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Block = std::vector<std::int16_t>;

Bytes read_all(const MemorySink& sink) { return Bytes(sink.data(), sink.data() + sink.size()); }

// The bytes of the stream a packer writes for blocks; checks that finish succeeds and that
// bytes_written is the number of bytes the sink took.
Bytes pack(std::int32_t columns, std::int32_t rows, std::int32_t bit_budget,
           const std::vector<Block>& blocks) {
    MemorySink sink;
    BlockPacker packer(sink, columns, rows, bit_budget);
    if (!packer.init()) {
        ADD_FAILURE() << "init failed";
        return {};
    }
    for (const Block& block : blocks) packer.pack_block(block.data());
    EXPECT_TRUE(packer.finish());
    EXPECT_FALSE(packer.write_failed());
    Bytes bytes = read_all(sink);
    EXPECT_EQ(packer.bytes_written(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
}

// A sink that fails every write.
class FullSink final : public ByteSink {
public:
    std::size_t write(const std::uint8_t* /*bytes*/, std::size_t /*size*/) override { return 0; }
};

// Expected streams, written field by field.
class Bits {
public:
    // A number of n bits, least significant bit first.
    Bits& field(std::uint32_t value, int n) {
        for (int i = 0; i < n; ++i) bits.push_back(((value >> i) & 1) != 0);
        return *this;
    }
    // A bit pattern in stream order, such as "110".
    Bits& pattern(const char* text) {
        for (; *text != '\0'; ++text) bits.push_back(*text == '1');
        return *this;
    }
    // The file bytes: the bits 8 to a byte from bit 0, without the zero bytes at the end.
    Bytes bytes() const { return test::stream_file_bytes(bits); }

private:
    std::vector<bool> bits;
};

// n bits of a stream starting at bit position; bits past the end read as 0.
std::uint32_t read_bits(const Bytes& bytes, std::int64_t position, int n) {
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        const std::int64_t bit = position + i;
        const auto byte = static_cast<std::size_t>(bit / 8);
        if (byte < bytes.size() && ((bytes[byte] >> (bit % 8)) & 1) != 0) value |= 1u << i;
    }
    return value;
}

// ---------------------------------------------------------------------------------------
// Reference packer: the stream format transcribed as directly as possible.

class ReferenceWriter {
public:
    void put_bits(std::uint32_t value, int n) {
        const int room = 32 - pending;
        const int first = n > room ? room : n;
        add(value & mask(first), first);
        if (n > first) add((value >> first) & mask(n - first), n - first);
    }

    void finish_bits() {
        flush_whole_bytes();
        if (pending == 0) return;
        accumulator &= (1u << pending) - 1;
        if (accumulator != 0) {
            write_held_zeros();
            out.push_back(static_cast<std::uint8_t>(accumulator));
        }
        accumulator = 0;
        pending = 0;
    }

    Bytes out;

private:
    static std::uint32_t mask(int f) { return f == 32 ? 0xFFFFFFFFu : (1u << f) - 1; }

    std::uint8_t byte(int i) const { return static_cast<std::uint8_t>(accumulator >> (8 * i)); }

    void add(std::uint32_t bits, int f) {
        accumulator |= bits << pending;
        pending += f;
        flush_whole_bytes();
    }

    void flush_whole_bytes() {
        const int w = pending / 8;
        if (w == 0) return;
        int t = 0;
        while (t < w && byte(w - 1 - t) == 0) ++t;
        if (w > t) {
            write_held_zeros();
            for (int i = 0; i < w - t; ++i) out.push_back(byte(i));
        }
        held_zero_bytes += t;
        accumulator = w == 4 ? 0 : accumulator >> (8 * w);
        pending -= 8 * w;
    }

    void write_held_zeros() {
        while (held_zero_bytes > 0) {
            const int n = std::min(held_zero_bytes, 4);
            out.insert(out.end(), static_cast<std::size_t>(n), 0);
            held_zero_bytes -= n;
        }
    }

    std::uint32_t accumulator = 0;
    int pending = 0;
    int held_zero_bytes = 0;
};

// Prefix codes of k = -m .. m in stream order; the pair methods' zero_pair is "0".
struct ReferenceCode {
    int method;
    bool pairs;
    int m;
    std::vector<const char*> patterns;
};

const ReferenceCode reference_codes[8] = {
    {17, true, 1, {"110", "10", "111"}},
    {18, false, 1, {"10", "0", "11"}},
    {20, true, 2, {"1100", "1110", "10", "1101", "1111"}},
    {21, false, 2, {"100", "110", "0", "101", "111"}},
    {23, true, 3, {"11100", "11110", "1100", "10", "1101", "11101", "11111"}},
    {24, false, 3, {"1100", "1110", "100", "0", "101", "1101", "1111"}},
    {26, true, 4, {"11000", "11100", "11010", "11110", "10", "11001", "11101", "11011", "11111"}},
    {27, false, 4, {"1000", "1100", "1010", "1110", "0", "1001", "1101", "1011", "1111"}},
};

class ReferencePacker {
public:
    ReferencePacker(int columns_, int rows_, int bit_budget_)
        : columns(columns_),
          rows(rows_),
          block_size(columns_ * rows_),
          bit_budget(bit_budget_),
          block(static_cast<std::size_t>((rows_ + 2) * columns_), 0),
          max_magnitude(static_cast<std::size_t>(columns_)),
          max_positive(static_cast<std::size_t>(columns_)) {}

    void pack_block(const std::int16_t* values) {
        const int step = choose_step(values);
        quantize_block(step);
        for (int j = 0; j < columns; ++j) code_column(j);
    }

    Bytes finish() {
        writer.finish_bits();
        return writer.out;
    }

private:
    int at(int row, int column) const {
        return block[static_cast<std::size_t>(row * columns + column)];
    }

    int choose_step(const std::int16_t* values) {
        std::fill(max_magnitude.begin(), max_magnitude.end(), 0);
        std::fill(max_positive.begin(), max_positive.end(), 0);
        int j = 0;
        for (int e = 0; e < block_size; ++e) {
            const int v = values[e];
            block[static_cast<std::size_t>(e)] = v;
            const auto column = static_cast<std::size_t>(j);
            if (v > 0) max_positive[column] = std::max(max_positive[column], v);
            max_magnitude[column] = std::max(max_magnitude[column], std::abs(v));
            if (++j == columns) j = 0;
        }
        int g = 0;
        for (int e = 0; e < block_size; ++e) {
            int a = std::abs(block[static_cast<std::size_t>(e)]);
            while (a != 0) {
                const int r = g % a;
                g = a;
                a = r;
            }
        }
        const int s0 = g == 0 ? 1 : g;
        if (bit_budget == -1 || fits(s0)) return s0;
        int last = s0;
        int d = 16;
        while (!fits(last + d)) {
            last += d;
            d *= 2;
        }
        int first = last + 1;
        int count = d - 1;
        while (count > 0) {
            const int half = count / 2;
            const int mid = first + half;
            if (!fits(mid)) {
                first = mid + 1;
                count = count - half - 1;
            } else {
                count = half;
            }
        }
        return first;
    }

    bool fits(int s) const { return estimate_bits(s) <= static_cast<double>(bit_budget); }

    double estimate_bits(int s) const {
        double sum = 0;
        for (int j = 0; j < columns; ++j) {
            const auto column = static_cast<std::size_t>(j);
            sum += bits_per_value(max_magnitude[column] / s, max_positive[column] / s);
        }
        return sum * rows;
    }

    static double bits_per_value(int a, int b) {
        switch (a) {
            case 0:
                return 0;
            case 1:
                return 5.0 / 3.0;
            case 2:
                return 7.0 / 3.0;
            case 3:
                return 3;
            case 4:
                return b <= 3 ? 3 : 3.5;
            case 5:
                return 3.5;
            default:
                return linear_width(a, b);
        }
    }

    static int linear_width(int a, int b) {
        int n = 0;
        while ((1 << n) < std::max(a, b + 1)) ++n;
        return n + 1;
    }

    void quantize_block(int step) {
        int x = 1;
        for (int e = 0; e < block_size; ++e) {
            const int k = block[static_cast<std::size_t>(e)] / step;
            block[static_cast<std::size_t>(e)] = k;
            x = std::max(x, k < 0 ? -k : k + 1);
        }
        int range_bits = 0;
        while ((1 << range_bits) < x) ++range_bits;
        writer.put_bits(static_cast<std::uint32_t>(range_bits), 4);
        writer.put_bits(static_cast<std::uint32_t>(step), 16);
    }

    void code_column(int j) {
        int magnitude = 0, positive = 0, ones = 0, zeros = 0, pairs = 0;
        for (int i = 0; i < rows;) {
            const int k = at(i, j);
            if (k != 0) {
                magnitude = std::max(magnitude, std::abs(k));
                if (k > 0) positive = std::max(positive, k);
                if (std::abs(k) == 1) ++ones;
                ++i;
            } else {
                ++zeros;
                if (at(i + 1, j) != 0) {
                    ++i;
                } else {
                    ++pairs;
                    if (i + 1 < rows) ++zeros;
                    i += 2;
                }
            }
        }
        const bool pairs_test = 3 * pairs > rows;
        switch (magnitude) {
            case 0:
                writer.put_bits(0, 5);
                return;
            case 1:
                if (pairs_test) return put_prefix(0, j);
                if (3 * zeros > rows) return put_prefix(1, j);
                return put_packed3_5bit(j);
            case 2:
                if (pairs_test) return put_prefix(2, j);
                if (3 * zeros > rows) return put_prefix(3, j);
                return put_packed3_7bit(j);
            case 3:
                if (pairs_test) return put_prefix(4, j);
                if (3 * zeros + ones > rows) return put_prefix(5, j);
                return put_linear(3, j);
            case 4:
                if (positive <= 3) {
                    if (pairs_test) return put_prefix(6, j);
                    if (3 * zeros > rows) return put_prefix(7, j);
                    return put_linear(3, j);
                }
                if (pairs_test) return put_prefix(6, j);
                if (6 * zeros > rows) return put_prefix(7, j);
                return put_packed2_7bit(j);
            case 5:
                return put_packed2_7bit(j);
            default:
                return put_linear(linear_width(magnitude, positive), j);
        }
    }

    void put_pattern(const char* pattern) {
        for (; *pattern != '\0'; ++pattern) writer.put_bits(*pattern == '1' ? 1 : 0, 1);
    }

    void put_prefix(int row, int j) {
        const ReferenceCode& code = reference_codes[row];
        writer.put_bits(static_cast<std::uint32_t>(code.method), 5);
        for (int i = 0; i < rows;) {
            if (code.pairs && at(i, j) == 0 && at(i + 1, j) == 0) {
                writer.put_bits(0, 1);
                i += 2;
            } else {
                put_pattern(code.patterns[static_cast<std::size_t>(at(i, j) + code.m)]);
                ++i;
            }
        }
    }

    void put_linear(int w, int j) {
        writer.put_bits(static_cast<std::uint32_t>(w), 5);
        for (int i = 0; i < rows; ++i) {
            writer.put_bits(static_cast<std::uint32_t>(at(i, j) + (1 << (w - 1))), w);
        }
    }

    void put_packed3_5bit(int j) {
        writer.put_bits(19, 5);
        for (int i = 0; i < rows; i += 3) {
            const int g = at(i, j) + 3 * at(i + 1, j) + 9 * at(i + 2, j) + 13;
            writer.put_bits(static_cast<std::uint32_t>(g), 5);
        }
    }

    void put_packed3_7bit(int j) {
        writer.put_bits(22, 5);
        for (int i = 0; i < rows; i += 3) {
            const int g = at(i, j) + 5 * at(i + 1, j) + 25 * at(i + 2, j) + 62;
            writer.put_bits(static_cast<std::uint32_t>(g), 7);
        }
    }

    void put_packed2_7bit(int j) {
        writer.put_bits(29, 5);
        for (int i = 0; i < rows; i += 2) {
            const int g = at(i, j) + 11 * at(i + 1, j) + 60;
            writer.put_bits(static_cast<std::uint32_t>(g), 7);
        }
    }

    int columns;
    int rows;
    int block_size;
    int bit_budget;
    std::vector<int> block;  // rows + 2 rows
    std::vector<int> max_magnitude;
    std::vector<int> max_positive;
    ReferenceWriter writer;
};

Bytes reference_pack(int columns, int rows, int bit_budget, const std::vector<Block>& blocks) {
    ReferencePacker packer(columns, rows, bit_budget);
    for (const Block& block : blocks) packer.pack_block(block.data());
    return packer.finish();
}

// ---------------------------------------------------------------------------------------
// Worked blocks.

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

TEST(BlockPacker, BudgetSearchFindsTheSmallestFittingStep) {
    // Estimates 32 at step 1, 14 at 17, 9.33 at 49, 0 at 113; then 81 .. 51 fit and 50 does
    // not: step 51, coded 1, 0, 0, 0 as vlc1_pairs.
    EXPECT_EQ(pack(1, 4, 8, {{100, -50, 30, 7}}), (Bytes{0x31, 0x03, 0x10, 0x0F}));
    // A budget of 10 takes coded magnitudes up to 2 (9.33 bits): 100 / 34 is the first.
    EXPECT_EQ(read_bits(pack(1, 4, 10, {{100, -50, 30, 7}}), 4, 16), 34u);
}

TEST(BlockPacker, ZeroBudgetGivesTheLargestMagnitudePlusOne) {
    const Block values = {5, -1234, 0, 7, 100, 3, -2, 0, 1000, 0, 0, 1};
    Bits expected;
    expected.field(0, 4).field(1235, 16);
    for (int j = 0; j < 4; ++j) expected.field(0, 5);
    EXPECT_EQ(pack(4, 3, 0, {values}), expected.bytes());
    // -32768 needs the largest step of all, 32769.
    EXPECT_EQ(read_bits(pack(1, 2, 0, {{-32768, 1}}), 4, 16), 32769u);
}

TEST(BlockPacker, BudgetThatAlwaysFitsKeepsTheDivisor) {
    const Block values = {6, -9, 12, 0};
    const Bytes exact = pack(2, 2, -1, {values});
    EXPECT_EQ(pack(2, 2, INT32_MAX, {values}), exact);
    // Below -1 no step could fit: taken as no limit.
    EXPECT_EQ(pack(2, 2, -5, {values}), exact);
}

// ---------------------------------------------------------------------------------------
// Column methods.

TEST(BlockPacker, PairMethodWritesZeroPairsAndALastLoneZero) {
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

TEST(BlockPacker, DenseColumnsArePackedInGroups) {
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

TEST(BlockPacker, LinearWidthHoldsEveryCodedInteger) {
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

// ---------------------------------------------------------------------------------------
// The packer against the reference on seeded random blocks of many shapes.

// Values of one kind: silence, narrow with zeros, full range, subband-like (large in the first
// columns, small in the last), sparse clicks, multiples of a common factor, extremes.
Block random_block(std::mt19937& random, int columns, int rows, int kind) {
    Block block(static_cast<std::size_t>(columns * rows), 0);
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int factor = uniform(2, 300);
    std::vector<int> column_range(static_cast<std::size_t>(columns));
    std::vector<int> column_zeros(static_cast<std::size_t>(columns));
    for (int j = 0; j < columns; ++j) {
        column_range[static_cast<std::size_t>(j)] = uniform(1, 6);
        column_zeros[static_cast<std::size_t>(j)] = uniform(0, 3);
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            int v = 0;
            switch (kind) {
                case 0:
                    break;
                case 1:
                    // Each column its own small range and share of zeros.
                    v = uniform(0, 3) >= column_zeros[static_cast<std::size_t>(j)]
                            ? uniform(-column_range[static_cast<std::size_t>(j)],
                                      column_range[static_cast<std::size_t>(j)])
                            : 0;
                    break;
                case 2:
                    v = uniform(-6, 6);
                    break;
                case 3:
                    v = uniform(-32768, 32767);
                    break;
                case 4: {
                    const int scale = 20000 >> (j * 14 / columns);
                    v = uniform(-scale, scale);
                    break;
                }
                case 5:
                    v = uniform(0, 40) == 0 ? uniform(-3000, 3000) : 0;
                    break;
                case 6:
                    v = std::clamp(factor * uniform(-40, 40), -32768, 32767) / factor * factor;
                    break;
                default: {
                    static constexpr int extremes[] = {-32768, 32767, 0, -1, 1, 16384, -16385};
                    v = extremes[uniform(0, 6)];
                    break;
                }
            }
            block[static_cast<std::size_t>(i * columns + j)] = static_cast<std::int16_t>(v);
        }
    }
    return block;
}

// The base seed can be set through VELLOX_TEST_SEED to replay a failure.
std::uint32_t base_seed() {
    const char* text = std::getenv("VELLOX_TEST_SEED");
    return text != nullptr ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10)) : 1;
}

TEST(BlockPacker, MatchesTheReferenceOnRandomBlocks) {
    const std::uint32_t first_seed = base_seed();
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
        SCOPED_TRACE(testing::Message() << "seed " << seed << ": columns " << columns << ", rows "
                                        << rows << ", budget " << budget);
        ASSERT_EQ(pack(columns, rows, budget, blocks),
                  reference_pack(columns, rows, budget, blocks));
    }
}

TEST(BlockPacker, MatchesTheReferenceAtTheLargestShapes) {
    std::mt19937 random(base_seed());
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
    std::mt19937 random(base_seed());
    for (const int block_count : {1, 200}) {  // caught by the last flush; caught while packing
        SCOPED_TRACE(block_count);
        BlockPacker packer(full, 128, 16, -1);
        ASSERT_TRUE(packer.init());
        for (int b = 0; b < block_count; ++b)
            packer.pack_block(random_block(random, 128, 16, 3).data());
        EXPECT_FALSE(packer.finish());
        EXPECT_TRUE(packer.write_failed());
        EXPECT_EQ(packer.bytes_written(), 0);
    }
}

TEST(BlockPacker, InitFailsCleanlyOnSizesAndAllocations) {
    MemorySink file;
    {
        BlockPacker no_rows(file, 128, 0, -1);
        EXPECT_FALSE(no_rows.init());
        BlockPacker no_columns(file, 0, 16, -1);
        EXPECT_FALSE(no_columns.init());
        // Two extra rows of 32768 columns past 65534 rows would not fit 32-bit indexes.
        BlockPacker too_large(file, 32768, 65534, -1);
        EXPECT_FALSE(too_large.init());
        BlockPacker huge(file, INT32_MAX, INT32_MAX, -1);
        EXPECT_FALSE(huge.init());
        EXPECT_FALSE(huge.finish());
    }
    const std::int64_t before = allocation_count();
    {
        BlockPacker packer(file, 4, 3, -1);
        ASSERT_TRUE(packer.init());
    }
    const std::int64_t allocations = allocation_count() - before;
    for (std::int64_t n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        fail_allocation_number(n);
        BlockPacker packer(file, 4, 3, -1);
        EXPECT_FALSE(packer.init());
        fail_allocation_number(0);
    }
    EXPECT_EQ(file.size(), 0U);
}

}  // namespace
}  // namespace vellox
