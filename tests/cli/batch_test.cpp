// The batch form of both programs and --quiet, through the real executables: the outputs of
// one-at-a-time runs, the lines in the order files finish, what is skipped and refused, an
// interrupt in the middle, and the progress line on a terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "common/sound_tools.h"
#include "sources/resampler.h"
#include "sources/sndfile_source.h"
#include "vellox/vellox.h"

namespace vellox::cli {
namespace {

using Names = std::set<std::string>;
using Words = std::vector<std::string>;

const std::string enc_banner = banner;
const std::string dec_banner =
    "velloxdec decoder " + std::string(vellox_version()) + "  (c) 2026 vellox contributors\n";

RunOptions velloxdec() {
    RunOptions options;
    options.executable = VELLOXDEC_EXECUTABLE;
    return options;
}

// A 16-bit mono WAV file of the samples.
std::string wav(const std::vector<std::int16_t>& samples) {
    const auto u32 = [](std::uint32_t v) {
        return std::string{char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF),
                           char(v >> 24)};
    };
    const std::string data = raw16(samples);
    const std::string fmt("\x01\x00\x01\x00\x22\x56\x00\x00\x44\xAC\x00\x00\x02\x00\x10\x00", 16);
    return "RIFF" + u32(static_cast<std::uint32_t>(36 + data.size())) + "WAVEfmt " + u32(16) + fmt +
           "data" + u32(static_cast<std::uint32_t>(data.size())) + data;
}

Words with(Words words, const Words& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

// "IN -> OUT: SIZE bytes, RATE bits per sample" for an output file made from samples.
std::string converted_line(const std::string& in, const std::string& out, std::size_t size,
                           long samples) {
    char rate[32];
    std::snprintf(
        rate, sizeof rate, "%.3f",
        samples == 0 ? 0.0 : static_cast<double>(size) * 8.0 / static_cast<double>(samples));
    return in + " -> " + out + ": " + std::to_string(size) + " bytes, " + rate +
           " bits per sample\n";
}

// Inputs of a few lengths (one clips, so that its warning appears), in folder.
const std::vector<std::pair<std::string, long>> inputs = {
    {"a.wav", 5000}, {"b.wav", 40000}, {"c.wav", 1}, {"d.wav", 70001}};

void make_inputs(const ScratchFolder& folder) {
    for (const auto& [name, count] : inputs) {
        std::vector<std::int16_t> samples = noise(static_cast<std::size_t>(count), 9000, 3);
        if (name == "b.wav") std::fill(samples.begin() + 100, samples.begin() + 400, 32767);
        write_file(folder / name, wav(samples));
    }
}

// The lines of a two-name run's report after its rate (the warnings), then its standard
// error's (the notes), each headed by name.
std::string warnings_of(const std::string& name, const RunResult& run) {
    const std::size_t rate = run.out.find("Compression rate: ");
    const std::string lines = run.out.substr(run.out.find('\n', rate) + 1) + run.err;
    std::string warnings;
    std::size_t start = 0;
    for (std::size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
        warnings += name + ": " + lines.substr(start, end + 1 - start);
    return warnings;
}

TEST(Batch, OutputsAreThoseOfOneAtATimeRunsAndEachFinishedFileGetsItsLine) {
    ScratchFolder folder;
    make_inputs(folder);
    mkdir((folder / "ref").c_str(), 0755);
    mkdir((folder / "out").c_str(), 0755);
    RunOptions in_folder;
    in_folder.working_directory = folder.path();
    for (const Words& options :
         {Words{}, Words{"-q0", "-l", "3"}, Words{"-hq", "-s", "8", "-fd", "20"},
          Words{"-16", "-q", "30"}, Words{"--gain", "-3", "--limit"}, Words{"--fit"}}) {
        SCOPED_TRACE(testing::PrintToString(options));
        // One job at a time: the lines in the inputs' order, beside the inputs. The options
        // stand before, between and after the names.
        const RunResult one = run_vellox(
            with(with({"--batch", "-j", "1", "a.wav"}, options), {"b.wav", "c.wav", "d.wav"}),
            folder, in_folder);
        ASSERT_EQ(one.exit_code, 0) << one.err;
        EXPECT_EQ(one.out, "");
        std::string expected = enc_banner;
        for (const auto& [name, count] : inputs) {
            const std::string acm = name.substr(0, 1) + ".acm";
            Words args = {name, "ref/" + acm};
            if ((!options.empty() && options[0] == "-16")) args.insert(args.begin(), "-16");
            for (const std::string& option : options) {
                if (option != "-16") args.push_back(option);
            }
            const RunResult single = run_vellox(args, folder, in_folder);
            ASSERT_EQ(single.exit_code, 0) << single.err;
            const std::string made = read_file(folder / acm);
            EXPECT_EQ(made, read_file(folder / ("ref/" + acm))) << name;
            const long samples = (!options.empty() && options[0] == "-16") ? count + 22 : count;
            expected += converted_line(name, acm, made.size(), samples) + warnings_of(name, single);
            if (options.empty() && name == "b.wav") {
                EXPECT_EQ(warnings_of(name, single).substr(0, 16), "b.wav: Warning: ");
            }
            unlink((folder / acm).c_str());
        }
        EXPECT_EQ(one.err, expected + "4 converted, 0 failed, 0 skipped\n");

        // Four at once, into a folder of their own.
        const RunResult four = run_vellox(
            with(with({"--batch", "-j", "4", "--output-dir", folder / "out"}, options),
                 {folder / "a.wav", folder / "b.wav", folder / "c.wav", folder / "d.wav"}),
            folder);
        ASSERT_EQ(four.exit_code, 0) << four.err;
        for (const auto& [name, count] : inputs) {
            const std::string acm = name.substr(0, 1) + ".acm";
            EXPECT_EQ(read_file(folder / ("out/" + acm)), read_file(folder / ("ref/" + acm)))
                << name;
            EXPECT_NE(four.err.find(folder / name + " -> " + folder / ("out/" + acm) + ": "),
                      std::string::npos);
            unlink((folder / ("out/" + acm)).c_str());
        }
        EXPECT_NE(four.err.find("\n4 converted, 0 failed, 0 skipped\n"), std::string::npos);
        // The warnings of a file follow its own line.
        if (options.empty()) {
            const std::size_t line = four.err.find(folder / "b.wav -> ");
            ASSERT_NE(line, std::string::npos);
            EXPECT_EQ(four.err.find(folder / "b.wav: Warning: "), four.err.find('\n', line) + 1);
        }
    }

    // velloxdec: the same files decoded one at a time and in batches, with and without -c.
    for (const Words& options : {Words{}, Words{"-c", "1", "-r", "44100"}}) {
        SCOPED_TRACE(testing::PrintToString(options));
        for (const char* jobs : {"1", "4"}) {
            const RunResult r =
                run_vellox(with(with({"--batch", "-j", jobs}, options),
                                {folder / "ref/a.acm", folder / "ref/b.acm", folder / "ref/d.acm"}),
                           folder, velloxdec());
            ASSERT_EQ(r.exit_code, 0) << r.err;
            for (const char* name : {"a", "b", "d"}) {
                const std::string acm = folder / ("ref/" + std::string(name) + ".acm");
                const std::string wav_name = folder / ("ref/" + std::string(name) + ".wav");
                const std::string made = read_file(wav_name);
                const RunResult single =
                    run_vellox(with({acm, folder / "single.wav"}, options), folder, velloxdec());
                ASSERT_EQ(single.exit_code, 0) << single.err;
                EXPECT_EQ(made, read_file(folder / "single.wav")) << name;
                EXPECT_NE(r.err.find(acm + " -> " + wav_name + ": " + std::to_string(made.size()) +
                                     " bytes, "),
                          std::string::npos);
                unlink(wav_name.c_str());
            }
            EXPECT_EQ(r.err.substr(0, dec_banner.size()), dec_banner);
            EXPECT_NE(r.err.find("\n3 converted, 0 failed, 0 skipped\n"), std::string::npos);
        }
    }
}

// Inputs read through libsndfile and the signal's conversions work file by file, the rate note
// headed by its file's name.
TEST(Batch, ForeignInputsAndConversionsAreThoseOfOneAtATimeRuns) {
    if (!SndfileSource::available()) GTEST_SKIP() << "this build has no libsndfile";
    if (!test::have_tool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchFolder folder;
    RunOptions in_folder;
    in_folder.working_directory = folder.path();
    ASSERT_TRUE(test::run_tool("cd " + test::quoted(folder.path()) +
                               " && sox -R -n -r 44100 -c 2 -b 16 a.flac synth 1 sine 440 sine 660"
                               " && sox -R -n -r 22050 -c 1 -b 16 b.aiff synth 2 sine 300"));
    Words options = {"--downmix"};
    if (Resampler::available()) options = {"--downmix", "--resample", "16000"};
    const RunResult batch = run_vellox(
        with({"--batch", "a.flac", "b.aiff", "--output-dir", "."}, options), folder, in_folder);
    ASSERT_EQ(batch.exit_code, 0) << batch.err;
    for (const char* name : {"a", "b"}) {
        const std::string input = std::string(name) + (name[0] == 'a' ? ".flac" : ".aiff");
        const RunResult single = run_vellox(with({input, "ref.acm"}, options), folder, in_folder);
        ASSERT_EQ(single.exit_code, 0) << single.err;
        EXPECT_EQ(read_file(folder / (std::string(name) + ".acm")), read_file(folder / "ref.acm"));
        EXPECT_NE(batch.err.find(input + " -> ./" + name + ".acm: "), std::string::npos);
        EXPECT_NE(batch.err.find(warnings_of(input, single)), std::string::npos) << batch.err;
    }
    // Without a conversion, the 44.1 kHz file gets the note, with its name.
    const RunResult noted = run_vellox({"--batch", "-f", "a.flac"}, folder, in_folder);
    ASSERT_EQ(noted.exit_code, 0) << noted.err;
    EXPECT_NE(noted.err.find("a.flac: Note: the input is 44100 Hz but the file's header says "
                             "22050 Hz"),
              std::string::npos)
        << noted.err;
}

TEST(Batch, ExistingOutputsAreSkippedAndCollisionsAndOutputsAsInputsRefused) {
    ScratchFolder folder;
    make_inputs(folder);
    mkdir((folder / "sub").c_str(), 0755);
    mkdir((folder / "out").c_str(), 0755);
    write_file(folder / "sub/a.wav", read_file(folder / "b.wav"));
    write_file(folder / "a.acm", "precious");
    RunOptions in_folder;
    in_folder.working_directory = folder.path();

    // a.acm exists: skipped; c.wav twice: the second refused; a.acm as an input is the output
    // of a.wav.
    const RunResult r =
        run_vellox({"--batch", "a.wav", "c.wav", "./c.wav", "a.acm"}, folder, in_folder);
    EXPECT_EQ(r.exit_code, 1);
    const std::string c_line =
        converted_line("c.wav", "c.acm", read_file(folder / "c.acm").size(), 1);
    EXPECT_EQ(r.err, enc_banner +
                         "a.wav: Skipped: Output file exists: 'a.acm'\n"
                         "./c.wav: Error: Another input has the same output file: './c.acm'\n"
                         "a.acm: Error: Input file is the output of another input: 'a.wav'\n" +
                         c_line + "1 converted, 2 failed, 1 skipped\n");
    EXPECT_EQ(read_file(folder / "a.acm"), "precious");

    // -f replaces it; an ACM input is its own output.
    const RunResult forced = run_vellox({"--batch", "-f", "a.wav", "c.acm"}, folder, in_folder);
    EXPECT_EQ(forced.exit_code, 1);
    EXPECT_NE(read_file(folder / "a.acm"), "precious");
    EXPECT_NE(forced.err.find("c.acm: Error: Input and output are the same file: 'c.acm'\n"),
              std::string::npos);
    EXPECT_NE(forced.err.find("\n1 converted, 1 failed, 0 skipped\n"), std::string::npos);

    // Two folders' a.wav into one output folder; everything skipped is still success.
    const RunResult dir =
        run_vellox({"--batch", "--output-dir", "out/", "a.wav", "sub/a.wav"}, folder, in_folder);
    EXPECT_EQ(dir.exit_code, 1);
    EXPECT_NE(dir.err.find("sub/a.wav: Error: Another input has the same output file: "
                           "'out/a.acm'\n"),
              std::string::npos);
    EXPECT_EQ(list_folder(folder / "out"), Names{"a.acm"});
    EXPECT_EQ(read_file(folder / "out/a.acm"), read_file(folder / "a.acm"));
    const RunResult again =
        run_vellox({"--batch", "--output-dir", "out", "a.wav"}, folder, in_folder);
    EXPECT_EQ(again.exit_code, 0);
    EXPECT_EQ(again.err, enc_banner +
                             "a.wav: Skipped: Output file exists: 'out/a.acm'\n"
                             "0 converted, 0 failed, 1 skipped\n");
    EXPECT_EQ(list_folder(folder.path()),
              (Names{"a.acm", "a.wav", "b.wav", "c.acm", "c.wav", "d.wav", "out", "sub"}));
}

TEST(Batch, FailedFilesAreReportedWithTheirNameAndTheRestConverted) {
    ScratchFolder folder;
    make_inputs(folder);
    write_file(folder / "riff.wav", "RIFF\x04\x00\x00\x00WAVE");
    RunOptions in_folder;
    in_folder.working_directory = folder.path();
    const RunResult r = run_vellox(
        {"--batch", "-j", "3", "a.wav", "none.wav", "riff.wav", "--", "-x.wav"}, folder, in_folder);
    EXPECT_EQ(r.exit_code, 1);
    write_file(folder / "-x.wav", read_file(folder / "a.wav"));
    for (const std::string line :
         {"none.wav: Error: No such file or directory: 'none.wav'\n"
          "none.wav: Cannot open input file.\n",
          "riff.wav: Error: Unsupported sound file format: 'riff.wav'\n"
          "riff.wav: Cannot open input file.\n",
          "-x.wav: Error: No such file or directory: './-x.wav'\n-x.wav: Cannot open input file.\n",
          "a.wav -> a.acm: ", "\n1 converted, 3 failed, 0 skipped\n"}) {
        EXPECT_NE(r.err.find(line), std::string::npos) << line << r.err;
    }
    // A name that begins with "-", given after "--", is converted like any other.
    const RunResult dash = run_vellox({"--batch", "--", "-x.wav"}, folder, in_folder);
    EXPECT_EQ(dash.exit_code, 0) << dash.err;
    EXPECT_EQ(read_file(folder / "-x.acm"), read_file(folder / "a.acm"));

    // Damage is a warning of its file; velloxdec's failures likewise.
    write_file(folder / "cut.acm", read_file(folder / "a.acm").substr(0, 14));
    write_file(folder / "riff.bin", read_file(folder / "riff.wav"));
    mkdir((folder / "dec").c_str(), 0755);
    const RunResult dec =
        run_vellox({"--batch", "cut.acm", "a.acm", "riff.bin", "--output-dir", "dec"}, folder, [&] {
            RunOptions options = velloxdec();
            options.working_directory = folder.path();
            return options;
        }());
    EXPECT_EQ(dec.exit_code, 1);
    EXPECT_NE(dec.err.find("cut.acm -> dec/cut.wav: 10044 bytes, 16.070 bits per sample\n"
                           "cut.acm: Warning: damaged input: 5000 of 5000 samples could not be "
                           "decoded\n"),
              std::string::npos)
        << dec.err;
    EXPECT_NE(dec.err.find("riff.bin: Error: Not an ACM file: 'riff.bin'\n"
                           "riff.bin: Cannot open input file.\n"),
              std::string::npos)
        << dec.err;
    EXPECT_NE(dec.err.find("\n2 converted, 1 failed, 0 skipped\n"), std::string::npos);
}

TEST(Batch, CommandLineFaultsAreFoundBeforeAnyFileIsTouched) {
    ScratchFolder folder;
    make_inputs(folder);
    write_file(folder / "taps.txt", "2 1");
    const std::string batch_usage = "Usage: vellox --batch [options] FILE...\n";
    const Names before = list_folder(folder.path());
    struct Case {
        Words args;
        int status;
        std::string err;  // after the banner, its start
    };
    const std::string a = folder / "a.wav";
    for (const Case& c : std::vector<Case>{
             {{"--batch"}, 2, batch_usage},
             {{"--batch", "-", a}, 2, batch_usage},
             {{"--batch", a, "-x"}, 2, batch_usage},
             {{"--batch", a, "-l"}, 2, batch_usage},
             {{"--batch", "-j", "0", a}, 2, "'jobs' parameter (-j) should be between 1 and 256.\n"},
             {{"--batch", a, "-j", "257"},
              2,
              "'jobs' parameter (-j) should be between 1 and 256.\n"},
             {{"--batch", a, "-l", "16"},
              2,
              "'levels' parameter (-l) should be between 0 and 15.\n"},
             {{"--batch", "-fd", "900", a},
              2,
              "'filter_length' parameter should be between 3 and 806.\n"},
             {{"--batch", a, "-fc", folder / "taps.txt"},
              1,
              "Error: Bad numeric format in file: '" + (folder / "taps.txt") +
                  "'\nError: Cannot create coder\n"},
             {{"--batch", "--output-dir", folder / "none", a},
              1,
              "Error: No such file or directory: '" + (folder / "none") + "'\n"},
             {{"--batch", "--output-dir", a, a}, 1, "Error: Not a directory: '" + a + "'\n"},
         }) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const RunResult r = run_vellox(c.args, folder);
        EXPECT_EQ(r.exit_code, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, enc_banner.size() + c.err.size()), enc_banner + c.err);
        EXPECT_EQ(list_folder(folder.path()), before);
    }
    for (const Case& c : std::vector<Case>{
             {{"--batch", "-t", a}, 2, "Usage: velloxdec --batch [options] FILE...\n"},
             {{"--batch", a, "--compare", a}, 2, "Usage: velloxdec --batch [options] FILE...\n"},
             {{"--batch", a, "-c", "17"},
              2,
              "'channels' parameter (-c) should be between 1 and 16.\n"},
         }) {
        const RunResult r = run_vellox(c.args, folder, velloxdec());
        EXPECT_EQ(r.exit_code, c.status);
        EXPECT_EQ(r.err.substr(0, dec_banner.size() + c.err.size()), dec_banner + c.err);
        EXPECT_EQ(list_folder(folder.path()), before);
    }
    // "-fd" takes the next word as its length only when it is a number.
    const RunResult fd = run_vellox({"--batch", "-fd", a, "-fo", "5"}, folder);
    EXPECT_EQ(fd.exit_code, 0) << fd.err;
    ASSERT_EQ(run_vellox({a, folder / "ref.acm", "-fo", "5"}, folder).exit_code, 0);
    EXPECT_EQ(read_file(folder / "a.acm"), read_file(folder / "ref.acm"));
}

TEST(Quiet, NothingIsPrintedOnSuccessButWarningsAndErrorsStill) {
    ScratchFolder folder;
    make_inputs(folder);
    RunOptions in_folder;
    in_folder.working_directory = folder.path();
    RunOptions dec_in_folder = velloxdec();
    dec_in_folder.working_directory = folder.path();
    for (const Words& args :
         {Words{"a.wav", "a.acm", "--quiet"}, Words{"a.wav", "a.acm", "-l", "3", "--QUIET"},
          Words{"--batch", "--quiet", "-f", "a.wav", "d.wav"}}) {
        const RunResult r = run_vellox(args, folder, in_folder);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out + r.err, "") << testing::PrintToString(args);
    }
    for (const Words& args : {Words{"a.acm", "a.wav", "--quiet"}, Words{"-t", "a.acm", "--quiet"},
                              Words{"--batch", "a.acm", "d.acm", "--quiet", "-f"}}) {
        const RunResult r = run_vellox(args, folder, dec_in_folder);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out + r.err, "") << testing::PrintToString(args);
    }
    // The clipping warning stays where it is; the batch puts the name before it.
    const RunResult clipped = run_vellox({"b.wav", "b.acm", "--quiet"}, folder, in_folder);
    EXPECT_EQ(clipped.out.substr(0, 9), "Warning: ");
    EXPECT_EQ(clipped.err.substr(0, 13), "Note: --gain ");
    write_file(folder / "cut.acm", read_file(folder / "a.acm").substr(0, 14));
    mkdir((folder / "out").c_str(), 0755);
    const RunResult batch =
        run_vellox({"--batch", "--quiet", "b.wav", "cut.acm", "none.wav", "--output-dir", "out"},
                   folder, in_folder);
    EXPECT_EQ(batch.exit_code, 1);
    EXPECT_EQ(batch.out, "");
    EXPECT_NE(batch.err.find("b.wav: Warning: "), std::string::npos) << batch.err;
    EXPECT_NE(batch.err.find("cut.acm: Warning: damaged input: 5000 of 5000 samples"),
              std::string::npos);
    EXPECT_NE(batch.err.find("none.wav: Cannot open input file.\n"), std::string::npos);
    EXPECT_EQ(batch.err.find(" -> "), std::string::npos);
    EXPECT_EQ(batch.err.find(" converted, "), std::string::npos);
    const RunResult damaged = run_vellox({"cut.acm", "cut.wav", "--quiet"}, folder, dec_in_folder);
    EXPECT_EQ(damaged.out, "");
    EXPECT_EQ(damaged.err, "Warning: damaged input: 5000 of 5000 samples could not be decoded\n");
}

