// "-fc" coefficient files: the first byte picks the levels, the rest is the file's text. A
// bank that initialises must then filter a short signal without fault and give one
// coefficient per value past its delay.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/analysis_filter_bank.h"
#include "frontend/filter_file.h"
#include "fuzz/fuzz_file.h"

namespace {

constexpr std::int32_t chunk = 1000;  // values per process call
constexpr int chunks = 3;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Up to 7 levels: the rings grow with 2^levels times the taps, and the levels beyond
    // add nothing a file could change.
    const int levels = data[0] & 7;
    const char* name = vellox::fuzz::write_fuzz_file(data + 1, size - 1);
    std::int32_t count = 0;
    std::unique_ptr<double[]> taps;
    if (vellox::read_filter_file(name, &count, &taps) != vellox::FilterFileResult::ok) return 0;
    vellox::FcFilterBank bank(levels, taps.get(), count);
    if (bank.init() != VELLOX_OK) return 0;
    if (bank.full_filter_length() < 1 || bank.full_filter_length() % 2 != 1) __builtin_trap();

    // Full-scale steps and a fast sawtooth: the sums reach whatever the taps allow.
    std::vector<std::int16_t> samples(chunk);
    std::vector<std::int32_t> coefficients(chunk);
    std::int64_t fed = 0;
    std::int64_t produced = 0;
    for (int c = 0; c < chunks; ++c) {
        for (std::int32_t i = 0; i < chunk; ++i) {
            const std::int32_t t = c * chunk + i;
            samples[static_cast<std::size_t>(i)] =
                static_cast<std::int16_t>((t / 7) % 2 == 0 ? 32767 : -32768 + (t * 331) % 9000);
        }
        const std::int32_t got = bank.process(samples.data(), chunk, coefficients.data());
        if (got < 0 || got > chunk) __builtin_trap();
        fed += chunk;
        produced += got;
    }
    const std::int64_t expected = fed > bank.delay() ? fed - bank.delay() : 0;
    if (produced != expected) __builtin_trap();
    return 0;
}
