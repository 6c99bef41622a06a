// Encoding and decoding again: with no size target the decoded signal follows the input
// closely once the transform's start-up stretch has passed, at every level and filter.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "sources/source_detection.h"

namespace vellox::cli {
namespace {

// Samples the ACM file decodes to, read in odd-sized chunks.
std::vector<std::int16_t> decode(const std::string& path) {
    std::unique_ptr<SoundSource> source = open_sound_source(path.c_str(), SoundType::acm).source;
    if (source == nullptr) return {};
    std::vector<std::int16_t> samples(static_cast<std::size_t>(source->total_samples));
    std::size_t done = 0;
    while (done < samples.size()) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(777, samples.size() - done));
        EXPECT_EQ(source->read(samples.data() + done, n), n);
        done += static_cast<std::size_t>(n);
    }
    std::int16_t past_end[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(source->read(past_end, 5), 0);
    EXPECT_EQ(source->samples_not_decoded(), 0);
    return samples;
}

struct Difference {
    int largest = 0;          // after the start-up stretch
    std::size_t settled = 0;  // first sample from which on the difference stays small
};

Difference compare(const std::vector<std::int16_t>& in, const std::vector<std::int16_t>& out,
                   std::size_t startup) {
    Difference d;
    for (std::size_t i = startup; i < in.size() && i < out.size(); ++i) {
        d.largest = std::max(d.largest, std::abs(in[i] - out[i]));
    }
    return d;
}

TEST(RoundTrip, DecodedSignalFollowsTheInput) {
    ScratchFolder folder;
    // Loud enough to matter, quiet enough that no coefficient is clipped at 7 levels.
    const std::vector<std::int16_t> tone = sine(40000, 12000, 91.7);
    const std::vector<std::int16_t> hiss = noise(40000, 20000, 3);
    struct Case {
        const std::vector<std::int16_t>* input;
        std::vector<std::string> options;
        std::size_t startup;
        int tolerance;
    };
    const std::vector<Case> cases = {
        {&tone, {"-l", "0"}, 0, 0},    {&hiss, {"-l", "0"}, 0, 0},
        {&tone, {"-l", "1"}, 32, 16},  {&hiss, {"-l", "1"}, 32, 16},
        {&tone, {"-l", "3"}, 128, 32}, {&hiss, {"-l", "3"}, 128, 32},
        {&tone, {}, 1024, 64},         {&hiss, {}, 1024, 64},
        {&tone, {"-fo"}, 1024, 64},    {&tone, {"-l", "5", "-s", "3"}, 512, 64},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& o : c.options) label += o + " ";
        write_file(folder / "in.raw", raw16(*c.input));
        std::vector<std::string> args = {folder / "in.raw", folder / "out.acm", "-q0"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = run_vellox(args, folder);
        ASSERT_EQ(r.exit_code, 0) << label << r.err;
        const std::vector<std::int16_t> out = decode(folder / "out.acm");
        ASSERT_EQ(out.size(), c.input->size()) << label;
        const Difference d = compare(*c.input, out, c.startup);
        EXPECT_LE(d.largest, c.tolerance) << label << (c.input == &tone ? "tone" : "noise");
    }
}

}  // namespace
}  // namespace vellox::cli
