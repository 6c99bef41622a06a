// The WAV and RF64 reader on files built byte by byte: the chunk walk, the sample formats and
// the files it refuses.

#include "sources/wav_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sources/sndfile_source.h"
#include "sources/sound_files.h"

namespace vellox {
namespace {

using namespace source_test;

using WavSourceTest = SoundFileTest;

TEST_F(WavSourceTest, SkipsChunksAroundFmtAndData) {
    const std::string fmt = chunk("fmt ", fmt_body(1, 16));
    const std::string data = chunk("data", samples16({1000, -1000}));
    const std::string list = chunk("LIST", "INFOISFT\x05\x00\x00\x00test\x00"s);
    const std::string layouts[] = {
        list + fmt + data,
        fmt + list + data,
        chunk("JUNK", std::string(28, '\0')) + fmt + chunk("fact", le(2, 4)) + data,
        fmt + chunk("fact", le(2, 4)) + chunk("fact", le(2, 4)) + data,
        fmt + chunk("bext", "odd") + chunk("id3 ", "x") + data,  // pad bytes after both
        chunk("fmt ", fmt_body(1, 16, le(0, 2))) + data,         // 18 bytes
        chunk("fmt ", fmt_body(1, 16, le(0, 4))) + data,         // 20 bytes
        chunk("fmt ", extensible_body(1, 16)) + data,            // 40 bytes
        fmt + chunk("data", samples16({1000, -1000})) + list,    // stated size holds
    };
    for (const std::string& layout : layouts) {
        auto source = open(write("a.wav", wav(layout)), SoundType::automatic);
        ASSERT_NE(source, nullptr) << errors;
        EXPECT_STREQ(source->type_name(), "WAV");
        EXPECT_EQ(source->total_samples, 2);
        EXPECT_EQ(read_all(*source), (std::vector<int>{1000, -1000}));
    }
}

// Files the WAV reader refuses go to libsndfile first, which reads none of these either. A
// build without libsndfile names it for the sample formats that it might read.
TEST_F(WavSourceTest, RefusesUnsupportedWavFilesUnderEveryType) {
    const std::string data = chunk("data", samples16({1, 2}));
    const struct {
        std::string bytes;
        bool sample_format;  // the chunks are sound, the sample format is not read here
    } files[] = {
        {wav(chunk("fmt ", fmt_body(2, 16)) + data), true},  // ADPCM
        {wav(chunk("fmt ", fmt_body(1, 64)) + data), true},
        {wav(chunk("fmt ", fmt_body(3, 16)) + data), true},
        {wav(chunk("fmt ", fmt_body(0xFFFE, 16, le(0, 8))) + data), false},  // extensible, no GUID
        {wav(chunk("fmt ", fmt_body(1, 16).substr(0, 14)) + data), false},   // fmt too short
        {"RIFF" + le(4, 4) + "WAVE", false},
        {"RIFF" + le(20, 4) + "WAVE" + "fmt " + le(16, 4) + "\x01\x00\x01\x00"s, false},  // cut
        {wav(chunk("fmt ", fmt_body(1, 16))), false},                                     // no data
        {wav(data + chunk("fmt ", fmt_body(1, 16))), false},
        {wav(chunk("fmt ", fmt_body(1, 16)) + chunk("LIST", "abcd", 1000) + data), false},
        // 65,536 empty chunks before "fmt ": a hostile file is not walked to its end.
        {wav(std::string(8 * 65536, '\0') + chunk("fmt ", fmt_body(1, 16)) + data), false},
    };
    for (const auto& file : files) {
        const std::string path = write("a.wav", file.bytes);
        const bool named = file.sample_format && !SndfileSource::available();
        const std::string message =
            "Error: "s +
            (named ? "Reading this format needs libsndfile, which this build lacks"
                   : "Unsupported WAV format") +
            ": '" + path + "'\n";
        EXPECT_EQ(open(path, SoundType::automatic), nullptr);
        EXPECT_EQ(errors, message);
        EXPECT_EQ(open(path, SoundType::wav), nullptr);
        EXPECT_EQ(errors, message);
        auto source = open(path, SoundType::raw16);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->total_samples, static_cast<std::int32_t>(file.bytes.size() / 2));
    }
    // 12 bits in 16-bit words: libsndfile reads it, as a WAV file.
    const std::string path = write("a.wav", wav(chunk("fmt ", fmt_body(1, 12)) + data));
    auto source = open(path, SoundType::automatic);
    if (!SndfileSource::available()) {
        EXPECT_EQ(source, nullptr);
        EXPECT_EQ(errors, "Error: Reading this format needs libsndfile, which this build lacks: '" +
                              path + "'\n");
        return;
    }
    ASSERT_NE(source, nullptr) << errors;
    EXPECT_STREQ(source->type_name(), "WAV");
    EXPECT_EQ(read_all(*source), (std::vector<int>{1, 2}));
}

TEST_F(WavSourceTest, ReducesEveryWavSampleFormatTo16Bits) {
    const auto as_float = float_bytes;
    const auto as_double = double_bytes;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const double step = 1.0 / 32768;
    const struct {
        std::string fmt;
        std::string data;
        std::vector<int> expected;
        int is_16bit;
    } cases[] = {
        {fmt_body(1, 8), "\x00\x80\xFF"s, {-32768, 0, 32512}, 0},
        {fmt_body(1, 24),
         le(0x7FFFFF, 3) + le(0x800000, 3) + le(0x000100, 3) + le(0xFFFFFF, 3) + le(0xFF, 3) +
             le(0x123456, 3),
         {32767, -32768, 1, -1, 0, 0x1234},
         1},
        {fmt_body(1, 32),
         le(0x7FFFFFFF, 4) + le(0x80000000, 4) + le(0xFFFFFFFF, 4) + le(0x1FFFF, 4),
         {32767, -32768, -1, 1},
         1},
        {extensible_body(1, 24), le(0xFEDCBA, 3), {-292}, 1},
        {fmt_body(3, 32),
         as_float(0.5f) + as_float(1.0f) + as_float(-1.0f) + as_float(-3.0f) +
             as_float(0.5f / 32768) + as_float(-0.5f / 32768) + as_float(0.25f / 32768) +
             as_float(nan) + as_float(inf) + as_float(-inf),
         {16384, 32767, -32768, -32768, 1, -1, 0, 0, 32767, -32768},
         1},
        {extensible_body(3, 64),
         as_double(2.5 * step) + as_double(-2.5 * step) + as_double(1.49999 * step) +
             as_double(1e300) + as_double(std::nan("")) + as_double(-32767.5 * step),
         {3, -3, 1, 32767, 0, -32768},
         1},
    };
    for (const auto& c : cases) {
        auto source = open(write("a.wav", wav(chunk("fmt ", c.fmt) + chunk("data", c.data))),
                           SoundType::automatic);
        ASSERT_NE(source, nullptr) << errors;
        EXPECT_STREQ(source->type_name(), "WAV");
        EXPECT_EQ(source->is_16bit, c.is_16bit);
        EXPECT_EQ(source->total_samples, static_cast<std::int32_t>(c.expected.size()));
        EXPECT_EQ(read_all(*source), c.expected);
    }
}

TEST_F(WavSourceTest, CapsPlaceholderDataSizesAtTheEndOfTheFile) {
    for (std::int64_t placeholder : {0x7FFFF000LL, 0x7FFFFFFFLL, 0xFFFFFFFFLL}) {
        const std::string head = chunk("fmt ", fmt_body(1, 16)) + "data" +
                                 le(static_cast<std::uint64_t>(placeholder), 4);
        auto source =
            open(write("a.wav", wav(head + std::string(11, '\x01'))), SoundType::automatic);
        ASSERT_NE(source, nullptr) << errors;
        EXPECT_EQ(source->total_samples, 5);
        EXPECT_EQ(read_all(*source), std::vector<int>(5, 0x0101));

        const std::string head24 = chunk("fmt ", fmt_body(1, 24)) + "data" +
                                   le(static_cast<std::uint64_t>(placeholder), 4);
        source = open(write("b.wav", wav(head24 + std::string(7, '\x01'))), SoundType::wav);
        ASSERT_NE(source, nullptr) << errors;
        EXPECT_EQ(source->total_samples, 2);
    }
}

TEST_F(WavSourceTest, ReadsRf64WithItsDs64DataSize) {
    const std::string fmt = chunk("fmt ", fmt_body(1, 16));
    // The RIFF size, the data size and the sample count, then an empty table.
    const auto ds64 = [](std::uint64_t data_size) {
        return chunk("ds64", le(0, 8) + le(data_size, 8) + le(data_size / 2, 8) + le(0, 4));
    };
    const auto rf64 = [](const std::string& chunks) {
        return "RF64" + le(~0u, 4) + "WAVE" + chunks;
    };
    const std::string samples = samples16({7, -7, 300});
    const struct {
        std::string bytes;
        std::int32_t samples;  // -1: unsupported
    } cases[] = {
        {rf64(ds64(6) + fmt + "data" + le(~0u, 4) + samples), 3},
        {rf64(ds64(4) + fmt + "data" + le(~0u, 4) + samples), 2},
        {rf64(ds64(1ULL << 40) + fmt + "data" + le(~0u, 4) + samples), 3},  // cut at the end
        {rf64(fmt + ds64(6) + chunk("LIST", "abcd") + "data" + le(~0u, 4) + samples), 3},
        {rf64(ds64(2) + fmt + chunk("data", samples)), 3},  // a size that fits stays
        {rf64(fmt + "data" + le(~0u, 4) + samples), -1},    // no "ds64"
        {rf64(chunk("ds64", le(0, 8)) + fmt + "data" + le(~0u, 4) + samples), -1},
        {"RF64" + le(~0u, 4) + "WAVE", -1},
    };
    for (const auto& c : cases) {
        const std::string path = write("a.wav", c.bytes);
        for (SoundType type : {SoundType::automatic, SoundType::wav}) {
            auto source = open(path, type);
            if (c.samples < 0) {
                EXPECT_EQ(source, nullptr);
                EXPECT_EQ(errors, "Error: Unsupported WAV format: '" + path + "'\n");
                continue;
            }
            ASSERT_NE(source, nullptr) << errors;
            EXPECT_STREQ(source->type_name(), "WAV");
            EXPECT_EQ(source->total_samples, c.samples);
            const std::vector<int> all = {7, -7, 300};
            EXPECT_EQ(read_all(*source), std::vector<int>(all.begin(), all.begin() + c.samples));
        }
    }
    // Beyond 4 GiB of data: 2^31 - 1 samples of 24 bits fit the count, one more does not.
    const auto big = [&](const char* name, std::uint64_t count) {
        const std::string head =
            rf64(ds64(3 * count) + chunk("fmt ", fmt_body(1, 24)) + "data" + le(~0u, 4));
        return sparse(name, head, static_cast<std::int64_t>(head.size() + 3 * count));
    };
    auto source = open(big("big.wav", 2147483647), SoundType::automatic);
    ASSERT_NE(source, nullptr) << errors;
    EXPECT_EQ(source->total_samples, 2147483647);
    const std::string too_long = big("long.wav", 2147483648);
    EXPECT_EQ(open(too_long, SoundType::wav), nullptr);
    EXPECT_EQ(errors, "Error: Input file is too long: '" + too_long + "'\n");
}

TEST_F(WavSourceTest, KeepsTheLayoutOfItsFmtChunk) {
    // 6 channels at 48 kHz in the extensible form: the fields before the sub-format count.
    std::string body = extensible_body(1, 16);
    body.replace(2, 6, le(6, 2) + le(48000, 4));
    const std::string six = write("a.wav", wav(chunk("fmt ", body) + chunk("data", "abcd")));
    WavSource source(six.c_str());
    EXPECT_EQ(source.channels, 0);
    ASSERT_TRUE(source.open().ok());
    EXPECT_EQ(source.channels, 6);
    EXPECT_EQ(source.sample_rate, 48000u);
    // A rate no 16-bit field holds is kept as it is.
    body = fmt_body(3, 32).replace(4, 4, le(192000, 4));
    const std::string mono = write("b.wav", wav(chunk("fmt ", body) + chunk("data", "abcd")));
    WavSource other(mono.c_str());
    ASSERT_TRUE(other.open().ok());
    EXPECT_EQ(other.channels, 1);
    EXPECT_EQ(other.sample_rate, 192000u);
}

}  // namespace
}  // namespace vellox
