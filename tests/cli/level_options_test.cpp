// "--gain", "--fit" and "--limit" through the executable and velloxdec, and the note after
// the clipping warning that says which gain would fit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "codec/input_level.h"
#include "frontend/level_passes.h"
#include "sources/source_detection.h"

namespace vellox::cli {
namespace {

using Samples = std::vector<std::int16_t>;

// The samples of the WAV file velloxdec writes for an ACM file, one channel.
Samples decoded(const ScratchFolder& folder, const std::string& acm) {
    RunOptions options;
    options.executable = VELLOXDEC_EXECUTABLE;
    const RunResult r = run_vellox({acm, folder / "out.wav", "-c", "1"}, folder, options);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string wav = read_file(folder / "out.wav");
    Samples samples;
    for (std::size_t at = 44; at + 1 < wav.size(); at += 2) {
        samples.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(wav[at]) |
                                                    static_cast<unsigned char>(wav[at + 1]) << 8));
    }
    return samples;
}

double snr_db(const Samples& reference, const Samples& other) {
    double signal = 0.0;
    double error = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double r = reference[i];
        const double d = r - (i < other.size() ? other[i] : 0);
        signal += r * r;
        error += d * d;
    }
    return error == 0.0 ? 999.0 : 10.0 * std::log10(signal / error);
}

// 440 Hz at -1 dBFS with a fade-in of 2000 samples; its second half 12 dB quieter when
// quieter is set. At 7 levels its coefficients reach 1.8 times its amplitude.
Samples tone(std::size_t count, bool quieter) {
    Samples samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        double level = quieter && i >= count / 2 ? 7300.0 : 29200.0;
        level *= std::min(1.0, static_cast<double>(i) / 2000.0);
        samples[i] = static_cast<std::int16_t>(
            std::lround(level * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 22050.0)));
    }
    return samples;
}

// The value the warning names, from "Max. truncated value: %ld".
long truncated_value(const std::string& out) {
    const std::size_t at = out.find("Max. truncated value: ");
    return at == std::string::npos ? 0 : std::atol(out.c_str() + at + 22);
}

