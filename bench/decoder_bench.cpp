// Decoding speed of the ACM source: a generated file (levels 7, subblocks 16, seeded random
// columns of every method) read to the end in chunks of 65,536 samples, as the driver reads.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "../tests/sources/acm_stream_builder.h"
#include "sources/acm_source.h"

namespace vellox {
namespace {

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
        AcmSource source(file.name());
        if (!source.open(false)) {
            state.SkipWithError("cannot open the generated file");
            break;
        }
        std::int64_t delivered = 0;
        for (;;) {
            const std::int32_t got = source.read(buffer.data(), 65536);
            delivered += got;
            if (got < 65536) break;
        }
        benchmark::DoNotOptimize(buffer.data());
        if (delivered != samples) state.SkipWithError("wrong sample count");
    }
    state.SetItemsProcessed(state.iterations() * samples);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.bytes().size()));
}

BENCHMARK(decode_acm_file)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellox
