// Round trip through the whole format and the C API: arbitrary 16-bit samples encoded in
// chunks of a size the input picks, and decoded again. With levels 0 and no size target every
// sample must come back exactly; otherwise the decoder must deliver exactly the sample count
// from a stream it decodes without loss. What the encoder says it wrote is what it wrote. In
// the high-quality mode ("-hq") with a size target the file must also stay within 1/256 of
// the standard mode's file for the same samples (and the method codes of a last block, which
// either may end with); without one, when nothing was clipped, every sample after the start-up
// stretch must come back within the rounding of the coefficients: each decoded value sums
// coefficients with weights of 4^levels in magnitude, so within 2^(levels - 1) + 1.
//
// Bytes: levels (low four bits) and the high-quality mode (bit 4), two bytes of subblocks, the
// size target (0: none), the filter length and the chunk size, then the samples, little-endian.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vellox/vellox.h"

namespace {

constexpr std::int64_t max_block = 1 << 16;  // values per block, so a run stays short
constexpr std::size_t parameter_bytes = 5;

int append(void* user, const unsigned char* bytes, std::size_t size) {
    auto* file = static_cast<std::vector<std::uint8_t>*>(user);
    file->insert(file->end(), bytes, bytes + size);
    return 0;
}

// The file for samples, fed chunk samples at a time, and the count of clipped coefficients;
// traps on any failure.
std::vector<std::uint8_t> encode(const vellox_settings& settings,
                                 const std::vector<std::int16_t>& samples, std::size_t chunk,
                                 std::uint64_t* clipped = nullptr) {
    std::vector<std::uint8_t> file;
    vellox_encoder* encoder = nullptr;
    const auto count = static_cast<std::uint32_t>(samples.size());
    if (vellox_encoder_create(&settings, count, append, &file, &encoder) != VELLOX_OK) {
        __builtin_trap();
    }
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        const std::size_t n = samples.size() - at < chunk ? samples.size() - at : chunk;
        if (vellox_encoder_feed(encoder, samples.data() + at, n) != VELLOX_OK) __builtin_trap();
    }
    std::uint64_t written = 0;
    if (vellox_encoder_finish(encoder, &written) != VELLOX_OK || written != file.size()) {
        __builtin_trap();
    }
    vellox_encoder_clipping(encoder, clipped, nullptr);
    vellox_encoder_destroy(encoder);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < parameter_bytes) return 0;
    vellox_settings settings;
    vellox_settings_init(&settings);
    settings.levels = data[0] & 15;
    settings.high_quality = (data[0] & 16) != 0 ? 1 : 0;
    const std::int64_t most_rows =
        max_block >> settings.levels < 4095 ? max_block >> settings.levels : 4095;
    settings.subblocks = static_cast<int>(1 + ((data[1] << 8) | data[2]) % most_rows);
    const int percents = data[3] % 100;  // 0: no size target, else 2 .. 100
    settings.percents = percents == 0 ? -1.0 : percents + 1;
    // The bank's delay, fed as zeros, grows with the filter length times 2^levels: the deep
    // trees take the shortest filter.
    settings.filter_length = settings.levels <= 10 ? 3 + (data[4] & 7) % 9 : 3;
    const std::size_t chunk = 1 + static_cast<std::size_t>(data[4] >> 3) * 997;
    std::vector<std::int16_t> samples((size - parameter_bytes) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint8_t* p = data + parameter_bytes + 2 * i;
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
    }
    const auto count = static_cast<std::uint32_t>(samples.size());

    std::uint64_t clipped = 0;
    const std::vector<std::uint8_t> file = encode(settings, samples, chunk, &clipped);
    if (settings.high_quality != 0 && percents != 0) {
        vellox_settings standard = settings;
        standard.high_quality = 0;
        const std::size_t standard_size = encode(standard, samples, 65536).size();
        const std::size_t method_bytes = ((std::size_t{5} << settings.levels) + 20) / 8 + 1;
        if (file.size() > standard_size + standard_size / 256 + method_bytes) __builtin_trap();
    }

    vellox_decoder* decoder = nullptr;
    if (vellox_decoder_open_memory(file.data(), file.size(), &decoder) != VELLOX_OK ||
        vellox_decoder_sample_count(decoder) != count) {
        __builtin_trap();
    }
    std::vector<std::int16_t> decoded(samples.size() + 1);
    std::size_t got = 0;
    if (vellox_decoder_read(decoder, decoded.data(), decoded.size(), &got) != VELLOX_OK ||
        got != samples.size() || vellox_decoder_samples_not_decoded(decoder) != 0) {
        __builtin_trap();
    }
    vellox_decoder_destroy(decoder);
    if (settings.levels == 0 && percents == 0) {
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (decoded[i] != samples[i]) __builtin_trap();
        }
    }
    if (settings.high_quality != 0 && percents == 0 && clipped == 0) {
        // The start-up stretch fades by 0.172 a row of the block: 16 rows are far past it.
        const std::size_t start_up = std::size_t{16} << settings.levels;
        const int bound = settings.levels == 0 ? 0 : (1 << (settings.levels - 1)) + 1;
        for (std::size_t i = start_up; i < samples.size(); ++i) {
            if (std::abs(decoded[i] - samples[i]) > bound) __builtin_trap();
        }
    }
    return 0;
}
