// The synthesis's vector paths against the portable one, on seeded random views whose sums
// wrap around, and the transform of whole blocks, taken in pieces, against single stages over
// the whole block.

#include "acm/synthesis_kernel.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "acm/subband_synthesis.h"
#include "common/test_seed.h"

namespace vellox {
namespace {

using Values = std::vector<std::int32_t>;

// The vector paths this processor can run.
std::vector<KernelPath> vector_paths() {
    std::vector<KernelPath> paths;
    for (KernelPath p : {KernelPath::avx2, KernelPath::avx512}) {
        if (synthesis_path_available(p)) paths.push_back(p);
    }
    return paths;
}

std::string path_name(KernelPath path) {
    return path == KernelPath::avx512 ? "AVX-512"
                                      : (path == KernelPath::avx2 ? "AVX2" : "portable");
}

// Mostly small values, some at the ends of the 32-bit range.
Values random_values(std::mt19937& rng, std::size_t count) {
    Values v(count);
    for (std::int32_t& x : v) {
        const unsigned kind = rng() % 8;
        x = kind == 0 ? static_cast<std::int32_t>(rng())
                      : (kind == 1 ? (rng() % 2 == 0 ? INT32_MAX : INT32_MIN)
                                   : static_cast<std::int32_t>(rng() % 65536) - 32768);
    }
    return v;
}

TEST(SynthesisKernel, EveryPathGivesThePortableStage) {
    EXPECT_TRUE(synthesis_path_available(KernelPath::portable));
    const std::uint32_t first_seed = test::test_seed(1);
    for (const KernelPath path : vector_paths()) {
        for (std::uint32_t seed = first_seed; seed < first_seed + 300; ++seed) {
            SCOPED_TRACE(path_name(path) + ", " + test::seed_note(seed));
            std::mt19937 rng(seed);
            const std::int32_t d = std::int32_t{1} << (rng() % 11);
            // Views of every height, also ones whose last vector is partly filled.
            const std::int32_t n = 2 * (1 + static_cast<std::int32_t>(rng() % (d > 64 ? 4 : 40)));
            const std::int32_t increment = static_cast<std::int32_t>(rng() % 2);
            const Values block = random_values(rng, static_cast<std::size_t>(n) * d);
            const Values state = random_values(rng, 2 * static_cast<std::size_t>(d));
            Values expected = block;
            Values expected_state = state;
            synthesis_kernels_portable.stage(expected.data(), d, n, expected_state.data(),
                                             increment);
            Values got = block;
            Values got_state = state;
            synthesis_kernels(path).stage(got.data(), d, n, got_state.data(), increment);
            ASSERT_EQ(got, expected) << "d " << d << " n " << n;
            ASSERT_EQ(got_state, expected_state) << "d " << d << " n " << n;
        }
    }
}

TEST(SynthesisKernel, EveryPathShiftsAndSaturatesLikeThePortableOne) {
    const std::uint32_t first_seed = test::test_seed(1);
    for (const KernelPath path : vector_paths()) {
        for (std::uint32_t seed = first_seed; seed < first_seed + 100; ++seed) {
            SCOPED_TRACE(path_name(path) + ", " + test::seed_note(seed));
            std::mt19937 rng(seed);
            const Values values = random_values(rng, rng() % 100);
            const int shift = static_cast<int>(rng() % 16);
            const auto count = static_cast<std::int32_t>(values.size());
            std::vector<std::int16_t> expected(values.size());
            synthesis_kernels_portable.to_samples(values.data(), count, shift, expected.data());
            std::vector<std::int16_t> got(values.size());
            synthesis_kernels(path).to_samples(values.data(), count, shift, got.data());
            ASSERT_EQ(got, expected);
        }
    }
}

TEST(SubbandSynthesis, BlocksTakenInPiecesGiveTheStagesOverTheWholeBlock) {
    std::vector<KernelPath> paths = vector_paths();
    paths.push_back(KernelPath::portable);
    const std::uint32_t seed = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(seed));
    // Shapes below, at and above a piece, and rows longer than a piece.
    const std::pair<int, int> shapes[] = {{1, 3},   {3, 5},  {7, 16}, {7, 64}, {7, 100},
                                          {10, 20}, {13, 3}, {14, 2}, {15, 2}};
    for (const KernelPath path : paths) {
        for (const auto& [levels, rows] : shapes) {
            SCOPED_TRACE(path_name(path) + ", levels " + std::to_string(levels));
            SubbandSynthesis synthesis(levels);
            ASSERT_EQ(synthesis.allocate_state(), VELLOX_OK);
            ASSERT_TRUE(synthesis.set_synthesis_path(path));
            EXPECT_EQ(synthesis.synthesis_path(), path);
            const std::int32_t columns = std::int32_t{1} << levels;
            // The stages one by one over the whole block, state laid out as the synthesis's.
            Values state(2 * static_cast<std::size_t>(columns) - 2);
            std::mt19937 rng(seed + static_cast<std::uint32_t>(levels * 100 + rows));
            for (int b = 0; b < 3; ++b) {
                Values block = random_values(rng, static_cast<std::size_t>(rows) << levels);
                Values expected = block;
                std::int32_t* at = state.data();
                for (int s = 1; s <= levels; ++s) {
                    const std::int32_t d = columns >> s;
                    synthesis_kernels_portable.stage(expected.data(), d, rows << s, at,
                                                     s == 1 ? 1 : 0);
                    at += 2 * d;
                }
                synthesis.inverse_transform(block.data(), rows);
                ASSERT_EQ(block, expected) << "block " << b;
                ASSERT_EQ(synthesis.carried_pair(levels, 0), std::make_pair(at[-2], at[-1]));
            }
        }
    }
}

}  // namespace
}  // namespace vellox
