// velloxdec as a user meets it: round trips through vellox read back by an independent WAV
// reader, the console text and exit status, damage, and the output file's discipline.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "acm/acm_format.h"
#include "cli/cli_support.h"
#include "common/test_seed.h"
#include "sources/acm_stream_builder.h"
#include "sources/reference_decoder.h"
#include "sources/source_detection.h"
#include "vellox/vellox.h"

namespace vellox::cli {
namespace {

using Names = std::set<std::string>;

const std::string dec_banner =
    "velloxdec decoder " + std::string(vellox_version()) + "  (c) 2026 vellox contributors\n";

const std::string usage_text =
    "Usage: velloxdec [-t] acm_file_name [wav_file_name] [options]\n"
    "   -t              tests the file: decodes it without writing anything.\n"
    "Options:\n"
    "   -c channels     channels of the WAV file, 1 to 16 (default: the header's).\n"
    "   -r rate         sample rate of the WAV file, 1 to 1000000 Hz\n"
    "                   (default: the header's).\n"
    "   --compare file  compares the decoded samples with the original file.\n"
    "   --help          all about the options; --version: the version.\n";

RunResult run_velloxdec(const std::vector<std::string>& args, const ScratchFolder& folder,
                        RunOptions options = {}) {
    if (options.executable == VELLOX_EXECUTABLE) options.executable = VELLOXDEC_EXECUTABLE;
    return run_vellox(args, folder, options);
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The WAV file as python3's wave module reads it: "channels bytes-per-sample rate frames\n",
// then the frames' bytes.
std::string read_with_python(const ScratchFolder& folder, const std::string& wav) {
    write_file(folder / "read.py",
               "import sys, wave\n"
               "w = wave.open(sys.argv[1], 'rb')\n"
               "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\n"
               "sys.stdout.flush()\n"
               "sys.stdout.buffer.write(w.readframes(w.getnframes()))\n");
    const int status = shell("python3 '" + (folder / "read.py") + "' '" + wav + "' > '" +
                             (folder / "read") + "' 2>&1");
    return (status == 0 ? "" : "python3 failed: ") + read_file(folder / "read");
}

// The samples vellox's own ACM input hands out for the file.
std::string samples_of_acm(const std::string& path) {
    std::unique_ptr<SoundSource> source = open_sound_source(path.c_str(), SoundType::acm).source;
    if (source == nullptr) return "";
    std::vector<std::int16_t> samples(static_cast<std::size_t>(source->total_samples));
    (void)source->read(samples.data(), source->total_samples);
    return raw16(samples);
}

std::vector<std::int16_t> test_signal(std::size_t count) {
    std::vector<std::int16_t> signal = sine(count, 9000, 93.1);
    const std::vector<std::int16_t> hiss = noise(count, 2000, 5);
    for (std::size_t i = 0; i < count; ++i)
        signal[i] = static_cast<std::int16_t>(signal[i] + hiss[i]);
    return signal;
}

// Exact at levels 0 without a size target, the ACM input's samples at the default levels 7,
// in every layout: the header as -c and -r say, the last frame completed with zeros.
TEST(Velloxdec, RoundTripsReadBackByAnIndependentReader) {
    if (shell("python3 -c 'import wave' >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs python3";
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(test_signal(70001)));
    ASSERT_EQ(
        run_vellox({folder / "in.raw", folder / "exact.acm", "-l", "0", "-q0"}, folder).exit_code,
        0);
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "lossy.acm"}, folder).exit_code, 0);
    const RunResult exact = run_velloxdec(
        {folder / "exact.acm", folder / "out.wav", "--compare", folder / "in.raw"}, folder);
    EXPECT_EQ(exact.exit_code, 0);
    EXPECT_EQ(exact.out, dec_banner +
                             "Input type: ACM\t70001 samples\nLevels: 0, subblocks: 16\n###\n"
                             "Last frame completed with 1 zero samples\n"
                             "Output file size: 140048\n"
                             "SNR: inf dB\nSegmental SNR: 100.00 dB\nPeak error: 0\n"
                             "Compared samples: 70001\n");
    EXPECT_EQ(exact.err, "");
    struct Case {
        const char* acm;
        std::vector<std::string> options;
        const char* layout;
        std::size_t padding;
    };
    for (const Case& c : std::vector<Case>{
             {"exact.acm", {}, "2 2 22050 35001\n", 1},
             {"lossy.acm", {"-c", "1", "-r", "44100"}, "1 2 44100 70001\n", 0},
             {"lossy.acm", {"-C", "3", "-R", "1"}, "3 2 1 23334\n", 1},
             {"exact.acm", {"-c", "16", "-r", "1000000"}, "16 2 1000000 4376\n", 15}}) {
        SCOPED_TRACE(c.layout);
        std::vector<std::string> args = {folder / c.acm, folder / "out.wav", "--COMPARE",
                                         folder / "in.raw"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = run_velloxdec(args, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(read_with_python(folder, folder / "out.wav"),
                  c.layout + samples_of_acm(folder / c.acm) + std::string(2 * c.padding, '\0'));
        const std::size_t snr = r.out.find("\nSNR: ");
        ASSERT_NE(snr, std::string::npos);
        EXPECT_GT(std::atof(r.out.c_str() + snr + 6), 20.0);  // inf for the exact file
    }
}

// The WAV file takes its layout from the header vellox wrote; a header outside the ranges of
// -c and -r (a damaged file) gives 2 channels at 22050 Hz with a warning, unless the command
// line says otherwise.
TEST(Velloxdec, LayoutComesFromTheHeader) {
    if (shell("python3 -c 'import wave' >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs python3";
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(test_signal(9001)));
    const RunResult made =
        run_vellox({folder / "in.raw", folder / "mono.acm", "-c", "1", "-R", "44100"}, folder);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_EQ(read_file(folder / "mono.acm").substr(8, 4), std::string("\1\0\x44\xac", 4));
    const std::string samples = samples_of_acm(folder / "mono.acm");
    RunResult r = run_velloxdec({folder / "mono.acm", folder / "out.wav"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_with_python(folder, folder / "out.wav"), "1 2 44100 9001\n" + samples);

    // Damaged fields: 0 channels, then 17 channels at 0 Hz.
    std::string acm = read_file(folder / "mono.acm");
    acm[8] = 0;
    write_file(folder / "zero.acm", acm);
    acm[8] = 17;
    acm[10] = acm[11] = 0;
    write_file(folder / "wild.acm", acm);
    r = run_velloxdec({folder / "zero.acm", folder / "out.wav"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err,
              "Warning: the header says 0 channels at 44100 Hz; writing 2 channels at 22050 Hz\n");
    EXPECT_EQ(read_with_python(folder, folder / "out.wav"),
              "2 2 22050 4501\n" + samples + std::string(2, '\0'));
    // What the command line gives wins; the other field comes from the header when it is in
    // range, and no warning speaks of a layout not written.
    r = run_velloxdec({folder / "zero.acm", folder / "out.wav", "-c", "3"}, folder);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_with_python(folder, folder / "out.wav").substr(0, 15), "3 2 44100 3001\n");
    r = run_velloxdec({folder / "wild.acm", folder / "out.wav", "-c", "1"}, folder);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_with_python(folder, folder / "out.wav").substr(0, 15), "1 2 22050 9001\n");
    r = run_velloxdec({folder / "wild.acm", folder / "out.wav", "-r", "8000"}, folder);
    EXPECT_EQ(read_with_python(folder, folder / "out.wav").substr(0, 14), "2 2 8000 4501\n");
    // Nothing is written by -t, so nothing is said of the layout.
    r = run_velloxdec({"-t", folder / "wild.acm"}, folder);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");

    // vellox's own ranges: the header's fields are 16 bits wide.
    for (const auto& [option, value, message] :
         {std::tuple<const char*, const char*, const char*>{
              "-c", "0", "'channels' parameter (-c) should be between 1 and 65535.\n"},
          {"-c", "65536", "'channels' parameter (-c) should be between 1 and 65535.\n"},
          {"-r", "0", "'rate' parameter (-r) should be between 1 and 65535.\n"},
          {"-r", "96000", "'rate' parameter (-r) should be between 1 and 65535.\n"}}) {
        r = run_vellox({folder / "in.raw", folder / "bad.acm", option, value}, folder);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, std::string(banner) + message);
        EXPECT_FALSE(file_exists(folder / "bad.acm"));
    }
}

TEST(Velloxdec, StandardOutputTakesTheWholeFileAndTheConsoleMovesToStandardError) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(test_signal(5000)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "in.acm"}, folder).exit_code, 0);
    const RunResult named = run_velloxdec({folder / "in.acm", folder / "named.wav"}, folder);
    ASSERT_EQ(named.exit_code, 0) << named.err;
    const std::string wav = read_file(folder / "named.wav");
    ASSERT_EQ(wav.size(), 10044u);
    // "-", and standard output named by its file, get the same bytes; the console text comes
    // on standard error, the usage text too.
    for (const std::string& name : {std::string("-"), std::string("/dev/stdout")}) {
        const RunResult piped = run_velloxdec({folder / "in.acm", name}, folder);
        EXPECT_EQ(piped.exit_code, 0) << name << piped.err;
        EXPECT_TRUE(piped.out == wav) << name;
        EXPECT_EQ(piped.err, named.out) << name;
    }
    const RunResult usage = run_velloxdec({folder / "in.acm", "-", "-x"}, folder);
    EXPECT_EQ(usage.exit_code, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(usage.err, dec_banner + usage_text);
    // Closed standard streams: the files opened later must not take their place, or the
    // console text would end up inside the WAV file.
    EXPECT_EQ(shell("'" + std::string(VELLOXDEC_EXECUTABLE) + "' '" + (folder / "in.acm") + "' '" +
                    (folder / "closed.wav") + "' <&- >&- 2>&-"),
              0);
    EXPECT_TRUE(read_file(folder / "closed.wav") == wav);
    // A standard output that cannot take the file is a write error.
    EXPECT_EQ(shell("'" + std::string(VELLOXDEC_EXECUTABLE) + "' '" + (folder / "in.acm") +
                    "' - >/dev/full 2>'" + (folder / "err") + "'"),
              1);
    EXPECT_NE(read_file(folder / "err").find("#\nError: No space left on device: '-'\n"),
              std::string::npos);
}

TEST(Velloxdec, HelpVersionUsageAndRanges) {
    ScratchFolder folder;
    EXPECT_EQ(run_velloxdec({"--version"}, folder).out,
              "velloxdec " + std::string(vellox_version()) + "\n");
    const RunResult help = run_velloxdec({"--HELP"}, folder);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind(dec_banner + "Usage: velloxdec [-t] acm_file_name", 0), 0u);
    for (const char* option : {"\n   -t ", "\n   -c channels ", "1 to 16 (default: the header's)",
                               "1 to 1000000 Hz (default: the\n                   header's)",
                               "\n   --compare file ", "\n   --version "}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"in.acm"},                        // nothing to do
             {"-t", "in.acm", "out.wav"},       // "-t" writes nothing
             {"in.acm", "out.wav", "-q0"},      // no option here
             {"-c", "2", "in.acm", "out.wav"},  // options follow the names
             {"-x.acm", "out.wav"},             // a name given as ./-x.acm
             {"in.acm", "out.wav", "--compare"},
             {"-", "--compare", "-"}}) {  // standard input for both
        const RunResult r = run_velloxdec(args, folder);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, dec_banner + usage_text);
        EXPECT_EQ(r.err, "");
    }
    const RunResult channels = run_velloxdec({"in.acm", "o.wav", "-c", "17", "-r", "0"}, folder);
    EXPECT_EQ(channels.exit_code, 2);
    EXPECT_EQ(channels.out, dec_banner + "'channels' parameter (-c) should be between 1 and 16.\n");
    const RunResult rate = run_velloxdec({"in.acm", "-t", "-r", "1000001"}, folder);
    EXPECT_EQ(rate.exit_code, 2);
    EXPECT_EQ(rate.out, dec_banner + "'rate' parameter (-r) should be between 1 and 1000000.\n");
    EXPECT_TRUE(list_folder(folder.path()).empty());
}

// A constant 100 decodes exactly; the original differs by 10 in its second 2048-sample frame
// and runs 904 samples longer. SNR 10 log10(221) = 23.44 dB; segmental (100 + 20 log10 11) / 2
// = 60.41 dB.
TEST(Velloxdec, CompareReportsTheHandComputedQuality) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(std::vector<std::int16_t>(4096, 100)));
    ASSERT_EQ(
        run_vellox({folder / "in.raw", folder / "in.acm", "-l", "0", "-q0"}, folder).exit_code, 0);
    std::vector<std::int16_t> original(2048, 100);
    original.resize(4096, 110);
    original.resize(5000, 7);
    write_file(folder / "original.raw", raw16(original));
    const RunResult r =
        run_velloxdec({folder / "in.acm", "--compare", folder / "original.raw"}, folder);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, dec_banner +
                         "Input type: ACM\t4096 samples\nLevels: 0, subblocks: 16\n##\n"
                         "SNR: 23.44 dB\nSegmental SNR: 60.41 dB\nPeak error: 10\n"
                         "Compared samples: 4096\n"
                         "Sample counts differ: 5000 in the original, 4096 decoded\n");
    EXPECT_EQ(list_folder(folder.path()), (Names{"in.acm", "in.raw", "original.raw"}));
    // The original through a pipe, read as vellox reads its input.
    EXPECT_EQ(shell("cat '" + (folder / "original.raw") + "' | '" + VELLOXDEC_EXECUTABLE + "' '" +
                    (folder / "in.acm") + "' --compare - > '" + (folder / "piped") + "'"),
              0);
    EXPECT_EQ(read_file(folder / "piped"), r.out);

    // An original that opens with a whole silent frame: that frame has no SNR of its own and
    // is left out, so the segmental SNR is the second frame's, 110 against 100 as above.
    std::vector<std::int16_t> late(2048, 0);
    late.resize(4096, 110);
    write_file(folder / "late.raw", raw16(late));
    const RunResult silent_first =
        run_velloxdec({folder / "in.acm", "--compare", folder / "late.raw"}, folder);
    EXPECT_EQ(silent_first.exit_code, 0);
    EXPECT_NE(silent_first.out.find("SNR: 0.78 dB\nSegmental SNR: 20.83 dB\nPeak error: 100\n"),
              std::string::npos)
        << silent_first.out;
}

