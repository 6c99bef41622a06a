// The raw PCM reader: zeros past the end, the same samples in any piece size, and the longest
// inputs.

#include "sources/raw_pcm_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/test_seed.h"
#include "sources/sound_files.h"

namespace vellox {
namespace {

using namespace source_test;

using RawPcmSourceTest = SoundFileTest;

TEST_F(RawPcmSourceTest, PadsShortReadsWithZeros) {
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

TEST_F(RawPcmSourceTest, DeliversTheSameSamplesWhateverThePieceSize) {
    // More samples than the wide formats' staging holds, read whole and in odd pieces.
    constexpr int count = 10000;
    std::uint32_t seed = test::test_seed(12345);
    SCOPED_TRACE("seed " + std::to_string(seed));
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

TEST_F(RawPcmSourceTest, RefusesInputsOfMoreThan2To31Samples) {
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

// A raw source whose file fails every read once it is open, as a failing disk would.
class FailingRawSource : public RawPcmSource {
public:
    using RawPcmSource::RawPcmSource;
    void fail_reads() {
        std::fclose(file);
        file = std::fopen("/dev/null", "wb");  // reads fail with EBADF
    }
};

// A read that failed was once taken for the end of the file: the rest of the input became
// silence and the run succeeded. The error is kept for the driver to report.
TEST_F(RawPcmSourceTest, ReadErrorWasTakenForSilence) {
    FailingRawSource source(write("a.raw", "\x01\x02\x03\x04").c_str(), true);
    ASSERT_TRUE(source.open().ok());
    source.fail_reads();
    std::int16_t samples[2] = {9, 9};
    EXPECT_EQ(source.read(samples, 2), 0);
    EXPECT_EQ(source.read_error(), EBADF);
}

}  // namespace
}  // namespace vellox
