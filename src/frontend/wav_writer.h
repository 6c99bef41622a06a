#pragma once
// WavWriter: 16-bit PCM samples written as a WAV file to a byte sink, the header first (the
// sizes are known before the first byte), the samples in large little-endian pieces.

#include <cstddef>  // std::size_t
#include <cstdint>  // std::int16_t, std::int32_t, std::uint8_t, std::uint64_t
#include <memory>   // std::unique_ptr

#include "acm/byte_stream.h"

namespace vellox {

// The layout the header announces.
struct WavFormat {
    std::int32_t channels = 2;  // interleaved channels, 1 .. 65535
    std::int32_t rate = 22050;  // frames per second, 1 .. 2^32 / (2 * channels)
};

constexpr std::size_t riff_header_size = 44;  // "RIFF", "fmt " and "data" heads
constexpr std::size_t rf64_header_size = 80;  // the same with a "ds64" chunk
// The largest data chunk a RIFF header can hold: its size field counts 36 bytes more.
constexpr std::uint64_t riff_largest_data = 0xFFFFFFFFu - 36;

// Writes into header (room for rf64_header_size bytes) the header of a file of samples 16-bit
// samples, a whole number of frames of format, and returns its size. A data chunk larger than
// riff_largest_data gets an RF64 header: the 64-bit sizes in a "ds64" chunk and 0xFFFFFFFF in
// the 32-bit size fields, so that no size wraps.
std::size_t make_wav_header(const WavFormat& format, std::uint64_t samples, std::uint8_t* header);

class WavWriter {
public:
    // Samples converted per write to the sink.
    static constexpr std::int32_t piece_samples = 65536;

    explicit WavWriter(ByteSink& sink);  // sink: borrowed

    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Allocates the conversion buffer; false when it cannot be had.
    [[nodiscard]] bool init();

    // Writes the header of a file of samples samples (a whole number of frames of format).
    [[nodiscard]] bool write_header(const WavFormat& format, std::uint64_t samples);

    // Writes count samples (any count), little-endian. After a failed write nothing more is
    // written and every call returns false.
    [[nodiscard]] bool write_samples(const std::int16_t* samples, std::int64_t count);

    bool failed() const { return write_failed; }
    std::uint64_t bytes_written() const { return written; }  // bytes the sink took

private:
    [[nodiscard]] bool put(const std::uint8_t* bytes, std::size_t size);

    ByteSink& sink;                         // borrowed
    std::unique_ptr<std::uint8_t[]> bytes;  // 2 * piece_samples bytes, the samples converted
    std::uint64_t written = 0;              // bytes the sink took
    bool write_failed = false;              // sticky: the sink refused bytes
};

}  // namespace vellox
