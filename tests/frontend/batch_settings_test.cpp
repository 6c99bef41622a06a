// The batch form's command line and plan: options told from names, the outputs' names, and the
// identities behind skipped and refused files.

#include "frontend/batch_settings.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "frontend/batch_plan.h"
#include "frontend/decoder_settings.h"
#include "frontend/settings.h"

namespace vellox {
namespace {

struct Parsed {
    BatchParse outcome;
    BatchSettings settings;
};

int encoder_words(const char* word, const char* next) { return option_words(word, next, true); }

Parsed parse(std::initializer_list<const char*> words, bool decoder = false) {
    std::vector<const char*> argv{"vellox", "--batch"};
    argv.insert(argv.end(), words.begin(), words.end());
    ProgramOptions program;
    program.option_words = decoder ? decoder_option_words : encoder_words;
    program.is_type_word = decoder ? nullptr : is_type_word;
    Parsed parsed{};
    parsed.outcome = parse_batch_command_line(static_cast<int>(argv.size()), argv.data(), program,
                                              parsed.settings);
    return parsed;
}

std::vector<std::string> strings(const std::vector<const char*>& words) {
    return std::vector<std::string>(words.begin(), words.end());
}

using Strings = std::vector<std::string>;

TEST(BatchCommandLine, OptionsStandAnywhereAndDashDashEndsThem) {
    const Parsed p =
        parse({"-q", "30", "a.wav", "-FD", "b.wav", "-16", "-fo", "20", "-wav", "-j", "3",
               "--output-dir", "out", "c.wav", "-f", "--quiet", "--", "-d.wav", "-l"});
    ASSERT_EQ(p.outcome, BatchParse::accepted);
    // "-fd" takes no file name as its length; the last type word counts.
    EXPECT_EQ(strings(p.settings.options), (Strings{"-q", "30", "-FD", "-fo", "20"}));
    EXPECT_EQ(strings(p.settings.files), (Strings{"a.wav", "b.wav", "c.wav", "-d.wav", "-l"}));
    EXPECT_STREQ(p.settings.type_word, "-wav");
    EXPECT_STREQ(p.settings.output_dir, "out");
    EXPECT_EQ(p.settings.jobs, 3);
    EXPECT_TRUE(p.settings.force);
    EXPECT_TRUE(p.settings.quiet);

    const Parsed defaults = parse({"a.acm", "-c", "1", "-r", "44100"}, true);
    ASSERT_EQ(defaults.outcome, BatchParse::accepted);
    EXPECT_EQ(strings(defaults.settings.options), (Strings{"-c", "1", "-r", "44100"}));
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_EQ(defaults.settings.jobs, CPU_COUNT(&allowed));
    EXPECT_FALSE(defaults.settings.force || defaults.settings.quiet);
}

TEST(BatchCommandLine, MalformedLinesAndJobsOutOfRange) {
    for (const std::initializer_list<const char*> words : {std::initializer_list<const char*>{},
                                                           {"-q0"},
                                                           {"a", "-"},
                                                           {"a", "-x"},
                                                           {"a", "-l"},
                                                           {"a", "-j"},
                                                           {"a", "--output-dir"},
                                                           {"a", "-t"},
                                                           {"--", "-"}}) {
        const Parsed p = parse(words);
        if (strings(p.settings.files) == Strings{"-"}) {
            EXPECT_EQ(p.outcome, BatchParse::accepted);  // a file named "-", after "--"
        } else {
            EXPECT_EQ(p.outcome, BatchParse::show_usage) << words.size();
        }
    }
    EXPECT_EQ(parse({"a", "-t"}, true).outcome, BatchParse::show_usage);
    EXPECT_EQ(parse({"a", "--compare", "b"}, true).outcome, BatchParse::show_usage);
    EXPECT_EQ(parse({"a", "-16"}, true).outcome, BatchParse::show_usage);
    for (const char* jobs : {"0", "257", "-1", "x", "99999999999"}) {
        EXPECT_EQ(parse({"a", "-j", jobs}).outcome, BatchParse::jobs_range) << jobs;
    }
    EXPECT_EQ(parse({"a", "-j", "256"}).settings.jobs, 256);
}

// Every option that --help lists is known to the batch, with the value it takes as the
// two-name form's parse takes it.
TEST(BatchCommandLine, EveryOptionOfTheHelpTextIsABatchOption) {
    std::FILE* text = std::tmpfile();
    ASSERT_NE(text, nullptr);
    print_options(text);
    std::rewind(text);
    const auto two_names = [text](std::initializer_list<const char*> words) {
        std::vector<const char*> argv{"vellox", "in", "out"};
        argv.insert(argv.end(), words.begin(), words.end());
        ConversionSettings settings;
        return parse_command_line(static_cast<int>(argv.size()), argv.data(), settings, text) !=
               ParseOutcome::show_usage;
    };
    char line[256];
    int found = 0;
    // Up to the batch form's own options.
    while (std::fgets(line, sizeof line, text) != nullptr &&
           std::string(line).rfind("vellox --batch", 0) != 0) {
        std::istringstream words(line);
        std::string option;
        words >> option;
        if (std::string(line).rfind("   -", 0) != 0 || option == "-" || option == "--help") {
            continue;
        }
        ++found;
        // A value: needed, or taken when one follows; else "5" is a file name.
        const bool value = !two_names({option.c_str()}) || two_names({option.c_str(), "5"});
        const Parsed p = parse({option.c_str(), "5", "a.wav"});
        ASSERT_EQ(p.outcome, BatchParse::accepted) << option;
        EXPECT_EQ(p.settings.files.size(), value ? 1u : 2u) << option;
    }
    std::fclose(text);
    EXPECT_GE(found, 11);
}

TEST(BatchPlan, OutputsTakeTheExtensionInTheirFolder) {
    const std::pair<const char*, const char*> beside[] = {
        {"a.wav", "a.acm"},         {"dir/a.b.wav", "dir/a.b.acm"},   {"noext", "noext.acm"},
        {".hidden", ".hidden.acm"}, {"dir.x/file", "dir.x/file.acm"}, {"/abs/x.", "/abs/x.acm"},
    };
    for (const auto& [input, output] : beside) {
        EXPECT_EQ(batch_output_name(input, nullptr, ".acm"), output) << input;
    }
    EXPECT_EQ(batch_output_name("dir/a.acm", "out", ".wav"), "out/a.wav");
    EXPECT_EQ(batch_output_name("a.acm", "out/", ".wav"), "out/a.wav");
}

TEST(BatchPlan, LinksLeadToTheFilesTheyName) {
    cli::ScratchFolder folder;
    cli::write_file(folder / "a.wav", "x");
    cli::write_file(folder / "b.wav", "x");
    cli::write_file(folder / "kept.acm", "x");
    mkdir((folder / "sub").c_str(), 0755);
    // b.acm leads nowhere yet, to the file c.wav's output would be; d.acm is a link to an input.
    ASSERT_EQ(symlink("c.acm", (folder / "b.acm").c_str()), 0);
    ASSERT_EQ(symlink("a.wav", (folder / "d.acm").c_str()), 0);
    ASSERT_EQ(symlink("..", (folder / "sub/up").c_str()), 0);
    const std::vector<std::string> names = {folder / "a.wav", folder / "b.wav",
                                            folder / "c.wav", folder / "sub/up/c.wav",
                                            folder / "d.wav", folder / "kept.wav"};
    std::vector<const char*> inputs;
    for (const std::string& name : names) inputs.push_back(name.c_str());
    std::vector<BatchFile> plan = plan_batch(inputs, nullptr, ".acm", true);
    ASSERT_EQ(plan.size(), 6u);
    EXPECT_EQ(plan[0].plan, FilePlan::refused);  // a.wav is d.wav's output
    EXPECT_EQ(plan[0].reason, Message::input_is_an_output);
    EXPECT_EQ(plan[0].reason_name, folder / "d.wav");
    EXPECT_EQ(plan[0].input_bytes, 1);
    EXPECT_EQ(plan[1].plan, FilePlan::convert);  // b.acm, replaced with -f, makes c.acm
    EXPECT_EQ(plan[2].plan, FilePlan::refused);  // c.acm: b.wav's output already
    EXPECT_EQ(plan[2].reason, Message::same_output);
    EXPECT_EQ(plan[3].plan, FilePlan::refused);  // the same folder, another way
    EXPECT_EQ(plan[4].plan, FilePlan::convert);
    EXPECT_EQ(plan[5].plan, FilePlan::convert);
    EXPECT_EQ(plan[5].input_bytes, 0);  // kept.wav does not exist: the job says so

    // Without -f the link that leads nowhere counts as an output that exists.
    plan = plan_batch(inputs, nullptr, ".acm", false);
    EXPECT_EQ(plan[1].plan, FilePlan::skipped);
    EXPECT_EQ(plan[1].reason_name, folder / "b.acm");
    EXPECT_EQ(plan[5].plan, FilePlan::skipped);
}

}  // namespace
}  // namespace vellox
