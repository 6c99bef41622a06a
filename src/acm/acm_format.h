#pragma once
// The ACM file format shared by the writer and the reader: the 14-byte header, the block
// head fields and the 5-bit column method codes.

#include <cstdint>  // std::uint8_t, std::uint16_t, std::uint32_t

namespace vellox {

constexpr std::uint32_t acm_magic = 0x01032897;   // bytes 97 28 03 01 at offset 0
constexpr int acm_header_size = 14;               // bytes before the block stream
constexpr std::uint16_t acm_channels = 2;         // written whatever the input holds
constexpr std::uint16_t acm_sample_rate = 22050;  // written whatever the input holds

// The file header; every multi-byte field is little-endian in the file.
struct AcmHeader {
    std::uint32_t magic = acm_magic;
    std::uint32_t sample_count = 0;  // samples of all channels together
    std::uint16_t channels = acm_channels;
    std::uint16_t sample_rate = acm_sample_rate;
    std::uint16_t levels_subblocks = 0;  // levels in bits 0-3, subblocks in bits 4-15

    int levels() const { return levels_subblocks & 15; }
    int subblocks() const { return levels_subblocks >> 4; }
};

// The 16-bit word that carries levels (0 .. 15) and subblocks (0 .. 4095).
inline std::uint16_t pack_levels_subblocks(int levels, int subblocks) {
    return static_cast<std::uint16_t>((levels & 15) | ((subblocks & 0xFFF) << 4));
}

// The 14 header bytes of header.
void encode_acm_header(const AcmHeader& header, std::uint8_t bytes[acm_header_size]);

// The header held in 14 bytes (no check of the magic).
AcmHeader decode_acm_header(const std::uint8_t bytes[acm_header_size]);

// Bits of the block head fields.
constexpr int range_bits_width = 4;  // range_bits: coded integers lie in -2^r .. 2^r - 1
constexpr int step_width = 16;       // step: the block's quantizer step, unsigned
constexpr int method_width = 5;      // the column's ColumnMethod code
constexpr int block_head_bits = range_bits_width + step_width;

// The 5-bit column method codes. Codes 3 .. 16 are linear columns of that many bits; 1, 2,
// 25, 28, 30 and 31 have no decoder and are never written.
enum class ColumnMethod : std::uint8_t {
    zero = 0,
    linear_first = 3,
    linear_last = 16,
    vlc1_pairs = 17,
    vlc1 = 18,
    packed3_5bit = 19,
    vlc2_pairs = 20,
    vlc2 = 21,
    packed3_7bit = 22,
    vlc3_pairs = 23,
    vlc3 = 24,
    vlc4_pairs = 26,
    vlc4 = 27,
    packed2_7bit = 29,
};

// A group method: each group of values rows holds the digits k + largest (k: -largest ..
// largest) of one number in base 2 * largest + 1, the first row's digit the lowest, written in
// width bits. Rows past the last are 0 in the writer and ignored by the reader.
struct GroupCode {
    ColumnMethod method;
    int values;   // rows per group
    int largest;  // largest magnitude
    int width;    // bits per group

    constexpr int base() const { return 2 * largest + 1; }
    // The number of a group of zeros: the offset the writer adds to the sum of k * base^row.
    constexpr int offset() const {
        int sum = 0;
        for (int d = 0, place = 1; d < values; ++d, place *= base()) sum += largest * place;
        return sum;
    }
};

constexpr GroupCode packed3_5bit_group = {ColumnMethod::packed3_5bit, 3, 1, 5};
constexpr GroupCode packed3_7bit_group = {ColumnMethod::packed3_7bit, 3, 2, 7};
constexpr GroupCode packed2_7bit_group = {ColumnMethod::packed2_7bit, 2, 5, 7};

// The group code of method, or null for a method of another kind.
constexpr const GroupCode* group_code_of(ColumnMethod method) {
    switch (method) {
        case ColumnMethod::packed3_5bit:
            return &packed3_5bit_group;
        case ColumnMethod::packed3_7bit:
            return &packed3_7bit_group;
        case ColumnMethod::packed2_7bit:
            return &packed2_7bit_group;
        default:
            return nullptr;
    }
}

}  // namespace vellox
