// The ACM source and the subband synthesis: header checks, the worked examples, reads across
// block ends and failed blocks, and a comparison with a plain reference decoder on seeded
// random and hostile files.

#include "sources/acm_source.h"

#include <gtest/gtest.h>

#include <algorithm>
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
#include "sources/acm_stream_builder.h"

namespace vellox {
namespace {

using acm_test::acm_file_bytes;
using acm_test::BitStreamBuilder;
using acm_test::put_column;
using acm_test::TempFile;
using Samples = std::vector<std::int16_t>;

// count samples read from source in one call; got receives read's result.
Samples read_samples(AcmSource& source, int count, std::int32_t* got = nullptr) {
    Samples buffer(static_cast<std::size_t>(count), 0x5A5A);
    const std::int32_t n = source.read(buffer.data(), count);
    if (got != nullptr) *got = n;
    return buffer;
}

// What open prints on standard error, and its result.
std::pair<bool, std::string> open_with_stderr(AcmSource& source, bool report) {
    testing::internal::CaptureStderr();
    const bool opened = source.open(report);
    return {opened, testing::internal::GetCapturedStderr()};
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
    ASSERT_TRUE(source.open_and_report());
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
    ASSERT_TRUE(source.open(false));
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
    ASSERT_TRUE(source.open(false));
    EXPECT_EQ(read_samples(source, 4), (Samples{11808, 32767, -32768, -16384}));
}

TEST(AcmSource, LevelsZeroHandsOutTheCoefficients) {
    BitStreamBuilder s;
    s.put_block_head(3, 1000);
    put_column(s, 4, {-8, 7, 0});
    TempFile file(acm_file_bytes(3, 0, 3, s.bytes()));
    AcmSource source(file.name());
    ASSERT_TRUE(source.open(false));
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
    ASSERT_TRUE(source.open(false));
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
        AcmSource quiet(file.name());
        EXPECT_EQ(open_with_stderr(quiet, false), std::make_pair(false, std::string()));
        AcmSource loud(file.name());
        EXPECT_EQ(
            open_with_stderr(loud, true),
            std::make_pair(false, "Error: Not an ACM file: '" + std::string(file.name()) + "'\n"));
        EXPECT_FALSE(loud.was_refused());
    }

    // A file that cannot be opened at all is reported whatever the report flag.
    const std::string missing = testing::TempDir() + "/no_such_vellox_input.acm";
    for (const bool report : {false, true}) {
        AcmSource source(missing.c_str());
        EXPECT_EQ(open_with_stderr(source, report),
                  std::make_pair(false, "Error: No such file or directory: '" + missing + "'\n"));
        EXPECT_TRUE(source.was_refused());
    }

    AcmSource directory(testing::TempDir().c_str());
    EXPECT_FALSE(open_with_stderr(directory, false).first);
    EXPECT_TRUE(directory.was_refused());
}

TEST(AcmSource, RefusesSampleCountsBeyondInt32WhateverTheReportFlag) {
    TempFile too_long(acm_file_bytes(0x80000000u, 1, 2, {}));
    AcmSource source(too_long.name());
    EXPECT_EQ(open_with_stderr(source, false),
              std::make_pair(false, "Error: Input file is too long: '" +
                                        std::string(too_long.name()) + "'\n"));
    EXPECT_TRUE(source.was_refused());

    // The largest count that fits decodes zeros past the end of the file.
    TempFile longest(acm_file_bytes(0x7FFFFFFFu, 1, 2, {}));
    AcmSource fits(longest.name());
    ASSERT_TRUE(fits.open(false));
    EXPECT_EQ(fits.total_samples, 0x7FFFFFFF);
    EXPECT_EQ(read_samples(fits, 5), (Samples{0, 0, 0, 0, 0}));
}

TEST(AcmSource, EveryFailingAllocationFailsTheOpenAndStopsDetection) {
    TempFile file(acm_file_bytes(4, 1, 2, {0x31, 0x00, 0x60, 0x6B}));
    // block, unpacker, read buffer, synthesis, carried state
    for (int n = 1; n <= 5; ++n) {
        auto source = std::make_unique<AcmSource>(file.name());
        fail_allocation_number(n);
        EXPECT_EQ(open_with_stderr(*source, false),
                  std::make_pair(false, std::string("Error: Cannot allocate memory\n")))
            << n;
        EXPECT_TRUE(source->was_refused());
        fail_allocation_number(0);
    }
    AcmSource source(file.name());
    EXPECT_TRUE(source.open(true));
}

// A decoder written plainly from the format description: one fgetc per byte into a 32-bit bit
// buffer, prefix codes matched bit by bit, group values split by division, the synthesis
// column by column with stage 1 kept as 16-bit pairs, and the read loop as described.
class ReferenceDecoder {
public:
    ReferenceDecoder(const char* name, std::int64_t span)
        : file(std::fopen(name, "rb")), failure_span(span) {
        std::uint8_t bytes[acm_header_size] = {};
        if (file == nullptr || std::fread(bytes, 1, acm_header_size, file) != 14) return;
        std::fseek(file, 0, SEEK_END);
        stream_bytes = std::ftell(file) - acm_header_size;
        std::fseek(file, acm_header_size, SEEK_SET);
        const AcmHeader header = decode_acm_header(bytes);
        sample_count = header.sample_count;
        levels = header.levels();
        rows = header.subblocks();
        columns = 1 << levels;
        remaining = static_cast<std::int32_t>(header.sample_count);
        block.resize(static_cast<std::size_t>(rows) << levels);
        stage1.assign(static_cast<std::size_t>(columns / 2), {0, 0});
        later.assign(static_cast<std::size_t>(levels + 1), {});
        for (int s = 2; s <= levels; ++s) {
            later[static_cast<std::size_t>(s)].assign(static_cast<std::size_t>(columns >> s),
                                                      {0, 0});
        }
    }
    ~ReferenceDecoder() {
        if (file != nullptr) std::fclose(file);
    }

