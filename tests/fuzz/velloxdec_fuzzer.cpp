// velloxdec's decoding path: a stream through decode_to_wav into a WAV file in memory. The
// first bytes choose levels, subblocks and sample count of a valid header (as for the
// acm_source harness, whose seeds serve here too) and the channel count; the rest is the
// block stream. The file must announce exactly what follows its header: the samples the
// library hands out, little-endian, the last frame completed with zeros. Read back by the
// programs' WAV reader and compared with the decoded samples, it gives no error at all. The
// bytes behind the last block are the same counted in either pass.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "acm/byte_stream.h"
#include "frontend/decode_to_wav.h"
#include "frontend/quality_compare.h"
#include "fuzz/fuzz_file.h"
#include "sources/source_detection.h"
#include "vellox/vellox.h"

namespace {

std::uint32_t u32_at(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
           static_cast<std::uint32_t>(bytes[3]) << 24;
}

vellox_decoder* open_decoder(const std::vector<std::uint8_t>& file) {
    vellox_decoder* decoder = nullptr;
    if (vellox_decoder_open_memory(file.data(), file.size(), &decoder) != VELLOX_OK) {
        __builtin_trap();  // a valid header always opens
    }
    return decoder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> file;
    std::uint32_t sample_count = 0;
    if (!vellox::fuzz::acm_file_from(data, size, &file, &sample_count)) return 0;
    vellox::WavFormat format;
    format.channels = 1 + (data[0] >> 4);
    format.rate = 8000;

    vellox_decoder* decoder = open_decoder(file);
    vellox::MemorySink wav;
    const vellox::DecodeResult result =
        vellox::decode_to_wav(decoder, format, &wav, nullptr, nullptr);
    vellox_decoder_destroy(decoder);

    // The same stream read directly, in other pieces.
    decoder = open_decoder(file);
    std::vector<std::int16_t> samples(sample_count);
    std::size_t got = 0;
    for (std::size_t done = 0; done < samples.size(); done += got) {
        const std::size_t n = std::min<std::size_t>(777, samples.size() - done);
        if (vellox_decoder_read(decoder, samples.data() + done, n, &got) != VELLOX_OK || got != n) {
            __builtin_trap();
        }
    }
    const std::uint64_t lost = vellox_decoder_samples_not_decoded(decoder);
    std::uint64_t trailing = 0;
    if (vellox_decoder_trailing_bytes(decoder, &trailing) != VELLOX_OK) __builtin_trap();
    vellox_decoder_destroy(decoder);

    const auto channels = static_cast<std::uint32_t>(format.channels);
    const std::size_t padding = (channels - sample_count % channels) % channels;
    const std::size_t data_size = 2 * (sample_count + padding);
    if (result.failed() || result.not_decoded != lost || result.trailing_bytes != trailing ||
        result.padding != static_cast<long>(padding) || wav.size() != 44 + data_size ||
        result.wav_bytes != wav.size()) {
        __builtin_trap();
    }
    const std::uint8_t* bytes = wav.data();
    if (u32_at(bytes + 4) != 36 + data_size || u32_at(bytes + 40) != data_size ||
        bytes[22] != channels || u32_at(bytes + 24) != 8000) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < sample_count + padding; ++i) {
        const auto expected = static_cast<std::uint16_t>(i < sample_count ? samples[i] : 0);
        if (bytes[44 + 2 * i] != (expected & 0xFF) || bytes[45 + 2 * i] != expected >> 8) {
            __builtin_trap();
        }
    }

    // The file as the original of a comparison: read back, it is what was decoded.
    const char* name = vellox::fuzz::write_fuzz_file(bytes, wav.size());
    std::unique_ptr<vellox::SoundSource> original =
        vellox::open_sound_source(name, vellox::SoundType::automatic).source;
    if (original == nullptr || original->type_name() != std::string("WAV") ||
        original->total_samples != static_cast<std::int32_t>(sample_count + padding)) {
        __builtin_trap();
    }
    vellox::QualityMeter meter;
    vellox::Comparison comparison;
    comparison.original = original.get();
    comparison.meter = &meter;
    decoder = open_decoder(file);
    const vellox::DecodeResult compared =
        vellox::decode_to_wav(decoder, format, nullptr, &comparison, nullptr);
    vellox_decoder_destroy(decoder);
    const vellox::QualityReport report = meter.report();
    if (compared.failed() || report.compared != sample_count || report.peak_error != 0 ||
        !(report.snr > 0 && std::isinf(report.snr))) {
        __builtin_trap();
    }
    return 0;
}
