// MPEG audio frame headers: the lengths they give, what is no header, two frames in a row, the
// ID3v2 tag in front and the first frame that states the frame count.

#include "sources/mpeg_audio.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vellox {
namespace {

using namespace std::string_literals;

std::vector<unsigned char> bytes_of(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::int32_t length_of(const std::string& header) {
    return mpeg_frame_length(bytes_of(header).data());
}

TEST(MpegAudioTest, FrameLengthsFollowVersionLayerRateAndPadding) {
    EXPECT_EQ(length_of("\xFF\xFB\x90\x64"s), 417);   // MPEG-1 layer III, 128 kbit/s, 44.1 kHz
    EXPECT_EQ(length_of("\xFF\xFB\x92\x64"s), 418);   // the same, padded
    EXPECT_EQ(length_of("\xFF\xF3\x48\xC4"s), 144);   // MPEG-2 layer III, 32 kbit/s, 16 kHz
    EXPECT_EQ(length_of("\xFF\xE3\x18\xC4"s), 72);    // MPEG-2.5 layer III, 8 kbit/s, 8 kHz
    EXPECT_EQ(length_of("\xFF\xFF\x10\x00"s), 32);    // MPEG-1 layer I, 32 kbit/s, 44.1 kHz
    EXPECT_EQ(length_of("\xFF\xFD\xE4\x00"s), 1152);  // MPEG-1 layer II, 384 kbit/s, 48 kHz
    const std::string not_headers[] = {
        "\xFF\x7B\x90\x64"s,  // no sync
        "\xFF\xEB\x90\x64"s,  // the reserved version
        "\xFF\xF9\x90\x64"s,  // the reserved layer
        "\xFF\xFB\x00\x64"s,  // the free bit rate
        "\xFF\xFB\xF0\x64"s,  // the bad bit rate
        "\xFF\xFB\x9C\x64"s,  // the reserved rate
        "\xFF\xFB\x90\x66"s,  // the reserved emphasis
        "\x00\x00\x00\x00"s,
    };
    for (const std::string& header : not_headers) EXPECT_EQ(length_of(header), 0) << header;
}

TEST(MpegAudioTest, TwoFramesInARowAndTheTagInFront) {
    const std::string first = "\xFF\xFB\x90\x64"s + std::string(413, '\0');
    const auto frames = [&](const std::string& second) {
        const std::vector<unsigned char> bytes = bytes_of(first + second);
        return begins_with_mpeg_frames(bytes.data(), bytes.size());
    };
    EXPECT_TRUE(frames("\xFF\xFB\x50\x64"s));   // another bit rate: variable rate streams
    EXPECT_TRUE(frames("\xFF\xFB\x92\x44"s));   // padded, another channel mode
    EXPECT_FALSE(frames("\xFF\xFB\x94\x64"s));  // another rate
    EXPECT_FALSE(frames("\xFF\xFD\x90\x64"s));  // another layer
    EXPECT_FALSE(frames("\xFF\xF3\x90\x64"s));  // another version
    EXPECT_FALSE(frames("\xFF\xFB\x90"s));      // cut short
    EXPECT_FALSE(frames(""));
    const std::vector<unsigned char> shifted = bytes_of("\x00"s + first + "\xFF\xFB\x90\x64"s);
    EXPECT_FALSE(begins_with_mpeg_frames(shifted.data(), shifted.size()));

    const auto tag = [](const std::string& header) {
        const std::vector<unsigned char> bytes = bytes_of(header);
        return id3v2_tag_size(bytes.data(), bytes.size());
    };
    EXPECT_EQ(tag("ID3\x04\x00\x00\x00\x00\x02\x01"s), 10 + 257);
    EXPECT_EQ(tag("ID3\x04\x00\x10\x00\x00\x02\x01"s), 10 + 257 + 10);  // with its footer
    EXPECT_EQ(tag("ID3\x03\x00\x00\x7F\x7F\x7F\x7F"s), 10 + (std::int64_t{1} << 28) - 1);
    EXPECT_EQ(tag("ID3\x04\x00\x00\x00\x00\x80\x01"s), 0);  // not seven bits a byte
    EXPECT_EQ(tag("ID3\xFF\x00\x00\x00\x00\x02\x01"s), 0);
    EXPECT_EQ(tag("ID3\x04\x00\x00\x00\x00\x02"s), 0);  // cut short
    EXPECT_EQ(tag("TAG\x04\x00\x00\x00\x00\x02\x01"s), 0);
}

TEST(MpegAudioTest, TheFrameCountStatedInTheFirstFrame) {
    const auto stated = [](const std::string& header, std::size_t at, const std::string& tag) {
        std::string frame = header + std::string(600, '\0');
        frame.replace(at, tag.size(), tag);
        const std::vector<unsigned char> bytes = bytes_of(frame);
        return mpeg_states_frame_count(bytes.data(), bytes.size());
    };
    const std::string stereo = "\xFF\xFB\x90\x64"s;  // MPEG-1: 32 bytes of side information
    const std::string mono = "\xFF\xFB\x90\xC4"s;    // 17
    const std::string mpeg2 = "\xFF\xF3\x48\x64"s;   // 17
    const std::string crc = "\xFF\xFA\x90\x64"s;     // a CRC moves the tag by two bytes
    const std::string frames = "\x00\x00\x00\x0F"s;  // the flags: frame count, bytes, ...
    EXPECT_TRUE(stated(stereo, 36, "Xing" + frames));
    EXPECT_TRUE(stated(stereo, 36, "Info\x00\x00\x00\x01"s));
    EXPECT_FALSE(stated(stereo, 36, "Xing\x00\x00\x00\x0E"s));  // no frame count in it
    EXPECT_TRUE(stated(mono, 21, "Xing" + frames));
    EXPECT_TRUE(stated(mpeg2, 21, "Info" + frames));
    EXPECT_TRUE(stated(crc, 38, "Xing" + frames));
    EXPECT_TRUE(stated(crc, 36, "Xing" + frames));
    EXPECT_TRUE(stated(mpeg2, 36, "VBRI"));
    EXPECT_FALSE(stated(stereo, 21, "Xing" + frames));  // not where it belongs
    EXPECT_FALSE(stated(stereo, 100, ""));
    EXPECT_FALSE(stated("\xFF\xFD\x90\x64"s, 36, "Xing" + frames));  // layer II
    const std::vector<unsigned char> cut = bytes_of(stereo + std::string(32, '\0') + "Xing");
    EXPECT_FALSE(mpeg_states_frame_count(cut.data(), cut.size()));
}

}  // namespace
}  // namespace vellox
