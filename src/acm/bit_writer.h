#pragma once
// BitWriter: appends fields least significant bit first and hands whole bytes to a byte sink,
// holding back runs of zero bytes until a non-zero byte follows.

#include <cassert>  // assert
#include <cstdint>  // std::uint8_t, std::uint32_t, std::uint64_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "acm/byte_stream.h"
#include "vellox/vellox.h"  // vellox_status

namespace vellox {

// The stream so far is, in order: the bytes the sink took, the bytes waiting in the output
// buffer, held_zero_bytes() zero bytes, then the pending bits of the accumulator. Zero bytes
// at the very end of the stream are never written: a reader takes the missing end of a file
// as zero bits, so the file decodes the same and is shorter.
class BitWriter {
public:
    // Widest put_bits: a put completes at most one 64-bit word of the accumulator, and what
    // is left of it starts the next.
    static constexpr int max_bits_per_call = 64;
    // Bytes gathered before one write to the sink.
    static constexpr std::int64_t buffer_size = 64 * 1024;

    explicit BitWriter(ByteSink& sink);  // sink: borrowed; the stream starts with its next byte

    BitWriter(const BitWriter&) = delete;
    BitWriter& operator=(const BitWriter&) = delete;

    // Allocates the output buffer: VELLOX_OK or VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status init();

    // Appends the low n bits of value (n: 1 .. max_bits_per_call), least significant first;
    // the bits of value above n are ignored.
    void put_bits(std::uint64_t value, int n) {
        assert(n >= 1 && n <= max_bits_per_call);
        assert(buffer != nullptr && !finished);
        const std::uint64_t bits = value & (~std::uint64_t{0} >> (64 - n));
        accumulator |= bits << pending;  // bits past bit 63 are taken up again below
        bits_put += n;
        const int total = pending + n;
        if (total < 64) {
            pending = total;
            return;
        }
        put_word(accumulator);
        // The bits of value that did not fit; none when pending was 0 (n was 64).
        accumulator = pending == 0 ? 0 : bits >> (64 - pending);
        pending = total - 64;
    }

    // A run of puts of at most 32 bits each with the pending bits kept in registers: it takes
    // the writer's pending bits over when made and gives back what is left on finish. Nothing
    // else may be put on the writer in between.
    class Burst {
    public:
        explicit Burst(BitWriter& writer)
            : out(writer), word(writer.accumulator), used(writer.pending), first_used(used) {
            assert(writer.buffer != nullptr && !writer.finished);
        }
        Burst(const Burst&) = delete;
        Burst& operator=(const Burst&) = delete;

        // Appends value in n bits (n: 0 .. 32; value < 2^n), least significant first.
        void put(std::uint32_t value, int n) {
            assert(n >= 0 && n <= 32 && (std::uint64_t{value} >> n) == 0);
            word |= std::uint64_t{value} << used;
            used += n;
            if (used >= 64) {
                out.put_word(word);
                ++words;
                used -= 64;
                word = std::uint64_t{value} >> (n - used);  // the bits that did not fit
            }
        }
        void finish() {
            out.accumulator = word;
            out.pending = used;
            out.bits_put += 64 * words + used - first_used;
        }

    private:
        BitWriter& out;
        std::uint64_t word;      // pending bits, the next one in bit 0; above them 0
        int used;                // # of pending bits, 0 .. 63 between puts
        int first_used;          // the writer's pending bits when the burst began
        std::int64_t words = 0;  // whole words handed to the writer
    };

    // Ends the stream: hands what is left to the sink, except the trailing zero bytes. No bits
    // may be put afterwards; a second call does nothing.
    void finish_bits();

    // Bytes of the stream handed to the sink or waiting in the buffer for it. After
    // finish_bits without a write error, the number of bytes the sink took; after a failed
    // write, the bytes the sink took before and in that write.
    std::int64_t bytes_written() const { return failed ? bytes_flushed : bytes_flushed + fill; }

    // Bits put so far, written or not.
    std::int64_t bits_written() const { return bits_put; }

    // Zero bytes of the stream that wait for a non-zero byte (never written at the end).
    std::int64_t held_zero_bytes() const { return held_zeros; }

    // VELLOX_ERROR_WRITE after a write the sink did not take whole, VELLOX_OK before. The
    // failure is sticky: nothing is written after it.
    vellox_status status() const { return failed ? VELLOX_ERROR_WRITE : VELLOX_OK; }

private:
    // Eight whole bytes of the stream, the first in the low byte.
    void put_word(std::uint64_t word) {
        if (word == 0) {
            held_zeros += 8;
            return;
        }
        // The zero bytes at the top of the word end the stream so far: hold them back.
        held_zeros = 8 - append_word(word);
    }

    // Appends the held zeros and then the bytes of word (not 0) up to its last non-zero byte
    // to the buffer; returns the number of bytes of word appended.
    int append_word(std::uint64_t word) {
        if (held_zeros != 0) write_held_zeros();
        if (fill > buffer_size - 8) flush_buffer();
        std::uint8_t* p = buffer.get() + fill;
        for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(word >> (8 * i));
        const int used = 8 - __builtin_clzll(word) / 8;
        fill += used;
        return used;
    }

    void write_held_zeros();  // moves the held zero bytes into the buffer
    void flush_buffer();      // hands the buffer to the sink

    ByteSink& sink;                          // borrowed
    std::unique_ptr<std::uint8_t[]> buffer;  // buffer_size bytes waiting for the file
    std::int64_t fill = 0;                   // bytes in use at the start of buffer
    std::uint64_t accumulator = 0;           // pending bits, the next one in bit 0; above them 0
    int pending = 0;                 // # of valid bits in accumulator, 0 .. 63 between calls
    std::int64_t held_zeros = 0;     // zero bytes held back behind the buffer's bytes
    std::int64_t bytes_flushed = 0;  // bytes the sink took
    std::int64_t bits_put = 0;       // bits put since construction
    bool failed = false;             // a write was not taken whole
    bool finished = false;           // finish_bits has run
};

}  // namespace vellox