// One block of random columns whose method codes are all multiples of 4 (zero, linear of 4,
// 8, 12 and 16 bits, vlc2_pairs, vlc3): a code that the end of the file cuts short reads as
// another of them, never as an invalid one, so a cut costs exactly the blocks it removes.
// (A cut code that reads as 1 or 2 fails its block, which then counts as lost as well.)
void put_block_cut_safely(acm_test::BitStreamBuilder& out, std::mt19937& rng, int columns,
                          int rows) {
    out.put_block_head(3, 1 + static_cast<int>(rng() % 1000));  // coded integers -8 .. 7
    for (int j = 0; j < columns; ++j) {
        const int code = 4 * static_cast<int>(rng() % 7);
        const int limit = code == 0 ? 0 : (code == 20 ? 2 : (code == 24 ? 3 : 7));
        std::vector<int> values;
        for (int r = 0; r < rows; ++r) {
            values.push_back(static_cast<int>(rng() % static_cast<unsigned>(2 * limit + 1)) -
                             limit);
        }
        acm_test::put_column(out, code, values);
    }
}

// A file cut after any byte loses exactly the blocks whose first bit lies at or past its end:
// "-t" says so in its status, a decoded file in the same warning. The cuts: inside the header,
// on both sides of every block's first byte, and the whole file (the fuzz harnesses cut
// everywhere else).
TEST(Velloxdec, CutFilesWarnExactlyWhenBlocksAreMissing) {
    ScratchFolder folder;
    constexpr int block_size = 3 << 2;  // 3 rows, 2 levels
    constexpr int blocks = 16;
    constexpr long samples = blocks * block_size - 5;
    acm_test::BitStreamBuilder stream;
    const std::uint32_t seed = test::test_seed(1234);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<long> starts;
    for (int b = 0; b < blocks; ++b) {
        starts.push_back(stream.bits());
        put_block_cut_safely(stream, rng, 4, 3);
    }
    const std::vector<std::uint8_t> whole = acm_test::acm_file_bytes(samples, 2, 3, stream.bytes());
    const std::string cut = folder / "cut.acm";
    std::set<std::size_t> lengths = {0, 1, 13, 14, 15, whole.size() - 1, whole.size()};
    for (long start : starts) {
        lengths.insert(14 + static_cast<std::size_t>(start / 8));
        lengths.insert(15 + static_cast<std::size_t>(start / 8));
    }
    for (const std::size_t length : lengths) {
        SCOPED_TRACE(length);
        write_file(cut, std::string(whole.begin(), whole.begin() + static_cast<long>(length)));
        const RunResult test = run_velloxdec({"-t", cut}, folder);
        if (length < 14) {
            EXPECT_EQ(test.exit_code, 1);
            EXPECT_EQ(test.err, "Error: Not an ACM file: '" + cut + "'\nCannot open input file.\n");
            continue;
        }
        long lost = 0;
        for (int b = 0; b < blocks; ++b) {
            if (starts[static_cast<std::size_t>(b)] >= 8 * static_cast<long>(length - 14)) {
                lost += std::min<long>(block_size, samples - b * block_size);
            }
        }
        const std::string warning = lost == 0 ? ""
                                              : "Warning: damaged input: " + std::to_string(lost) +
                                                    " of " + std::to_string(samples) +
                                                    " samples could not be decoded\n";
        EXPECT_EQ(test.exit_code, lost == 0 ? 0 : 1);
        EXPECT_EQ(test.err, warning);
        if (length % 2 == 0) {
            const RunResult decoded = run_velloxdec({cut, folder / "out.wav"}, folder);
            EXPECT_EQ(decoded.exit_code, 0);
            EXPECT_EQ(decoded.err, warning);
            EXPECT_EQ(read_file(folder / "out.wav").size(), 44 + 2 * 188u);
        }
        if (::testing::Test::HasFailure()) return;
    }
}

