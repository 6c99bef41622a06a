// The MPEG audio frame header: its fields, the frame length they give, and the header frame
// some encoders put first.

#include "sources/mpeg_audio.h"

#include <cstring>  // std::memcmp

namespace vellox {

namespace {

// Bit rates in kbit/s by [MPEG-1 or not][layer I, II, III][index]; index 0 is the free
// format, which states no length, and 15 is not allowed.
constexpr std::int32_t bit_rates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

// Sample rates in Hz by [version field: 2.5, reserved, 2, 1][rate index].
constexpr std::int32_t sample_rates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct FrameHeader {
    int version;  // the field: 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    int layer;    // 1, 2 or 3
    int rate_index;
    bool mono;
    bool protected_by_crc;  // 16 bits of CRC follow the header
    std::int32_t length;    // bytes of the frame, header included
};

// False when the 4 bytes are no valid frame header.
bool parse_header(const unsigned char* bytes, FrameHeader* header) {
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return false;
    const int version = (bytes[1] >> 3) & 3;
    const int layer_field = (bytes[1] >> 1) & 3;  // 1: layer III, 2: II, 3: I
    const int bit_rate_index = bytes[2] >> 4;
    const int rate_index = (bytes[2] >> 2) & 3;
    if (version == 1 || layer_field == 0 || bit_rate_index == 0 || bit_rate_index == 15 ||
        rate_index == 3 || (bytes[3] & 3) == 2) {
        return false;
    }
    const int layer = 4 - layer_field;
    const bool mpeg1 = version == 3;
    const std::int32_t bit_rate = bit_rates[mpeg1 ? 0 : 1][layer - 1][bit_rate_index] * 1000;
    const std::int32_t rate = sample_rates[version][rate_index];
    const std::int32_t padding = (bytes[2] >> 1) & 1;
    header->version = version;
    header->layer = layer;
    header->rate_index = rate_index;
    header->mono = (bytes[3] >> 6) == 3;
    header->protected_by_crc = (bytes[1] & 1) == 0;
    if (layer == 1) {
        header->length = (12 * bit_rate / rate + padding) * 4;
    } else {
        header->length = (layer == 3 && !mpeg1 ? 72 : 144) * bit_rate / rate + padding;
    }
    return true;
}

}  // namespace

std::int32_t mpeg_frame_length(const unsigned char* header) {
    FrameHeader parsed{};
    return parse_header(header, &parsed) ? parsed.length : 0;
}

bool begins_with_mpeg_frames(const unsigned char* bytes, std::size_t size) {
    FrameHeader first{};
    FrameHeader second{};
    if (size < 4 || !parse_header(bytes, &first)) return false;
    const auto next = static_cast<std::size_t>(first.length);
    return size >= next + 4 && parse_header(bytes + next, &second) &&
           second.version == first.version && second.layer == first.layer &&
           second.rate_index == first.rate_index;
}

std::int64_t id3v2_tag_size(const unsigned char* bytes, std::size_t size) {
    // "ID3", version and revision (never 0xFF), flags, then the body's size in four bytes of
    // seven bits each; a footer of 10 bytes follows when flag bit 4 is set.
    if (size < 10 || std::memcmp(bytes, "ID3", 3) != 0 || bytes[3] == 0xFF || bytes[4] == 0xFF) {
        return 0;
    }
    std::int64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if ((bytes[i] & 0x80) != 0) return 0;
        body = body << 7 | bytes[i];
    }
    return 10 + body + ((bytes[5] & 0x10) != 0 ? 10 : 0);
}

bool mpeg_states_frame_count(const unsigned char* bytes, std::size_t size) {
    FrameHeader header{};
    if (size < 4 || !parse_header(bytes, &header) || header.layer != 3) return false;
    // The Xing or Info tag stands where the first granule's data would begin, behind the side
    // information (and behind a CRC, where one is given); its flags say whether the frame
    // count is there. VBRI stands 32 bytes behind the header whatever the layout.
    const bool mpeg1 = header.version == 3;
    const std::size_t side_information = mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    const std::size_t crc = header.protected_by_crc ? 2 : 0;
    const std::size_t places[] = {4 + side_information, 4 + crc + side_information};
    for (const std::size_t at : places) {
        if (size >= at + 8 &&
            (std::memcmp(bytes + at, "Xing", 4) == 0 || std::memcmp(bytes + at, "Info", 4) == 0)) {
            return (bytes[at + 7] & 1) != 0;
        }
    }
    constexpr std::size_t vbri_at = 36;
    return size >= vbri_at + 4 && std::memcmp(bytes + vbri_at, "VBRI", 4) == 0;
}

}  // namespace vellox
