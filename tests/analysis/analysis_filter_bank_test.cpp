// The analysis filter bank: golden outputs, streaming across calls, failure paths, and a
// value-for-value comparison with a plain ring implementation of the bank, on every vector
// path this processor can run.

#include "analysis/analysis_filter_bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analysis/filter_design.h"
#include "common/alloc.h"
#include "common/numeric.h"
#include "common/test_seed.h"

namespace vellox {
namespace {

// The bank as a tree of nodes, each with a ring of full_length sums: a value that is not 0
// adds value x tap j onto ring element (index + j) mod length, with the low-pass taps at
// phase 0 and the high-pass taps at phase 1; the node's output is the element at its index,
// truncated, which is then cleared as the index moves on. A node emits once it has taken
// filter_length values; a level deals its values to its nodes in turn.
class ReferenceBank {
public:
    ReferenceBank(const AnalysisFilterBank& bank, std::int32_t levels)
        : low(bank.low_pass_taps(), bank.low_pass_taps() + bank.full_filter_length()),
          high(bank.high_pass_taps(), bank.high_pass_taps() + bank.full_filter_length()),
          length(bank.full_filter_length()),
          filter_length((length + 1) / 2),
          level_count(levels),
          nodes((std::size_t{1} << levels) - 1),
          rings(nodes.size() * static_cast<std::size_t>(length)),
          current(static_cast<std::size_t>(levels)) {}

    std::int32_t process(const std::int16_t* source, std::int32_t count, std::int32_t* dest) {
        for (std::int32_t i = 0; i < count; ++i) dest[i] = source[i];
        std::int32_t n = count;
        for (std::int32_t l = 0; l < level_count; ++l) {
            const std::size_t first = (std::size_t{1} << l) - 1;
            std::int32_t emitted = 0;
            for (std::int32_t i = 0; i < n; ++i) {
                const std::size_t id = first + current[static_cast<std::size_t>(l)];
                Node& node = nodes[id];
                double* ring = &rings[id * static_cast<std::size_t>(length)];
                const std::int32_t value = dest[i];
                if (value != 0) {
                    const std::vector<double>& taps = node.phase == 0 ? low : high;
                    for (std::int32_t j = 0; j < length; ++j) {
                        ring[(node.index + j) % length] +=
                            value * taps[static_cast<std::size_t>(j)];
                    }
                }
                const std::int32_t y = truncate_to_int32(ring[node.index]);
                if (node.seen >= filter_length) dest[emitted++] = y;
                ring[node.index] = 0.0;
                node.index = (node.index + 1) % length;
                ++node.seen;
                node.phase ^= 1;
                if (++current[static_cast<std::size_t>(l)] == (std::size_t{1} << l)) {
                    current[static_cast<std::size_t>(l)] = 0;
                }
            }
            n = emitted;
        }
        return n;
    }

    // Every output for samples fed in one call.
    std::vector<std::int32_t> run(const std::vector<std::int16_t>& samples) {
        std::vector<std::int32_t> out(samples.size());
        out.resize(static_cast<std::size_t>(
            process(samples.data(), static_cast<std::int32_t>(samples.size()), out.data())));
        return out;
    }

private:
    struct Node {
        std::int32_t index = 0;
        std::int64_t seen = 0;
        int phase = 0;
    };

    std::vector<double> low;
    std::vector<double> high;
    std::int32_t length;
    std::int32_t filter_length;
    std::int32_t level_count;
    std::vector<Node> nodes;
    std::vector<double> rings;
    std::vector<std::size_t> current;  // per level: the node that takes the next value
};

// The one-sided magnitudes of a "-fc" filter, outer end first.
using Taps = std::vector<double>;
constexpr double infinity = std::numeric_limits<double>::infinity();

// Feeds samples in chunks of the given sizes (cycled); returns every output in order.
std::vector<std::int32_t> run_chunked(AnalysisFilterBank& bank,
                                      const std::vector<std::int16_t>& samples,
                                      const std::vector<std::int32_t>& chunk_sizes) {
    std::vector<std::int32_t> outputs;
    std::vector<std::int32_t> buffer;
    std::size_t at = 0;
    for (std::size_t c = 0; at < samples.size(); ++c) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(
            static_cast<std::size_t>(chunk_sizes[c % chunk_sizes.size()]), samples.size() - at));
        buffer.assign(static_cast<std::size_t>(n) + 1, 0x5a5a5a5a);
        const std::int32_t produced = bank.process(samples.data() + at, n, buffer.data());
        EXPECT_GE(produced, 0);
        EXPECT_LE(produced, n);
        EXPECT_EQ(buffer[static_cast<std::size_t>(n)], 0x5a5a5a5a) << "wrote past the chunk";
        outputs.insert(outputs.end(), buffer.begin(), buffer.begin() + produced);
        at += static_cast<std::size_t>(n);
    }
    return outputs;
}

std::vector<std::int32_t> run_whole(AnalysisFilterBank& bank,
                                    const std::vector<std::int16_t>& samples) {
    return run_chunked(bank, samples, {static_cast<std::int32_t>(samples.size())});
}

std::vector<std::int16_t> constant(std::size_t count, std::int16_t value) {
    return std::vector<std::int16_t>(count, value);
}

// Full-scale noise, silence, impulses, a loud square wave and a quiet sine, seeded.
std::vector<std::int16_t> mixed_signal(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::uniform_int_distribution<int> kind(0, 4);
    std::uniform_int_distribution<int> stretch(1, 3000);
    std::vector<std::int16_t> samples;
    while (samples.size() < count) {
        const int length = stretch(random);
        const int which = kind(random);
        for (int i = 0; i < length; ++i) {
            int v = 0;
            switch (which) {
                case 0:
                    v = full(random);
                    break;
                case 1:
                    v = 0;
                    break;
                case 2:
                    v = i % 97 == 0 ? full(random) : 0;
                    break;
                case 3:
                    v = (i / 7) % 2 == 0 ? 32767 : -32768;
                    break;
                default:
                    v = static_cast<int>(300.0 * std::sin(i * 0.05));
                    break;
            }
            samples.push_back(static_cast<std::int16_t>(v));
        }
    }
    samples.resize(count);
    return samples;
}

std::vector<std::int32_t> random_chunks(std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int32_t> size(1, 2500);
    std::vector<std::int32_t> sizes = {1, 777, 15, 16, 17, 65536, 2, 4096};
    for (int i = 0; i < 40; ++i) sizes.push_back(size(random));
    return sizes;
}

std::unique_ptr<AnalysisFilterBank> make_bank(char kind, std::int32_t levels, std::int32_t n,
                                              const Taps* taps = nullptr) {
    switch (kind) {
        case 'D':
            return std::make_unique<FdFilterBank>(levels, n);
        case 'O':
            return std::make_unique<FoFilterBank>(levels, n);
        default:
            return std::make_unique<FcFilterBank>(levels, taps->data(),
                                                  static_cast<std::int32_t>(taps->size()));
    }
}

// The vector paths this processor can run; portable always.
std::vector<KernelPath> runnable_paths() {
    std::vector<KernelPath> paths;
    for (KernelPath p : {KernelPath::portable, KernelPath::avx2, KernelPath::avx512}) {
        if (filter_path_available(p)) paths.push_back(p);
    }
    return paths;
}

const char* path_name(KernelPath path) {
    switch (path) {
        case KernelPath::avx512:
            return "avx512";
        case KernelPath::avx2:
            return "avx2";
        default:
            return "portable";
    }
}

TEST(AnalysisFilterBank, TakesTheFastestPathUnlessOneIsSet) {
    FdFilterBank bank(3, 11);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.filter_path(), fastest_kernel_path(filter_path_available));
    EXPECT_TRUE(filter_path_available(KernelPath::portable));
    FdFilterBank portable(3, 11);
    ASSERT_TRUE(portable.set_filter_path(KernelPath::portable));
    ASSERT_EQ(portable.init(), VELLOX_OK);
    EXPECT_EQ(portable.filter_path(), KernelPath::portable);
}

TEST(AnalysisFilterBank, OneLevelConstantInput) {
    FdFilterBank bank(1, 11);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.delay(), 11);
    const std::vector<std::int32_t> out = run_whole(bank, constant(23, 1000));
    EXPECT_EQ(out,
              (std::vector<std::int32_t>{1146, -60, 974, 10, 1004, -1, 999, 0, 1000, 0, 1000, 0}));
}

