// The packer's high-quality mode, checked on the stream it writes: every block decodes with
// its coded integers inside the block's range and the reconstructed values inside 16 bits,
// each value is rounded to the nearest level, each column takes the cheapest method that holds
// it, and the stream never runs more than 1/256 past the standard mode's bits.

#include "acm/hq_quantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "acm/block_packer.h"
#include "acm/byte_stream.h"
#include "common/alloc.h"
#include "common/test_seed.h"
#include "sources/acm_stream_builder.h"

namespace vellox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Block = std::vector<std::int16_t>;

Bytes pack(std::int32_t columns, std::int32_t rows, std::int32_t bit_budget, bool high_quality,
           std::int64_t lookahead_bytes, const std::vector<Block>& blocks) {
    MemorySink sink;
    BlockPacker packer(sink, columns, rows, bit_budget);
    packer.set_high_quality(high_quality, lookahead_bytes);
    if (packer.init() != VELLOX_OK) {
        ADD_FAILURE() << "init failed";
        return {};
    }
    for (const Block& block : blocks) packer.pack_block(block.data());
    EXPECT_EQ(packer.finish(), VELLOX_OK);
    EXPECT_EQ(packer.bytes_written(), static_cast<std::int64_t>(sink.size()));
    return Bytes(sink.data(), sink.data() + sink.size());
}

// ---------------------------------------------------------------------------------------
// The block stream read back as plainly as the format allows.

// The prefix codes in stream order (acm_test::prefix_codes: k = -limit .. limit at k + 4); a pair
// method reads a lone 0 as two zeros.
using acm_test::PrefixCode;

const PrefixCode* prefix_code(int method) {
    for (const PrefixCode& code : acm_test::prefix_codes)
        if (code.code == method) return &code;
    return nullptr;
}

// Groups: (values per group, bits per group, base, lowest value).
struct Group {
    int size;
    int bits;
    int base;
    int low;
};

bool group_of(int method, Group& group) {
    if (method == 19) group = {3, 5, 3, -1};
    if (method == 22) group = {3, 7, 5, -2};
    if (method == 29) group = {2, 7, 11, -5};
    return method == 19 || method == 22 || method == 29;
}

// The lowest and highest coded integer a method holds.
std::pair<int, int> method_range(int method) {
    if (method == 0) return {0, 0};
    if (method >= 3 && method <= 16) return {-(1 << (method - 1)), (1 << (method - 1)) - 1};
    if (const PrefixCode* code = prefix_code(method)) return {-code->limit, code->limit};
    Group g{};
    if (group_of(method, g)) return {g.low, -g.low};
    return {1, 0};  // no decoder: holds nothing
}

// Bits a method writes for a column of coded integers, its code included.
long method_bits(int method, const std::vector<int>& k) {
    const auto rows = static_cast<long>(k.size());
    long bits = 5;
    Group g{};
    if (method >= 3 && method <= 16) return bits + method * rows;
    if (group_of(method, g)) return bits + g.bits * ((rows + g.size - 1) / g.size);
    if (const PrefixCode* code = prefix_code(method)) {
        for (long i = 0; i < rows;) {
            const bool next_zero = i + 1 == rows || k[static_cast<std::size_t>(i + 1)] == 0;
            if (code->pairs && k[static_cast<std::size_t>(i)] == 0 && next_zero) {
                bits += 1;
                i += 2;
            } else {
                bits +=
                    static_cast<long>(std::strlen(code->words[k[static_cast<std::size_t>(i)] + 4]));
                i += 1;
            }
        }
    }
    return bits;
}

class StreamReader {
public:
    explicit StreamReader(const Bytes& stream) : bytes(stream) {}
    int bit() {
        const auto byte = static_cast<std::size_t>(position / 8);
        const int b = byte < bytes.size() ? (bytes[byte] >> (position % 8)) & 1 : 0;
        ++position;
        return b;
    }
    int field(int n) {
        int value = 0;
        for (int i = 0; i < n; ++i) value |= bit() << i;
        return value;
    }
    long position = 0;

private:
    const Bytes& bytes;
};

struct ReadBlock {
    int range_bits = 0;
    int step = 0;
    std::vector<int> methods;         // per column
    std::vector<std::vector<int>> k;  // per column, per row
    long bits = 0;
    bool valid = true;
};

