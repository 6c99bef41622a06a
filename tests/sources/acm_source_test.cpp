// The ACM source and the subband synthesis: header checks, the worked examples, reads across
// block ends and failed blocks, and a comparison with a plain reference decoder on seeded
// random and hostile files.

#include "sources/acm_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "acm/byte_stream.h"
#include "acm/subband_synthesis.h"
#include "codec/acm_decoder.h"
#include "common/alloc.h"
#include "common/test_seed.h"
#include "sources/acm_stream_builder.h"
#include "sources/reference_decoder.h"

namespace vellox {
namespace {

using acm_test::acm_file_bytes;
using acm_test::BitStreamBuilder;
using acm_test::put_column;
using acm_test::ReferenceDecoder;
using acm_test::TempFile;
using Samples = std::vector<std::int16_t>;

// count samples read from source in one call; got receives read's result.
Samples read_samples(AcmSource& source, int count, std::int32_t* got = nullptr) {
    Samples buffer(static_cast<std::size_t>(count), 0x5A5A);
    const std::int32_t n = source.read(buffer.data(), count);
    if (got != nullptr) *got = n;
    return buffer;
}

TEST(SubbandSynthesis, WorkedBlocksAndCarriedState) {
    SubbandSynthesis two(2);
    ASSERT_EQ(two.allocate_state(), VELLOX_OK);
    std::vector<std::int32_t> block = {10, 0, 0, 0, 10, 0, 0, 0};
    two.inverse_transform(block.data(), 2);
    EXPECT_EQ(block, (std::vector<std::int32_t>{11, 22, 32, 42, 42, 42, 42, 42}));
    EXPECT_EQ(two.carried_pair(1, 0), std::make_pair(10, 0));
    EXPECT_EQ(two.carried_pair(1, 1), std::make_pair(0, 0));
    EXPECT_EQ(two.carried_pair(2, 0), std::make_pair(21, 0));

    for (const auto& xy : {std::make_pair(5, 3), std::make_pair(-32768, 32767)}) {
        SubbandSynthesis one(1);
        ASSERT_EQ(one.allocate_state(), VELLOX_OK);
        std::vector<std::int32_t> pair = {xy.first, xy.second};
        one.inverse_transform(pair.data(), 1);
        EXPECT_EQ(pair, (std::vector<std::int32_t>{xy.first + 1, 2 * xy.first - xy.second + 1}));
    }

    SubbandSynthesis none(0);
    ASSERT_EQ(none.allocate_state(), VELLOX_OK);
    std::vector<std::int32_t> same = {7, -3};
    none.inverse_transform(same.data(), 2);
    EXPECT_EQ(same, (std::vector<std::int32_t>{7, -3}));
}

TEST(AcmSource, WorkedFileReadsAsFourSamples) {
    TempFile file(acm_file_bytes(4, 1, 2, {0x31, 0x00, 0x60, 0x6B}));
    AcmSource source(file.name());
    ASSERT_TRUE(source.open().ok());
    EXPECT_EQ(source.total_samples, 4);
    EXPECT_EQ(source.remaining_samples, 4);
    std::int32_t got = 0;
    EXPECT_EQ(read_samples(source, 0, &got), Samples{});
    EXPECT_EQ(got, 0);
    EXPECT_EQ(source.remaining_samples, 4);  // a read of 0 decodes nothing
    EXPECT_EQ(read_samples(source, 6, &got), (Samples{2, 3, -1, -6, 0, 0}));
    EXPECT_EQ(got, 4);
    EXPECT_EQ(source.remaining_samples, 0);
    EXPECT_EQ(read_samples(source, 3, &got), (Samples{0, 0, 0}));
    EXPECT_EQ(got, 0);
    EXPECT_EQ(source.failed_blocks(), 0);
}

TEST(AcmSource, CarriesStateAcrossBlocksAndHandsOutOnlyTheSampleCount) {
    // levels 2, 2 rows: coefficient rows (10, 0, 0, 0) twice, then the same again; 12 samples
    // end inside the second block.
    BitStreamBuilder s;
    for (int i = 0; i < 2; ++i) {
        s.put_block_head(1, 10);
        put_column(s, 3, {1, 1});
        for (int j = 1; j < 4; ++j) put_column(s, 0, {0, 0});
    }
    TempFile file(acm_file_bytes(12, 2, 2, s.bytes()));
    AcmSource source(file.name());
    ASSERT_TRUE(source.open().ok());
    std::int32_t got = 0;
    EXPECT_EQ(read_samples(source, 3, &got), (Samples{2, 5, 8}));
    EXPECT_EQ(source.remaining_samples, 4);  // lowered per decoded block
    EXPECT_EQ(read_samples(source, 11, &got), (Samples{10, 10, 10, 10, 10, 10, 10, 10, 10, 0, 0}));
    EXPECT_EQ(got, 9);
    EXPECT_EQ(read_samples(source, 2, &got), (Samples{0, 0}));
    EXPECT_EQ(got, 0);
}

TEST(AcmSource, ShiftsWithSignAndSaturatesOutOfRangeValues) {
    // levels 1, 1 row: (23616, -32767) becomes (23617, 80000): 11808 and 40000 -> 32767; the
    // next pair (-32768, 0) becomes (-74685, -32768): -37343 -> -32768 and -16384.
    BitStreamBuilder s;
    s.put_block_head(15, 1);
    put_column(s, 16, {23616});
    put_column(s, 16, {-32767});
    s.put_block_head(15, 1);
    put_column(s, 16, {-32768});
    put_column(s, 16, {0});
    TempFile file(acm_file_bytes(4, 1, 1, s.bytes()));
    AcmSource source(file.name());
    ASSERT_TRUE(source.open().ok());
    EXPECT_EQ(read_samples(source, 4), (Samples{11808, 32767, -32768, -16384}));
}

TEST(AcmSource, LevelsZeroHandsOutTheCoefficients) {
    BitStreamBuilder s;
    s.put_block_head(3, 1000);
    put_column(s, 4, {-8, 7, 0});
    TempFile file(acm_file_bytes(3, 0, 3, s.bytes()));
    AcmSource source(file.name());
    ASSERT_TRUE(source.open().ok());
    EXPECT_EQ(read_samples(source, 3), (Samples{-8000, 7000, 0}));
}

TEST(AcmSource, FailedBlockGivesZerosToTheNextChunkWhereDecodingGoesOn) {
    // levels 0, 2 rows: a good block, a block with method 28, another good block.
    BitStreamBuilder s;
    s.put_block_head(2, 1);
    put_column(s, 3, {1, 2});
    s.put_block_head(2, 1);
    s.put_method(28);
    s.put_block_head(2, 1);
    put_column(s, 3, {3, -4});
    TempFile file(acm_file_bytes(4, 0, 2, s.bytes()));
    AcmSource source(file.name());
    ASSERT_TRUE(source.open().ok());
    std::int32_t got = 0;
    EXPECT_EQ(read_samples(source, 4, &got), (Samples{1, 2, 0, 0}));
    EXPECT_EQ(got, 4);
    EXPECT_EQ(source.failed_blocks(), 1);
    EXPECT_EQ(source.remaining_samples, 2);
    // The zeros run to the end of the program's first chunk of 65,536 values, whatever the
    // sizes it is read in.
    EXPECT_EQ(read_samples(source, 65530, &got), Samples(65530, 0));
    EXPECT_EQ(read_samples(source, 4, &got), (Samples{0, 0, 3, -4}));
    EXPECT_EQ(got, 4);
    EXPECT_EQ(read_samples(source, 4, &got), (Samples{0, 0, 0, 0}));
    EXPECT_EQ(got, 0);
    EXPECT_EQ(source.failed_blocks(), 1);
    // Of the 4 samples the header counts, the first two were decoded.
    EXPECT_EQ(source.samples_not_decoded(), 2);
}

TEST(AcmSource, RejectsWhatIsNoAcmStream) {
    const std::vector<std::uint8_t> good = acm_file_bytes(8, 1, 2, {});
    std::vector<std::uint8_t> short_file(good.begin(), good.begin() + 13);
    std::vector<std::uint8_t> no_rows = acm_file_bytes(8, 3, 0, {});
    std::vector<std::uint8_t> bad_magic = good;
    bad_magic[3] = 0x02;
    for (const auto& bytes : {short_file, no_rows, bad_magic}) {
        TempFile file(bytes);
        AcmSource source(file.name());
        const OpenResult result = source.open();
        EXPECT_EQ(result, OpenResult::refused(Refusal::not_an_acm_file));
        EXPECT_TRUE(result.not_this_kind());
    }

    // A file that cannot be opened at all is no kind's.
    const std::string missing = testing::TempDir() + "/no_such_vellox_input.acm";
    AcmSource source(missing.c_str());
    EXPECT_EQ(source.open(), OpenResult::failed(ENOENT));
    AcmSource directory(testing::TempDir().c_str());
    EXPECT_EQ(directory.open(), OpenResult::failed(EISDIR));
}

TEST(AcmSource, RefusesSampleCountsBeyondInt32) {
    TempFile too_long(acm_file_bytes(0x80000000u, 1, 2, {}));
    AcmSource source(too_long.name());
    EXPECT_EQ(source.open(), OpenResult::refused(Refusal::input_too_long));

    // The largest count that fits decodes zeros past the end of the file.
    TempFile longest(acm_file_bytes(0x7FFFFFFFu, 1, 2, {}));
    AcmSource fits(longest.name());
    ASSERT_TRUE(fits.open().ok());
    EXPECT_EQ(fits.total_samples, 0x7FFFFFFF);
    EXPECT_EQ(read_samples(fits, 5), (Samples{0, 0, 0, 0, 0}));
}

TEST(AcmSource, EveryFailingAllocationFailsTheOpenAndStopsDetection) {
    TempFile file(acm_file_bytes(4, 1, 2, {0x31, 0x00, 0x60, 0x6B}));
    // block, unpacker, read buffer, synthesis, carried state
    for (int n = 1; n <= 5; ++n) {
        auto source = std::make_unique<AcmSource>(file.name());
        fail_allocation_number(n);
        const OpenResult result = source->open();
        fail_allocation_number(0);
        EXPECT_EQ(result, OpenResult::refused(Refusal::no_memory)) << n;
        EXPECT_FALSE(result.not_this_kind());
    }
    AcmSource source(file.name());
    EXPECT_TRUE(source.open().ok());
}

// Levels 0 and 2 rows: a block is its head, the method code and two 3-bit fields, 31 bits;
// one with method 28 stops after 25.
TEST(AcmDecoder, CountsTheBytesThatFollowTheLastBlock) {
    const auto good_block = [](BitStreamBuilder& s) {
        s.put_block_head(2, 1);
        put_column(s, 3, {1, 2});
    };
    BitStreamBuilder one;
    good_block(one);
    BitStreamBuilder two;  // a block more than a count of 2 needs
    good_block(two);
    good_block(two);
    BitStreamBuilder failed;  // the failed block's successor starts behind its method code
    good_block(failed);
    failed.put_block_head(2, 1);
    failed.put_method(28);
    good_block(failed);
    ASSERT_EQ(failed.bits(), 87);
    const auto plus = [](std::vector<std::uint8_t> bytes, std::size_t more) {
        bytes.resize(bytes.size() + more, 0);
        return bytes;
    };
    const std::vector<std::uint8_t> cut(one.bytes().begin(), one.bytes().begin() + 2);
    const struct {
        std::uint32_t sample_count;
        std::vector<std::uint8_t> stream;
        std::int64_t trailing;
    } cases[] = {
        {2, one.bytes(), 0},    {2, plus(one.bytes(), 1), 1},    {2, cut, 0}, {2, two.bytes(), 4},
        {4, failed.bytes(), 0}, {4, plus(failed.bytes(), 2), 2}, {0, {}, 0},  {0, {0, 0, 7}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.sample_count << " samples, " << c.stream.size() << " bytes");
        const std::vector<std::uint8_t> bytes = acm_file_bytes(c.sample_count, 0, 2, c.stream);
        MemorySource source(bytes.data(), bytes.size());
        AcmDecoder decoder(source);
        ASSERT_EQ(decoder.open(), VELLOX_OK);
        Samples samples(c.sample_count);
        (void)decoder.read(samples.data(), static_cast<std::int32_t>(c.sample_count));
        std::int64_t trailing = -1;
        EXPECT_EQ(decoder.trailing_bytes(&trailing), VELLOX_OK);
        EXPECT_EQ(trailing, c.trailing);
    }
}

TEST(AcmDecoder, MatchesThePlainReferenceDecoderOnRandomAndHostileFiles) {
    const std::uint32_t first_seed = test::test_seed(1);
    for (std::uint32_t seed = first_seed; seed - first_seed < 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        // Mostly small shapes; some of the largest levels, whose sums wrap around.
        const bool wide = seed % 16 == 0;
        const int levels = wide ? 12 + static_cast<int>(rng() % 4) : static_cast<int>(rng() % 8);
        const int rows = wide ? 1 + static_cast<int>(rng() % 2) : 1 + static_cast<int>(rng() % 20);
        const int block_size = rows << levels;
        const int blocks = 1 + static_cast<int>(rng() % 4);

        BitStreamBuilder s;
        const int kind = static_cast<int>(rng() % 4);  // valid, + garbage, garbage, cut short
        if (kind != 2) {
            for (int b = 0; b < blocks; ++b) acm_test::put_random_block(s, rng, levels, rows);
        }
        std::vector<std::uint8_t> stream = s.bytes();
        if (kind == 1 || kind == 2) {
            const std::size_t garbage = rng() % (4 * static_cast<std::size_t>(block_size) + 8);
            for (std::size_t i = 0; i < garbage; ++i)
                stream.push_back(static_cast<std::uint8_t>(rng()));
        }
        if (kind == 3 && !stream.empty()) stream.resize(rng() % stream.size());
        const auto sample_count = static_cast<std::uint32_t>(
            (rng() % static_cast<unsigned>(blocks + 2)) * static_cast<unsigned>(block_size) +
            rng() % static_cast<unsigned>(block_size));

        const std::vector<std::uint8_t> bytes = acm_file_bytes(sample_count, levels, rows, stream);
        TempFile file(bytes);
        // Short spans, so that the zeros of failed blocks end within the test.
        const std::int64_t span = 1 + rng() % (3 * static_cast<unsigned>(block_size));
        MemorySource source(bytes.data(), bytes.size());
        AcmDecoder decoder(source, span);
        ASSERT_EQ(decoder.open(), VELLOX_OK);
        ReferenceDecoder reference(file.name(), span);
        for (int call = 0; call < 40; ++call) {
            const int count = static_cast<int>(rng() % (2 * static_cast<unsigned>(block_size) + 3));
            Samples expected(static_cast<std::size_t>(count));
            const std::int32_t expected_got = reference.read(expected.data(), count);
            Samples samples(static_cast<std::size_t>(count), 0x5A5A);
            ASSERT_EQ(decoder.read(samples.data(), count), expected_got) << "call " << call;
            ASSERT_EQ(samples, expected) << "call " << call;
            ASSERT_EQ(decoder.remaining_samples(), reference.remaining);
            ASSERT_EQ(decoder.failed_blocks(), reference.failed);
            ASSERT_EQ(decoder.samples_not_decoded(), reference.not_decoded());
        }
        std::int64_t trailing = -1;
        ASSERT_EQ(decoder.trailing_bytes(&trailing), VELLOX_OK);
        EXPECT_EQ(trailing, reference.trailing_bytes());
        EXPECT_EQ(decoder.failed_blocks(), reference.failed);
    }
}

}  // namespace
}  // namespace vellox