TEST(AnalysisFilterBank, OutputCountsAndDelays) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    const std::vector<std::int16_t> samples = mixed_signal(5000, base + 1);
    FdFilterBank seven(7, 11);
    ASSERT_EQ(seven.init(), VELLOX_OK);
    EXPECT_EQ(seven.delay(), 11 * 127);
    EXPECT_EQ(run_whole(seven, samples).size(), 3603u);
    FdFilterBank two(2, 11);
    ASSERT_EQ(two.init(), VELLOX_OK);
    EXPECT_EQ(run_whole(two, samples).size(), 4967u);
    FdFilterBank fifteen(15, 11);
    ASSERT_EQ(fifteen.init(), VELLOX_OK);
    EXPECT_EQ(fifteen.delay(), 360437);
    // Fewer values than the warm-up give nothing but still move the state on.
    std::vector<std::int32_t> out(5000);
    EXPECT_EQ(fifteen.process(samples.data(), 5000, out.data()), 0);
}

TEST(AnalysisFilterBank, TwoLevelsPutEachBandInItsColumn) {
    struct Case {
        std::int16_t first;
        std::int16_t second;
        std::vector<std::int32_t> row;
    };
    const Case cases[] = {{1000, 1000, {1000, 0, 0, 0}}, {1000, -1000, {0, 1000, 0, 0}}};
    for (const Case& c : cases) {
        std::vector<std::int16_t> samples(2000);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = i % 2 == 0 ? c.first : c.second;
        FdFilterBank bank(2, 11);
        ASSERT_EQ(bank.init(), VELLOX_OK);
        const std::vector<std::int32_t> out = run_whole(bank, samples);
        ASSERT_EQ(out.size(), 2000u - 33u);
        for (std::size_t row = 4; row < out.size() / 4; ++row) {
            const std::vector<std::int32_t> got(out.begin() + static_cast<long>(row * 4),
                                                out.begin() + static_cast<long>(row * 4 + 4));
            ASSERT_EQ(got, c.row) << "row " << row << " for " << c.first << ", " << c.second;
        }
    }
}

TEST(AnalysisFilterBank, ZeroLevelsPassSamplesThrough) {
    FdFilterBank bank(0, 11);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.delay(), 0);
    const std::vector<std::int16_t> samples = {0, -1, 32767, -32768, 5};
    EXPECT_EQ(run_chunked(bank, samples, {2, 3}),
              (std::vector<std::int32_t>{0, -1, 32767, -32768, 5}));
}

TEST(AnalysisFilterBank, ChunkSizesDoNotChangeTheOutput) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    const std::vector<std::int16_t> samples = mixed_signal(200000, base + 7);
    for (const std::int32_t levels : {1, 4, 7, 10}) {
        FdFilterBank whole(levels, 11);
        ASSERT_EQ(whole.init(), VELLOX_OK);
        const std::vector<std::int32_t> expected = run_whole(whole, samples);
        // Pieces around the tile and run sizes, one value at a time, and random sizes.
        const std::vector<std::vector<std::int32_t>> chunkings = {
            {777},
            {1},
            {65536},
            {65535, 1, 65537},
            {63, 64, 65, 4095, 4096, 4097, 127, 8193},
            random_chunks(base + static_cast<std::uint32_t>(levels))};
        for (const KernelPath path : runnable_paths()) {
            for (const std::vector<std::int32_t>& chunks : chunkings) {
                if (chunks.size() == 1 && chunks[0] == 1 && levels > 4) continue;  // slow, no news
                FdFilterBank bank(levels, 11);
                ASSERT_TRUE(bank.set_filter_path(path));
                ASSERT_EQ(bank.init(), VELLOX_OK);
                EXPECT_EQ(run_chunked(bank, samples, chunks), expected)
                    << "levels " << levels << ", first chunk " << chunks[0] << ", "
                    << path_name(path);
            }
        }
    }
}

