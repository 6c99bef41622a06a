// The libsndfile reader: the WAV reader's samples for the same data, the layout and the name
// of each container, announced counts padded or refused, formats whose length is counted,
// detection by signature and MPEG frames, and a build without libsndfile.

#include "sources/sndfile_source.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/sound_tools.h"
#include "sources/sound_files.h"
#include "sources/wav_source.h"

namespace vellox {
namespace {

using namespace source_test;
using test::have_tool;
using test::quoted;
using test::run_tool;

using SndfileSourceTest = SoundFileTest;

// value as count big-endian bytes.
std::string be(std::uint64_t value, int count) {
    std::string bytes;
    for (int i = count - 1; i >= 0; --i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// An AU file: big-endian samples of encoding (2: 8-bit, 3: 16-bit, 6: float, 1: mu-law).
std::string au(int encoding, int rate, int channels, const std::string& data) {
    return ".snd" + be(24, 4) + be(data.size(), 4) + be(static_cast<unsigned>(encoding), 4) +
           be(static_cast<unsigned>(rate), 4) + be(static_cast<unsigned>(channels), 4) + data;
}

// A "fmt " body of any layout.
std::string fmt_layout(int tag, int bits, int channels, std::uint32_t rate) {
    const auto align = static_cast<unsigned>(bits / 8 * channels);
    return le(static_cast<unsigned>(tag), 2) + le(static_cast<unsigned>(channels), 2) +
           le(rate, 4) + le(rate * align, 4) + le(align, 2) + le(static_cast<unsigned>(bits), 2);
}

class SndfileFileTest : public SndfileSourceTest {
protected:
    void SetUp() override {
        SndfileSourceTest::SetUp();
        if (!SndfileSource::available()) GTEST_SKIP() << "this build has no libsndfile";
    }

    std::unique_ptr<SndfileSource> open_sndfile(const std::string& path) {
        auto source = std::make_unique<SndfileSource>(path.c_str());
        result = source->open();
        if (!result.ok()) source.reset();
        return source;
    }

    OpenResult result = OpenResult::opened();
};

// Integer samples keep their top 16 bits; real ones are rounded half away from zero and
// saturated, NaN silent and values beyond full scale not clipped before: as the WAV reader.
TEST_F(SndfileFileTest, GivesTheWavReadersSamplesForEveryWavFormat) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const double step = 1.0 / 32768;
    const struct {
        std::string fmt;
        std::string data;
    } cases[] = {
        {fmt_layout(1, 8, 1, 8000), "\x00\x80\xFF\x7F\x81"s},
        {fmt_layout(1, 16, 2, 44100), samples16({32767, -32768, 0, 1, -1, 12345, -300, 7})},
        {fmt_layout(1, 24, 3, 96000), le(0x7FFFFF, 3) + le(0x800000, 3) + le(0x000100, 3) +
                                          le(0xFFFFFF, 3) + le(0xFF, 3) + le(0x123456, 3)},
        {fmt_layout(1, 32, 1, 22050),
         le(0x7FFFFFFF, 4) + le(0x80000000, 4) + le(0xFFFFFFFF, 4) + le(0x1FFFF, 4)},
        {fmt_layout(3, 32, 2, 48000), float_bytes(0.5f) + float_bytes(1.0f) + float_bytes(-1.0f) +
                                          float_bytes(-3.0f) + float_bytes(1.5f) +
                                          float_bytes(0.5f / 32768) + float_bytes(-0.5f / 32768) +
                                          float_bytes(0.25f / 32768) + float_bytes(nan) +
                                          float_bytes(inf) + float_bytes(-inf) + float_bytes(0.0f)},
        {fmt_layout(3, 64, 1, 44100),
         double_bytes(2.5 * step) + double_bytes(-2.5 * step) + double_bytes(1.49999 * step) +
             double_bytes(1e300) + double_bytes(-32767.5 * step) + double_bytes(32766.5 * step)},
    };
    for (const auto& c : cases) {
        const std::string path = write("a.wav", wav(chunk("fmt ", c.fmt) + chunk("data", c.data)));
        WavSource wav_reader(path.c_str());
        ASSERT_TRUE(wav_reader.open().ok());
        const std::vector<int> expected = read_all(wav_reader);
        for (const std::int32_t piece : {1, 5, 65536}) {
            auto source = open_sndfile(path);
            ASSERT_NE(source, nullptr);
            EXPECT_STREQ(source->type_name(), "WAV");
            EXPECT_EQ(source->channels, wav_reader.channels);
            EXPECT_EQ(source->sample_rate, wav_reader.sample_rate);
            EXPECT_EQ(source->is_16bit, 1);
            EXPECT_EQ(source->total_samples, static_cast<std::int32_t>(expected.size()));
            EXPECT_EQ(read_all(*source, piece), expected) << piece;
            EXPECT_EQ(source->frames_missing(), 0);
        }
    }
}

TEST_F(SndfileFileTest, ReadsAuFilesWithTheirLayout) {
    const struct {
        std::string bytes;
        std::vector<int> expected;
    } cases[] = {
        {au(3, 48000, 2, be(0x7FFF, 2) + be(0x8000, 2) + be(0x0102, 2) + be(0xFFFF, 2)),
         {32767, -32768, 0x0102, -1}},
        {au(2, 8000, 1, "\x7F\x80\x01"s), {0x7F00, -32768, 0x0100}},                // signed bytes
        {au(6, 11025, 1, be(0x40000000, 4) + be(0xBF000000, 4)), {32767, -16384}},  // 2, -0.5
    };
    for (const auto& c : cases) {
        auto source = open_sndfile(write("a.au", c.bytes));
        ASSERT_NE(source, nullptr);
        EXPECT_STREQ(source->type_name(), "AU");
        EXPECT_EQ(read_all(*source), c.expected);
    }
    auto source = open_sndfile(write("b.au", au(1, 8000, 2, std::string(10, '\x55'))));
    ASSERT_NE(source, nullptr);  // mu-law, decoded by libsndfile
    EXPECT_EQ(source->channels, 2);
    EXPECT_EQ(source->sample_rate, 8000u);
    EXPECT_EQ(source->total_samples, 10);

    // What libsndfile does not read is refused as such.
    for (const std::string& bytes : {"not a sound"s, ".snd"s, au(99, 8000, 1, "abcd"), ""s}) {
        EXPECT_EQ(open_sndfile(write("c.au", bytes)), nullptr);
        EXPECT_EQ(result, OpenResult::refused(Refusal::unsupported_format));
    }
}

// Detection gives libsndfile the files that begin like its formats, and MPEG frames.
TEST_F(SndfileSourceTest, DetectionOffersSignaturesToLibsndfile) {
    const std::string needs = "Reading this format needs libsndfile, which this build lacks";
    const std::string frames =
        "\xFF\xFB\x90\x64"s + std::string(413, '\0') + "\xFF\xFB\x90\x64"s + std::string(413, '\0');
    const struct {
        std::string bytes;
        const char* type;     // with libsndfile; null: refused as another format
        const char* without;  // without it; null: refused, naming libsndfile
    } cases[] = {
        {au(3, 8000, 1, "abcd"), "AU", nullptr}, {".snd garbage"s, nullptr, nullptr},
        {"riff garbage"s, "RAW16", "RAW16"},  // a signature once read as raw samples
        {"dns. garbage"s, "RAW16", "RAW16"},     {frames, "MP3", nullptr},
        {"wvpk garbage", nullptr, nullptr},  // nothing here reads it, with or without
    };
    for (const auto& c : cases) {
        const std::string path = write("a.snd", c.bytes);
        auto source = open(path, SoundType::automatic);
        const char* type = SndfileSource::available() ? c.type : c.without;
        if (type != nullptr) {
            ASSERT_NE(source, nullptr) << c.bytes << errors;
            EXPECT_STREQ(source->type_name(), type);
            EXPECT_EQ(errors, "");
        } else {
            EXPECT_EQ(source, nullptr);
            const bool named = !SndfileSource::available() && c.bytes.compare(0, 4, "wvpk") != 0;
            EXPECT_EQ(errors, "Error: " + (named ? needs : "Unsupported sound file format") +
                                  ": '" + path + "'\n");
        }
    }
}

// The count a FLAC file announces is taken as it stands: one past 2^31 - 1 samples is refused,
// one the file does not hold padded, and none at all (0: unknown) counted by decoding.
TEST_F(SndfileFileTest, TakesTheAnnouncedCountOfAHostileHeader) {
    if (!have_tool("flac")) GTEST_SKIP() << "flac is not installed";
    std::vector<int> values;
    for (int i = 0; i < 3000; ++i) values.push_back(i * 11 % 4000 - 2000);
    const std::string wav_path = write(
        "a.wav", wav(chunk("fmt ", fmt_layout(1, 16, 1, 8000)) + chunk("data", samples16(values))));
    const std::string flac_path = dir + "/a.flac";
    ASSERT_TRUE(run_tool("flac -s -f -o " + quoted(flac_path) + " " + quoted(wav_path)));
    std::FILE* in = std::fopen(flac_path.c_str(), "rb");
    std::string bytes(1 << 16, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    ASSERT_EQ(bytes.substr(0, 4), "fLaC");
    // STREAMINFO's total: the low 36 bits of the 8 bytes from offset 18.
    const auto with_total = [&](std::uint64_t total) {
        std::string patched = bytes;
        std::uint64_t field = 0;
        for (int i = 0; i < 8; ++i)
            field = field << 8 | static_cast<unsigned char>(patched[18 + i]);
        field = (field & ~((std::uint64_t{1} << 36) - 1)) | total;
        for (int i = 7; i >= 0; --i, field >>= 8) patched[18 + i] = static_cast<char>(field & 0xFF);
        return write("b.flac", patched);
    };
    EXPECT_EQ(open_sndfile(with_total(std::uint64_t{1} << 31)), nullptr);
    EXPECT_EQ(result, OpenResult::refused(Refusal::input_too_long));
    EXPECT_EQ(open_sndfile(with_total((std::uint64_t{1} << 36) - 1)), nullptr);
    EXPECT_EQ(result, OpenResult::refused(Refusal::input_too_long));

    auto longer = open_sndfile(with_total(5000));
    ASSERT_NE(longer, nullptr);
    EXPECT_EQ(longer->total_samples, 5000);
    std::vector<int> expected = values;
    expected.resize(5000, 0);
    EXPECT_EQ(read_all(*longer, 4096), expected);
    EXPECT_EQ(longer->frames_missing(), 2000);

    auto unknown = open_sndfile(with_total(0));
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->total_samples, 3000);
    EXPECT_EQ(read_all(*unknown), values);
    EXPECT_EQ(unknown->frames_missing(), 0);
}

// An MP3 file without a frame count in its first frame, and a cut Ogg file, whose lengths are
// only estimated or not known at all: decoded once to count them, so nothing is missing.
TEST_F(SndfileFileTest, CountsTheFramesOfFilesThatDoNotStateThem) {
    if (!have_tool("lame") || !have_tool("oggenc")) GTEST_SKIP() << "lame or oggenc is missing";
    std::vector<int> values;
    for (int i = 0; i < 88200; ++i) values.push_back(i % 100 * 200 - 10000);
    const std::string wav_path = write("a.wav", wav(chunk("fmt ", fmt_layout(1, 16, 1, 44100)) +
                                                    chunk("data", samples16(values))));
    const std::string mp3 = dir + "/a.mp3";
    const std::string ogg = dir + "/a.ogg";
    ASSERT_TRUE(run_tool("lame --quiet -t " + quoted(wav_path) + " " + quoted(mp3)));
    ASSERT_TRUE(run_tool("oggenc -Q -o " + quoted(ogg) + " " + quoted(wav_path)));
    std::FILE* in = std::fopen(ogg.c_str(), "rb");
    std::string bytes(1 << 20, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    for (const std::string& path : {mp3, write("cut.ogg", bytes.substr(0, bytes.size() * 2 / 3))}) {
        auto source = open_sndfile(path);
        ASSERT_NE(source, nullptr) << path;
        EXPECT_GT(source->total_samples, 0);
        EXPECT_EQ(static_cast<std::int32_t>(read_all(*source).size()), source->total_samples);
        EXPECT_EQ(source->frames_missing(), 0);
    }
}

}  // namespace
}  // namespace vellox
