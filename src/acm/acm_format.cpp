// Header encoding: every field assembled byte by byte, little-endian.

#include "acm/acm_format.h"

namespace vellox {

namespace {

void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

void encode_acm_header(const AcmHeader& header, std::uint8_t bytes[acm_header_size]) {
    put_u32(bytes, header.magic);
    put_u32(bytes + 4, header.sample_count);
    put_u16(bytes + 8, header.channels);
    put_u16(bytes + 10, header.sample_rate);
    put_u16(bytes + 12, header.levels_subblocks);
}

AcmHeader decode_acm_header(const std::uint8_t bytes[acm_header_size]) {
    AcmHeader header;
    header.magic = get_u32(bytes);
    header.sample_count = get_u32(bytes + 4);
    header.channels = get_u16(bytes + 8);
    header.sample_rate = get_u16(bytes + 10);
    header.levels_subblocks = get_u16(bytes + 12);
    return header;
}

}  // namespace vellox
