#pragma once
// AcmBlockUnpacker: reads one packed block at a time from an ACM stream and rebuilds its
// coefficients (coded integer times the block's step), row after row.

#include <array>    // std::array
#include <cstddef>  // std::ptrdiff_t
#include <cstdint>  // std::int16_t, std::int32_t, std::uint8_t, std::uint16_t, std::uint64_t
#include <memory>   // std::unique_ptr

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
    virtual ~AcmBlockUnpacker();

    AcmBlockUnpacker(const AcmBlockUnpacker&) = delete;
    AcmBlockUnpacker& operator=(const AcmBlockUnpacker&) = delete;

    // Allocates the read buffer, and for blocks of 512 columns or more a tile of 16 columns.
    // Must succeed before the first unpack_block. (The amplitude table, held as one step per
    // class of entries, needs no memory of its own.)
    [[nodiscard]] bool allocate_amplitude_table();

    // Reads the next block of the stream into destination (rows * columns values, row r and
    // column j at r * columns + j). False when a column has a method code without a decoder:
    // the columns before it are written, the others not, and the stream stands just behind
    // that code. Bytes past the end of the stream read as zero bytes.
    [[nodiscard]] bool unpack_block(std::int32_t* destination);

    // True when the last block unpacked began before the end of the stream: a block whose
    // first bit lies at or past the end is missing, and decodes as zeros.
    bool block_present() const { return present; }

    // True after the source failed a read; the stream then reads as zero bytes.
    bool read_error() const { return read_failed; }

    // The stream position of the next bit not used yet, in bits from the first block's first
    // bit; past the end of the stream when zero bytes were taken there.
    std::int64_t bit_position() const {
        return 8 * (bytes_loaded - (input_end - input_next) + zero_bytes_taken) - bit_count;
    }

    // Reads the rest of the stream, dropping it, and returns the stream's length in bytes (the
    // bytes behind the header). Only for the end: the unpacker reads zeros afterwards.
    std::int64_t read_to_end();

private:
    // Each decoder writes the rows of a column, row r at out[r * stride].
    using ColumnDecoder = bool (AcmBlockUnpacker::*)(std::int32_t* out, std::ptrdiff_t stride,
                                                     std::int32_t code);
    static const ColumnDecoder column_decoders[32];  // by ColumnMethod code

    void fill_bits(int n);
    std::uint32_t get_bits(int n);
    void drop_bits(int n);
    void refill(std::uint64_t& bits, int& count);
    void refill_slowly();
    std::uint64_t next_byte();
    bool load_input();
    void fill_amplitude_table(int range_bits, std::uint32_t step);
    std::int32_t amplitude_entry(std::int32_t k) const;

    bool decode_zero(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_invalid(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_linear(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_prefix(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_packed3_5bit(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_packed3_7bit(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_packed2_7bit(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code);
    bool decode_group(std::int32_t* out, std::ptrdiff_t stride, int width, int values_per_group,
                      int field_bits, int offset, const std::uint16_t* digits);
    void copy_tile(std::int32_t first, std::int32_t count);

    std::int32_t rows;     // rows per block
    std::int32_t columns;  // 1 << levels
    ByteSource& source;    // borrowed

    // Stream bits not used yet; the next bit of the stream is bit 0, bits at and above
    // bit_count are 0 or the stream's next bits. Refilled whole bytes at a time, so bits run on
    // from block to block.
    std::uint64_t bit_buffer = 0;
    int bit_count = 0;  // valid bits in bit_buffer, 0 .. 64

    // The stream is read through this buffer; past its end (or after a read error) every byte
    // reads as 0.
    std::unique_ptr<std::uint8_t[]> input;
    const std::uint8_t* input_next = nullptr;  // next unread byte of input
    const std::uint8_t* input_end = nullptr;   // end of the bytes in input
    bool input_done = false;                   // the source has nothing more to give
    bool read_failed = false;                  // see read_error
    std::int64_t bytes_loaded = 0;             // bytes of the stream read into input so far
    std::int64_t zero_bytes_taken = 0;         // zero bytes taken past the end of the stream
    bool present = false;                      // see block_present

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