// A signal sent to the batch alone reaches every job: each removes its temporary file, the
// finished outputs and the files that existed stay as they were, and the batch dies of it. A
// signal ignored from the start stays ignored.
TEST(Batch, InterruptStopsEveryJobAndLeavesNothingBehind) {
    ScratchFolder folder;
    write_file(folder / "done.raw", raw16(noise(3000, 9000, 1)));
    // Noise, then silence up to about 300 million samples: at 15 levels that takes far longer
    // than the test waits.
    for (const char* name : {"big1.raw", "big2.raw"}) {
        write_file(folder / name, raw16(noise(200000, 20000, 3)));
        ASSERT_EQ(truncate((folder / name).c_str(), off_t{600} << 20), 0);
    }
    RunOptions named;
    named.executable = VELLOX_ALLOCATION_HOOK_EXECUTABLE;
    named.environment = {"VELLOX_NAMED_TEMPORARY=1"};
    named.working_directory = folder.path();
    RunOptions unnamed;
    unnamed.working_directory = folder.path();
    for (const auto& [options, signal_number] :
         {std::pair{unnamed, SIGINT}, std::pair{named, SIGINT}, std::pair{named, SIGTERM}}) {
        SCOPED_TRACE(std::to_string(options.environment.size()) + " " +
                     std::to_string(signal_number));
        unlink((folder / "done.acm").c_str());
        write_file(folder / "big2.acm", "precious");
        // Before SIGTERM, a hang-up that was ignored from the start ("nohup"): it stays so.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous {};
        if (signal_number == SIGTERM) sigaction(SIGHUP, &ignore, &previous);
        Child child(
            {"--batch", "-16", "-l", "15", "-j", "2", "-f", "done.raw", "big1.raw", "big2.raw"},
            folder, options);
        const Reaper reaper(child, SIGTERM);
        if (signal_number == SIGTERM) sigaction(SIGHUP, &previous, nullptr);
        ASSERT_TRUE(wait_for_output(child, "done.raw -> done.acm: ", true));
        if (signal_number == SIGTERM) {
            kill(child.pid(), SIGHUP);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            siginfo_t info{};
            EXPECT_EQ(
                waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT),
                0);
            EXPECT_EQ(info.si_pid, 0);  // still converting
        }
        if (!options.environment.empty()) {
            // Both temporary files are there.
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (list_folder(folder.path()).size() < 9 &&
                   std::chrono::steady_clock::now() < give_up) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_EQ(list_folder(folder.path()).size(), 9u);
        }
        kill(child.pid(), signal_number);
        const RunResult r = child.wait();
        EXPECT_EQ(r.signal, signal_number);
        EXPECT_EQ(r.err.find("big"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(folder / "big2.acm"), "precious");
        EXPECT_EQ(list_folder(folder.path()),
                  (Names{"big1.raw", "big2.acm", "big2.raw", "done.acm", "done.raw"}));
    }
}

