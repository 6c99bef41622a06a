// The executable as a user meets it: console text, exit status and the files left behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "common/test_seed.h"
#include "frontend/usage_text.h"
#include "vellox/vellox.h"

namespace vellox::cli {
namespace {

const std::string usage_text = test::usage_text;

TEST(Cli, MalformedCommandLinesShowTheUsageAndExit2) {
    ScratchFolder folder;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"in.raw"}, {"-mp3", "in", "out"}, {"in", "out", "-x"}}) {
        const RunResult r = run_vellox(args, folder);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, banner + usage_text);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Cli, HelpListsEveryOptionAndVersionPrintsOneLine) {
    ScratchFolder folder;
    for (const char* word : {"--help", "--HELP"}) {
        const RunResult help = run_vellox({word}, folder);
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_EQ(help.err, "");
        const std::string head = banner + usage_text;
        ASSERT_EQ(help.out.substr(0, head.size()), head);
        for (const char* option :
             {"   -q percents ", "   -q0 ", "   -hq ", "   -l levels ", "   -s subblocks ",
              "   -fd [length] ", "   -fo [length] ", "   -fc file ", "   --gain dB ", "   --fit ",
              "   --limit ", "   --resample rate ", "   --downmix ", "   - ", "--version"}) {
            EXPECT_NE(help.out.find(option), std::string::npos) << option;
        }
    }
    const RunResult version = run_vellox({"--version"}, folder);
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "vellox " + std::to_string(VELLOX_VERSION_MAJOR) + "." +
                               std::to_string(VELLOX_VERSION_MINOR) + "." +
                               std::to_string(VELLOX_VERSION_PATCH) + "\n");
    EXPECT_EQ(version.err, "");
    // Anywhere else they are no options: the usage text, as for any unknown word.
    const RunResult late = run_vellox({"in.raw", "out.acm", "--help"}, folder);
    EXPECT_EQ(late.exit_code, 2);
    EXPECT_EQ(late.out, banner + usage_text);
}

TEST(Cli, ValuesOutOfRangePrintTheirMessageAndExit2) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16({1, 2, 3}));
    const RunResult r = run_vellox({folder / "in.raw", folder / "out.acm", "-s", "4096"}, folder);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out,
              std::string(banner) + "'subblocks' parameter (-s) should be between 1 and 4095.\n");
    EXPECT_FALSE(file_exists(folder / "out.acm"));
}

TEST(Cli, MissingInputIsReportedAndNothingIsCreated) {
    ScratchFolder folder;
    const std::string message = "Error: No such file or directory: '" + (folder / "none.wav") +
                                "'\nCannot open input file.\n";
    // The system's reason is printed once, whether the type is detected or given.
    const RunResult automatic = run_vellox({folder / "none.wav", folder / "out.acm"}, folder);
    EXPECT_EQ(automatic.exit_code, 1);
    EXPECT_EQ(automatic.out, banner);
    EXPECT_EQ(automatic.err, message);

    const RunResult explicit_type =
        run_vellox({"-wav", folder / "none.wav", folder / "out.acm"}, folder);
    EXPECT_EQ(explicit_type.exit_code, 1);
    EXPECT_EQ(explicit_type.err, message);
    EXPECT_TRUE(list_folder(folder.path()).empty());
}

TEST(Cli, OutputThatCannotBeCreatedIsReported) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16({1, 2, 3}));
    const std::string missing_dir = folder / "no/out.acm";
    const RunResult r = run_vellox({folder / "in.raw", missing_dir}, folder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Error: No such file or directory: '" + missing_dir +
                         "'\nCannot open output file.\n");

    const RunResult dir = run_vellox({folder / "in.raw", folder.path()}, folder);
    EXPECT_EQ(dir.exit_code, 1);
    EXPECT_EQ(dir.err,
              "Error: Is a directory: '" + folder.path() + "'\nCannot open output file.\n");
    EXPECT_EQ(list_folder(folder.path()), std::set<std::string>{"in.raw"});
}

