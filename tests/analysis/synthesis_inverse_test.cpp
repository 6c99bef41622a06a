// The exact inverse against the reader's synthesis: coefficients that decode to the input
// within what their rounding implies, at every level count; the same coefficients whatever
// the sizes of the calls.

#include "analysis/synthesis_inverse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "acm/subband_synthesis.h"
#include "common/alloc.h"

namespace vellox {
namespace {

using Samples = std::vector<std::int16_t>;
using Values = std::vector<std::int32_t>;

// Two tones and seeded noise, at full level from the first sample.
Samples test_signal(std::size_t count, double amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> hiss(-1.0, 1.0);
    Samples samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i);
        const double v = 0.6 * std::sin(t / 15.5) + 0.3 * std::sin(t / 2.08) + 0.1 * hiss(rng);
        samples[i] = static_cast<std::int16_t>(std::lround(amplitude * v));
    }
    return samples;
}

// The coefficients of samples and the zeros after them, up to whole blocks, fed chunk values
// at a time.
Values coefficients_of(std::int32_t levels, const Samples& samples, std::size_t block_size,
                       std::size_t chunk) {
    SynthesisInverse inverse(levels);
    EXPECT_EQ(inverse.init(), VELLOX_OK);
    const std::size_t needed = (samples.size() + block_size - 1) / block_size * block_size;
    Samples input(needed + static_cast<std::size_t>(inverse.delay()), 0);
    std::copy(samples.begin(), samples.end(), input.begin());
    Values out(input.size() + static_cast<std::size_t>(inverse.burst()));
    std::size_t got = 0;
    for (std::size_t at = 0; at < input.size(); at += chunk) {
        const auto n = static_cast<std::int32_t>(std::min(chunk, input.size() - at));
        const std::int32_t written = inverse.process(input.data() + at, n, out.data() + got);
        EXPECT_LE(written, n + inverse.burst());
        got += static_cast<std::size_t>(written);
    }
    EXPECT_GE(got, needed);
    out.resize(needed);
    return out;
}

// What the reader makes of the coefficients: clipped to 16 bits, block by block.
Samples decode(std::int32_t levels, Values coefficients, std::int32_t rows) {
    SubbandSynthesis synthesis(levels);
    EXPECT_EQ(synthesis.allocate_state(), VELLOX_OK);
    const std::size_t block_size = static_cast<std::size_t>(rows) << levels;
    Samples samples(coefficients.size());
    for (std::size_t at = 0; at < coefficients.size(); at += block_size) {
        for (std::size_t i = at; i < at + block_size; ++i)
            coefficients[i] = std::clamp(coefficients[i], -32768, 32767);
        synthesis.inverse_transform(coefficients.data() + at, rows);
        synthesis.to_samples(coefficients.data() + at, static_cast<std::int32_t>(block_size),
                             samples.data() + at);
    }
    return samples;
}

// A coefficient's rounding error (variance 1/12) reaches the synthesis's values through
// stages that each square-sum its weights to 6 (1, 1, 2 and 2, 1, 1), and the values are
// scaled down by 2^levels: in samples a variance of 1.5^levels / 12, and 1/12 more for the
// reader's own rounding. The weights sum to 4 in magnitude, which bounds any one error.
TEST(SynthesisInverse, DecodesToTheInputWithinTheRounding) {
    for (std::int32_t levels = 0; levels <= 15; ++levels) {
        for (const std::int32_t rows : {1, 3, 16}) {
            SCOPED_TRACE("levels " + std::to_string(levels) + ", rows " + std::to_string(rows));
            // The start-up stretch: the synthesis starts from a zero state.
            const std::int64_t start_up = std::int64_t{4} << levels;
            const auto count =
                static_cast<std::size_t>(std::max<std::int64_t>(20000, 3 * start_up));
            const Samples input = test_signal(count, 3000.0, static_cast<unsigned>(levels));
            const std::size_t block_size = static_cast<std::size_t>(rows) << levels;
            Samples output =
                decode(levels, coefficients_of(levels, input, block_size, 65536), rows);
            output.resize(count);
            double energy = 0.0;
            int worst = 0;
            for (auto i = static_cast<std::size_t>(start_up); i < count; ++i) {
                const int e = output[i] - input[i];
                energy += static_cast<double>(e) * e;
                worst = std::max(worst, std::abs(e));
            }
            const double mean =
                energy / static_cast<double>(count - static_cast<std::size_t>(start_up));
            if (levels == 0) {
                EXPECT_EQ(output, input);
                continue;
            }
            EXPECT_LE(mean, 1.25 * (std::pow(1.5, levels) + 1.0) / 12.0);
            EXPECT_LE(worst, (1 << (levels - 1)) + 1);
        }
    }
}

