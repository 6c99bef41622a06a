#pragma once
// AcmSource: an ACM file as an input, decoded block by block by the library's decoder.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t

#include "codec/acm_decoder.h"
#include "sources/file_byte_source.h"
#include "sources/sound_source.h"

namespace vellox {

class AcmSource : public SoundSource {
public:
    explicit AcmSource(const char* file_name);
    ~AcmSource() override;

    // Opens the file, checks the header and makes the decoder. A wrong magic, a file shorter
    // than the header or a header with no rows per block is not_an_acm_file; a sample count
    // beyond 2^31 - 1 is refused as input_too_long.
    OpenResult open() override;
    const char* type_name() const override { return "ACM"; }
    bool is_acm() const override { return true; }

    // Hands out the decoded stream; each value is shifted right by levels and saturated to 16
    // bits. A block that cannot be decoded gives zeros up to the next multiple of 65,536
    // values, where the stream is tried again from where that block stopped. Returns the
    // values before the end of the stream.
    std::int32_t read(std::int16_t* buffer, std::int32_t count) override;

    // Blocks that could not be unpacked so far.
    std::int64_t failed_blocks() const;

    // Samples of blocks that could not be unpacked, and of blocks missing because the file
    // ends before their first bit.
    std::int64_t samples_not_decoded() const override;

private:
    FileByteSource bytes;  // the file, read by the decoder
    AcmDecoder decoder{bytes};
    bool opened = false;  // the decoder is ready
};

}  // namespace vellox
