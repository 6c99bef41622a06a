#pragma once
// RawPcmSource: headerless PCM samples, 8-bit unsigned or 16-bit signed little-endian; also
// the reader under WavSource, whose data chunk may hold wider samples, reduced to 16 bits.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "sources/sound_source.h"

namespace vellox {

class RawPcmSource : public SoundSource {
public:
    RawPcmSource(const char* file_name, bool sixteen_bit);

    // Refuses a file of more than 2^31 - 1 samples as input_too_long.
    OpenResult open() override;
    const char* type_name() const override { return is_16bit != 0 ? "RAW16" : "RAW8"; }
    std::int32_t read(std::int16_t* buffer, std::int32_t count) override;

protected:
    // How the stored samples look. The wide ones are read through staging and reduced to 16 bits.
    enum class SampleFormat { unsigned8, signed16, signed24, signed32, float32, float64 };

    // Samples that staging holds (the wide formats take at most 8 bytes each).
    static constexpr std::int32_t staging_samples = 4096;

    // Bytes of one stored sample.
    static std::int32_t stored_bytes(SampleFormat sample_format);

    // Reads and converts up to n samples of a wide format; returns how many were read.
    std::int32_t read_staged(std::int16_t* buffer, std::int32_t n);

    // Stores the size; refuses, as input_too_long, samples that do not fit the 32-bit count.
    OpenResult set_sample_count(std::int64_t samples);

    SampleFormat format = SampleFormat::signed16;  // how the stored samples look
    std::unique_ptr<unsigned char[]> staging;  // staging_samples stored samples; wide formats only
};

}  // namespace vellox
