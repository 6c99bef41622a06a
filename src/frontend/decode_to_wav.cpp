// The decoding pass: chunks of decoded samples to the WAV writer and the quality meter.

#include "frontend/decode_to_wav.h"

#include <algorithm>  // std::fill, std::min
#include <memory>     // std::unique_ptr

#include "common/alloc.h"
#include "frontend/progress_marks.h"
#include "frontend/quality_compare.h"
#include "sources/sound_source.h"

namespace vellox {

namespace {

// Zeros that complete the last frame: fewer than the largest channel count.
constexpr std::int16_t padding_zeros[16] = {};

}  // namespace

DecodeResult decode_to_wav(vellox_decoder* decoder, const WavFormat& format, ByteSink* wav,
                           const Comparison* comparison, ProgressMarks* progress) {
    DecodeResult result;
    const std::int64_t samples = vellox_decoder_sample_count(decoder);
    result.samples = samples;
    result.padding = (format.channels - samples % format.channels) % format.channels;

    std::unique_ptr<std::int16_t[]> chunk = allocate_array<std::int16_t>(decode_chunk);
    std::unique_ptr<std::int16_t[]> original_chunk;
    if (comparison != nullptr) original_chunk = allocate_array<std::int16_t>(decode_chunk);
    std::unique_ptr<WavWriter> writer;
    if (wav != nullptr) {
        writer = make_object<WavWriter>(*wav);
        if (writer != nullptr && !writer->init()) writer.reset();
    }
    if (chunk == nullptr || (comparison != nullptr && original_chunk == nullptr) ||
        (wav != nullptr && writer == nullptr)) {
        result.memory_failed = true;
        return result;
    }
    if (writer != nullptr &&
        !writer->write_header(format, static_cast<std::uint64_t>(samples + result.padding))) {
        result.write_failed = true;
    }
    const std::int64_t to_compare =
        comparison == nullptr
            ? 0
            : std::min<std::int64_t>(samples, comparison->original->total_samples);

    for (std::int64_t done = 0; done < samples && !result.failed();) {
        const auto n =
            static_cast<std::int32_t>(std::min<std::int64_t>(decode_chunk, samples - done));
        std::size_t got = 0;
        if (vellox_decoder_read(decoder, chunk.get(), static_cast<std::size_t>(n), &got) !=
            VELLOX_OK) {
            result.read_failed = true;
        }
        // The library hands out the header's count; should it not, the file stays whole.
        std::fill(chunk.get() + std::min<std::size_t>(got, static_cast<std::size_t>(n)),
                  chunk.get() + n, std::int16_t{0});
        if (writer != nullptr && !writer->write_samples(chunk.get(), n)) result.write_failed = true;
        if (result.compared < to_compare) {
            const auto m =
                static_cast<std::int32_t>(std::min<std::int64_t>(n, to_compare - result.compared));
            SoundSource& original = *comparison->original;
            (void)original.read(original_chunk.get(), m);
            if (original.read_error() != 0) result.original_read_failed = true;
            comparison->meter->add(original_chunk.get(), chunk.get(), m);
            result.compared += m;
        }
        done += n;
        if (progress != nullptr) progress->mark(done);
    }
    if (progress != nullptr) progress->finish();
    if (writer != nullptr && !result.failed() && result.padding > 0 &&
        !writer->write_samples(padding_zeros, result.padding)) {
        result.write_failed = true;
    }
    result.wav_bytes = writer != nullptr ? writer->bytes_written() : 0;
    result.not_decoded = vellox_decoder_samples_not_decoded(decoder);
    if (!result.failed() &&
        vellox_decoder_trailing_bytes(decoder, &result.trailing_bytes) != VELLOX_OK) {
        result.read_failed = true;
    }
    return result;
}

}  // namespace vellox
