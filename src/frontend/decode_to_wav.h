#pragma once
// velloxdec's one pass over the stream: every sample decoded through the library's C API,
// written as a WAV file, handed with the original's samples to the comparison, or both.

#include <cstdint>  // std::int32_t, std::int64_t, std::uint64_t

#include "acm/byte_stream.h"
#include "frontend/wav_writer.h"
#include "vellox/vellox.h"

namespace vellox {

class ProgressMarks;
class QualityMeter;
class SoundSource;

// Samples decoded, written and compared per pass, and per progress mark.
constexpr std::int32_t decode_chunk = 65536;

// The original of a "--compare" run and the meter that takes both signals.
struct Comparison {
    SoundSource* original = nullptr;  // borrowed; opened, nothing read yet
    QualityMeter* meter = nullptr;    // borrowed
};

// What decoding the whole stream came to.
struct DecodeResult {
    std::int64_t samples = 0;           // the header's sample count
    std::int64_t padding = 0;           // zero samples that complete the WAV file's last frame
    std::int64_t compared = 0;          // samples handed to the comparison
    std::uint64_t wav_bytes = 0;        // bytes of the WAV file the sink took, header included
    std::uint64_t not_decoded = 0;      // samples that damage cost
    std::uint64_t trailing_bytes = 0;   // bytes of the stream behind its last block
    bool memory_failed = false;         // a buffer could not be had: nothing was decoded
    bool read_failed = false;           // the ACM input failed a read: decoding stopped there
    bool original_read_failed = false;  // the original failed a read: decoding stopped there
    bool write_failed = false;          // the sink refused bytes: decoding stopped there

    bool failed() const {
        return memory_failed || read_failed || original_read_failed || write_failed;
    }
};

// Decodes every sample of decoder, decode_chunk at a time. Writes them as a WAV file of format
// to wav (nothing when null), completing the last frame with zeros; hands them with the
// original's samples to comparison (none when null), over the first of the two counts; gives
// progress a mark per chunk and its finish after the last (nothing when null). Then reads the
// rest of the stream for the bytes that follow its last block.
[[nodiscard]] DecodeResult decode_to_wav(vellox_decoder* decoder, const WavFormat& format,
                                         ByteSink* wav, const Comparison* comparison,
                                         ProgressMarks* progress);

}  // namespace vellox