    // A block that fails hands out zeros up to the next multiple of failure_span values.
    std::int32_t read(std::int16_t* buffer, std::int32_t count) {
        std::int32_t i = 0;
        while (i < count) {
            if (position < zeros_until) {
                buffer[i++] = 0;
                ++position;
                continue;
            }
            if (available == 0) {
                if (remaining == 0) break;
                const std::int64_t first_bit = 8 * bytes_taken - bit_count;
                if (!unpack()) {
                    ++failed;
                    zeros_until = (position / failure_span + 1) * failure_span;
                    continue;
                }
                present = first_bit < 8 * stream_bytes;
                synthesize();
                cursor = 0;
                available = std::min(static_cast<std::int32_t>(block.size()), remaining);
                remaining -= available;
            }
            const std::int32_t v = block[static_cast<std::size_t>(cursor++)] >> levels;
            buffer[i++] = static_cast<std::int16_t>(std::max(-32768, std::min(32767, v)));
            if (present && position < sample_count) ++decoded;
            ++position;
            --available;
        }
        for (std::int32_t j = i; j < count; ++j) buffer[j] = 0;
        position += count - i;
        return i;
    }

    std::int64_t not_decoded() const { return std::min(position, sample_count) - decoded; }

    std::int32_t remaining = 0;
    std::int64_t failed = 0;

private:
    std::uint32_t get_bits(int n) {
        while (bit_count < n) {
            const int c = std::fgetc(file);
            ++bytes_taken;
            bit_buffer |= static_cast<std::uint32_t>(c == EOF ? 0 : c) << bit_count;
            bit_count += 8;
        }
        const std::uint32_t value = bit_buffer & ((1u << n) - 1);
        bit_buffer >>= n;
        bit_count -= n;
        return value;
    }
    std::int32_t& at(int row, int column) {
        return block[static_cast<std::size_t>(row * columns + column)];
    }
    std::int32_t entry(int k) { return table[static_cast<std::size_t>(k + 32768)]; }

