// velloxdec's command line: names, options, the combinations that make no sense, the ranges.

#include "frontend/decoder_settings.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellox {
namespace {

using Words = std::vector<const char*>;

DecoderParse parse(const Words& words, DecoderSettings* settings = nullptr) {
    std::vector<const char*> argv{"velloxdec"};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back(nullptr);
    DecoderSettings own;
    return parse_decoder_command_line(static_cast<int>(argv.size() - 1), argv.data(),
                                      settings != nullptr ? *settings : own);
}

TEST(DecoderCommandLine, MalformedLinesAskForTheUsageText) {
    for (const Words& words : std::vector<Words>{
             {},
             {"-t"},
             {"in.acm"},                   // nothing to do
             {"-t", "in.acm", "out.wav"},  // "-t" writes nothing
             {"in.acm", "out.wav", "extra"},
             {"in.acm", "out.wav", "-q0"},      // not an option here
             {"-c", "2", "in.acm", "out.wav"},  // options follow the names
             {"-x.acm", "out.wav"},             // a name given as ./-x.acm
             {"in.acm", "-c", "1"},             // "-c" is no name: nothing to do
             {"in.acm", "out.wav", "-c"},
             {"in.acm", "out.wav", "-r"},
             {"in.acm", "--compare"},
         }) {
        EXPECT_EQ(parse(words), DecoderParse::show_usage) << words.size();
    }
}

TEST(DecoderCommandLine, NamesOptionsAndDefaults) {
    DecoderSettings plain;
    ASSERT_EQ(parse({"in.acm", "out.wav"}, &plain), DecoderParse::accepted);
    EXPECT_STREQ(plain.acm_file_name, "in.acm");
    EXPECT_STREQ(plain.wav_file_name, "out.wav");
    EXPECT_EQ(plain.original_file_name, nullptr);
    EXPECT_FALSE(plain.test);
    EXPECT_EQ(plain.channels, 2);
    EXPECT_EQ(plain.rate, 22050);

    DecoderSettings test;
    ASSERT_EQ(parse({"-T", "-", "--COMPARE", "-orig.wav", "-c", "16", "-r", "1000000"}, &test),
              DecoderParse::accepted);
    EXPECT_TRUE(test.test);
    EXPECT_STREQ(test.acm_file_name, "-");
    EXPECT_EQ(test.wav_file_name, nullptr);
    EXPECT_STREQ(test.original_file_name, "-orig.wav");
    EXPECT_EQ(test.channels, 16);
    EXPECT_EQ(test.rate, 1000000);

    EXPECT_EQ(parse({"in.acm", "-", "-c", "1x", "-R", "44100", "-c", "3", "-t"}),
              DecoderParse::show_usage);  // "-t" beside a WAV file
    DecoderSettings piped;
    ASSERT_EQ(parse({"in.acm", "-", "-c", "1x", "-R", "44100", "-c", "3"}, &piped),
              DecoderParse::accepted);
    EXPECT_STREQ(piped.wav_file_name, "-");
    EXPECT_EQ(piped.channels, 3);  // the last one counts
    EXPECT_EQ(piped.rate, 44100);
}

TEST(DecoderCommandLine, HelpVersionAndRanges) {
    EXPECT_EQ(parse({"--HELP"}), DecoderParse::show_help);
    EXPECT_EQ(parse({"in.acm", "out.wav", "--help", "-x"}), DecoderParse::show_help);
    EXPECT_EQ(parse({"--version", "x"}), DecoderParse::show_version);
    EXPECT_EQ(parse({"in", "out", "-c", "0"}), DecoderParse::channels_range);
    EXPECT_EQ(parse({"in", "out", "-c", "17"}), DecoderParse::channels_range);
    EXPECT_EQ(parse({"in", "out", "-c", "4294967298"}), DecoderParse::channels_range);
    EXPECT_EQ(parse({"in", "out", "-c", "1", "-r", "0"}), DecoderParse::rate_range);
    EXPECT_EQ(parse({"in", "out", "-r", "1000001"}), DecoderParse::rate_range);
    EXPECT_EQ(parse({"in", "out", "-r", "-5", "-c", "x"}), DecoderParse::channels_range);
    EXPECT_EQ(parse({"in", "out", "-c", "1", "-r", "1"}), DecoderParse::accepted);
}

}  // namespace
}  // namespace vellox