TEST(SynthesisInverse, GivesTheSameCoefficientsWhateverTheCallSizes) {
    for (const std::int32_t levels : {1, 4, 7, 11}) {
        SCOPED_TRACE("levels " + std::to_string(levels));
        const Samples input = test_signal(70000, 12000.0, 3);
        const std::size_t block_size = std::size_t{16} << levels;
        const Values whole = coefficients_of(levels, input, block_size, 65536);
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{777}, std::size_t{4096}}) {
            if (chunk == 1 && levels > 7) continue;  // a few seconds for little more
            EXPECT_EQ(coefficients_of(levels, input, block_size, chunk), whole) << chunk;
        }
    }
}

TEST(SynthesisInverse, SilenceImpulsesAndSquareWaves) {
    const std::int32_t levels = 7;
    const std::size_t block_size = std::size_t{16} << levels;
    // Silence: every coefficient 0, so the stream codes every block as zeros.
    const Values silent = coefficients_of(levels, Samples(9000, 0), block_size, 65536);
    EXPECT_EQ(std::count(silent.begin(), silent.end(), 0),
              static_cast<std::ptrdiff_t>(silent.size()));
    // Impulses well after the start: each decodes within the rounding, the silence around it
    // to 0 or a step of the rounding next to it.
    Samples impulses(20000, 0);
    for (std::size_t i = 3000; i < impulses.size(); i += 2500) impulses[i] = i % 2 ? -20000 : 20000;
    const Samples decoded =
        decode(levels, coefficients_of(levels, impulses, block_size, 65536), 16);
    for (std::size_t i = 0; i < impulses.size(); ++i)
        EXPECT_LE(std::abs(decoded[i] - impulses[i]), 1 << (levels - 1)) << i;
    // A full-scale square wave: coefficients past 16 bits, which the decoder's clipping turns
    // into an error, but the decoded signal keeps its shape and saturates where it should.
    Samples square(20000);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 300) % 2 ? -32768 : 32767;
    const Values coefficients = coefficients_of(levels, square, block_size, 65536);
    EXPECT_GT(*std::max_element(coefficients.begin(), coefficients.end()), 32767);
    const Samples loud = decode(levels, coefficients, 16);
    double error = 0.0;
    double signal = 0.0;
    for (std::size_t i = 4096; i < square.size(); ++i) {
        error += std::pow(loud[i] - square[i], 2.0);
        signal += std::pow(static_cast<double>(square[i]), 2.0);
    }
    EXPECT_GT(10.0 * std::log10(signal / error), 10.0);
}

TEST(SynthesisInverse, InitFailsOutsideTheLevelsAndOnMemory) {
    SynthesisInverse too_deep(16);
    EXPECT_EQ(too_deep.init(), VELLOX_ERROR_LEVELS);
    SynthesisInverse negative(-1);
    EXPECT_EQ(negative.init(), VELLOX_ERROR_LEVELS);
    for (const std::int64_t failing : {1, 2}) {
        SynthesisInverse inverse(7);
        fail_allocation_number(failing);
        EXPECT_EQ(inverse.init(), VELLOX_ERROR_MEMORY);
        fail_allocation_number(0);
    }
}

}  // namespace
}  // namespace vellox