    bool unpack() {
        const int range_bits = static_cast<int>(get_bits(4));
        const std::uint32_t step = get_bits(16);
        for (std::uint32_t k = 0; k <= (1u << range_bits); ++k) {
            if (k < (1u << range_bits)) {
                table[32768 + k] = static_cast<std::int16_t>(static_cast<std::uint16_t>(k * step));
            }
            if (k > 0) {
                table[32768 - k] =
                    static_cast<std::int16_t>(static_cast<std::uint16_t>(0u - k * step));
            }
        }
        for (int j = 0; j < columns; ++j) {
            const int code = static_cast<int>(get_bits(5));
            if (code == 0) {
                for (int r = 0; r < rows; ++r) at(r, j) = 0;
            } else if (code >= 3 && code <= 16) {
                for (int r = 0; r < rows; ++r) {
                    at(r, j) = entry(static_cast<int>(get_bits(code)) - (1 << (code - 1)));
                }
            } else if (code == 19 || code == 22 || code == 29) {
                const int base = code == 19 ? 3 : (code == 22 ? 5 : 11);
                const int digits = code == 29 ? 2 : 3;
                const int limit = digits == 2 ? base * base : base * base * base;
                for (int r = 0; r < rows;) {
                    int g = static_cast<int>(get_bits(code == 19 ? 5 : 7));
                    if (g >= limit) g = 0;
                    for (int d = 0; d < digits; ++d, g /= base, ++r) {
                        if (r < rows) at(r, j) = entry(g % base - base / 2);
                    }
                }
            } else if (const acm_test::PrefixCode* p = prefix_code(code)) {
                for (int r = 0; r < rows; ++r) {
                    std::string seen;
                    int k = 99;
                    while (k == 99 && seen.size() < 5) {
                        seen += get_bits(1) != 0 ? '1' : '0';
                        if (p->pairs && seen == "0") k = 100;
                        for (int v = -4; v <= 4; ++v) {
                            if (p->words[v + 4] != nullptr && seen == p->words[v + 4]) k = v;
                        }
                    }
                    EXPECT_NE(k, 99) << "incomplete code " << code;
                    at(r, j) = k == 100 ? 0 : entry(k);
                    if (k == 100 && r + 1 < rows) at(++r, j) = 0;
                }
            } else {
                return false;
            }
        }
        return true;
    }

    static const acm_test::PrefixCode* prefix_code(int code) {
        for (const acm_test::PrefixCode& p : acm_test::prefix_codes) {
            if (p.code == code) return &p;
        }
        return nullptr;
    }

    static std::int32_t wrap(std::int64_t v) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }

    template <typename Pair>
    void stage(int d, int n, std::vector<Pair>& pairs) {
        for (int i = 0; i < d; ++i) {
            auto& pair = pairs[static_cast<std::size_t>(i)];
            std::int64_t a = pair.first;
            std::int64_t b = pair.second;
            for (int k = 0; k < n / 2; ++k) {
                std::int32_t& x = block[static_cast<std::size_t>(2 * k * d + i)];
                std::int32_t& y = block[static_cast<std::size_t>((2 * k + 1) * d + i)];
                const std::int64_t x0 = x;
                const std::int64_t y0 = y;
                x = wrap(x0 + a + 2 * b);
                y = wrap(2 * x0 - y0 - b);
                a = x0;
                b = y0;
            }
            pair = {static_cast<typename Pair::first_type>(a),
                    static_cast<typename Pair::second_type>(b)};
        }
    }

    void synthesize() {
        if (levels == 0) return;
        stage(columns / 2, 2 * rows, stage1);
        for (int j = 0; j < 2 * rows; ++j) {
            block[static_cast<std::size_t>(j * (columns / 2))] =
                wrap(std::int64_t{block[static_cast<std::size_t>(j * (columns / 2))]} + 1);
        }
        for (int s = 2; s <= levels; ++s) {
            stage(columns >> s, rows << s, later[static_cast<std::size_t>(s)]);
        }
    }

    std::FILE* file;
    std::int64_t failure_span;
    std::int64_t stream_bytes = 0;  // bytes behind the header
    std::int64_t sample_count = 0;
    std::int64_t position = 0;     // values handed out
    std::int64_t zeros_until = 0;  // a failed block's zeros end here
    std::int64_t decoded = 0;      // values below sample_count from present blocks
    std::int64_t bytes_taken = 0;  // bytes taken into the bit buffer, past the end included
    bool present = false;          // the current block began before the end of the stream
    int levels = 0;
    int rows = 0;
    int columns = 1;
    std::uint32_t bit_buffer = 0;
    int bit_count = 0;
    std::vector<std::int16_t> table = std::vector<std::int16_t>(65536, 0);
    std::vector<std::int32_t> block;
    std::int32_t cursor = 0;
    std::int32_t available = 0;
    std::vector<std::pair<std::int16_t, std::int16_t>> stage1;
    std::vector<std::vector<std::pair<std::int32_t, std::int32_t>>> later;
};

TEST(AcmDecoder, MatchesThePlainReferenceDecoderOnRandomAndHostileFiles) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
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
    }
}

}  // namespace
}  // namespace vellox