// A byte changed in the sample count, or anywhere in the block stream, may move where the
// last block ends. Bytes that follow it cannot come from the writer: "-t" and decoding warn
// exactly when there are any (as the plain reference decoder counts them), after the damage
// warning. (A change that makes a block fail is damage already: the blocks after it are then
// read on from where it stopped, and rarely end before the file does.)
TEST(Velloxdec, ChangedBytesWarnExactlyWhenBytesFollowTheLastBlock) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(test_signal(6000)));
    ASSERT_EQ(
        run_vellox({"-16", folder / "in.raw", folder / "in.acm", "-l", "3", "-s", "5"}, folder)
            .exit_code,
        0);
    const std::string whole = read_file(folder / "in.acm");
    // The low bytes of the count (6000 becomes 5930, a block less, and 19824), every 97th byte
    // of the stream, and a zero byte behind the end.
    std::vector<std::size_t> places = {4, 5};
    for (std::size_t at = acm_header_size; at < whole.size(); at += 97) places.push_back(at);
    places.push_back(whole.size());
    const std::string changed = folder / "changed.acm";
    int with_bytes_behind = 0;
    for (const std::size_t at : places) {
        SCOPED_TRACE("byte " + std::to_string(at));
        std::string bytes = whole;
        if (at < bytes.size()) {
            bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
        } else {
            bytes += '\0';
        }
        write_file(changed, bytes);
        acm_test::ReferenceDecoder reference(changed.c_str(), 65536);
        const std::int32_t count = reference.remaining;
        std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
        (void)reference.read(samples.data(), count);
        const std::int64_t lost = reference.not_decoded();
        const std::int64_t behind = reference.trailing_bytes();
        if (behind > 0) ++with_bytes_behind;
        std::string warnings;
        if (lost > 0) {
            warnings += "Warning: damaged input: " + std::to_string(lost) + " of " +
                        std::to_string(count) + " samples could not be decoded\n";
        }
        if (behind > 0) {
            warnings +=
                "Warning: " + std::to_string(behind) + " bytes follow the end of the stream\n";
        }
        const RunResult test = run_velloxdec({"-t", changed}, folder);
        EXPECT_EQ(test.err, warnings);
        EXPECT_EQ(test.exit_code, warnings.empty() ? 0 : 1);
        const RunResult decoded = run_velloxdec({changed, folder / "out.wav"}, folder);
        EXPECT_EQ(decoded.err, warnings);
        EXPECT_EQ(decoded.exit_code, 0);
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GE(with_bytes_behind, 2);
}