ReadBlock read_block(StreamReader& in, int columns, int rows) {
    ReadBlock block;
    const long start = in.position;
    block.range_bits = in.field(4);
    block.step = in.field(16);
    for (int j = 0; j < columns; ++j) {
        const int method = in.field(5);
        block.methods.push_back(method);
        std::vector<int> k(static_cast<std::size_t>(rows), 0);
        Group g{};
        if (method >= 3 && method <= 16) {
            for (int& v : k) v = in.field(method) - (1 << (method - 1));
        } else if (group_of(method, g)) {
            for (int i = 0; i < rows; i += g.size) {
                int number = in.field(g.bits);
                for (int d = 0; d < g.size; ++d, number /= g.base) {
                    if (i + d < rows) k[static_cast<std::size_t>(i + d)] = number % g.base + g.low;
                }
            }
        } else if (const PrefixCode* code = prefix_code(method)) {
            for (int i = 0; i < rows;) {
                std::string word(1, static_cast<char>('0' + in.bit()));
                if (code->pairs && word == "0") {
                    i += 2;  // both rows stay 0
                    continue;
                }
                int value = -code->limit - 1;
                while (value < -code->limit) {
                    for (int v = -code->limit; v <= code->limit; ++v) {
                        if (word == code->words[v + 4]) value = v;
                    }
                    if (value < -code->limit) word.push_back(static_cast<char>('0' + in.bit()));
                }
                k[static_cast<std::size_t>(i++)] = value;
            }
        } else if (method != 0) {
            block.valid = false;
            return block;
        }
        block.k.push_back(k);
    }
    block.bits = in.position - start;
    return block;
}

std::vector<ReadBlock> read_stream(const Bytes& stream, int columns, int rows, std::size_t count) {
    StreamReader in(stream);
    std::vector<ReadBlock> blocks;
    while (blocks.size() < count) blocks.push_back(read_block(in, columns, rows));
    return blocks;
}

long total_bits(const std::vector<ReadBlock>& blocks) {
    long bits = 0;
    for (const ReadBlock& b : blocks) bits += b.bits;
    return bits;
}

// v / step rounded to the nearest integer, halves toward zero, then kept where k * step stays
// in 16 bits.
int rounded(int v, int step) {
    const int magnitude = v < 0 ? -v : v;
    const int k = std::min((2 * magnitude + step - 1) / (2 * step), (v < 0 ? 32768 : 32767) / step);
    return v < 0 ? -k : k;
}

// Checks one high-quality block against the values it was made from.
void check_block(const ReadBlock& read, const Block& values, int columns, int rows) {
    ASSERT_TRUE(read.valid);
    ASSERT_GE(read.step, 1);
    ASSERT_LE(read.step, 32769);
    int needed = 1;  // largest -k over negative k and k + 1 over the others
    for (int j = 0; j < columns; ++j) {
        const std::vector<int>& k = read.k[static_cast<std::size_t>(j)];
        const int method = read.methods[static_cast<std::size_t>(j)];
        long cheapest = 5 + 16L * rows;
        for (int other = 0; other < 32; ++other) {
            const auto range = method_range(other);
            const bool holds = std::all_of(
                k.begin(), k.end(), [&](int v) { return v >= range.first && v <= range.second; });
            if (holds) cheapest = std::min(cheapest, method_bits(other, k));
        }
        ASSERT_EQ(method_bits(method, k), cheapest) << "column " << j << " method " << method;
        for (int i = 0; i < rows; ++i) {
            const int v = values[static_cast<std::size_t>(i * columns + j)];
            const int coded = k[static_cast<std::size_t>(i)];
            ASSERT_EQ(coded, rounded(v, read.step)) << "row " << i << " column " << j;
            ASSERT_GE(coded * read.step, -32768);
            ASSERT_LE(coded * read.step, 32767);
            needed = std::max(needed, coded < 0 ? -coded : coded + 1);
        }
    }
    int range_bits = 0;
    while ((1 << range_bits) < needed) ++range_bits;
    EXPECT_EQ(read.range_bits, range_bits);
}

