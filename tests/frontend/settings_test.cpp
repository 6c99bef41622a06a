// The command line parser: words, defaults, value conversion and the range checks.

#include "frontend/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "analysis/analysis_filter_bank.h"
#include "frontend/usage_text.h"

namespace vellox {
namespace {

struct Parsed {
    ParseOutcome outcome;
    ConversionSettings settings;
    std::string printed;  // standard output of the parse
};

Parsed parse(std::initializer_list<const char*> words) {
    std::vector<const char*> argv{"vellox"};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back(nullptr);
    Parsed parsed{};
    testing::internal::CaptureStdout();
    parsed.outcome =
        parse_command_line(static_cast<int>(argv.size() - 1), argv.data(), parsed.settings);
    parsed.printed = testing::internal::GetCapturedStdout();
    return parsed;
}

TEST(ParseCommandLine, TwoNamesTakeEveryDefault) {
    const Parsed p = parse({"in.wav", "out.acm"});
    ASSERT_EQ(p.outcome, ParseOutcome::accepted);
    EXPECT_EQ(p.settings.snd_type, SoundType::automatic);
    EXPECT_STREQ(p.settings.snd_file_name, "in.wav");
    EXPECT_STREQ(p.settings.acm_file_name, "out.acm");
    EXPECT_EQ(p.settings.levels, 7);
    EXPECT_EQ(p.settings.subblocks, 16);
    EXPECT_EQ(p.settings.filter_length, 11);
    EXPECT_EQ(p.settings.filter_kind, 'D');
    EXPECT_EQ(p.settings.percents, 50.0);
    EXPECT_EQ(p.printed, "");
}

TEST(ParseCommandLine, MalformedLinesAskForTheUsageText) {
    EXPECT_EQ(parse({}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"in.wav"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"-16", "in.raw"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"-mp3", "in", "out"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"in", "out", "-8"}).outcome, ParseOutcome::show_usage);  // not an option here
    EXPECT_EQ(parse({"in", "out", "extra"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"in", "out", "-fc"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"in", "out", "-l"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"in", "out", "-q"}).outcome, ParseOutcome::show_usage);
    EXPECT_EQ(parse({"in", "out", "-s"}).outcome, ParseOutcome::show_usage);
}

TEST(ParseCommandLine, TypeWordsIgnoreCase) {
    EXPECT_EQ(parse({"-WAV", "in", "out"}).settings.snd_type, SoundType::wav);
    EXPECT_EQ(parse({"-Acm", "in", "out"}).settings.snd_type, SoundType::acm);
    EXPECT_EQ(parse({"-8", "in", "out"}).settings.snd_type, SoundType::raw8);
    const Parsed p = parse({"-16", "-in", "-out"});  // names behind a type word may start with -
    EXPECT_EQ(p.settings.snd_type, SoundType::raw16);
    EXPECT_STREQ(p.settings.snd_file_name, "-in");
    EXPECT_STREQ(p.settings.acm_file_name, "-out");
}

TEST(ParseCommandLine, OptionsSetTheirValues) {
    const Parsed p = parse({"in", "out", "-L", "3", "-s", "10x", "-q", "1.5", "-fo", "15"});
    ASSERT_EQ(p.outcome, ParseOutcome::accepted);
    EXPECT_EQ(p.settings.levels, 3);
    EXPECT_EQ(p.settings.subblocks, 10);  // numeric prefix of "10x"
    EXPECT_EQ(p.settings.percents, 1.5);
    EXPECT_EQ(p.settings.filter_kind, 'O');
    EXPECT_EQ(p.settings.filter_length, 15);

    EXPECT_EQ(parse({"in", "out", "-q", "30", "-q0"}).settings.percents, -1.0);
    EXPECT_EQ(parse({"in", "out", "-q0", "-q", "30"}).settings.percents, 30.0);
    EXPECT_EQ(parse({"in", "out", "-q", "-1"}).outcome, ParseOutcome::accepted);
    EXPECT_EQ(parse({"in", "out", "-q", "100"}).outcome, ParseOutcome::accepted);
}

TEST(ParseCommandLine, HighQualityIsAnOptionWordAfterTheNames) {
    EXPECT_FALSE(parse({"in", "out"}).settings.high_quality);
    for (const char* word : {"-hq", "-HQ", "-Hq"}) {
        const Parsed p = parse({"in", "out", "-q", "30", word, "-fd"});
        ASSERT_EQ(p.outcome, ParseOutcome::accepted) << word;
        EXPECT_TRUE(p.settings.high_quality);
        EXPECT_EQ(p.settings.percents, 30.0);
        EXPECT_EQ(p.settings.filter_length, 11);  // "-fd" takes no value from a later word
    }
    EXPECT_TRUE(parse({"in", "out", "-fd", "-hq"}).settings.high_quality);
    EXPECT_EQ(parse({"-hq", "in", "out"}).outcome, ParseOutcome::show_usage);  // no type word
    EXPECT_EQ(parse({"in", "out", "-hq0"}).outcome, ParseOutcome::show_usage);
}

TEST(ParseCommandLine, FilterWordsTakeTheirValueOnlyWhenOneFollows) {
    const Parsed last = parse({"in", "out", "-fd"});
    EXPECT_EQ(last.outcome, ParseOutcome::accepted);
    EXPECT_EQ(last.settings.filter_length, 11);

    const Parsed before_option = parse({"in", "out", "-fd", "-q", "20"});
    EXPECT_EQ(before_option.outcome, ParseOutcome::accepted);
    EXPECT_EQ(before_option.settings.filter_length, 11);
    EXPECT_EQ(before_option.settings.percents, 20.0);

    const Parsed fc = parse({"in", "out", "-fc", "taps.txt"});
    EXPECT_EQ(fc.settings.filter_kind, 'C');
    EXPECT_STREQ(fc.settings.filter_file_name, "taps.txt");

    const Parsed fc_then_fd = parse({"in", "out", "-fc", "taps.txt", "-fd", "5"});
    EXPECT_EQ(fc_then_fd.settings.filter_kind, 'D');
    EXPECT_EQ(fc_then_fd.settings.filter_length, 5);
}

TEST(ParseCommandLine, RangeChecksPrintTheFirstFailureOnly) {
    const char* levels = "'levels' parameter (-l) should be between 0 and 15.\n";
    const char* length = "'filter_length' parameter should be greater than 2.\n";
    const char* subblocks = "'subblocks' parameter (-s) should be between 1 and 4095.\n";
    const char* percents = "'percents' parameter (-q) should be between 1 and 100.\n";
    struct Case {
        std::initializer_list<const char*> words;
        const char* message;
    };
    const Case cases[] = {
        {{"i", "o", "-l", "16"}, levels},
        {{"i", "o", "-l", "-1"}, levels},
        {{"i", "o", "-l", "20", "-s", "0"}, levels},
        {{"i", "o", "-l", "4294967303"}, levels},  // does not wrap into the range
        {{"i", "o", "-fd", "2"}, length},
        {{"i", "o", "-fd", "abc"}, length},  // consumed, reads as 0
        {{"i", "o", "-s", "0"}, subblocks},
        {{"i", "o", "-s", "4096"}, subblocks},
        {{"i", "o", "-q", "1"}, percents},
        {{"i", "o", "-q", "0"}, percents},
        {{"i", "o", "-q", "-2"}, percents},
        {{"i", "o", "-q", "nan"}, percents},
        {{"i", "o", "-q", "inf"}, percents},
        {{"i", "o", "-q", "100.5"}, percents},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.words);
        EXPECT_EQ(p.outcome, ParseOutcome::rejected) << c.message;
        EXPECT_EQ(p.printed, c.message);
    }
    EXPECT_EQ(parse({"i", "o", "-l", "0", "-s", "4095"}).outcome, ParseOutcome::accepted);
    EXPECT_EQ(parse({"i", "o", "-l", "15", "-s", "1"}).outcome, ParseOutcome::accepted);
}

