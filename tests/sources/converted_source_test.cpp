// Downmixing and resampling: the mean of each frame rounded half away from zero, an incomplete
// last frame, the exact count for every ratio, a resampled sine where it belongs, the same
// samples in any piece size, counts too large and failed allocations.

#include "sources/converted_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "sources/sound_files.h"
#include "sources/wav_source.h"

namespace vellox {
namespace {

using namespace source_test;

using ConvertedSourceTest = SoundFileTest;

std::string wav_of(int channels, std::uint32_t rate, const std::vector<int>& values) {
    const auto align = static_cast<unsigned>(2 * channels);
    const std::string fmt = le(1, 2) + le(static_cast<unsigned>(channels), 2) + le(rate, 4) +
                            le(rate * align, 4) + le(align, 2) + le(16, 2);
    return wav(chunk("fmt ", fmt) + chunk("data", samples16(values)));
}

// A WAV reader, opened, for the converter to read.
std::unique_ptr<WavSource> wav_input(const std::string& path) {
    auto source = std::make_unique<WavSource>(path.c_str());
    EXPECT_TRUE(source->open().ok());
    return source;
}

TEST_F(ConvertedSourceTest, DownmixTakesTheRoundedMeanOfEveryFrame) {
    const struct {
        int channels;
        std::vector<int> values;
        std::vector<int> expected;
    } cases[] = {
        {2,
         {1, 2, -1, -2, 32767, 32767, -32768, -32767, -32768, -32768, 3, -4, 100, -100},
         {2, -2, 32767, -32768, -32768, -1, 0}},
        {3, {1, 1, 0, -1, -1, 0, 5, 5, 5, 1, 1, 1}, {1, -1, 5, 1}},
        {2, {1000, 2000, 3001}, {1500, 1501}},  // the last frame completed with a zero
        {1, {7, -7}, {7, -7}},
    };
    for (const auto& c : cases) {
        const std::string path = write("a.wav", wav_of(c.channels, 44100, c.values));
        for (const std::int32_t piece : {1, 3, 65536}) {
            auto input = wav_input(path);
            ConvertedSource mixed(*input, true, 0);
            ASSERT_TRUE(mixed.open().ok());
            EXPECT_EQ(mixed.channels, 1);
            EXPECT_EQ(mixed.sample_rate, 44100u);
            EXPECT_EQ(mixed.total_samples, static_cast<std::int32_t>(c.expected.size()));
            EXPECT_EQ(read_all(mixed, piece), c.expected) << piece;
        }
    }
}

TEST(ConvertedFrames, RoundsToTheNearestWithHalvesUp) {
    EXPECT_EQ(ConvertedSource::converted_frames(0, 44100, 22050), 0);
    EXPECT_EQ(ConvertedSource::converted_frames(1, 44100, 22050), 1);  // 0.5
    EXPECT_EQ(ConvertedSource::converted_frames(3, 44100, 22050), 2);  // 1.5
    EXPECT_EQ(ConvertedSource::converted_frames(10, 3, 2), 7);         // 6.67
    EXPECT_EQ(ConvertedSource::converted_frames(44100, 44100, 8000), 8000);
    EXPECT_EQ(ConvertedSource::converted_frames(1000, 48000, 44100), 919);  // 918.75
    EXPECT_EQ(ConvertedSource::converted_frames(2147483647, 1000, 192000),
              std::int64_t{2147483647} * 192);
}

class ResampledSourceTest : public ConvertedSourceTest {
protected:
    void SetUp() override {
        ConvertedSourceTest::SetUp();
        if (!Resampler::available()) GTEST_SKIP() << "this build has no libsoxr";
    }
};

// A sine resampled is the same sine at the new rate, in the right place: libsoxr's filter
// delay is taken out, and what it gives past the count is dropped.
TEST_F(ResampledSourceTest, KeepsASineWhereItBelongs) {
    const double frequency = 1000.0;
    const double amplitude = 10000.0;
    const std::uint32_t input_rate = 44100;
    const int frames = 22050;
    std::vector<int> values;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / input_rate;
        values.push_back(
            static_cast<int>(std::lround(amplitude * std::sin(2 * M_PI * frequency * t))));
        values.push_back(
            static_cast<int>(std::lround(amplitude * std::cos(2 * M_PI * frequency * t))));
    }
    const std::string path = write("a.wav", wav_of(2, input_rate, values));
    for (const std::uint32_t rate : {8000u, 22050u, 48000u, 96000u}) {
        std::vector<int> first;
        for (const std::int32_t piece : {65536, 777}) {
            auto input = wav_input(path);
            ConvertedSource resampled(*input, false, rate);
            ASSERT_TRUE(resampled.open().ok());
            const std::int64_t expected_frames =
                ConvertedSource::converted_frames(frames, input_rate, rate);
            EXPECT_EQ(resampled.total_samples, 2 * expected_frames);
            EXPECT_EQ(resampled.channels, 2);
            EXPECT_EQ(resampled.sample_rate, rate);
            const std::vector<int> got = read_all(resampled, piece);
            ASSERT_EQ(static_cast<std::int64_t>(got.size()), 2 * expected_frames);
            // Away from both ends, where the filters see the signal start and stop.
            double largest_error = 0;
            for (std::int64_t i = expected_frames / 10; i < expected_frames * 9 / 10; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double sine = amplitude * std::sin(2 * M_PI * frequency * t);
                const double cosine = amplitude * std::cos(2 * M_PI * frequency * t);
                largest_error = std::max(largest_error, std::abs(got[2 * i] - sine));
                largest_error = std::max(largest_error, std::abs(got[2 * i + 1] - cosine));
            }
            EXPECT_LT(largest_error, 2.0) << rate;
            if (first.empty()) {
                first = got;
            } else {
                EXPECT_EQ(got, first) << "piece " << piece;  // the same in any piece size
            }
        }
    }
}

TEST_F(ResampledSourceTest, DownmixesBeforeResamplingAndKeepsTheRateWhenAskedForIt) {
    std::vector<int> values;
    for (int i = 0; i < 3000; ++i) {
        values.push_back(i % 64 * 300);
        values.push_back(-(i % 64) * 100);
    }
    const std::string path = write("a.wav", wav_of(2, 32000, values));
    auto input = wav_input(path);
    ConvertedSource both(*input, true, 16000);
    ASSERT_TRUE(both.open().ok());
    EXPECT_EQ(both.channels, 1);
    EXPECT_EQ(both.total_samples, 1500);
    EXPECT_EQ(static_cast<std::int32_t>(read_all(both).size()), 1500);

    // The input's own rate: no filter at all, the very samples.
    input = wav_input(path);
    ConvertedSource same(*input, false, 32000);
    ASSERT_TRUE(same.open().ok());
    EXPECT_EQ(read_all(same), values);

    // Empty input: nothing to give.
    input = wav_input(write("b.wav", wav_of(2, 44100, {})));
    ConvertedSource empty(*input, false, 8000);
    ASSERT_TRUE(empty.open().ok());
    EXPECT_EQ(empty.total_samples, 0);
    EXPECT_EQ(read_all(empty), std::vector<int>{});
}

TEST_F(ConvertedSourceTest, RefusesCountsPast2To31AndFailedAllocations) {
    // 2^27 frames at 8000 Hz: 3.2 * 10^9 at 192000 Hz. The data is a hole.
    const std::string head = wav_of(1, 8000, {});
    std::string bytes = head.substr(0, head.size() - 4) + le(std::uint64_t{1} << 28, 4);
    bytes.replace(4, 4, le(bytes.size() - 8 + (std::uint64_t{1} << 28), 4));
    auto input = wav_input(sparse(
        "big.wav", bytes, static_cast<std::int64_t>(bytes.size()) + (std::int64_t{1} << 28)));
    ASSERT_EQ(input->total_samples, 1 << 27);
    ConvertedSource upsampled(*input, false, 192000);
    EXPECT_EQ(upsampled.open(), OpenResult::refused(Refusal::input_too_long));

    const std::string path = write("a.wav", wav_of(2, 44100, {1, 2, 3, 4}));
    // The input, mixed and staged buffers; the resampler's output, the resampler and its state.
    const int allocations = Resampler::available() ? 6 : 3;
    for (int k = 1; k <= allocations; ++k) {
        input = wav_input(path);
        fail_allocation_number(k);
        ConvertedSource converted(*input, true, Resampler::available() ? 22050 : 0);
        EXPECT_EQ(converted.open(), OpenResult::refused(Refusal::no_memory)) << k;
        fail_allocation_number(0);
    }
}

}  // namespace
}  // namespace vellox
