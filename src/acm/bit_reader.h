#pragma once
// BitReader: takes fields least significant bit first from a byte source through a read
// buffer; past the end of the stream, or after a read error, every byte reads as 0.

#include <cstdint>  // std::uint8_t, std::uint32_t, std::uint64_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "acm/byte_stream.h"
#include "vellox/vellox.h"  // vellox_status

namespace vellox {

class BitReader {
public:
    // Bytes asked of the source at a time.
    static constexpr std::int64_t buffer_size = 65536;

    explicit BitReader(ByteSource& source);  // source: borrowed; the stream is its next bytes

    BitReader(const BitReader&) = delete;
    BitReader& operator=(const BitReader&) = delete;

    // Allocates the read buffer (VELLOX_OK or VELLOX_ERROR_MEMORY); must succeed before the
    // first bit is read.
    [[nodiscard]] vellox_status init();

    // The next n bits (1 .. 32) in the low bits of the result; higher bits are the stream's next.
    std::uint32_t get_bits(int n) {
        if (bit_count < n) refill(bit_buffer, bit_count);
        const auto value = static_cast<std::uint32_t>(bit_buffer);
        bit_buffer >>= n;
        bit_count -= n;
        return value;
    }

    // A decoder may keep the pending bits in registers: it copies pending_bits() and
    // pending_count(), takes bits off its copies (bits >>= n, count -= n), tops them up with
    // refill and hands back what is left with keep before the reader is used otherwise.
    std::uint64_t pending_bits() const { return bit_buffer; }
    int pending_count() const { return bit_count; }
    void keep(std::uint64_t bits, int count) {
        bit_buffer = bits;
        bit_count = count;
    }

    // Tops bits up with whole bytes to at least 56 bits (count: 0 .. 64). Bits past count may
    // hold the stream's next bits already: a refill ORs the same bits over them.
    void refill(std::uint64_t& bits, int& count) {
        if (count >= 56) return;  // also keeps the shift below under 64
        if (input_end - input_next >= 8) {
            bits |= load_le64(input_next) << count;
            input_next += (63 - count) >> 3;
            count |= 56;  // raised by 8 for each byte taken: 56 .. 63
            return;
        }
        keep(bits, count);
        refill_slowly();
        bits = bit_buffer;
        count = bit_count;
    }

    // The stream position of the next bit: the bits taken from the stream (its bytes and the
    // zero bytes past its end) less those not used yet.
    std::int64_t bit_position() const {
        const std::int64_t bytes_taken = bytes_loaded - (input_end - input_next) + zero_bytes_taken;
        return 8 * bytes_taken - bit_count;
    }

    // Bytes of the stream read so far (none of the zero bytes past its end).
    std::int64_t bytes_read() const { return bytes_loaded; }

    // Reads the rest of the stream, dropping it, and returns the stream's length in bytes. Only
    // for the end: every bit reads as 0 afterwards.
    std::int64_t read_to_end();

    // VELLOX_ERROR_READ after the source failed a read (the failure is sticky), VELLOX_OK
    // before.
    vellox_status status() const { return read_failed ? VELLOX_ERROR_READ : VELLOX_OK; }

private:
    // Eight little-endian bytes as one 64-bit word (compilers turn this into a single load).
    static std::uint64_t load_le64(const std::uint8_t* p) {
        std::uint64_t word = 0;
        for (int i = 0; i < 8; ++i) word |= static_cast<std::uint64_t>(p[i]) << (8 * i);
        return word;
    }

    void refill_slowly();
    std::uint64_t next_byte();
    bool load_input();

    ByteSource& source;  // borrowed

    // Stream bits not used yet; the next bit of the stream is bit 0, bits at and above
    // bit_count are 0 or the stream's next bits. Refilled whole bytes at a time.
    std::uint64_t bit_buffer = 0;
    int bit_count = 0;  // valid bits in bit_buffer, 0 .. 64

    std::unique_ptr<std::uint8_t[]> input;     // buffer_size bytes
    const std::uint8_t* input_next = nullptr;  // next unread byte of input
    const std::uint8_t* input_end = nullptr;   // end of the bytes in input
    bool input_done = false;                   // the source has nothing more to give
    bool read_failed = false;                  // see status
    std::int64_t bytes_loaded = 0;             // bytes of the stream read into input so far
    std::int64_t zero_bytes_taken = 0;         // zero bytes taken past the end of the stream
};

}  // namespace vellox