// The longest computed filters accepted are the longest whose taps are all finite and not 0;
// one tap more overflows the design and is refused. Only the design finally chosen counts.
TEST(ParseCommandLine, ComputedFiltersStopWhereTheirTapsStayFinite) {
    const auto all_taps_usable = [](FdFilterBank& bank) {
        if (bank.init() != VELLOX_OK) return false;
        bool usable = std::isfinite(bank.divisor());
        for (std::int32_t k = 0; k < bank.full_filter_length(); ++k) {
            for (const double tap : {bank.low_pass_taps()[k], bank.high_pass_taps()[k]}) {
                usable = usable && std::isfinite(tap) && tap != 0.0;
            }
        }
        return usable;
    };
    FdFilterBank fd_longest(1, 806), fd_over(1, 807);
    FoFilterBank fo_longest(1, 402), fo_over(1, 403);
    EXPECT_TRUE(all_taps_usable(fd_longest));
    EXPECT_FALSE(all_taps_usable(fd_over));
    EXPECT_TRUE(all_taps_usable(fo_longest));
    EXPECT_FALSE(all_taps_usable(fo_over));

    const char* fd_message = "'filter_length' parameter should be between 3 and 806.\n";
    const char* fo_message = "'filter_length' parameter should be between 3 and 402.\n";
    EXPECT_EQ(parse({"i", "o", "-fd", "806"}).outcome, ParseOutcome::accepted);
    EXPECT_EQ(parse({"i", "o", "-fo", "402"}).outcome, ParseOutcome::accepted);
    EXPECT_EQ(parse({"i", "o", "-fd", "807"}).printed, fd_message);
    EXPECT_EQ(parse({"i", "o", "-fd", "99999999999"}).printed, fd_message);
    EXPECT_EQ(parse({"i", "o", "-fo", "403"}).printed, fo_message);
    EXPECT_EQ(parse({"i", "o", "-fd", "500", "-fo"}).printed, fo_message);
    EXPECT_EQ(parse({"i", "o", "-fo", "500", "-fd"}).outcome, ParseOutcome::accepted);
    EXPECT_EQ(parse({"i", "o", "-fd", "2", "-fo"}).printed,
              std::string("'filter_length' parameter should be greater than 2.\n"));
    EXPECT_EQ(parse({"i", "o", "-fd", "900", "-fc", "taps.txt"}).outcome, ParseOutcome::accepted);
    const Parsed levels_first = parse({"i", "o", "-fo", "403", "-l", "16"});
    EXPECT_EQ(levels_first.outcome, ParseOutcome::rejected);
    EXPECT_EQ(levels_first.printed, "'levels' parameter (-l) should be between 0 and 15.\n");
}

TEST(PrintUsage, PrintsTheUsageTextWithOnePercentSign) {
    testing::internal::CaptureStdout();
    print_usage();
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, test::usage_text);
}

}  // namespace
}  // namespace vellox
