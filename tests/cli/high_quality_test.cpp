// "-hq" through the executable: round trips through the ACM reader at the extreme shapes, no
// larger than the standard mode's files and no further from the input, and "-hq -q0" as close
// to the input as the rounding of its coefficients allows.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "sources/source_detection.h"

namespace vellox::cli {
namespace {

struct Decoded {
    std::vector<std::int16_t> samples;
    std::int64_t not_decoded = -1;  // samples lost to damage
};

Decoded decode(const std::string& path) {
    Decoded decoded;
    std::unique_ptr<SoundSource> source = open_sound_source(path.c_str(), SoundType::acm).source;
    if (source == nullptr) return decoded;
    decoded.samples.resize(static_cast<std::size_t>(source->total_samples));
    EXPECT_EQ(source->read(decoded.samples.data(), source->total_samples), source->total_samples);
    decoded.not_decoded = source->samples_not_decoded();
    return decoded;
}

// Sum of squared differences.
double error_energy(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    return sum;
}

// A tone that swells and fades, with hiss and a pause: blocks differ in loudness.
std::vector<std::int16_t> test_signal(std::size_t count) {
    std::vector<std::int16_t> samples = sine(count, 9000.0, 61.3);
    const std::vector<std::int16_t> hiss = noise(count, 900, 17);
    for (std::size_t i = 0; i < count; ++i) {
        const double swell = 0.5 + 0.5 * std::sin(static_cast<double>(i) / 3000.0);
        const double fade_in = std::min(1.0, static_cast<double>(i) / 2000.0);
        const double v = (samples[i] * swell + hiss[i]) * fade_in;
        samples[i] = static_cast<std::int16_t>(i / 1000 % 9 == 4 ? 0 : std::lround(v));
    }
    return samples;
}

TEST(HighQuality, RoundTripsAtEveryExtremeShapeWithinTheStandardSize) {
    ScratchFolder folder;
    const std::vector<std::int16_t> input = test_signal(24000);
    write_file(folder / "in.raw", raw16(input));
    double gain_db = 0.0;  // summed over the shapes
    int shapes = 0;
    for (const char* levels : {"0", "1", "7", "15"}) {
        for (const char* subblocks : {"1", "3", "16", "100"}) {
            const std::string label = std::string("-l ") + levels + " -s " + subblocks;
            const std::vector<std::string> common = {"-l", levels, "-s", subblocks, "-q", "25"};
            std::vector<std::string> args = {folder / "in.raw", folder / "std.acm"};
            args.insert(args.end(), common.begin(), common.end());
            ASSERT_EQ(run_vellox(args, folder).exit_code, 0) << label;
            args[1] = folder / "hq.acm";
            args.push_back("-HQ");
            const RunResult r = run_vellox(args, folder);
            ASSERT_EQ(r.exit_code, 0) << label << r.err;
            EXPECT_EQ(r.err, "") << label;

            const std::string standard = read_file(folder / "std.acm");
            const std::string high = read_file(folder / "hq.acm");
            EXPECT_LE(high.size(), standard.size() + standard.size() / 100 + 1) << label;
            const Decoded s = decode(folder / "std.acm");
            const Decoded h = decode(folder / "hq.acm");
            ASSERT_EQ(h.samples.size(), input.size()) << label;
            EXPECT_EQ(h.not_decoded, 0) << label;
            const double standard_error = error_energy(input, s.samples);
            const double high_error = error_energy(input, h.samples);
            gain_db += 10.0 * std::log10((standard_error + 1.0) / (high_error + 1.0));
            ++shapes;
            // No shape worse than the standard mode (0.5 dB of leeway).
            EXPECT_LE(high_error, 1.13 * standard_error) << label;
        }
    }
    // On average well below the standard mode's error (the deepest trees gain nothing: this
    // input is shorter than their start-up stretch).
    EXPECT_GT(gain_db / shapes, 3.0);
}

// Without a size target every block is exact, so what is left is the rounding of the
// coefficients: at 3 and 7 levels a mean squared error of about (1.5^levels + 1) / 12 after
// the start-up stretch, far below the filter bank's.
TEST(HighQuality, WithoutASizeTargetOnlyTheRoundingIsLeft) {
    ScratchFolder folder;
    const std::vector<std::int16_t> input = test_signal(30000);
    write_file(folder / "in.raw", raw16(input));
    for (const char* levels : {"0", "3", "7"}) {
        const int l = levels[0] - '0';
        const RunResult exact =
            run_vellox({folder / "in.raw", folder / "q0.acm", "-q0", "-l", levels}, folder);
        const RunResult high =
            run_vellox({folder / "in.raw", folder / "hq.acm", "-hq", "-q0", "-l", levels}, folder);
        ASSERT_EQ(exact.exit_code, 0);
        ASSERT_EQ(high.exit_code, 0) << high.err;
        const Decoded s = decode(folder / "q0.acm");
        const Decoded h = decode(folder / "hq.acm");
        ASSERT_EQ(h.samples.size(), input.size());
        const std::size_t start_up = std::size_t{4} << l;
        std::vector<std::int16_t> steady(input.begin() + start_up, input.end());
        const double high_error = error_energy(
            steady, std::vector<std::int16_t>(h.samples.begin() + start_up, h.samples.end()));
        const double standard_error = error_energy(
            steady, std::vector<std::int16_t>(s.samples.begin() + start_up, s.samples.end()));
        const double mean = high_error / static_cast<double>(steady.size());
        if (l == 0) {
            EXPECT_EQ(h.samples, input);
            EXPECT_EQ(read_file(folder / "hq.acm"), read_file(folder / "q0.acm"));
            continue;
        }
        EXPECT_LE(mean, 1.25 * (std::pow(1.5, l) + 1.0) / 12.0) << levels;
        EXPECT_LT(10.0 * high_error, standard_error) << levels;
    }
}

}  // namespace
}  // namespace vellox::cli
