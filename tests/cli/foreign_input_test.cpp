// Inputs read through libsndfile and the conversions of --resample and --downmix, as a user
// meets them: files made by the sound tools (flac, sox, oggenc, opusenc, lame), the bytes of
// the same samples in a WAV file, the decoders' counts, round trips through velloxdec against
// sox's own resampling, the rate note, cut files, and the refusals. A test whose tool is not
// installed is skipped.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "common/sound_tools.h"
#include "sources/resampler.h"
#include "sources/sndfile_source.h"

namespace vellox::cli {
namespace {

using Names = std::set<std::string>;
using test::have_tool;
using test::quoted;
using test::run_tool;

RunResult run_velloxdec(const std::vector<std::string>& args, const ScratchFolder& folder) {
    RunOptions options;
    options.executable = VELLOXDEC_EXECUTABLE;
    return run_vellox(args, folder, options);
}

std::string le(std::uint32_t value, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// A 16-bit PCM WAV file of any layout.
std::string wav_file(int channels, std::uint32_t rate, const std::vector<std::int16_t>& samples) {
    const std::string data = raw16(samples);
    const auto align = static_cast<std::uint32_t>(2 * channels);
    const std::string fmt = le(1, 2) + le(static_cast<std::uint32_t>(channels), 2) + le(rate, 4) +
                            le(rate * align, 4) + le(align, 2) + le(16, 2);
    const std::string body = "WAVEfmt " + le(16, 4) + fmt + "data" +
                             le(static_cast<std::uint32_t>(data.size()), 4) + data;
    return "RIFF" + le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

// Music-like stereo material: two glides of tones with harmonics, a little noise, after a
// fade-in of 0.1 s (the filter bank's start-up would otherwise dominate every ratio).
std::vector<std::int16_t> material(std::size_t frames, std::uint32_t rate) {
    std::vector<std::int16_t> samples(2 * frames);
    const std::vector<std::int16_t> hiss = noise(2 * frames, 300, 17);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double fade = std::min(1.0, t / 0.1);
        const double left = 6000 * std::sin(2 * M_PI * (220 + 40 * t) * t) +
                            2000 * std::sin(2 * M_PI * 3 * (220 + 40 * t) * t);
        const double right =
            5000 * std::sin(2 * M_PI * 330 * t + 1) + 1500 * std::sin(2 * M_PI * 2500 * t);
        samples[2 * i] = static_cast<std::int16_t>(std::lround(fade * left) + hiss[2 * i]);
        samples[2 * i + 1] = static_cast<std::int16_t>(std::lround(fade * right) + hiss[2 * i + 1]);
    }
    return samples;
}

// velloxdec's WAV file: its 44-byte header's layout and the sample bytes behind it.
struct DecodedWav {
    int channels = 0;
    std::uint32_t rate = 0;
    std::size_t frames = 0;
};

DecodedWav decoded_layout(const std::string& path) {
    const std::string bytes = read_file(path);
    DecodedWav layout;
    if (bytes.size() < 44) return layout;
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    layout.channels = static_cast<int>(byte(22) | byte(23) << 8);
    layout.rate = byte(24) | byte(25) << 8 | byte(26) << 16 | byte(27) << 24;
    layout.frames = (bytes.size() - 44) / (2 * static_cast<std::size_t>(layout.channels));
    return layout;
}

// The SNR line of a velloxdec --compare report.
double snr_of(const RunResult& r) {
    const std::size_t at = r.out.find("\nSNR: ");
    return at == std::string::npos ? -1000.0 : std::atof(r.out.c_str() + at + 6);
}

// Everything but the line that names the input kind.
std::string without_input_line(const std::string& out) {
    const std::size_t at = out.find("Input type: ");
    const std::size_t tab = out.find('\t', at);
    return at == std::string::npos || tab == std::string::npos
               ? out
               : out.substr(0, at) + out.substr(tab);
}

const char* const rate_note_44100 =
    "Note: the input is 44100 Hz but the file's header says 22050 Hz; --resample 22050 converts "
    "it\n";

class ForeignInputTest : public testing::Test {
protected:
    void SetUp() override {
        if (!SndfileSource::available()) GTEST_SKIP() << "this build has no libsndfile";
    }
    // Skips the test unless every tool is there.
    bool tools(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            if (!have_tool(name)) {
                missing_tool = name;
                return false;
            }
        }
        return true;
    }
    std::string path(const std::string& name) const { return folder / name; }

    ScratchFolder folder;
    std::string missing_tool;
};

// A lossless file converts to exactly the bytes of its samples in a WAV file, with the same
// console text but for the kind's name.
TEST_F(ForeignInputTest, LosslessFormatsConvertToTheBytesOfTheSameWav) {
    if (!tools({"flac", "sox"})) GTEST_SKIP() << missing_tool << " is not installed";
    write_file(path("in.wav"), wav_file(2, 44100, material(30000, 44100)));
    ASSERT_TRUE(run_tool("sox " + quoted(path("in.wav")) + " -b 24 " + quoted(path("in24.wav")) +
                         " vol 0.9"));
    const struct {
        const char* name;
        const char* wav;
        std::string make;
        const char* type;
    } cases[] = {
        {"in.flac", "in.wav", "flac -s -o {out} {in}", "FLAC"},
        {"in.aiff", "in.wav", "sox {in} {out}", "AIFF"},
        {"in.au", "in.wav", "sox {in} {out}", "AU"},
        {"in.w64", "in.wav", "sox {in} {out}", "W64"},
        {"in24.flac", "in24.wav", "sox {in} {out}", "FLAC"},
        {"in24.aiff", "in24.wav", "sox {in} {out}", "AIFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string command = c.make;
        command.replace(command.find("{out}"), 5, quoted(path(c.name)));
        command.replace(command.find("{in}"), 4, quoted(path(c.wav)));
        ASSERT_TRUE(run_tool(command));
        const RunResult reference = run_vellox({path(c.wav), path("ref.acm"), "-hq"}, folder);
        const RunResult r = run_vellox({path(c.name), path("out.acm"), "-hq"}, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("Input type: " + std::string(c.type) + "\t60000 samples\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(without_input_line(r.out), without_input_line(reference.out));
        EXPECT_EQ(r.err, reference.err);
        EXPECT_EQ(r.err, rate_note_44100);
        EXPECT_EQ(read_file(path("out.acm")), read_file(path("ref.acm")));
    }
    // Through a pipe: copied first, as every pipe is, and then read through libsndfile.
    ASSERT_EQ(run_vellox({path("in.flac"), path("file.acm")}, folder).exit_code, 0);
    ASSERT_TRUE(run_tool("cat " + quoted(path("in.flac")) + " | " + quoted(VELLOX_EXECUTABLE) +
                         " - " + quoted(path("pipe.acm"))));
    EXPECT_EQ(read_file(path("pipe.acm")), read_file(path("file.acm")));
}

// A lossy file converts with the count its decoder gives: oggdec's, opusdec's at 48 kHz and
// lame's own (its gapless header), with or without an ID3 tag in front of the MP3 stream.
TEST_F(ForeignInputTest, LossyFormatsConvertWithTheirDecodersCount) {
    if (!tools({"oggenc", "oggdec", "opusenc", "opusdec", "lame"})) {
        GTEST_SKIP() << missing_tool << " is not installed";
    }
    write_file(path("in.wav"), wav_file(2, 44100, material(44100, 44100)));
    const std::string in = quoted(path("in.wav"));
    ASSERT_TRUE(run_tool("oggenc -Q -o " + quoted(path("in.ogg")) + " " + in));
    ASSERT_TRUE(run_tool("opusenc --quiet " + in + " " + quoted(path("in.opus"))));
    ASSERT_TRUE(run_tool("lame --quiet " + in + " " + quoted(path("plain.mp3"))));
    ASSERT_TRUE(
        run_tool("lame --quiet --add-id3v2 --tt Test " + in + " " + quoted(path("tagged.mp3"))));
    ASSERT_TRUE(run_tool("oggdec -Q -o " + quoted(path("ogg.wav")) + " " + quoted(path("in.ogg"))));
    ASSERT_TRUE(run_tool("opusdec --quiet --rate 48000 " + quoted(path("in.opus")) + " " +
                         quoted(path("opus.wav"))));
    ASSERT_TRUE(run_tool("lame --quiet --decode " + quoted(path("plain.mp3")) + " " +
                         quoted(path("mp3.wav"))));
    ASSERT_EQ(read_file(path("plain.mp3")).substr(0, 2), "\xFF\xFB");  // no tag in front
    ASSERT_EQ(read_file(path("tagged.mp3")).substr(0, 3), "ID3");
    const struct {
        const char* name;
        const char* decoded;
        const char* type;
        std::uint32_t rate;
    } cases[] = {
        {"in.ogg", "ogg.wav", "OGG", 44100},
        {"in.opus", "opus.wav", "OGG", 48000},
        {"plain.mp3", "mp3.wav", "MP3", 44100},
        {"tagged.mp3", "mp3.wav", "MP3", 44100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string decoded = read_file(path(c.decoded));
        const std::size_t samples = (decoded.size() - decoded.find("data") - 8) / 2;
        const RunResult r = run_vellox({path(c.name), path("out.acm")}, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("Input type: " + std::string(c.type) + "\t" + std::to_string(samples) +
                             " samples\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.err, "Note: the input is " + std::to_string(c.rate) +
                             " Hz but the file's header says 22050 Hz; --resample 22050 "
                             "converts it\n");
        // The lossy decoders' samples, near the original's.
        const RunResult compared =
            run_velloxdec({path("out.acm"), "--compare", path("in.wav")}, folder);
        if (c.rate == 44100) {
            EXPECT_GT(snr_of(compared), 10.0) << compared.out;
        }
    }
}

// --resample and --downmix through velloxdec: the layout, the duration, and the samples near
// sox's own conversion (exactly coded, -l 0 -q0, and at the defaults).
TEST_F(ForeignInputTest, ResampleAndDownmixRoundTripsMatchSox) {
    if (!Resampler::available()) GTEST_SKIP() << "this build has no libsoxr";
    if (!tools({"flac", "sox"})) GTEST_SKIP() << missing_tool << " is not installed";
    write_file(path("in.wav"), wav_file(2, 44100, material(44100, 44100)));
    ASSERT_TRUE(run_tool("flac -s -o " + quoted(path("in.flac")) + " " + quoted(path("in.wav"))));
    const struct {
        std::vector<std::string> options;
        std::string sox;  // the same conversion by sox, without dither
        int channels;
        std::uint32_t rate;
        std::size_t frames;
    } cases[] = {
        {{"--resample", "22050"}, "-r 22050", 2, 22050, 22050},
        {{"--downmix"}, "-c 1", 1, 44100, 44100},
        {{"--downmix", "--resample", "8000"}, "-r 8000 -c 1", 1, 8000, 8000},
        {{"--resample", "48000"}, "-r 48000", 2, 48000, 48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sox);
        ASSERT_TRUE(run_tool("sox -D " + quoted(path("in.flac")) + " " + c.sox + " " +
                             quoted(path("sox.wav"))));
        for (const bool exact : {true, false}) {
            std::vector<std::string> args = {path("in.flac"), path("out.acm")};
            args.insert(args.end(), c.options.begin(), c.options.end());
            if (exact) args.insert(args.end(), {"-l", "0", "-q0"});
            const RunResult r = run_vellox(args, folder);
            ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
            EXPECT_EQ(r.err, "");  // the header says what the signal is: no note
            EXPECT_NE(r.out.find("Input type: FLAC\t88200 samples\n"), std::string::npos);
            ASSERT_EQ(run_velloxdec({path("out.acm"), path("out.wav")}, folder).exit_code, 0);
            const DecodedWav layout = decoded_layout(path("out.wav"));
            EXPECT_EQ(layout.channels, c.channels);
            EXPECT_EQ(layout.rate, c.rate);
            EXPECT_EQ(layout.frames, c.frames);
            const RunResult compared =
                run_velloxdec({path("out.acm"), "--compare", path("sox.wav")}, folder);
            EXPECT_EQ(compared.out.find("Sample counts differ"), std::string::npos);
            // sox's filters differ from the very-high-quality ones near the band's edge, and it
            // rounds halves its own way: about 70 dB apart on this material.
            EXPECT_GT(snr_of(compared), exact ? 60.0 : 35.0) << compared.out;
        }
    }
    // -c and -r still say what the header gives; the note tells of the difference.
    const RunResult r = run_vellox(
        {path("in.flac"), path("out.acm"), "--resample", "48000", "-r", "44100", "-C", "1"},
        folder);
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err,
              "Note: the input is 48000 Hz but the file's header says 44100 Hz; --resample 44100 "
              "converts it\n");
    ASSERT_EQ(run_velloxdec({path("out.acm"), path("out.wav")}, folder).exit_code, 0);
    const DecodedWav layout = decoded_layout(path("out.wav"));
    EXPECT_EQ(layout.channels, 1);
    EXPECT_EQ(layout.rate, 44100u);
}

// A cut file converts what its decoder gives, padded with zeros to the count it announced,
// with a warning before the note; velloxdec warns of a cut original the same way.
TEST_F(ForeignInputTest, CutFilesArePaddedWithAWarning) {
    if (!tools({"flac", "lame"})) GTEST_SKIP() << missing_tool << " is not installed";
    write_file(path("in.wav"), wav_file(2, 44100, material(44100, 44100)));
    ASSERT_TRUE(run_tool("flac -s -o " + quoted(path("in.flac")) + " " + quoted(path("in.wav"))));
    ASSERT_TRUE(run_tool("lame --quiet " + quoted(path("in.wav")) + " " + quoted(path("in.mp3"))));
    for (const char* name : {"in.flac", "in.mp3"}) {
        SCOPED_TRACE(name);
        const std::string whole = read_file(path(name));
        write_file(path("cut"), whole.substr(0, whole.size() / 3));
        const RunResult r = run_vellox({path("cut"), path("out.acm")}, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("\t88200 samples\n"), std::string::npos) << r.out;
        const std::string prefix = "Warning: damaged input: ";
        const std::string suffix =
            " of 44100 frames are missing; silence stands in\n" + std::string(rate_note_44100);
        ASSERT_EQ(r.err.compare(0, prefix.size(), prefix), 0) << r.err;
        ASSERT_GT(r.err.size(), prefix.size() + suffix.size());
        EXPECT_EQ(r.err.substr(r.err.size() - suffix.size()), suffix);
        const long missing = std::atol(r.err.c_str() + prefix.size());
        EXPECT_GT(missing, 20000);  // about two thirds of the frames
        EXPECT_LT(missing, 36000);
        // The file says the whole count; velloxdec decodes it all.
        const RunResult tested = run_velloxdec({"-t", path("out.acm")}, folder);
        EXPECT_EQ(tested.exit_code, 0);
        EXPECT_NE(tested.out.find("Input type: ACM\t88200 samples\n"), std::string::npos);
        if (std::string(name) == "in.flac") {
            const RunResult compared =
                run_velloxdec({path("out.acm"), "--compare", path("cut")}, folder);
            EXPECT_EQ(compared.exit_code, 0);
            EXPECT_EQ(compared.err, "Warning: damaged original: " + std::to_string(missing) +
                                        " of 44100 frames are missing; silence stands in\n");
        }
    }
}

// The note says when the header's rate is not the signal's: only where the input states a
// rate, and only when it differs.
TEST(RateNote, ComesExactlyWhenTheRatesDiffer) {
    ScratchFolder folder;
    const std::vector<std::int16_t> samples = material(5000, 44100);
    write_file(folder / "44k.wav", wav_file(2, 44100, samples));
    write_file(folder / "22k.wav", wav_file(1, 22050, samples));
    write_file(folder / "22k.raw", raw16(samples));
    ASSERT_EQ(run_vellox({folder / "44k.wav", folder / "44k.acm"}, folder).exit_code, 0);
    const struct {
        std::vector<std::string> args;
        std::string note;
    } cases[] = {
        {{folder / "44k.wav", folder / "out.acm"}, rate_note_44100},
        {{"-WAV", folder / "44k.wav", folder / "out.acm", "-c", "2"}, rate_note_44100},
        {{folder / "44k.wav", folder / "out.acm", "-r", "44100"}, ""},
        {{folder / "44k.wav", folder / "out.acm", "-r", "8000"},
         "Note: the input is 44100 Hz but the file's header says 8000 Hz; --resample 8000 "
         "converts it\n"},
        {{folder / "44k.wav", folder / "out.acm", "--downmix"}, ""},  // the header: 44100
        {{folder / "22k.wav", folder / "out.acm"}, ""},
        {{folder / "22k.wav", folder / "out.acm", "-r", "44100"},
         "Note: the input is 22050 Hz but the file's header says 44100 Hz; --resample 44100 "
         "converts it\n"},
        {{"-16", folder / "44k.wav", folder / "out.acm"}, ""},  // raw samples state no rate
        {{folder / "22k.raw", folder / "out.acm", "-r", "44100"}, ""},
        {{folder / "44k.acm", folder / "out.acm", "-r", "8000"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() > 2 && c.args[0][0] == '-' ? 1 : 0]);
        const RunResult r = run_vellox(c.args, folder);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, c.note);
    }
}

// What the options cannot do is a range error, exit status 2, before any output exists.
TEST(ConversionOptions, RefuseWhatTheyCannotDo) {
    ScratchFolder folder;
    const std::vector<std::int16_t> samples = material(3000, 8000);
    write_file(folder / "in.raw", raw16(samples));
    write_file(folder / "96k.wav", wav_file(2, 96000, samples));
    write_file(folder / "500.wav", wav_file(1, 500, samples));
    write_file(folder / "65ch.wav", wav_file(65, 44100, std::vector<std::int16_t>(650, 100)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "in.acm"}, folder).exit_code, 0);
    const std::string layout =
        "'--resample' and '--downmix' need an input that states its rate and channels (WAV, "
        "RF64 or a format read through libsndfile), not raw or ACM input.\n";
    const bool soxr = Resampler::available();
    const std::string no_soxr = "'--resample' needs libsoxr, which this build lacks.\n";
    const struct {
        std::vector<std::string> args;
        std::string message;  // on the console, after the banner
        bool needs_soxr;
    } cases[] = {
        {{folder / "in.raw", folder / "out.acm", "--resample", "22050"}, layout, true},
        {{folder / "in.raw", folder / "out.acm", "--downmix"}, layout, false},
        {{"-16", folder / "in.raw", folder / "out.acm", "--downmix"}, layout, false},
        {{"-acm", folder / "in.acm", folder / "out.acm", "--downmix"}, layout, false},
        {{folder / "in.acm", folder / "out.acm", "--DOWNMIX"}, layout, false},
        {{folder / "96k.wav", folder / "out.acm", "--resample", "7999"},
         "'rate' parameter (--resample) should be between 8000 and 192000.\n",
         false},
        {{folder / "96k.wav", folder / "out.acm", "--resample", "192001"},
         "'rate' parameter (--resample) should be between 8000 and 192000.\n",
         false},
        {{folder / "96k.wav", folder / "out.acm", "--resample", "96000"},
         "'rate' parameter (--resample) above 65535 needs -r: the header's rate field is 16 bits "
         "wide.\n",
         true},
        {{folder / "96k.wav", folder / "out.acm", "--downmix"},
         "The input is 96000 Hz, more than the header's 16-bit rate field holds: give -r or "
         "--resample.\n",
         false},
        {{folder / "500.wav", folder / "out.acm", "--resample", "8000"},
         "'--resample' takes inputs of 1000 to 1000000 Hz; this one is 500 Hz.\n",
         true},
        {{folder / "65ch.wav", folder / "out.acm", "--resample", "8000"},
         "'--resample' takes at most 64 channels (65 here): add --downmix.\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult r = run_vellox(c.args, folder);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, banner + (c.needs_soxr && !soxr ? no_soxr : c.message));
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(file_exists(folder / "out.acm"));
    }
    // What they can do: a rate the header cannot hold with -r, many channels mixed first.
    const struct {
        std::vector<std::string> args;
        bool needs_soxr;
    } accepted[] = {
        {{folder / "96k.wav", folder / "out.acm", "--downmix", "-r", "48000"}, false},
        {{folder / "500.wav", folder / "out.acm", "--downmix"}, false},
        {{folder / "96k.wav", folder / "out.acm", "--resample", "96000", "-r", "48000"}, true},
        {{folder / "65ch.wav", folder / "out.acm", "--downmix", "--resample", "8000"}, true},
    };
    for (const auto& c : accepted) {
        const RunResult r = run_vellox(c.args, folder);
        EXPECT_EQ(r.exit_code, c.needs_soxr && !soxr ? 2 : 0) << r.out;
    }
}

// --fit and --limit read the converted signal in their passes, and open it again after each.
TEST(ConversionOptions, LevelPassesReadTheConvertedSignal) {
    ScratchFolder folder;
    std::vector<std::int16_t> loud(2 * 20000);
    for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 80) % 2 ? 32000 : -32000;
    write_file(folder / "loud.wav", wav_file(2, 44100, loud));
    std::vector<std::string> args = {folder / "loud.wav", folder / "out.acm", "--downmix"};
    if (Resampler::available()) args.insert(args.end(), {"--resample", "22050"});
    for (const char* level : {"--fit", "--limit"}) {
        std::vector<std::string> run = args;
        run.push_back(level);
        const RunResult r = run_vellox(run, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out.find("coefficients were truncated"), std::string::npos) << r.out;
        const RunResult tested = run_velloxdec({"-t", folder / "out.acm"}, folder);
        EXPECT_NE(
            tested.out.find(Resampler::available() ? "\t10000 samples\n" : "\t20000 samples\n"),
            std::string::npos)
            << tested.out;
    }
}

// Without libsndfile: its formats are refused by name, and an MP3 stream is no raw input.
TEST(WithoutLibsndfile, ItsFormatsAreRefusedByName) {
    if (SndfileSource::available()) GTEST_SKIP() << "this build has libsndfile";
    ScratchFolder folder;
    write_file(folder / "in.flac", "fLaC" + std::string(100, '\0'));
    write_file(folder / "in.mp3", std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\0') +
                                      std::string("\xFF\xFB\x90\x64", 4) + std::string(500, '\0'));
    write_file(folder / "in.w64", "riff" + std::string(100, '\0'));
    for (const char* name : {"in.flac", "in.mp3"}) {
        const RunResult r = run_vellox({folder / name, folder / "out.acm"}, folder);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "Error: Reading this format needs libsndfile, which this build lacks: '" +
                             (folder / name) + "'\nCannot open input file.\n");
    }
    const RunResult r = run_vellox({folder / "in.w64", folder / "out.acm"}, folder);
    EXPECT_EQ(r.exit_code, 0);  // as before: raw samples
    EXPECT_NE(r.out.find("Input type: RAW16"), std::string::npos);
}

}  // namespace
}  // namespace vellox::cli
