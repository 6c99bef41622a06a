// Arbitrary bytes as an input file, detected, then downmixed and resampled as the first byte
// says (bit 0: downmix; bits 1 to 3: the rate, 0 keeping the input's): exactly the count fixed
// when it opened, whole frames, and zeros past the end, whatever the file claims.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_file.h"
#include "sources/converted_source.h"
#include "sources/source_detection.h"

namespace {

constexpr std::int32_t chunk = 4096;
constexpr std::int64_t read_limit = 1 << 15;  // samples read per input: runs stay short
constexpr std::uint32_t rates[] = {0, 8000, 11025, 22050, 44100, 48000, 96000, 192000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool downmix = (data[0] & 1) != 0;
    const std::uint32_t rate = rates[(data[0] >> 1) & 7];
    const char* name = vellox::fuzz::write_fuzz_file(data + 1, size - 1);
    std::unique_ptr<vellox::SoundSource> source =
        vellox::open_sound_source(name, vellox::SoundType::automatic).source;
    if (source == nullptr || source->channels < 1 || source->sample_rate == 0) return 0;
    // ACM headers may ask for huge blocks; the ACM harnesses explore those.
    if (source->is_acm()) return 0;
    vellox::ConvertedSource converted(*source, downmix, rate);
    if (!converted.open().ok()) return 0;
    const std::int32_t channels = converted.channels;
    if (channels != (downmix ? 1 : source->channels) || converted.total_samples % channels != 0 ||
        converted.sample_rate != (rate != 0 ? rate : source->sample_rate)) {
        __builtin_trap();
    }
    std::int16_t buffer[chunk];
    std::int64_t delivered = 0;
    while (delivered < read_limit) {
        const std::int32_t expected =
            converted.remaining_samples < chunk ? converted.remaining_samples : chunk;
        const std::int32_t got = converted.read(buffer, chunk);
        if (got != expected) __builtin_trap();
        for (std::int32_t i = got; i < chunk; ++i) {
            if (buffer[i] != 0) __builtin_trap();  // zeros past the end
        }
        delivered += got;
        if (got == 0) break;
    }
    return 0;
}