// The heart of the bank's tests: every output equals the plain ring's, for every design and
// every vector path, for signals with silence and full-scale stretches, fed in odd chunk
// sizes.
TEST(AnalysisFilterBank, MatchesPlainRingValueForValue) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    // Taps large enough that outputs pass 2^31 and saturate, and a filter of gain 14 whose
    // sums can leave the 32-bit range only from level 4 on (the levels before skip the check).
    const Taps loud = {1e6, -3e5, 2.5e5, 4e6};
    const Taps odd = {0.3, -0.07, 1e-3, 0.51, 0.9};
    const Taps steep = {3, 2, 4};
    struct Config {
        char kind;
        std::int32_t n;
        const Taps* taps;
    };
    const Config configs[] = {{'D', 11, nullptr}, {'D', 3, nullptr}, {'O', 11, nullptr},
                              {'O', 6, nullptr},  {'C', 0, &loud},   {'C', 0, &odd},
                              {'C', 0, &steep}};
    std::uint32_t seed = base + 100;
    for (const Config& config : configs) {
        for (const std::int32_t levels : {0, 1, 2, 3, 5, 7, 9}) {
            ++seed;
            auto reference_bank = make_bank(config.kind, levels, config.n, config.taps);
            ASSERT_EQ(reference_bank->init(), VELLOX_OK);
            const std::vector<std::int16_t> samples = mixed_signal(60000, seed);
            const std::vector<std::int32_t> expected =
                ReferenceBank(*reference_bank, levels).run(samples);
            for (const KernelPath path : runnable_paths()) {
                SCOPED_TRACE(testing::Message()
                             << "kind " << config.kind << " n " << config.n << " levels " << levels
                             << " seed " << seed << " " << path_name(path));
                auto bank = make_bank(config.kind, levels, config.n, config.taps);
                ASSERT_TRUE(bank->set_filter_path(path));
                ASSERT_EQ(bank->init(), VELLOX_OK);
                EXPECT_EQ(bank->filter_path(), path);
                const std::vector<std::int32_t> got =
                    run_chunked(*bank, samples, random_chunks(seed));
                ASSERT_EQ(got.size(), expected.size());
                for (std::size_t i = 0; i < got.size(); ++i) {
                    ASSERT_EQ(got[i], expected[i]) << "output " << i;
                }
            }
        }
    }
}

TEST(AnalysisFilterBank, GainJustPastTheRangeIsChecked) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    // One tap of 100000: gain x 32768 lies between 2^31 and 2^32, so full-scale sums leave
    // the 32-bit range and must saturate although they stay below 2^32.
    const double tap = 100000;
    std::vector<std::int16_t> samples = constant(9000, 32767);
    samples.resize(18000, -32768);
    const std::vector<std::int16_t> mixed = mixed_signal(20000, base + 21);
    samples.insert(samples.end(), mixed.begin(), mixed.end());
    for (const std::int32_t levels : {1, 2}) {
        FcFilterBank reference_bank(levels, &tap, 1);
        ASSERT_EQ(reference_bank.init(), VELLOX_OK);
        const std::vector<std::int32_t> expected =
            ReferenceBank(reference_bank, levels).run(samples);
        ASSERT_EQ(expected[100], INT32_MAX);  // the sums saturate
        for (const KernelPath path : runnable_paths()) {
            FcFilterBank bank(levels, &tap, 1);
            ASSERT_TRUE(bank.set_filter_path(path));
            ASSERT_EQ(bank.init(), VELLOX_OK);
            EXPECT_EQ(run_chunked(bank, samples, {65536, 4096, 777}), expected)
                << "levels " << levels << ", " << path_name(path);
        }
    }
}

TEST(AnalysisFilterBank, SaturatesAndMatchesRingWithInfiniteOrNanTaps) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    // 0 x inf is NaN, so zero values must leave their terms out, as the ring does.
    const Taps infinite = {2, infinity, 0.5};
    const Taps not_a_number = {std::nan(""), 0.5};
    for (const Taps* taps : {&infinite, &not_a_number}) {
        for (const std::int32_t levels : {1, 2, 5}) {
            FcFilterBank bank(levels, taps->data(), static_cast<std::int32_t>(taps->size()));
            ASSERT_EQ(bank.init(), VELLOX_OK);
            const std::vector<std::int16_t> samples =
                mixed_signal(20000, base + 5u + static_cast<std::uint32_t>(levels));
            const std::vector<std::int32_t> expected = ReferenceBank(bank, levels).run(samples);
            EXPECT_EQ(run_chunked(bank, samples, {333, 4096, 1}), expected)
                << (*taps)[0] << " levels " << levels;
        }
    }
}

TEST(AnalysisFilterBank, LongSilencesMatchPlainRing) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    // Silence long enough for whole tiles of every level to be skipped, ending in single
    // values, with finite taps and with taps whose zero products would be NaN.
    std::vector<std::int16_t> samples = mixed_signal(5000, base + 11);
    samples.resize(45000, 0);
    samples.push_back(-32768);
    samples.resize(100000, 0);
    const std::vector<std::int16_t> burst = mixed_signal(3000, base + 12);
    samples.insert(samples.end(), burst.begin(), burst.end());
    samples.resize(200000, 0);
    samples.push_back(1);
    samples.resize(230000, 0);
    const Taps infinite = {2, infinity, 0.5};
    for (const std::int32_t levels : {1, 3, 7, 10}) {
        for (const bool finite : {true, false}) {
            auto reference_bank = make_bank(finite ? 'D' : 'C', levels, 11, &infinite);
            ASSERT_EQ(reference_bank->init(), VELLOX_OK);
            const std::vector<std::int32_t> expected =
                ReferenceBank(*reference_bank, levels).run(samples);
            for (const KernelPath path : runnable_paths()) {
                for (const std::int32_t chunk : {65536, 777, 4096}) {
                    auto bank = make_bank(finite ? 'D' : 'C', levels, 11, &infinite);
                    ASSERT_TRUE(bank->set_filter_path(path));
                    ASSERT_EQ(bank->init(), VELLOX_OK);
                    EXPECT_EQ(run_chunked(*bank, samples, {chunk}), expected)
                        << "levels " << levels << (finite ? "" : ", infinite tap") << ", chunk "
                        << chunk << ", " << path_name(path);
                }
            }
        }
    }
}

