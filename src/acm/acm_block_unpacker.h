#pragma once
// AcmBlockUnpacker: reads one packed block at a time from an ACM stream and rebuilds its
// coefficients (coded integer times the block's step), row after row.

#include <array>    // std::array
#include <cstddef>  // std::ptrdiff_t
#include <cstdint>  // std::int32_t, std::uint16_t, std::uint32_t
#include <memory>   // std::unique_ptr

#include "acm/acm_format.h"
#include "acm/bit_reader.h"
#include "acm/byte_stream.h"

namespace vellox {

// Digits of a group value g, the first digit in the lowest field: base 3 in 2-bit fields (5-bit
// g), base 5 in 3-bit fields and base 11 in 4-bit fields (7-bit g). Group values past the last
// valid one hold 0, so they decode like group value 0.
extern const std::array<std::uint16_t, 32> group_digits_base3;
extern const std::array<std::uint16_t, 128> group_digits_base5;
extern const std::array<std::uint16_t, 128> group_digits_base11;

class AcmBlockUnpacker {
public:
    // source: borrowed, positioned just behind the header. levels: 0 .. 15; rows: the header's
    // subblocks, at least 1. Stores the values; reads and allocates nothing.
    AcmBlockUnpacker(ByteSource& source, std::int32_t levels, std::int32_t rows);
    ~AcmBlockUnpacker();

    AcmBlockUnpacker(const AcmBlockUnpacker&) = delete;
    AcmBlockUnpacker& operator=(const AcmBlockUnpacker&) = delete;

    // Allocates the bit reader's buffer, and for blocks of 512 columns or more a tile of 16
    // columns: VELLOX_OK or VELLOX_ERROR_MEMORY. Must succeed before the first unpack_block.
    // (The amplitude table, held as one step per class of entries, needs no memory of its own.)
    [[nodiscard]] vellox_status init();

    // Reads the next block of the stream into destination (rows * columns values, row r and
    // column j at r * columns + j). False when a column has a method code without a decoder:
    // the columns before it are written, the others not, and the stream stands just behind
    // that code. Bytes past the end of the stream read as zero bytes.
    [[nodiscard]] bool unpack_block(std::int32_t* destination);

    // True when the last block unpacked began before the end of the stream: a block whose
    // first bit lies at or past the end is missing, and decodes as zeros.
    bool block_present() const { return present; }

    // VELLOX_ERROR_READ after the source failed a read (the stream then reads as zero bytes),
    // VELLOX_OK before.
    vellox_status status() const { return reader.status(); }

    // The stream position of the next bit not used yet, in bits from the first block's first
    // bit; past the end of the stream when zero bytes were taken there.
    std::int64_t bit_position() const { return reader.bit_position(); }

    // Reads the rest of the stream, dropping it, and returns the stream's length in bytes (the
    // bytes behind the header). Only for the end: the unpacker reads zeros afterwards.
    std::int64_t read_to_end() { return reader.read_to_end(); }

private:
    // Each decoder writes the rows of a column, row r at out[r * stride].
    using ColumnDecoder = bool (AcmBlockUnpacker::*)(std::int32_t* out, std::ptrdiff_t stride,
                                                     std::int32_t code);
    static const ColumnDecoder column_decoders[32];  // by ColumnMethod code

    void fill_amplitude_table(int range_bits, std::uint32_t step);
    std::int32_t amplitude_entry(std::int32_t k) const;

    bool decode_zero(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_invalid(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_linear(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_prefix(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_packed3_5bit(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_packed3_7bit(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_packed2_7bit(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_group(std::int32_t* out, std::ptrdiff_t stride, const GroupCode& code,
                      const std::uint16_t* digits);
    void copy_tile(std::int32_t first, std::int32_t count);

    // The stream, bits running on from block to block; past its end every bit is 0. First, so
    // that the decoders find it at the unpacker's own address.
    BitReader reader;
    std::int32_t rows;     // rows per block
    std::int32_t columns;  // 1 << levels
    bool present = false;  // see block_present

    // The amplitude table. Entry k (-32768 .. 32767) is k * step in 16-bit two's complement,
    // for the step of the last block whose range -2^r .. 2^r - 1 held k, or 0 when none did
    // yet. A block's range is a run of whole classes 0 .. r, the class of k being the bit length
    // of k (of -k - 1 when k is negative), so the table is one step per class: filling it costs
    // 16 stores, not 2^(r+1), whatever a hostile stream asks for.
    std::uint16_t class_steps[16] = {};
    int range_bits = 0;                   // of the block being unpacked, 0 .. 15
    std::uint32_t step = 0;               // of the block being unpacked, 0 .. 65535
    std::int32_t small_entries[16] = {};  // entries -8 .. 7 at 0 .. 15, for the block

    std::int32_t* destination = nullptr;  // borrowed; the block being filled

    // For wide blocks, columns decoded one after another (column c, row r at c * rows + r)
    // before they go to destination; empty otherwise.
    std::unique_ptr<std::int32_t[]> tile;
};

}  // namespace vellox