// Blocks that push the quantizer to its edges: full-scale squares, the clipped extremes,
// silence, single impulses, and seeded noise from loud to a few levels.
std::vector<Block> hostile_blocks(int columns, int rows, std::uint32_t seed) {
    const auto size = static_cast<std::size_t>(columns * rows);
    std::mt19937 random(seed);
    std::vector<Block> blocks;
    Block square(size);
    for (std::size_t e = 0; e < size; ++e) square[e] = (e / 3) % 2 ? 32767 : -32768;
    blocks.push_back(square);
    blocks.push_back(Block(size, -32768));
    blocks.push_back(Block(size, 32767));
    blocks.push_back(Block(size, 0));
    for (const int impulse : {32767, -32768, 1, -1, 20001}) {
        Block one(size, 0);
        one[random() % size] = static_cast<std::int16_t>(impulse);
        blocks.push_back(one);
    }
    for (const int amplitude : {32768, 3000, 40, 3, 1}) {
        Block noise(size);
        for (std::int16_t& v : noise) {
            const int x = static_cast<int>(random() % (2u * amplitude + 1)) - amplitude;
            v = static_cast<std::int16_t>(std::clamp(x, -32768, 32767));
        }
        blocks.push_back(noise);
    }
    std::shuffle(blocks.begin(), blocks.end(), random);
    return blocks;
}

struct Shape {
    int columns;
    int rows;
};

// levels 0, 1, 7 and 15 with a few row counts.
const Shape shapes[] = {{1, 1}, {1, 16}, {1, 777}, {2, 1}, {2, 5}, {128, 1}, {128, 16}, {32768, 1}};

TEST(HqQuantizer, EveryBlockIsRoundedInRangeAndWithItsCheapestMethods) {
    const std::uint32_t seed = test::test_seed(7);
    SCOPED_TRACE(test::seed_note(seed));
    for (const Shape& shape : shapes) {
        const std::vector<Block> blocks = hostile_blocks(shape.columns, shape.rows, seed);
        const int values = shape.columns * shape.rows;
        // From a fraction of a bit per value to more than the values need; the look-ahead
        // from none to all the blocks.
        for (const int budget : {0, values / 2 + 30, 3 * values, 20 * values}) {
            // Room for no block, and for every block (values and estimates).
            const std::int64_t all = static_cast<std::int64_t>(blocks.size()) * (2 * values + 512);
            for (const std::int64_t lookahead : {std::int64_t{0}, all}) {
                SCOPED_TRACE(testing::Message()
                             << "columns " << shape.columns << " rows " << shape.rows << " budget "
                             << budget << " look-ahead " << lookahead);
                const Bytes standard = pack(shape.columns, shape.rows, budget, false, 0, blocks);
                const Bytes high = pack(shape.columns, shape.rows, budget, true, lookahead, blocks);
                const std::vector<ReadBlock> read =
                    read_stream(high, shape.columns, shape.rows, blocks.size());
                for (std::size_t b = 0; b < blocks.size(); ++b) {
                    SCOPED_TRACE(b);
                    check_block(read[b], blocks[b], shape.columns, shape.rows);
                }
                const long limit =
                    total_bits(read_stream(standard, shape.columns, shape.rows, blocks.size()));
                EXPECT_LE(total_bits(read), limit + limit / 256);
            }
        }
    }
}

TEST(HqQuantizer, SpendsWhatTheStandardModeSpendsAndNoMore) {
    // Noise whose loudness swings from block to block, over many blocks: the look-ahead
    // slides, the estimate has to be corrected, and the last block takes what is left.
    const std::uint32_t seed = test::test_seed(11);
    SCOPED_TRACE(test::seed_note(seed));
    std::mt19937 random(seed);
    std::vector<Block> blocks;
    for (int b = 0; b < 300; ++b) {
        const double loudness = 20.0 + 4000.0 * (0.5 + 0.5 * std::sin(b * 0.07));
        std::normal_distribution<double> normal(0.0, loudness);
        Block block(128 * 16);
        for (std::size_t e = 0; e < block.size(); ++e)
            block[e] = static_cast<std::int16_t>(std::clamp<long>(
                std::lround(normal(random) / (1.0 + static_cast<double>(e % 128) / 8.0)), -32768,
                32767));
        blocks.push_back(block);
    }
    for (const int budget : {2048, 8192, 16384}) {
        const long standard = total_bits(
            read_stream(pack(128, 16, budget, false, 0, blocks), 128, 16, blocks.size()));
        for (const std::int64_t lookahead :
             {std::int64_t{0}, std::int64_t{40000}, std::int64_t{1} << 22}) {
            SCOPED_TRACE(testing::Message() << "budget " << budget << " look-ahead " << lookahead);
            const long high = total_bits(read_stream(pack(128, 16, budget, true, lookahead, blocks),
                                                     128, 16, blocks.size()));
            EXPECT_LE(high, standard + standard / 256);
            EXPECT_GE(high, standard - standard / 100);
        }
    }
}