TEST(Cli, ConvertsARawFileAndReportsTheRealSize) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(4096, 8000, 50)));
    const RunResult r = run_vellox({folder / "in.raw", folder / "out.acm"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string acm = read_file(folder / "out.acm");
    const std::string expected_start =
        std::string(banner) + "Input type: RAW16\t4096 samples\n##\n" +
        "Output file size: " + std::to_string(acm.size()) + "\n" + "Compression rate: ";
    EXPECT_EQ(r.out.substr(0, expected_start.size()), expected_start);
    EXPECT_EQ(r.err, "");
    ASSERT_GE(acm.size(), 14u);
    EXPECT_EQ(acm.substr(0, 4), std::string("\x97\x28\x03\x01", 4));
    EXPECT_EQ(list_folder(folder.path()), (std::set<std::string>{"in.raw", "out.acm"}));
}

TEST(Cli, EmptyInputGivesAHeaderOnlyFileAndRateZero) {
    ScratchFolder folder;
    write_file(folder / "empty.raw", "");
    const RunResult r = run_vellox({folder / "empty.raw", folder / "out.acm"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(folder / "out.acm").size(), 14u);
    EXPECT_NE(r.out.find("Input type: RAW16\t0 samples\n"), std::string::npos);
    EXPECT_NE(r.out.find("Output file size: 14\n"
                         "Compression rate:  0.000 bits per sample (  0.00% of original file)\n"),
              std::string::npos);
}

TEST(Cli, EightBitInputIsReportedAgainstEightBitsPerSample) {
    ScratchFolder folder;
    // 120 samples of silence (unsigned 128) give one block and a 15-byte file: 1 bit per
    // input sample, an eighth of the 8-bit input.
    write_file(folder / "in.raw", std::string(120, '\x80'));
    const RunResult r = run_vellox({"-8", folder / "in.raw", folder / "out.acm"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(folder / "out.acm").size(), 15u);
    EXPECT_EQ(r.out, std::string(banner) +
                         "Input type: RAW8\t120 samples\n##\nOutput file size: 15\n"
                         "Compression rate:  1.000 bits per sample ( 12.50% of original file)\n");
}

TEST(Cli, ClippingWarningCountsOnlyValuesPastTheBounds) {
    ScratchFolder folder;
    // One level with the single tap 1.25 makes each coefficient 1.25 x a sample, truncated
    // toward zero: 26214 -> 32767 and -26215 -> -32768 fit, 26215 -> 32768, -26216 -> -32770,
    // -32768 -> -40960 and 32767 -> 40958 do not. All share a block, so the bounds are
    // checked value by value.
    write_file(folder / "taps.txt", "1 1.25");
    const std::vector<std::int16_t> samples = {26214, -26215, 26215, -26216, -32768,
                                               26214, -26215, 32767, 0,      5};
    write_file(folder / "in.raw", raw16(samples));
    const RunResult r = run_vellox(
        {folder / "in.raw", folder / "out.acm", "-l", "1", "-fc", folder / "taps.txt"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string report =
        "Warning: 4 coefficients were truncated. Max. truncated value: -40960\n"
        "Fade out your signal to fit into [-32768;+32767] interval.\n";
    ASSERT_GE(r.out.size(), report.size());
    EXPECT_EQ(r.out.substr(r.out.size() - report.size()), report);

    // The largest value past the bounds may be a positive one.
    write_file(folder / "in.raw", raw16({26214, -26215, 26214, -26215, 26215, 32767, -26216}));
    const RunResult positive = run_vellox(
        {folder / "in.raw", folder / "out.acm", "-l", "1", "-fc", folder / "taps.txt"}, folder);
    ASSERT_EQ(positive.exit_code, 0) << positive.err;
    EXPECT_NE(positive.out.find("Warning: 3 coefficients were truncated. Max. truncated value: "
                                "40958\n"),
              std::string::npos)
        << positive.out;
}

TEST(Cli, NewOutputFileGetsTheModeTheUmaskLeaves) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    for (const mode_t mask : {mode_t{027}, mode_t{0}, mode_t{0277}}) {
        RunOptions options;
        options.umask = mask;
        const std::string name = "new" + std::to_string(mask) + ".acm";
        const RunResult r = run_vellox({folder / "in.raw", folder / name}, folder, options);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        struct stat status {};
        ASSERT_EQ(stat((folder / name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask) << "umask " << mask;
    }
}

TEST(Cli, AFailedRunLeavesAnExistingTargetAsItWas) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    write_file(folder / "out.acm", "precious");
    chmod((folder / "out.acm").c_str(), 0640);
    // A bad coefficient file fails after the output was created.
    const RunResult r =
        run_vellox({folder / "in.raw", folder / "out.acm", "-fc", folder / "none.txt"}, folder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Error: No such file or directory: '" + (folder / "none.txt") +
                         "'\nError: Cannot create coder\n");
    EXPECT_EQ(read_file(folder / "out.acm"), "precious");
    EXPECT_EQ(list_folder(folder.path()), (std::set<std::string>{"in.raw", "out.acm"}));

    // A successful run replaces it and keeps its mode.
    const RunResult ok = run_vellox({folder / "in.raw", folder / "out.acm"}, folder);
    ASSERT_EQ(ok.exit_code, 0) << ok.err;
    struct stat status {};
    ASSERT_EQ(stat((folder / "out.acm").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_NE(read_file(folder / "out.acm"), "precious");
}

TEST(Cli, WriteErrorsAreReportedAndLoseNothing) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(noise(50000, 20000, 7)));
    write_file(folder / "out.acm", "precious");
    // The file size limit makes a write fail in the middle of the stream.
    RunOptions limited;
    limited.file_size_limit = 4096;
    const RunResult r = run_vellox({folder / "in.raw", folder / "out.acm", "-q0"}, folder, limited);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Error: File too large: '" + (folder / "out.acm") + "'\n");
    EXPECT_EQ(r.out.find("Output file size"), std::string::npos);
    EXPECT_EQ(read_file(folder / "out.acm"), "precious");
    EXPECT_EQ(list_folder(folder.path()), (std::set<std::string>{"in.raw", "out.acm"}));
}

TEST(Cli, DevicesAreWrittenInPlace) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    // Our own device nodes: the system's must never be replaced by a faulty rename.
    if (mknod((folder / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
        mknod((folder / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make device nodes here";
    }
    const RunResult full = run_vellox({folder / "in.raw", folder / "full"}, folder);
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_EQ(full.err, "Error: No space left on device: '" + (folder / "full") + "'\n");

    const RunResult null = run_vellox({folder / "in.raw", folder / "null"}, folder);
    EXPECT_EQ(null.exit_code, 0) << null.err;
    struct stat status {};
    ASSERT_EQ(stat((folder / "null").c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_EQ(list_folder(folder.path()), (std::set<std::string>{"full", "in.raw", "null"}));
}

// "vellox song.wav song.wav" is a typo that would cost the user the sound; only an ACM file
// is re-encoded in place.
TEST(Cli, OutputThatIsTheInputIsRefusedUnlessTheInputIsAcm) {
    ScratchFolder folder;
    const std::string samples = raw16(sine(5000, 8000, 50));
    write_file(folder / "same", samples);
    ASSERT_EQ(link((folder / "same").c_str(), (folder / "hard").c_str()), 0);
    ASSERT_EQ(symlink("same", (folder / "soft").c_str()), 0);
    ASSERT_EQ(run_vellox({"-16", folder / "same", folder / "a.acm"}, folder).exit_code, 0);
    ASSERT_EQ(run_vellox({folder / "a.acm", folder / "b.acm"}, folder).exit_code, 0);
    for (const std::string output : {"same", "hard", "soft"}) {
        for (const std::string type : {"-16", "-8", "-auto"}) {
            SCOPED_TRACE(output + " " + type);
            std::vector<std::string> args = {folder / "same", folder / output};
            if (type != "-auto") args.insert(args.begin(), type);
            const RunResult r = run_vellox(args, folder);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.out, banner);
            EXPECT_EQ(r.err, "Error: Input and output are the same file: '" + (folder / output) +
                                 "'\nCannot open output file.\n");
        }
    }
    EXPECT_EQ(read_file(folder / "same"), samples);
    EXPECT_EQ(list_folder(folder.path()),
              (std::set<std::string>{"a.acm", "b.acm", "hard", "same", "soft"}));

    // Standard input is the same file too.
    const int in = open((folder / "same").c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    RunOptions from_same;
    from_same.standard_input = in;
    const RunResult piped = run_vellox({"-", folder / "hard"}, folder, from_same);
    close(in);
    EXPECT_EQ(piped.exit_code, 1);
    EXPECT_EQ(read_file(folder / "same"), samples);

    // An ACM file is re-encoded in place.
    const RunResult acm = run_vellox({folder / "a.acm", folder / "a.acm"}, folder);
    ASSERT_EQ(acm.exit_code, 0) << acm.err;
    EXPECT_EQ(read_file(folder / "a.acm"), read_file(folder / "b.acm"));
}

}  // namespace
}  // namespace vellox::cli

namespace vellox::cli {
namespace {

std::string u32le(std::uint32_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}

TEST(Cli, BadInputsGetAClearMessage) {
    ScratchFolder folder;
    write_file(folder / "riff.wav", "RIFF" + u32le(4) + "WAVE");  // no chunks at all
    write_file(folder / "short_fmt.wav", "RIFF" + u32le(20) + "WAVEfmt " + u32le(16) + "\x01");
    for (const char* name : {"riff.wav", "short_fmt.wav"}) {
        const RunResult r = run_vellox({folder / name, folder / "out.acm"}, folder);
        EXPECT_EQ(r.exit_code, 1) << name;
        EXPECT_EQ(r.err, "Error: Unsupported WAV format: '" + (folder / name) +
                             "'\nCannot open input file.\n");
    }
    const RunResult dir = run_vellox({"-16", folder.path(), folder / "out.acm"}, folder);
    EXPECT_EQ(dir.exit_code, 1);
    EXPECT_EQ(dir.err, "Error: Is a directory: '" + folder.path() + "'\nCannot open input file.\n");
    EXPECT_FALSE(file_exists(folder / "out.acm"));
}

TEST(Cli, BadCoefficientFilesFailTheCoder) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    write_file(folder / "empty.txt", "");
    write_file(folder / "short.txt", "4 1 2 3");
    write_file(folder / "count.txt", "x 1 2 3");
    write_file(folder / "zero.txt", "0");
    write_file(folder / "out.acm", "precious");
    const std::pair<const char*, const char*> cases[] = {
        {"empty.txt", "Bad tap count in file"},
        {"short.txt", "Bad numeric format in file"},
        {"count.txt", "Bad tap count in file"},
        {"zero.txt", nullptr},
    };
    for (const auto& [name, message] : cases) {
        const RunResult r =
            run_vellox({folder / "in.raw", folder / "out.acm", "-fc", folder / name}, folder);
        EXPECT_EQ(r.exit_code, 1) << name;
        const std::string own =
            message == nullptr ? ""
                               : "Error: " + std::string(message) + ": '" + (folder / name) + "'\n";
        EXPECT_EQ(r.err, own + "Error: Cannot create coder\n") << name;
        EXPECT_EQ(read_file(folder / "out.acm"), "precious");
    }
}

TEST(Cli, EveryLengthAndLevelPacksExactlyTheBlocksItNeeds) {
    ScratchFolder folder;
    const std::uint32_t seed = test::test_seed(11);
    SCOPED_TRACE("seed " + std::to_string(seed));
    for (int levels : {0, 1, 7, 15}) {
        const int subblocks = levels == 15 ? 1 : 16;
        const long block_size = static_cast<long>(subblocks) << levels;
        for (long length : {0L, 1L, block_size - 1, block_size, block_size + 1, 65536L + 7}) {
            if (length < 0) continue;
            write_file(folder / "in.raw",
                       raw16(noise(static_cast<std::size_t>(length), 9000, seed)));
            const RunResult r =
                run_vellox({folder / "in.raw", folder / "out.acm", "-l", std::to_string(levels),
                            "-s", std::to_string(subblocks)},
                           folder);
            const std::string label = std::to_string(levels) + "/" + std::to_string(length);
            ASSERT_EQ(r.exit_code, 0) << label << r.err;
            EXPECT_EQ(r.out.find("Something went wrong"), std::string::npos) << label;
            // Re-encoding the output as ACM input delivers exactly the sample count again.
            const RunResult again = run_vellox({folder / "out.acm", folder / "again.acm"}, folder);
            ASSERT_EQ(again.exit_code, 0) << label << again.err;
            EXPECT_NE(again.out.find("Input type: ACM\t" + std::to_string(length) + " samples\n"),
                      std::string::npos)
                << label;
        }
    }
}

TEST(Cli, DamagedAcmInputIsCountedInAWarning) {
    ScratchFolder folder;
    // levels 0, one row, two samples: the first block's only column has method code 25.
    std::string acm =
        std::string("\x97\x28\x03\x01", 4) + u32le(2) + std::string("\x02\x00\x22\x56\x10\x00", 6);
    // range_bits 0, step 1, method 25: the bits 0000 1000000000000000 10011.
    acm += std::string("\x10\x00\x90\x01", 4);
    write_file(folder / "bad.acm", acm);
    const RunResult r = run_vellox({folder / "bad.acm", folder / "out.acm"}, folder);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("Input type: ACM\t2 samples\n"), std::string::npos);
    EXPECT_EQ(r.err, "Warning: damaged input: 2 of 2 samples could not be decoded\n");

    // A file cut to its header: every block is missing.
    write_file(folder / "in.raw", raw16(noise(5000, 9000, 3)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "whole.acm"}, folder).exit_code, 0);
    write_file(folder / "cut.acm", read_file(folder / "whole.acm").substr(0, 14));
    const RunResult cut = run_vellox({folder / "cut.acm", folder / "out.acm"}, folder);
    EXPECT_EQ(cut.exit_code, 0);
    EXPECT_EQ(cut.err, "Warning: damaged input: 5000 of 5000 samples could not be decoded\n");
    const RunResult whole = run_vellox({folder / "whole.acm", folder / "out.acm"}, folder);
    EXPECT_EQ(whole.err, "");
}

}  // namespace
}  // namespace vellox::cli