// On a terminal: one line redrawn in place, failures above it, the summary at the end.
TEST(Batch, ATerminalGetsOneProgressLine) {
    ScratchFolder folder;
    make_inputs(folder);
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    RunOptions options;
    options.working_directory = folder.path();
    options.standard_error = slave;
    Child child({"--batch", "-j", "2", "a.wav", "none.wav", "b.wav", "d.wav"}, folder, options);
    close(slave);
    std::string shown;
    char bytes[4096];
    for (ssize_t got; (got = read(master, bytes, sizeof bytes)) > 0;) shown.append(bytes, got);
    close(master);
    const RunResult r = child.wait();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(shown.substr(0, enc_banner.size() + 1),
              enc_banner.substr(0, enc_banner.size() - 1) + "\r\n");
    EXPECT_NE(shown.find("\r0/4 files, 0 failed, 0 skipped, "), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\033[Knone.wav: Error: No such file or directory: 'none.wav'\r\n"
                         "none.wav: Cannot open input file.\r\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("\r4/4 files, 1 failed, 0 skipped, "), std::string::npos) << shown;
    EXPECT_EQ(shown.find(" -> "), std::string::npos);
    const std::string end = " left\033[K\r\033[K3 converted, 1 failed, 0 skipped\r\n";
    ASSERT_GE(shown.size(), end.size());
    EXPECT_EQ(shown.substr(shown.size() - end.size()), end);
}

}  // namespace
}  // namespace vellox::cli
