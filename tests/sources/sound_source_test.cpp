// Raw PCM and WAV sources and the factory's detection, on files built byte by byte.

#include "sources/sound_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "common/alloc.h"

namespace vellox {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using namespace std::string_literals;

// value as count little-endian bytes.
std::string le(std::uint64_t value, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// A chunk with its pad byte; size overrides the length stated in the header.
std::string chunk(const char* id, const std::string& body, std::int64_t size = -1) {
    std::string bytes = id + le(size < 0 ? body.size() : static_cast<std::uint64_t>(size), 4);
    bytes += body;
    if (body.size() % 2 != 0) bytes += '\0';
    return bytes;
}

// A "fmt " body for mono 22,050 Hz, with extra bytes past the 16 that every form has.
std::string fmt_body(int tag, int bits, const std::string& extra = "") {
    const int align = bits / 8;
    return le(static_cast<std::uint64_t>(tag), 2) + le(1, 2) + le(22050, 4) +
           le(22050u * static_cast<unsigned>(align), 4) + le(static_cast<unsigned>(align), 2) +
           le(static_cast<unsigned>(bits), 2) + extra;
}

// The 40-byte extensible form whose sub-format GUID begins with sub_tag.
std::string extensible_body(int sub_tag, int bits) {
    const std::string guid_tail = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71"s;
    return fmt_body(0xFFFE, bits,
                    le(22, 2) + le(static_cast<unsigned>(bits), 2) + le(4, 4) +
                        le(static_cast<unsigned>(sub_tag), 2) + guid_tail);
}

std::string wav(const std::string& chunks) {
    return "RIFF" + le(4 + chunks.size(), 4) + "WAVE" + chunks;
}

std::string samples16(const std::vector<int>& values) {
    std::string bytes;
    for (int v : values) bytes += le(static_cast<std::uint16_t>(v), 2);
    return bytes;
}

std::string wav16(const std::vector<int>& values) {
    return wav(chunk("fmt ", fmt_body(1, 16)) + chunk("data", samples16(values)));
}

std::vector<int> read_all(SoundSource& source, std::int32_t piece = 65536) {
    std::vector<int> values;
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(piece));
    std::int32_t got = 0;
    while ((got = source.read(buffer.data(), piece)) > 0)
        values.insert(values.end(), buffer.begin(), buffer.begin() + got);
    return values;
}

class SoundSourceTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "vellox_sources_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string write(const char* name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        EXPECT_NE(out, nullptr);
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        EXPECT_EQ(std::fclose(out), 0);
        return path;
    }

    // A file of size bytes beginning with head, the rest a hole.
    std::string sparse(const char* name, const std::string& head, std::int64_t size) {
        const std::string path = write(name, head);
        EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
        return path;
    }

    // Opens path as type; errors receives what was printed on standard error.
    std::unique_ptr<SoundSource> open(const std::string& path, SoundType type) {
        CaptureStderr();
        std::unique_ptr<SoundSource> source = open_sound_source(path.c_str(), type);
        errors = GetCapturedStderr();
        return source;
    }

    std::string dir;
    std::string errors;
};

TEST_F(SoundSourceTest, DetectsOrTakesTheNamedType) {
    const std::string wav_path = write("a.wav", wav16({1, -2, 300}));
    auto source = open(wav_path, SoundType::automatic);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "WAV");
    EXPECT_EQ(source->total_samples, 3);
    EXPECT_EQ(read_all(*source), (std::vector<int>{1, -2, 300}));
    EXPECT_EQ(errors, "");

    // The explicit 16-bit type reads a WAV file as raw data, header included.
    source = open(wav_path, SoundType::raw16);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "RAW16");
    EXPECT_EQ(source->total_samples, 25);
    EXPECT_EQ(source->read_sample(), 0x4952);  // "RI"

    // Neither WAV nor ACM: raw 16-bit, the odd last byte never delivered.
    const std::string raw_path = write("a.raw", "\x01\x02\x03\x04\x05\x06\x07");
    source = open(raw_path, SoundType::automatic);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "RAW16");
    EXPECT_EQ(errors, "");
    std::int16_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(source->read(buffer, 4), 3);
    EXPECT_EQ(buffer[2], 0x0605);
    EXPECT_EQ(buffer[3], 0);

    source = open(raw_path, SoundType::wav);
    EXPECT_EQ(source, nullptr);
    EXPECT_EQ(errors, "Error: Not a WAV file: '" + raw_path + "'\n");

    source = open(write("b.raw", "\x00\x80\xFF"s), SoundType::raw8);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "RAW8");
    EXPECT_EQ(source->is_16bit, 0);
    EXPECT_EQ(read_all(*source), (std::vector<int>{-32768, 0, 32512}));
}