TEST(Velloxdec, FailuresLeaveTheTargetAsItWasAndNothingBehind) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(test_signal(50000)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "in.acm"}, folder).exit_code, 0);
    const Names files = {"in.acm", "in.raw", "out.wav"};
    struct Case {
        std::vector<std::string> args;
        std::string err;
        bool err_ends_so = false;  // automatic detection may say why before it
    };
    const std::string out = folder / "out.wav";
    const std::vector<Case> cases = {
        {{folder / "none.acm", out},
         "Error: No such file or directory: '" + (folder / "none.acm") +
             "'\nCannot open input file.\n"},
        {{folder / "in.raw", out},
         "Error: Not an ACM file: '" + (folder / "in.raw") + "'\nCannot open input file.\n"},
        {{folder.path(), out},
         "Error: Is a directory: '" + folder.path() + "'\nCannot open input file.\n"},
        {{folder / "in.acm", out, "--compare", folder / "none.wav"},
         "Cannot open original file.\n",
         true},
        // Replacing the input or the original would lose it.
        {{folder / "in.acm", folder / "in.acm"},
         "Error: Input and output are the same file: '" + (folder / "in.acm") +
             "'\nCannot open output file.\n"},
        {{folder / "in.acm", folder / "in.raw", "--compare", folder / "in.raw"},
         "Error: Input and output are the same file: '" + (folder / "in.raw") +
             "'\nCannot open output file.\n"},
    };
    for (const Case& c : cases) {
        write_file(out, "precious");
        const RunResult r = run_velloxdec(c.args, folder);
        EXPECT_EQ(r.exit_code, 1) << c.err;
        if (c.err_ends_so) {
            EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), c.err.size())), c.err);
        } else {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_EQ(read_file(out), "precious");
        EXPECT_EQ(list_folder(folder.path()), files);
    }

    // A write that fails in the middle of the file, and a device that takes nothing.
    RunOptions limited;
    limited.file_size_limit = 4096;
    const RunResult too_large = run_velloxdec({folder / "in.acm", out}, folder, limited);
    EXPECT_EQ(too_large.exit_code, 1);
    EXPECT_EQ(too_large.err, "Error: File too large: '" + out + "'\n");
    EXPECT_EQ(too_large.out.find("Output file size"), std::string::npos);
    EXPECT_EQ(read_file(out), "precious");
    EXPECT_EQ(list_folder(folder.path()), files);
    if (mknod((folder / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        const RunResult full = run_velloxdec({folder / "in.acm", folder / "full"}, folder);
        EXPECT_EQ(full.exit_code, 1);
        EXPECT_EQ(full.err, "Error: No space left on device: '" + (folder / "full") + "'\n");
    }
}

TEST(Velloxdec, EveryAllocationFailureIsReportedAndLosesNothing) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(test_signal(70000)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "in.acm", "-l", "3"}, folder).exit_code, 0);
    const std::vector<std::string> allowed = {
        "Error: Cannot allocate memory\nCannot open input file.\n",
        "Error: Cannot allocate memory\nCannot open original file.\n",
        "Error: Cannot allocate memory\n",
    };
    const std::string out = folder / "out.wav";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {folder / "in.acm", out}, {folder / "in.acm", out, "--compare", folder / "in.acm"}}) {
        SCOPED_TRACE(args.size());
        int k = 1;
        for (;; ++k) {
            SCOPED_TRACE(k);
            write_file(out, "precious");
            RunOptions options;
            options.executable = VELLOXDEC_ALLOCATION_HOOK_EXECUTABLE;
            options.environment = {"VELLOX_FAIL_ALLOCATION=" + std::to_string(k),
                                   "ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1"};
            const RunResult r = run_velloxdec(args, folder, options);
            if (r.exit_code == 0) break;
            const bool as_expected =
                r.exit_code == 1 &&
                std::find(allowed.begin(), allowed.end(), r.err) != allowed.end() &&
                read_file(out) == "precious" &&
                list_folder(folder.path()) == Names{"in.acm", "in.raw", "out.wav"};
            if (!as_expected || k == 50) {
                ADD_FAILURE() << "exit " << r.exit_code << ", signal " << r.signal << ", stderr:\n"
                              << r.err;
                break;
            }
        }
        EXPECT_GT(k, 4);  // the decoder's block, tables and state, and the buffers
        EXPECT_NE(read_file(out), "precious");
    }
}

}  // namespace
}  // namespace vellox::cli
