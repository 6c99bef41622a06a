// The raw PCM reader: 8- and 16-bit samples read straight into the caller's buffer, the wide
// formats of WAV files through a staging buffer.

#include "sources/raw_pcm_source.h"

#include <algorithm>  // std::min, std::fill
#include <cassert>    // assert
#include <cerrno>     // errno, EIO
#include <cstdio>     // std::fread, std::ferror
#include <cstring>    // std::memcpy

#include "sources/little_endian.h"
#include "sources/sample_conversion.h"

namespace vellox {

namespace {

constexpr std::int64_t max_samples = 2147483647;  // the largest signed 32-bit count

}  // namespace

RawPcmSource::RawPcmSource(const char* name, bool sixteen_bit) : SoundSource(name) {
    if (!sixteen_bit) {
        is_16bit = 0;
        format = SampleFormat::unsigned8;
    }
}

OpenResult RawPcmSource::open() {
    const OpenResult opened = open_file();
    if (!opened.ok()) return opened;
    // An odd last byte of 16-bit data is dropped.
    return set_sample_count(is_16bit != 0 ? file_size >> 1 : file_size);
}

std::int32_t RawPcmSource::stored_bytes(SampleFormat sample_format) {
    constexpr std::int32_t widths[] = {1, 2, 3, 4, 4, 8};  // in SampleFormat order
    return widths[static_cast<int>(sample_format)];
}

OpenResult RawPcmSource::set_sample_count(std::int64_t samples) {
    if (samples > max_samples) return OpenResult::refused(Refusal::input_too_long);
    total_samples = static_cast<std::int32_t>(samples);
    remaining_samples = total_samples;
    return OpenResult::opened();
}

std::int32_t RawPcmSource::read(std::int16_t* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int32_t n = std::min(count, remaining_samples);
    std::int32_t got = 0;
    if (n > 0) {
        const auto items = static_cast<std::size_t>(n);
        switch (format) {
            case SampleFormat::unsigned8: {
                got = static_cast<std::int32_t>(std::fread(buffer, 1, items, file));
                // Widened in place from the last byte to the first: sample i takes bytes 2i and
                // 2i + 1, which byte i and the bytes before it never need again.
                const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer);
                for (std::int32_t i = got; i-- > 0;) {
                    buffer[i] = static_cast<std::int16_t>((bytes[i] - 128) * 256);
                }
                break;
            }
            case SampleFormat::signed16:
                got = static_cast<std::int32_t>(std::fread(buffer, 2, items, file));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                for (std::int32_t i = 0; i < got; ++i) {
                    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer + i);
                    buffer[i] = int16_from_bytes(bytes[0], bytes[1]);
                }
#endif
                break;
            default:
                got = read_staged(buffer, n);
                break;
        }
        if (got < n && read_errno == 0 && std::ferror(file) != 0) {
            read_errno = errno != 0 ? errno : EIO;
        }
    }
    std::fill(buffer + got, buffer + count, static_cast<std::int16_t>(0));
    remaining_samples -= got;
    return got;
}

std::int32_t RawPcmSource::read_staged(std::int16_t* buffer, std::int32_t n) {
    assert(staging != nullptr);
    const auto width = static_cast<std::size_t>(stored_bytes(format));
    std::int32_t done = 0;
    while (done < n) {
        const std::int32_t piece = std::min(n - done, staging_samples);
        const auto items = static_cast<std::int32_t>(
            std::fread(staging.get(), width, static_cast<std::size_t>(piece), file));
        const unsigned char* in = staging.get();
        std::int16_t* out = buffer + done;
        switch (format) {
            case SampleFormat::signed24:  // the top 16 of 24 bits: the upper two bytes
                for (std::int32_t i = 0; i < items; ++i, in += 3) {
                    out[i] = int16_from_bytes(in[1], in[2]);
                }
                break;
            case SampleFormat::signed32:  // the top 16 of 32 bits
                for (std::int32_t i = 0; i < items; ++i, in += 4) {
                    out[i] = int16_from_bytes(in[2], in[3]);
                }
                break;
            case SampleFormat::float32:
                for (std::int32_t i = 0; i < items; ++i, in += 4) {
                    const std::uint32_t bits = u32_le(in);
                    float value = 0;
                    std::memcpy(&value, &bits, sizeof value);
                    out[i] = int16_from_real(static_cast<double>(value));
                }
                break;
            case SampleFormat::float64:
                for (std::int32_t i = 0; i < items; ++i, in += 8) {
                    const std::uint64_t bits = u64_le(in);
                    double value = 0;
                    std::memcpy(&value, &bits, sizeof value);
                    out[i] = int16_from_real(value);
                }
                break;
            default:
                break;
        }
        done += items;
        if (items < piece) break;
    }
    return done;
}

}  // namespace vellox
