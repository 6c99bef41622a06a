// The WAV header: RIFF up to its largest data chunk, RF64 beyond, no size ever wrapping. (The
// samples' bytes are checked by reading whole decoded files back, in tests/cli.)

#include "frontend/wav_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vellox {
namespace {

std::uint64_t field(const std::uint8_t* bytes, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// A RIFF size field counts 36 bytes more than the data: 4 GiB - 38 bytes of samples is the most
// a RIFF header holds; one sample more needs RF64, up to the largest file there is, 2^31 - 1
// samples completed to whole frames of 16 channels.
TEST(WavHeader, RiffUpToItsLargestSizeThenRf64) {
    WavFormat format;
    std::uint8_t h[rf64_header_size] = {};
    ASSERT_EQ(make_wav_header(format, 2147483629, h), riff_header_size);
    EXPECT_EQ(std::string(h, h + 16), std::string("RIFF\xFE\xFF\xFF\xFFWAVEfmt ", 16));
    EXPECT_EQ(std::string(h + 16, h + 44),
              std::string("\x10\0\0\0\x01\0\x02\0\x22\x56\0\0\x88\x58\x01\0\x04\0\x10\0"
                          "data\xDA\xFF\xFF\xFF",
                          28));

    ASSERT_EQ(make_wav_header(format, 2147483630, h), rf64_header_size);
    EXPECT_EQ(field(h + 20, 8), 72 + std::uint64_t{4294967260});  // the RIFF size
    EXPECT_EQ(field(h + 28, 8), 4294967260u);                     // the data size

    format.channels = 16;
    format.rate = 1000000;
    ASSERT_EQ(make_wav_header(format, std::uint64_t{1} << 31, h), rf64_header_size);
    EXPECT_EQ(std::string(h, h + 20), std::string("RF64\xFF\xFF\xFF\xFFWAVEds64\x1C\0\0\0", 20));
    EXPECT_EQ(field(h + 20, 8), 72 + (std::uint64_t{1} << 32));
    EXPECT_EQ(field(h + 28, 8), std::uint64_t{1} << 32);
    EXPECT_EQ(field(h + 36, 8), std::uint64_t{1} << 27);  // frames
    EXPECT_EQ(field(h + 44, 4), 0u);                      // no table of chunk sizes
    EXPECT_EQ(std::string(h + 48, h + 56), std::string("fmt \x10\0\0\0", 8));
    EXPECT_EQ(field(h + 56, 2), 1u);         // integer PCM
    EXPECT_EQ(field(h + 58, 2), 16u);        // channels
    EXPECT_EQ(field(h + 60, 4), 1000000u);   // rate
    EXPECT_EQ(field(h + 64, 4), 32000000u);  // bytes per second
    EXPECT_EQ(field(h + 68, 2), 32u);        // bytes per frame
    EXPECT_EQ(field(h + 70, 2), 16u);        // bits per sample
    EXPECT_EQ(std::string(h + 72, h + 80), std::string("data\xFF\xFF\xFF\xFF", 8));
}

}  // namespace
}  // namespace vellox