TEST_F(SoundSourceTest, ReportsFilesThatCannotBeRead) {
    const std::string missing = dir + "/missing.raw";
    const std::string pipe = dir + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* text;
    } cases[] = {
        {missing, "No such file or directory"}, {dir, "Is a directory"}, {pipe, "Illegal seek"}};
    // The reason is printed once, also under the automatic type; a pipe never blocks.
    for (const auto& c : cases) {
        for (SoundType type : {SoundType::raw8, SoundType::raw16, SoundType::wav, SoundType::acm,
                               SoundType::automatic}) {
            EXPECT_EQ(open(c.path, type), nullptr);
            EXPECT_EQ(errors, "Error: " + std::string(c.text) + ": '" + c.path + "'\n");
        }
    }
}

TEST_F(SoundSourceTest, SkipsChunksAroundFmtAndData) {
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

TEST_F(SoundSourceTest, RefusesUnsupportedWavFilesUnderEveryType) {
    const std::string data = chunk("data", samples16({1, 2}));
    const std::string files[] = {
        wav(chunk("fmt ", fmt_body(2, 16)) + data),  // ADPCM
        wav(chunk("fmt ", fmt_body(1, 12)) + data),
        wav(chunk("fmt ", fmt_body(1, 64)) + data),
        wav(chunk("fmt ", fmt_body(3, 16)) + data),
        wav(chunk("fmt ", fmt_body(0xFFFE, 16, le(0, 8))) + data),  // extensible, no GUID
        wav(chunk("fmt ", fmt_body(1, 16).substr(0, 14)) + data),   // fmt too short
        "RIFF" + le(4, 4) + "WAVE",
        "RIFF" + le(20, 4) + "WAVE" + "fmt " + le(16, 4) + "\x01\x00\x01\x00"s,  // truncated
        wav(chunk("fmt ", fmt_body(1, 16))),                                     // no data
        wav(data + chunk("fmt ", fmt_body(1, 16))),
        wav(chunk("fmt ", fmt_body(1, 16)) + chunk("LIST", "abcd", 1000) + data),
        // 65,536 empty chunks before "fmt ": a hostile file is not walked to its end.
        wav(std::string(8 * 65536, '\0') + chunk("fmt ", fmt_body(1, 16)) + data),
    };
    for (const std::string& bytes : files) {
        const std::string path = write("a.wav", bytes);
        const std::string message = "Error: Unsupported WAV format: '" + path + "'\n";
        EXPECT_EQ(open(path, SoundType::automatic), nullptr);
        EXPECT_EQ(errors, message);
        EXPECT_EQ(open(path, SoundType::wav), nullptr);
        EXPECT_EQ(errors, message);
        auto source = open(path, SoundType::raw16);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->total_samples, static_cast<std::int32_t>(bytes.size() / 2));
    }
}

TEST_F(SoundSourceTest, ReducesEveryWavSampleFormatTo16Bits) {
    auto as_float = [](float f) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, 4);
        return le(bits, 4);
    };
    auto as_double = [](double d) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, 8);
        return le(bits, 8);
    };
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

