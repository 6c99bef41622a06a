// The WAV header, RIFF or RF64 by the size of the data, and the samples as little-endian bytes.

#include "frontend/wav_writer.h"

#include <cstring>  // std::memcpy

#include "common/alloc.h"

namespace vellox {

namespace {

constexpr std::uint32_t bytes_per_sample = 2;

void put_tag(std::uint8_t* out, const char* tag) { std::memcpy(out, tag, 4); }

void put_u16(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value & 0xFF);
    out[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void put_u32(std::uint8_t* out, std::uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out + 2, value >> 16);
}

void put_u64(std::uint8_t* out, std::uint64_t value) {
    put_u32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFFu));
    put_u32(out + 4, static_cast<std::uint32_t>(value >> 32));
}

// The 16 bytes of a "fmt " body for 16-bit integer PCM.
void put_format(std::uint8_t* out, const WavFormat& format) {
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const auto rate = static_cast<std::uint32_t>(format.rate);
    put_u16(out, 1);  // integer PCM
    put_u16(out + 2, channels);
    put_u32(out + 4, rate);
    put_u32(out + 8, rate * channels * bytes_per_sample);  // bytes per second
    put_u16(out + 12, channels * bytes_per_sample);        // bytes per frame
    put_u16(out + 14, bytes_per_sample * 8);               // bits per sample
}

}  // namespace

std::size_t make_wav_header(const WavFormat& format, std::uint64_t samples, std::uint8_t* header) {
    const std::uint64_t data_size = samples * bytes_per_sample;
    if (data_size <= riff_largest_data) {
        put_tag(header, "RIFF");
        put_u32(header + 4, static_cast<std::uint32_t>(riff_header_size - 8 + data_size));
        put_tag(header + 8, "WAVE");
        put_tag(header + 12, "fmt ");
        put_u32(header + 16, 16);
        put_format(header + 20, format);
        put_tag(header + 36, "data");
        put_u32(header + 40, static_cast<std::uint32_t>(data_size));
        return riff_header_size;
    }
    put_tag(header, "RF64");
    put_u32(header + 4, 0xFFFFFFFFu);
    put_tag(header + 8, "WAVE");
    put_tag(header + 12, "ds64");
    put_u32(header + 16, 28);
    put_u64(header + 20, rf64_header_size - 8 + data_size);  // the RIFF size
    put_u64(header + 28, data_size);
    put_u64(header + 36, samples / static_cast<std::uint64_t>(format.channels));  // frames
    put_u32(header + 44, 0);  // no table of other chunk sizes
    put_tag(header + 48, "fmt ");
    put_u32(header + 52, 16);
    put_format(header + 56, format);
    put_tag(header + 72, "data");
    put_u32(header + 76, 0xFFFFFFFFu);
    return rf64_header_size;
}

WavWriter::WavWriter(ByteSink& output) : sink(output) {}

bool WavWriter::init() {
    bytes = allocate_array<std::uint8_t>(std::int64_t{piece_samples} * bytes_per_sample);
    return bytes != nullptr;
}

bool WavWriter::write_header(const WavFormat& format, std::uint64_t samples) {
    std::uint8_t header[rf64_header_size];
    return put(header, make_wav_header(format, samples, header));
}

bool WavWriter::write_samples(const std::int16_t* samples, std::int64_t count) {
    while (count > 0 && !write_failed) {
        const std::int64_t n = count < piece_samples ? count : piece_samples;
        std::uint8_t* out = bytes.get();
        for (std::int64_t i = 0; i < n; ++i) {
            const auto value = static_cast<std::uint16_t>(samples[i]);
            out[2 * i] = static_cast<std::uint8_t>(value & 0xFF);
            out[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
        if (!put(out, static_cast<std::size_t>(n) * bytes_per_sample)) return false;
        samples += n;
        count -= n;
    }
    return !write_failed;
}

bool WavWriter::put(const std::uint8_t* data, std::size_t size) {
    if (write_failed) return false;
    const std::size_t taken = sink.write(data, size);
    written += taken;
    if (taken != size) write_failed = true;
    return !write_failed;
}

}  // namespace vellox
