// The input's level: the gain the clipping note names, worked by hand; the fixed gain's
// rounding; and the limiter's samples, the same whatever the sizes of the calls, lowered
// only around what would clip.

#include "codec/input_level.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "acm/byte_stream.h"

namespace vellox {
namespace {

using Samples = std::vector<std::int16_t>;

ClipStatistics clipped(std::int64_t largest, std::int64_t smallest) {
    ClipStatistics clips;
    clips.count = 1;
    clips.largest = largest;
    clips.smallest = smallest;
    return clips;
}

TEST(FittingGain, IsTheGainAtWhichTheExtremeFitsRoundedDown) {
    EXPECT_EQ(fitting_gain_db(ClipStatistics{}), 0.0);
    // 20 log10(32767 / 40000) = -1.732...: rounded down, -1.8.
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(40000, 0)), -1.8);
    // 20 log10(32768 / 40000) = -1.732...: a negative extreme fits down to -32768.
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(0, -40000)), -1.8);
    // 20 log10(32767 / 46341) = -3.0103...
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(46341, -30000)), -3.1);
    // 20 log10(32767 / 65534) = -6.0206..., the negative value being the smaller one.
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(65534, -65533)), -6.1);
    // The larger magnitude counts: -40001 over 40000.
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(40000, -40001)), -1.8);
    // Just past the range: -0.0003 dB, which the one decimal rounds down to -0.1.
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(32768, 0)), -0.1);
    EXPECT_DOUBLE_EQ(fitting_gain_db(clipped(0, -32769)), -0.1);
}

Samples run(InputLevel& level, const Samples& input, std::size_t chunk) {
    Samples out;
    Samples piece(chunk);
    for (std::size_t at = 0; at < input.size(); at += chunk) {
        const auto n = static_cast<std::int32_t>(std::min(chunk, input.size() - at));
        const std::int32_t m = level.process(input.data() + at, n, piece.data());
        EXPECT_LE(m, n);
        out.insert(out.end(), piece.begin(), piece.begin() + m);
    }
    return out;
}

TEST(InputLevel, TheFixedGainRoundsHalvesAwayFromZeroAndSaturates) {
    EncoderSettings settings;
    // 20 log10(1.5) dB: 3 * 1.5 = 4.5 gives 5, -3 gives -5; 30000 saturates.
    InputLevel level(settings, 20.0 * std::log10(1.5), false, 1.0, 5);
    ASSERT_EQ(level.init(), VELLOX_OK);
    EXPECT_EQ(level.delay(), 0);
    EXPECT_EQ(run(level, {3, -3, 30000, -30000, 0}, 5), (Samples{5, -5, 32767, -32768, 0}));
    InputLevel unchanged(settings, 0.0, false, 1.0, 3);
    ASSERT_EQ(unchanged.init(), VELLOX_OK);
    EXPECT_EQ(run(unchanged, {-32768, 1, 32767}, 3), (Samples{-32768, 1, 32767}));
}

// A tone at -1 dBFS whose second half is 12 dB quieter: the analysis's coefficients of the
// loud half reach past 16 bits at 7 levels, those of the quiet half do not.
Samples loud_then_quiet(std::size_t count) {
    Samples samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double level = i < count / 2 ? 29200.0 : 7300.0;
        samples[i] = static_cast<std::int16_t>(
            std::lround(level * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 22050.0)));
    }
    return samples;
}

// The clipped coefficients of samples in the analysis of settings.
std::int64_t clipped_coefficients(EncoderSettings settings, const Samples& samples) {
    settings.analysis_only = true;
    MemorySink unused;
    Encoder scan(settings, static_cast<std::int32_t>(samples.size()), unused);
    EXPECT_EQ(scan.init(), VELLOX_OK);
    EXPECT_EQ(scan.feed(samples.data(), static_cast<std::int64_t>(samples.size())), VELLOX_OK);
    EXPECT_EQ(scan.finish(), VELLOX_OK);
    return scan.clips().count;
}

TEST(InputLevel, TheLimiterLowersOnlyWhatWouldClipWhateverTheCallSizes) {
    for (const bool high_quality : {false, true}) {
        SCOPED_TRACE(high_quality ? "-hq" : "standard");
        EncoderSettings settings;
        settings.high_quality = high_quality;
        const Samples input = loud_then_quiet(60000);
        ASSERT_GT(clipped_coefficients(settings, input), 0);

        InputLevel level(settings, 0.0, true, 0.995, static_cast<std::int64_t>(input.size()));
        ASSERT_EQ(level.init(), VELLOX_OK);
        Samples padded = input;
        padded.resize(input.size() + static_cast<std::size_t>(level.delay()), 0);
        Samples limited = run(level, padded, 65536);
        ASSERT_EQ(limited.size(), input.size());
        EXPECT_EQ(clipped_coefficients(settings, limited), 0);
        // The loud half lowered by about what its coefficients were over, the quiet half
        // (after the smoothing's reach) untouched.
        EXPECT_GT(level.lowered(), 25000);
        EXPECT_LT(level.lowered(), 33000);
        EXPECT_GT(level.least_gain(), 0.4);
        EXPECT_LT(level.least_gain(), 0.9);
        EXPECT_TRUE(std::equal(limited.begin() + 34000, limited.end(), input.begin() + 34000));

        for (const std::size_t chunk : {std::size_t{1}, std::size_t{777}, std::size_t{4096}}) {
            InputLevel again(settings, 0.0, true, 0.995, static_cast<std::int64_t>(input.size()));
            ASSERT_EQ(again.init(), VELLOX_OK);
            EXPECT_EQ(run(again, padded, chunk), limited) << chunk;
            EXPECT_EQ(again.lowered(), level.lowered());
        }
    }
}

}  // namespace
}  // namespace vellox