TEST(AnalysisFilterBank, WidestTreeMatchesPlainRing) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    // Fifteen levels with short filters: the wide levels' rows are filled across many calls.
    FdFilterBank reference_bank(15, 3);
    ASSERT_EQ(reference_bank.init(), VELLOX_OK);
    EXPECT_EQ(reference_bank.delay(), 3 * 32767);
    const std::vector<std::int16_t> samples = mixed_signal(3 * 32767 + 70000, base + 99);
    const std::vector<std::int32_t> expected = ReferenceBank(reference_bank, 15).run(samples);
    ASSERT_EQ(expected.size(), 70000u);
    for (const KernelPath path : runnable_paths()) {
        FdFilterBank bank(15, 3);
        ASSERT_TRUE(bank.set_filter_path(path));
        ASSERT_EQ(bank.init(), VELLOX_OK);
        EXPECT_EQ(run_chunked(bank, samples, {65536, 1000, 31, 65536}), expected)
            << path_name(path);
    }
}

TEST(AnalysisFilterBank, FailedInitIsCleanAndUnusable) {
    // Every allocation of init fails in turn; each bank is destroyed right after.
    for (std::int64_t n = 1; n <= 7; ++n) {
        FdFilterBank bank(7, 11);
        fail_allocation_number(n);
        const vellox_status status = bank.init();
        fail_allocation_number(0);
        if (status == VELLOX_OK) {
            EXPECT_GE(n, 6);  // two filters, two tables, the windows
            break;
        }
        EXPECT_EQ(status, VELLOX_ERROR_MEMORY);
        std::vector<std::int32_t> out(100);
        const std::vector<std::int16_t> samples(100, 7);
        EXPECT_EQ(bank.process(samples.data(), 100, out.data()), 0);
    }
    // A filter the design cannot make is no memory failure.
    FdFilterBank too_long(7, max_filter_length + 1);
    EXPECT_EQ(too_long.init(), VELLOX_ERROR_FILTER_LENGTH);
    FdFilterBank huge(15, 2000000000);
    EXPECT_EQ(huge.init(), VELLOX_ERROR_FILTER_LENGTH);
    FdFilterBank negative(3, -5);
    EXPECT_EQ(negative.init(), VELLOX_ERROR_FILTER_LENGTH);
    FoFilterBank one_tap(3, 1);
    EXPECT_EQ(one_tap.init(), VELLOX_ERROR_FILTER_LENGTH);
    FdFilterBank too_deep(16, 11);
    EXPECT_EQ(too_deep.init(), VELLOX_ERROR_LEVELS);
    // A failing "-fc" design fails init even without levels.
    FcFilterBank missing(0, nullptr, 3);
    EXPECT_EQ(missing.init(), VELLOX_ERROR_TAPS);
    const double tap = 1.0;
    FcFilterBank no_taps(0, &tap, 0);
    EXPECT_EQ(no_taps.init(), VELLOX_ERROR_TAPS);
}

TEST(AnalysisFilterBank, LongFileFilterMatchesPlainRing) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    // 600 taps: the narrow levels keep more history than they take between slides.
    Taps taps;
    for (int i = 0; i < 600; ++i) taps.push_back((i % 7 + 1) * 1e-3);
    FcFilterBank bank(4, taps.data(), 600);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.delay(), 600 * 15);
    const std::vector<std::int16_t> samples = mixed_signal(25000, base + 3);
    const std::vector<std::int32_t> expected = ReferenceBank(bank, 4).run(samples);
    EXPECT_EQ(run_chunked(bank, samples, {5000, 123, 9000}), expected);
}

}  // namespace
}  // namespace vellox