TEST(LevelOptions, GainScalesEverySampleAndHasItsRange) {
    ScratchFolder folder;
    const Samples input = noise(5000, 30000, 7);
    write_file(folder / "in.raw", raw16(input));
    // At 0 levels without a size target the file holds the samples themselves.
    const RunResult r =
        run_vellox({folder / "in.raw", folder / "g.acm", "-l", "0", "-q0", "--GAIN", "-6"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Samples expected(input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        expected[i] = static_cast<std::int16_t>(std::round(input[i] * std::pow(10.0, -0.3)));
    EXPECT_EQ(decoded(folder, folder / "g.acm"), expected);
    // +20 dB saturates.
    ASSERT_EQ(
        run_vellox({folder / "in.raw", folder / "g.acm", "-l", "0", "-q0", "--gain", "20"}, folder)
            .exit_code,
        0);
    for (std::size_t i = 0; i < input.size(); ++i) {
        const double v = std::round(input[i] * 10.0);
        expected[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
    EXPECT_EQ(decoded(folder, folder / "g.acm"), expected);

    for (const char* value : {"20.01", "-60.5", "nan", "x"}) {
        SCOPED_TRACE(value);
        const RunResult bad =
            run_vellox({folder / "in.raw", folder / "bad.acm", "--gain", value}, folder);
        // "x" reads as 0, like every number of the command line.
        if (std::string(value) == "x") {
            EXPECT_EQ(bad.exit_code, 0);
            continue;
        }
        EXPECT_EQ(bad.exit_code, 2);
        EXPECT_EQ(bad.out, std::string(banner) +
                               "'gain' parameter (--gain) should be between -60 and 20.\n");
        EXPECT_FALSE(file_exists(folder / "bad.acm"));
    }
    EXPECT_EQ(run_vellox({folder / "in.raw", folder / "bad.acm", "--gain"}, folder).exit_code, 2);
}

// The note after the warning names the gain at which the largest clipped coefficient would
// have fitted; with that gain nothing is clipped.
TEST(LevelOptions, TheClippingWarningIsFollowedByTheGainThatFits) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(tone(30000, false)));
    for (const char* mode : {"-q", "-hq"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> args = {folder / "in.raw", folder / "out.acm", "-q", "50"};
        if (std::string(mode) == "-hq") args.push_back("-hq");
        const RunResult r = run_vellox(args, folder);
        ASSERT_EQ(r.exit_code, 0);
        const long m = truncated_value(r.out);
        ASSERT_GT(m, 32767);
        const double gain = std::floor(200.0 * std::log10(32767.0 / static_cast<double>(m))) / 10.0;
        char note[80];
        std::snprintf(note, sizeof note, "Note: --gain %.1f would fit every coefficient\n", gain);
        EXPECT_EQ(r.err, note);
        EXPECT_NE(r.out.find("Fade out your signal"), std::string::npos);
        char value[16];
        std::snprintf(value, sizeof value, "%.1f", gain);
        args.insert(args.end(), {"--gain", value});
        const RunResult fitted = run_vellox(args, folder);
        EXPECT_EQ(fitted.exit_code, 0);
        EXPECT_EQ(fitted.out.find("Warning"), std::string::npos) << fitted.out;
        EXPECT_EQ(fitted.err, "");
    }
}

TEST(LevelOptions, FitAppliesTheGainThatFitsAndSaysSo) {
    ScratchFolder folder;
    const Samples input = tone(40000, false);
    write_file(folder / "in.raw", raw16(input));
    for (const char* mode : {"-q", "-hq"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> args = {folder / "in.raw", folder / "fit.acm", "-q", "50"};
        if (std::string(mode) == "-hq") args.push_back("-hq");
        args.push_back("--Fit");
        const RunResult r = run_vellox(args, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out.find("Warning"), std::string::npos);
        ASSERT_EQ(r.err.rfind("Note: --fit applied a gain of -", 0), 0u) << r.err;
        const double gain = std::atof(r.err.c_str() + 30);
        EXPECT_LT(gain, -4.0);
        EXPECT_GT(gain, -7.0);
        // The same file as the gain given by hand; within 40 dB of the input at that gain.
        args.back() = "--gain";
        args.push_back(r.err.substr(30, r.err.find(' ', 30) - 30));
        args[1] = folder / "gain.acm";
        ASSERT_EQ(run_vellox(args, folder).exit_code, 0);
        EXPECT_EQ(read_file(folder / "fit.acm"), read_file(folder / "gain.acm"));
        Samples scaled(input.size());
        for (std::size_t i = 0; i < input.size(); ++i)
            scaled[i] = static_cast<std::int16_t>(std::round(input[i] * std::pow(10.0, gain / 20)));
        EXPECT_GT(snr_db(scaled, decoded(folder, folder / "fit.acm")), 40.0);
    }
    // An input that fits as it is: no note, and the file without --fit.
    write_file(folder / "quiet.raw", raw16(noise(9000, 3000, 2)));
    const RunResult quiet = run_vellox({folder / "quiet.raw", folder / "q.acm", "--fit"}, folder);
    ASSERT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
    ASSERT_EQ(run_vellox({folder / "quiet.raw", folder / "plain.acm"}, folder).exit_code, 0);
    EXPECT_EQ(read_file(folder / "q.acm"), read_file(folder / "plain.acm"));
}

TEST(LevelOptions, LimitLowersOnlyWhereCoefficientsWouldClip) {
    ScratchFolder folder;
    const Samples input = tone(60000, true);
    write_file(folder / "in.raw", raw16(input));
    const RunResult r =
        run_vellox({folder / "in.raw", folder / "lim.acm", "-q0", "-hq", "--LIMIT"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
    double share = 0.0;
    double most = 0.0;
    ASSERT_EQ(
        std::sscanf(r.err.c_str(), "Note: --limit lowered %lf%% of the input, by at most %lf dB\n",
                    &share, &most),
        2)
        << r.err;
    EXPECT_GT(share, 40.0);  // the loud half
    EXPECT_LT(share, 60.0);
    EXPECT_GT(most, 1.0);
    EXPECT_LT(most, 8.0);

    // The samples the encoder saw, by the program's own passes: after the start-up stretch
    // (the first 512 samples) the decoded file is within 70 dB of them, and the quiet half is
    // the input itself.
    EncoderSettings settings;
    settings.high_quality = true;
    const std::string name = folder / "in.raw";
    std::unique_ptr<SoundSource> source = open_sound_source(name.c_str(), SoundType::raw16).source;
    ASSERT_NE(source, nullptr);
    const InputPlace place = {name.c_str(), SoundType::raw16, -1};
    LevelPlan plan;
    std::unique_ptr<ConvertedSource> converted;  // no conversion
    ASSERT_TRUE(plan_level(settings, place, 0.0, false, true, source, converted, plan));
    InputLevel level(settings, plan.gain_db, true, plan.ceiling, 60000);
    ASSERT_EQ(level.init(), VELLOX_OK);
    Samples padded = input;
    padded.resize(input.size() + static_cast<std::size_t>(level.delay()), 0);
    Samples limited(padded.size());
    std::size_t got = 0;
    for (std::size_t at = 0; at < padded.size(); at += 65536) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(65536, padded.size() - at));
        got += static_cast<std::size_t>(level.process(padded.data() + at, n, limited.data() + got));
    }
    limited.resize(got);
    const Samples out = decoded(folder, folder / "lim.acm");
    EXPECT_GT(snr_db(Samples(limited.begin() + 512, limited.end()),
                     Samples(out.begin() + 512, out.end())),
              70.0);
    EXPECT_EQ(Samples(limited.begin() + 34000, limited.end()),
              Samples(input.begin() + 34000, input.end()));

    // An input that fits: no note, the same file as without.
    write_file(folder / "quiet.raw", raw16(noise(9000, 3000, 2)));
    const RunResult quiet =
        run_vellox({folder / "quiet.raw", folder / "q.acm", "--limit", "-hq"}, folder);
    ASSERT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
    ASSERT_EQ(run_vellox({folder / "quiet.raw", folder / "plain.acm", "-hq"}, folder).exit_code, 0);
    EXPECT_EQ(read_file(folder / "q.acm"), read_file(folder / "plain.acm"));
}

}  // namespace
}  // namespace vellox::cli
