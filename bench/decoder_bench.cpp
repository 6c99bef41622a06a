// Decoding speed of the library's decoder, read from memory to the end in chunks of 65,536
// samples as the program reads: a generated file of seeded random columns of every method
// (levels 7, subblocks 16), and the file the encoder itself writes at the defaults for a
// minute of tones and noise; then its two halves alone, the block unpacker on that file and the
// synthesis on every path.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "../tests/sources/acm_stream_builder.h"
#include "acm/acm_block_unpacker.h"
#include "acm/byte_stream.h"
#include "acm/subband_synthesis.h"
#include "codec/acm_decoder.h"
#include "codec/encoder.h"

namespace vellox {
namespace {

// Decodes the whole file from memory as the program reads it, 65,536 samples at a time;
// false when the count is not samples.
bool read_to_end(const std::vector<std::uint8_t>& file, std::int64_t samples,
                 std::vector<std::int16_t>& buffer) {
    MemorySource bytes(file.data(), file.size());
    AcmDecoder decoder(bytes);
    if (decoder.open() != VELLOX_OK) return false;
    std::int64_t delivered = 0;
    for (;;) {
        const std::int32_t got = decoder.read(buffer.data(), 65536);
        delivered += got;
        if (got < 65536) break;
    }
    benchmark::DoNotOptimize(buffer.data());
    return delivered == samples;
}

void decode_acm_file(benchmark::State& state) {
    const int levels = 7;
    const int rows = 16;
    const int blocks = static_cast<int>(state.range(0));
    const std::int64_t samples = static_cast<std::int64_t>(blocks) * (rows << levels);
    std::mt19937 rng(1);
    acm_test::BitStreamBuilder stream;
    for (int b = 0; b < blocks; ++b) acm_test::put_random_block(stream, rng, levels, rows);
    const std::vector<std::uint8_t> file =
        acm_test::acm_file_bytes(static_cast<std::uint32_t>(samples), levels, rows, stream.bytes());
    std::vector<std::int16_t> buffer(65536);
    for (auto _ : state) {
        if (!read_to_end(file, samples, buffer)) {
            state.SkipWithError("cannot read the generated file");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * samples);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.bytes().size()));
}

BENCHMARK(decode_acm_file)->Arg(1024)->Unit(benchmark::kMillisecond);

// The file the encoder writes at the defaults (levels 7, subblocks 16, half the input bits)
// for samples of tones with vibrato and a little noise.
std::vector<std::uint8_t> encoded_music(std::int32_t samples) {
    std::vector<std::int16_t> input(static_cast<std::size_t>(samples));
    std::mt19937 random(3);
    std::uniform_int_distribution<int> hiss(-300, 300);
    for (std::int32_t i = 0; i < samples; ++i) {
        const double t = i / 22050.0;
        double v = 0.0;
        for (int h = 1; h <= 4; ++h) v += 6000.0 / h * std::sin(2.0 * M_PI * 220.0 * h * t);
        v *= 1.0 + 0.3 * std::sin(2.0 * M_PI * 5.0 * t);
        input[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(std::lround(v) + hiss(random));
    }
    EncoderSettings settings;
    settings.bit_budget = derive_bit_budget(50.0, true, samples, settings.subblocks << 7);
    MemorySink sink;
    Encoder encoder(settings, samples, sink);
    if (encoder.init() != VELLOX_OK || encoder.feed(input.data(), samples) != VELLOX_OK ||
        encoder.finish() != VELLOX_OK) {
        return {};
    }
    return std::vector<std::uint8_t>(sink.data(), sink.data() + sink.size());
}

void decode_encoded_music(benchmark::State& state) {
    const std::int32_t samples = 60 * 22050;
    const std::vector<std::uint8_t> file = encoded_music(samples);
    std::vector<std::int16_t> buffer(65536);
    for (auto _ : state) {
        if (file.empty() || !read_to_end(file, samples, buffer)) {
            state.SkipWithError("cannot encode or read the music");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * samples);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

BENCHMARK(decode_encoded_music)->Unit(benchmark::kMillisecond);

// The unpacker alone on the same file: every block into one buffer, no synthesis.
void decode_unpack_music(benchmark::State& state) {
    const std::int32_t samples = 60 * 22050;
    const std::vector<std::uint8_t> file = encoded_music(samples);
    const int rows = 16;
    const std::int32_t block_size = rows << 7;
    const std::int32_t blocks = (samples + block_size - 1) / block_size;
    std::vector<std::int32_t> block(static_cast<std::size_t>(block_size));
    for (auto _ : state) {
        MemorySource bytes(file.data() + acm_header_size, file.size() - acm_header_size);
        AcmBlockUnpacker unpacker(bytes, 7, rows);
        if (file.empty() || unpacker.init() != VELLOX_OK) {
            state.SkipWithError("cannot encode the music or allocate");
            break;
        }
        for (std::int32_t b = 0; b < blocks; ++b) {
            if (!unpacker.unpack_block(block.data())) state.SkipWithError("a block failed");
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * samples);
}

BENCHMARK(decode_unpack_music)->Unit(benchmark::kMillisecond);

// The synthesis alone on blocks of seeded random coefficients. Arguments: levels, rows and the
// path (0 portable, 1 AVX2, 2 AVX-512, 3 the one picked at run time).
void decode_synthesis(benchmark::State& state) {
    const auto levels = static_cast<std::int32_t>(state.range(0));
    const auto rows = static_cast<std::int32_t>(state.range(1));
    SubbandSynthesis synthesis(levels);
    if (synthesis.allocate_state() != VELLOX_OK ||
        (state.range(2) < 3 &&
         !synthesis.set_synthesis_path(static_cast<KernelPath>(state.range(2))))) {
        state.SkipWithError("path not available");
        return;
    }
    std::mt19937 random(5);
    std::uniform_int_distribution<std::int32_t> coefficient(-2000, 2000);
    std::vector<std::int32_t> coefficients(static_cast<std::size_t>(rows) << levels);
    for (std::int32_t& c : coefficients) c = coefficient(random);
    std::vector<std::int32_t> block(coefficients.size());
    // At least a million values per iteration, each from a fresh copy of the coefficients.
    const std::int64_t copies = 1 + (1 << 20) / static_cast<std::int64_t>(block.size());
    for (auto _ : state) {
        for (std::int64_t c = 0; c < copies; ++c) {
            std::copy(coefficients.begin(), coefficients.end(), block.begin());
            synthesis.inverse_transform(block.data(), rows);
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * copies * static_cast<std::int64_t>(block.size()));
}

BENCHMARK(decode_synthesis)
    ->Args({7, 16, 3})
    ->Args({7, 16, 2})
    ->Args({7, 16, 1})
    ->Args({7, 16, 0})
    ->Args({2, 16, 3})
    ->Args({10, 16, 3})
    ->Args({15, 16, 3})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellox
