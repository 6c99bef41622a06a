// Reading speed of the raw and WAV sources: samples per second through read in the driver's
// chunks of 65,536, for each stored sample format, from a file in the page cache.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sources/source_detection.h"

namespace vellox {
namespace {

constexpr std::int64_t bench_samples = 1 << 22;
constexpr std::int32_t chunk_samples = 65536;

std::string le(std::uint64_t value, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// A WAV file of bench_samples samples of tag and bits, with pseudo-random sample bytes.
std::string make_wav(int tag, int bits) {
    const std::string path = "/tmp/vellox_bench_" + std::to_string(getpid()) + "_" +
                             std::to_string(tag) + "_" + std::to_string(bits) + ".wav";
    const std::uint64_t data_size =
        static_cast<std::uint64_t>(bench_samples) * static_cast<std::uint64_t>(bits / 8);
    const std::string fmt = le(static_cast<std::uint64_t>(tag), 2) + le(1, 2) + le(44100, 4) +
                            le(44100u * static_cast<unsigned>(bits / 8), 4) +
                            le(static_cast<unsigned>(bits / 8), 2) +
                            le(static_cast<unsigned>(bits), 2);
    std::string bytes = "RIFF" + le(36 + data_size, 4) + "WAVE" + "fmt " + le(16, 4) + fmt +
                        "data" + le(data_size, 4);
    std::uint32_t seed = 1;
    for (std::uint64_t i = 0; i < data_size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        // Floats stay within +-1 so that the conversion takes its common path.
        const bool float_top = tag == 3 && (i % static_cast<std::uint64_t>(bits / 8)) ==
                                               static_cast<std::uint64_t>(bits / 8 - 1);
        bytes += static_cast<char>(float_top ? 0x3E : seed >> 24);
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    return path;
}

void read_wav(benchmark::State& state, int tag, int bits) {
    const std::string path = make_wav(tag, bits);
    std::vector<std::int16_t> buffer(chunk_samples);
    for (auto _ : state) {
        std::unique_ptr<SoundSource> source =
            open_sound_source(path.c_str(), SoundType::wav).source;
        if (source == nullptr) {
            state.SkipWithError("cannot open the bench file");
            break;
        }
        while (source->read(buffer.data(), chunk_samples) > 0) {
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * bench_samples);
    std::remove(path.c_str());
}

BENCHMARK_CAPTURE(read_wav, pcm8, 1, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_wav, pcm16, 1, 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_wav, pcm24, 1, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_wav, pcm32, 1, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_wav, float32, 3, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_wav, float64, 3, 64)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellox
