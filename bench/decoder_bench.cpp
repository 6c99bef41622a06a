// Decoding speed of the ACM source, read to the end in chunks of 65,536 samples as the driver
// reads: a generated file of seeded random columns of every method (levels 7, subblocks 16),
// and the file the encoder itself writes at the defaults for a minute of tones and noise.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "../tests/sources/acm_stream_builder.h"
#include "acm/block_packer.h"
#include "analysis/analysis_filter_bank.h"
#include "sources/acm_source.h"

namespace vellox {
namespace {

// Reads the whole file; false when the count is not samples.
bool read_to_end(const char* name, std::int64_t samples, std::vector<std::int16_t>& buffer) {
    AcmSource source(name);
    if (!source.open(false)) return false;
    std::int64_t delivered = 0;
    for (;;) {
        const std::int32_t got = source.read(buffer.data(), 65536);
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
    acm_test::TempFile file(acm_test::acm_file_bytes(static_cast<std::uint32_t>(samples), levels,
                                                     rows, stream.bytes()));
    std::vector<std::int16_t> buffer(65536);
    for (auto _ : state) {
        if (!read_to_end(file.name(), samples, buffer)) {
            state.SkipWithError("cannot read the generated file");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * samples);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.bytes().size()));
}

BENCHMARK(decode_acm_file)->Arg(1024)->Unit(benchmark::kMillisecond);

// The stream the encoder writes at the defaults (levels 7, subblocks 16, half the input bits)
// for samples of tones with vibrato and a little noise.
std::vector<std::uint8_t> encoded_music(std::int32_t samples) {
    constexpr std::int32_t chunk = 65536;
    constexpr std::int32_t block_size = 16 << 7;
    FdFilterBank bank(7, 11);
    if (!bank.init()) return {};
    // The samples, then the zeros that push the last ones through the bank.
    std::vector<std::int16_t> input(static_cast<std::size_t>(samples + bank.delay()), 0);
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
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return {};
    const std::int32_t blocks = (samples + block_size - 1) / block_size;
    const auto budget = static_cast<std::int32_t>(16.0 * samples / blocks * 50.0 * 0.01);
    std::vector<std::int16_t> block(block_size, 0);
    std::vector<std::int32_t> coefficients(chunk);
    bool written = false;
    {
        BlockPacker packer(file, 128, 16, budget);
        if (packer.init()) {
            std::size_t fill = 0;
            for (std::size_t fed = 0; fed < input.size(); fed += chunk) {
                const auto n =
                    static_cast<std::int32_t>(std::min<std::size_t>(chunk, input.size() - fed));
                const std::int32_t produced =
                    bank.process(input.data() + fed, n, coefficients.data());
                for (std::int32_t i = 0; i < produced; ++i) {
                    block[fill++] = static_cast<std::int16_t>(
                        std::clamp(coefficients[static_cast<std::size_t>(i)], -32768, 32767));
                    if (fill == block.size()) {
                        packer.pack_block(block.data());
                        fill = 0;
                    }
                }
            }
            if (fill > 0) {
                std::fill(block.begin() + static_cast<std::ptrdiff_t>(fill), block.end(), 0);
                packer.pack_block(block.data());
            }
            written = packer.finish();
        }
    }
    std::vector<std::uint8_t> bytes;
    std::rewind(file);
    for (int c = std::fgetc(file); written && c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    std::fclose(file);
    return bytes;
}

void decode_encoded_music(benchmark::State& state) {
    const std::int32_t samples = 60 * 22050;
    const std::vector<std::uint8_t> stream = encoded_music(samples);
    acm_test::TempFile file(
        acm_test::acm_file_bytes(static_cast<std::uint32_t>(samples), 7, 16, stream));
    std::vector<std::int16_t> buffer(65536);
    for (auto _ : state) {
        if (stream.empty() || !read_to_end(file.name(), samples, buffer)) {
            state.SkipWithError("cannot encode or read the music");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * samples);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}

BENCHMARK(decode_encoded_music)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellox
