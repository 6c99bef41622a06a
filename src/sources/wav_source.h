#pragma once
// WavSource: a RIFF/WAVE file with integer PCM (8, 16, 24 or 32 bits) or IEEE float (32 or
// 64 bits) samples, delivered as 16-bit samples from the "data" chunk on. Also its 64-bit form
// RF64, whose "ds64" chunk holds the data size the 32-bit field cannot.

#include <cstdint>  // std::int32_t, std::int64_t, std::uint32_t

#include "sources/raw_pcm_source.h"

namespace vellox {

class WavSource : public RawPcmSource {
public:
    explicit WavSource(const char* file_name);

    // A file that does not begin like a WAV or RF64 file is not_a_wav_file; one that does but
    // cannot be read is refused as unsupported_wav_format, so that no other kind takes it.
    OpenResult open() override;
    const char* type_name() const override { return "WAV"; }

    // True after open refused a file whose "fmt " chunk names a sample format not read here
    // (mu-law, A-law, ADPCM, ...), as opposed to a file whose chunks are malformed.
    bool refused_sample_format() const { return sample_format_not_read; }

private:
    // Walks the chunks up to the start of the "data" body, setting format and is_16bit from
    // "fmt " on the way (and, for RF64, taking the data size from "ds64"); returns the sample
    // data's length in bytes, capped at the end of the file, or -1 when the file is
    // unsupported or malformed.
    std::int64_t find_data(bool rf64);

    // Takes format, is_16bit, channels and sample_rate from a "fmt " body of size bytes (at least
    // 16, the first 26 of them here); false for a format not read.
    [[nodiscard]] bool take_format(const unsigned char* body, std::int64_t size);

    bool sample_format_not_read = false;  // see refused_sample_format
};

}  // namespace vellox