TEST(HqQuantizer, CountsTheStandardModesBitsExactly) {
    // The standard stream's steps fed to the quantizer: its target is what that stream holds.
    const std::uint32_t seed = test::test_seed(9);
    SCOPED_TRACE(test::seed_note(seed));
    for (const Shape& shape : shapes) {
        if (shape.columns * shape.rows > 4096) continue;
        const std::vector<Block> blocks = hostile_blocks(shape.columns, shape.rows, seed);
        const int budget = 2 * shape.columns * shape.rows;
        const std::vector<ReadBlock> standard =
            read_stream(pack(shape.columns, shape.rows, budget, false, 0, blocks), shape.columns,
                        shape.rows, blocks.size());
        HqQuantizer quantizer(shape.columns, shape.rows, 0);
        ASSERT_EQ(quantizer.init(), VELLOX_OK);
        Block coded(static_cast<std::size_t>(shape.columns * shape.rows));
        std::vector<ColumnMethod> methods(static_cast<std::size_t>(shape.columns));
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            coded = blocks[b];
            quantizer.push(coded.data(), standard[b].step, 1);
            ASSERT_TRUE(quantizer.ready());
            (void)quantizer.pop(coded.data(), methods.data());
        }
        EXPECT_EQ(quantizer.standard_bits(), total_bits(standard))
            << "columns " << shape.columns << " rows " << shape.rows;
    }
}

TEST(HqQuantizer, WithoutABudgetTheStreamIsTheStandardOne) {
    const std::uint32_t seed = test::test_seed(3);
    SCOPED_TRACE(test::seed_note(seed));
    const std::vector<Block> blocks = hostile_blocks(128, 16, seed);
    EXPECT_EQ(pack(128, 16, -1, true, HqQuantizer::default_lookahead_bytes, blocks),
              pack(128, 16, -1, false, 0, blocks));
}

TEST(HqQuantizer, LookaheadIsBoundedInBytes) {
    HqQuantizer defaults(128, 16, HqQuantizer::default_lookahead_bytes);
    ASSERT_EQ(defaults.init(), VELLOX_OK);
    EXPECT_GT(defaults.lookahead_blocks(), 500);
    EXPECT_LE(defaults.lookahead_blocks() * 128 * 16 * 2, HqQuantizer::default_lookahead_bytes);
    // levels 15 with 4095 rows: 268 MB a block. Nothing is held back and nothing copied.
    const std::int64_t before = allocation_count();
    HqQuantizer largest(32768, 4095, HqQuantizer::default_lookahead_bytes);
    ASSERT_EQ(largest.init(), VELLOX_OK);
    EXPECT_EQ(largest.lookahead_blocks(), 1);
    EXPECT_LE(allocation_count() - before, 16);
}

TEST(HqQuantizer, FinishCodesTheHeldBlocksAndFailedAllocationsFailInit) {
    MemorySink file;
    const std::uint32_t seed = test::test_seed(1);
    SCOPED_TRACE(test::seed_note(seed));
    const std::vector<Block> blocks = hostile_blocks(4, 3, seed);
    {
        BlockPacker packer(file, 4, 3, 30);
        packer.set_high_quality(true);
        ASSERT_EQ(packer.init(), VELLOX_OK);
        for (const Block& block : blocks) packer.pack_block(block.data());
        EXPECT_EQ(packer.bytes_written(), 0);  // all held in the look-ahead
        ASSERT_EQ(packer.finish(), VELLOX_OK);
        EXPECT_GT(packer.bytes_written(), 0);
    }
    const std::int64_t before = allocation_count();
    {
        BlockPacker packer(file, 4, 3, 30);
        packer.set_high_quality(true);
        ASSERT_EQ(packer.init(), VELLOX_OK);
    }
    const std::int64_t allocations = allocation_count() - before;
    for (std::int64_t n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        fail_allocation_number(n);
        BlockPacker packer(file, 4, 3, 30);
        packer.set_high_quality(true);
        EXPECT_EQ(packer.init(), VELLOX_ERROR_MEMORY);
        fail_allocation_number(0);
    }
}

}  // namespace
}  // namespace vellox
