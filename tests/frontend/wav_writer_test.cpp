// The WAV header, RIFF up to its largest data chunk and RF64 beyond, and the samples' bytes.

#include "frontend/wav_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vellox {
namespace {

std::uint64_t field(const std::uint8_t* bytes, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

std::string tag(const std::uint8_t* bytes) { return std::string(bytes, bytes + 4); }

TEST(WavHeader, SmallFileHasTheRiffHeader) {
    WavFormat format;
    format.channels = 1;
    format.rate = 44100;
    std::uint8_t header[rf64_header_size] = {};
    ASSERT_EQ(make_wav_header(format, 3, header), riff_header_size);
    const std::uint8_t expected[riff_header_size] = {
        'R', 'I', 'F', 'F', 42, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
        ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0x44, 0xAC, 0,   0,   0x88, 0x58,
        1,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  6,    0,   0,   0};
    EXPECT_EQ(std::vector<std::uint8_t>(header, header + riff_header_size),
              std::vector<std::uint8_t>(expected, expected + riff_header_size));
}

// The data chunk's size field counts its bytes, the RIFF one 36 more: 4 GiB - 38 bytes of
// samples is the most a RIFF header holds; one more sample needs RF64, up to the largest
// file there is, 2^31 - 1 samples completed to a whole frame of 16 channels.
TEST(WavHeader, SizesBeyondRiffGetAnRf64HeaderAndNeverWrap) {
    WavFormat format;
    format.channels = 2;
    std::uint8_t header[rf64_header_size] = {};
    ASSERT_EQ(make_wav_header(format, 2147483629, header), riff_header_size);
    EXPECT_EQ(field(header + 4, 4), 0xFFFFFFFEu);
    EXPECT_EQ(field(header + 40, 4), 0xFFFFFFDAu);

    ASSERT_EQ(make_wav_header(format, 2147483630, header), rf64_header_size);
    EXPECT_EQ(tag(header), "RF64");
    EXPECT_EQ(field(header + 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(field(header + 20, 8), 72 + std::uint64_t{4294967260});  // the RIFF size
    EXPECT_EQ(field(header + 28, 8), 4294967260u);                     // the data size
    EXPECT_EQ(field(header + 36, 8), 1073741815u);                     // frames

    format.channels = 16;
    format.rate = 1000000;
    ASSERT_EQ(make_wav_header(format, std::uint64_t{1} << 31, header), rf64_header_size);
    const std::string tags[] = {"RF64", "WAVE", "ds64", "fmt ", "data"};
    const int offsets[] = {0, 8, 12, 48, 72};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(tag(header + offsets[i]), tags[i]);
    EXPECT_EQ(field(header + 16, 4), 28u);  // the ds64 body
    EXPECT_EQ(field(header + 20, 8), 72 + (std::uint64_t{1} << 32));
    EXPECT_EQ(field(header + 28, 8), std::uint64_t{1} << 32);
    EXPECT_EQ(field(header + 36, 8), std::uint64_t{1} << 27);
    EXPECT_EQ(field(header + 44, 4), 0u);
    EXPECT_EQ(field(header + 52, 4), 16u);
    EXPECT_EQ(field(header + 56, 2), 1u);         // integer PCM
    EXPECT_EQ(field(header + 58, 2), 16u);        // channels
    EXPECT_EQ(field(header + 60, 4), 1000000u);   // rate
    EXPECT_EQ(field(header + 64, 4), 32000000u);  // bytes per second
    EXPECT_EQ(field(header + 68, 2), 32u);        // bytes per frame
    EXPECT_EQ(field(header + 70, 2), 16u);        // bits per sample
    EXPECT_EQ(field(header + 76, 4), 0xFFFFFFFFu);
}

// Takes at most room bytes in all, then refuses.
class LimitedSink final : public ByteSink {
public:
    explicit LimitedSink(std::size_t limit) : room(limit) {}
    std::size_t write(const std::uint8_t* bytes, std::size_t size) override {
        const std::size_t n = size < room ? size : room;
        taken.insert(taken.end(), bytes, bytes + n);
        room -= n;
        return n;
    }
    std::vector<std::uint8_t> taken;

private:
    std::size_t room;
};

TEST(WavWriter, SamplesAreLittleEndianInPiecesOfAnySize) {
    LimitedSink sink(SIZE_MAX);
    WavWriter writer(sink);
    ASSERT_TRUE(writer.init());
    const std::int64_t count = WavWriter::piece_samples + 3;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(count), 0x0102);
    const std::int16_t edges[] = {-32768, -1, 0, 32767, 0x1234};
    std::copy(std::begin(edges), std::end(edges), samples.end() - 5);
    ASSERT_TRUE(writer.write_header(WavFormat{}, static_cast<std::uint64_t>(count)));
    ASSERT_TRUE(writer.write_samples(samples.data(), count));
    ASSERT_EQ(sink.taken.size(), riff_header_size + 2 * static_cast<std::size_t>(count));
    EXPECT_EQ(writer.bytes_written(), sink.taken.size());
    EXPECT_EQ(sink.taken[riff_header_size], 0x02);
    EXPECT_EQ(sink.taken[riff_header_size + 1], 0x01);
    const std::vector<std::uint8_t> tail(sink.taken.end() - 10, sink.taken.end());
    EXPECT_EQ(tail, (std::vector<std::uint8_t>{0x00, 0x80, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x7F, 0x34,
                                               0x12}));
}

TEST(WavWriter, AFailedWriteStopsEveryLaterOne) {
    LimitedSink sink(riff_header_size + 7);
    WavWriter writer(sink);
    ASSERT_TRUE(writer.init());
    const std::vector<std::int16_t> samples(100, 5);
    ASSERT_TRUE(writer.write_header(WavFormat{}, 200));
    EXPECT_FALSE(writer.write_samples(samples.data(), 100));
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.bytes_written(), riff_header_size + 7);
    EXPECT_FALSE(writer.write_samples(samples.data(), 100));
    EXPECT_EQ(sink.taken.size(), riff_header_size + 7);
}

}  // namespace
}  // namespace vellox