TEST_F(SoundSourceTest, CapsPlaceholderDataSizesAtTheEndOfTheFile) {
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

TEST_F(SoundSourceTest, ReadsRf64WithItsDs64DataSize) {
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

// Automatic detection reads whatever it does not recognise as raw samples; files in another
// sound or container format are refused instead of becoming noise. Explicit types read them.
TEST_F(SoundSourceTest, AutomaticDetectionRefusesOtherSoundFormats) {
    const std::string acm_magic = "\x97\x28\x03\x01"s;
    const std::string refused[] = {
        "RIFX" + le(100, 4) + "WAVE" + std::string(20, '\0'),
        "FORM" + le(100, 4) + "AIFF",
        "FORM" + le(100, 4) + "AIFC",
        "fLaC\x00\x00\x00\x22"s,
        "OggS\x00\x02"s,
        "ID3\x04\x00\x00"s,
        "caff\x00\x01",
        ".snd\x00\x00\x00\x18"s,
        "wvpk" + le(100, 4),
        "MThd" + le(6, 4),
        "RIFF" + le(100, 4) + "AVI " + std::string(20, '\0'),
        "RIFF" + le(4, 4),  // cut before its form type
        "RF64" + le(~0u, 4) + "AVI ",
        acm_magic + le(1000, 4) + le(2, 2) + le(22050, 2),             // shorter than the header
        acm_magic + le(1000, 4) + le(2, 2) + le(22050, 2) + le(3, 2),  // no rows per block
        acm_magic,
    };
    for (const std::string& bytes : refused) {
        const std::string path = write("a.snd", bytes);
        EXPECT_EQ(open(path, SoundType::automatic), nullptr) << bytes;
        EXPECT_EQ(errors, "Error: Unsupported sound file format: '" + path + "'\n");
        auto source = open(path, SoundType::raw16);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->total_samples, static_cast<std::int32_t>(bytes.size() / 2));
        EXPECT_NE(open(path, SoundType::raw8), nullptr);
    }
    // Near misses stay raw samples.
    for (const std::string& bytes : {"ID"s, "fLa"s, "riff"s, "\x97\x28\x03"s, "\0ID3"s}) {
        auto source = open(write("a.raw", bytes), SoundType::automatic);
        ASSERT_NE(source, nullptr) << bytes;
        EXPECT_STREQ(source->type_name(), "RAW16");
        EXPECT_EQ(errors, "");
    }
}

// Standard input and spooled pipes reach the sources as descriptors; messages name the input
// as the user gave it.
TEST_F(SoundSourceTest, ReadsAGivenDescriptorUnderTheGivenName) {
    const int wav_file = ::open(write("a.wav", wav16({5, -5})).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(wav_file, 0);
    for (int round = 0; round < 2; ++round) {  // the descriptor stays usable for the next
        auto source = open_sound_source("-", SoundType::automatic, wav_file);
        ASSERT_NE(source, nullptr);
        EXPECT_STREQ(source->type_name(), "WAV");
        EXPECT_EQ(read_all(*source), (std::vector<int>{5, -5}));
        EXPECT_NE(source->descriptor(), wav_file);
    }
    CaptureStderr();
    EXPECT_EQ(open_sound_source("-", SoundType::acm, wav_file), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "Error: Not an ACM file: '-'\n");
    ::close(wav_file);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    CaptureStderr();
    EXPECT_EQ(open_sound_source("-", SoundType::automatic, ends[0]), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "Error: Illegal seek: '-'\n");
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(SoundSourceTest, PadsShortReadsWithZeros) {
    auto source = open(write("a.raw", std::string(200, '\x11')), SoundType::raw16);
    ASSERT_NE(source, nullptr);
    std::vector<std::int16_t> buffer(65536, 7);
    EXPECT_EQ(source->read(buffer.data(), 65536), 100);
    EXPECT_EQ(buffer[99], 0x1111);
    EXPECT_EQ(std::count(buffer.begin() + 100, buffer.end(), 0), 65536 - 100);
    EXPECT_EQ(source->remaining_samples, 0);
    std::fill(buffer.begin(), buffer.end(), 7);
    EXPECT_EQ(source->read(buffer.data(), 65536), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), 65536);
    EXPECT_EQ(source->read_sample(), 0);
    EXPECT_EQ(source->read_error(), 0);
}

TEST_F(SoundSourceTest, DeliversTheSameSamplesWhateverThePieceSize) {
    // More samples than the wide formats' staging holds, read whole and in odd pieces.
    constexpr int count = 10000;
    std::uint32_t seed = 12345;
    std::string bytes8, bytes16, bytes24;
    std::vector<int> expected8, expected16;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int high = static_cast<int>(seed >> 16) - 32768;
        bytes8 += static_cast<char>(seed >> 24);
        expected8.push_back((static_cast<int>(seed >> 24) - 128) * 256);
        bytes16 += samples16({high});
        bytes24 += static_cast<char>(seed & 0xFF) + samples16({high});
        expected16.push_back(high);
    }
    const struct {
        int bits;
        const std::string& data;
        const std::vector<int>& expected;
    } cases[] = {{8, bytes8, expected8}, {16, bytes16, expected16}, {24, bytes24, expected16}};
    for (const auto& c : cases) {
        const std::string path =
            write("a.wav", wav(chunk("fmt ", fmt_body(1, c.bits)) + chunk("data", c.data)));
        for (std::int32_t piece : {65536, 4097, 4096, 7, 1}) {
            auto source = open(path, SoundType::wav);
            ASSERT_NE(source, nullptr);
            EXPECT_EQ(read_all(*source, piece), c.expected)
                << c.bits << " bits, pieces of " << piece;
        }
    }
}

TEST_F(SoundSourceTest, RefusesInputsOfMoreThan2To31Samples) {
    const std::int64_t four_gib = 1LL << 32;
    auto source = open(sparse("ok16.raw", "", four_gib - 2), SoundType::raw16);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->total_samples, 2147483647);
    source = open(sparse("ok8.raw", "", (1LL << 31) - 1), SoundType::raw8);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->total_samples, 2147483647);

    // 4 GiB + 200 bytes must not pass for 100 samples.
    const std::string long16 = sparse("long16.raw", "", four_gib + 200);
    const std::string long8 = sparse("long8.raw", "", 1LL << 31);
    const std::string long_wav = sparse(
        "long.wav", wav(chunk("fmt ", fmt_body(1, 8)) + "data" + le(0xFFFFFFFF, 4)), four_gib);
    const struct {
        std::string path;
        SoundType type;
    } cases[] = {{long16, SoundType::raw16},
                 {long16, SoundType::automatic},
                 {long8, SoundType::raw8},
                 {long_wav, SoundType::automatic}};
    for (const auto& c : cases) {
        EXPECT_EQ(open(c.path, c.type), nullptr);
        EXPECT_EQ(errors, "Error: Input file is too long: '" + c.path + "'\n");
    }
}

TEST_F(SoundSourceTest, ReportsFailedAllocations) {
    const std::string raw_path = write("a.raw", "abcd");
    // The WAV candidate: detection stops, or a WAV file would be read as raw samples.
    fail_allocation_number(1);
    EXPECT_EQ(open(raw_path, SoundType::automatic), nullptr);
    EXPECT_EQ(errors, "Error: Cannot allocate memory\n");

    fail_allocation_number(1);
    EXPECT_EQ(open(raw_path, SoundType::raw16), nullptr);
    EXPECT_EQ(errors, "Error: Cannot allocate memory\n");

    fail_allocation_number(2);  // the staging buffer of a 24-bit file: not read as raw
    const std::string wav_path =
        write("a.wav", wav(chunk("fmt ", fmt_body(1, 24)) + chunk("data", "abc")));
    EXPECT_EQ(open(wav_path, SoundType::automatic), nullptr);
    EXPECT_EQ(errors, "Error: Cannot allocate memory\n");
}

}  // namespace
}  // namespace vellox
