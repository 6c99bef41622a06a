// BlockPacker::pack_block at the default shape (128 columns, 16 rows) on coefficient-like
// blocks, with and without a bit budget. Items are coefficient values.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "acm/block_packer.h"
#include "acm/byte_stream.h"

namespace vellox {
namespace {

constexpr std::int32_t columns = 128;
constexpr std::int32_t rows = 16;
constexpr std::int32_t block_size = columns * rows;
constexpr int block_count = 64;              // distinct blocks, packed in turn
constexpr std::int32_t half_budget = 16384;  // -q 50 on 16-bit input: 16 * 2048 * 0.5

std::int16_t clip(double v) {
    return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

// Loud noise-like sound: every sub-band busy, falling off towards the high columns.
std::vector<std::int16_t> noise_blocks() {
    std::mt19937 random(1);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<std::int16_t> values(static_cast<std::size_t>(block_size) * block_count);
    for (std::size_t e = 0; e < values.size(); ++e) {
        const auto column = static_cast<double>(e % columns);
        values[e] = clip(normal(random) * 6000.0 / (1.0 + column / 16.0));
    }
    return values;
}

// Quiet sound with silence: half the blocks all zero, the others small values in the low
// columns only.
std::vector<std::int16_t> quiet_blocks() {
    std::mt19937 random(2);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<std::int16_t> values(static_cast<std::size_t>(block_size) * block_count, 0);
    for (int b = 1; b < block_count; b += 2) {
        for (std::int32_t e = 0; e < block_size; ++e) {
            const std::int32_t column = e % columns;
            if (column < 40) {
                values[static_cast<std::size_t>(b * block_size + e)] =
                    clip(normal(random) * 3.0 / (1.0 + column / 8.0));
            }
        }
    }
    return values;
}

// Takes every byte and keeps none.
class DiscardSink final : public ByteSink {
public:
    std::size_t write(const std::uint8_t* /*bytes*/, std::size_t size) override { return size; }
};

void pack_blocks(benchmark::State& state, const std::vector<std::int16_t>& values,
                 std::int32_t bit_budget) {
    DiscardSink sink;
    {
        BlockPacker packer(sink, columns, rows, bit_budget);
        if (packer.init() != VELLOX_OK) {
            state.SkipWithError("init failed");
        } else {
            int b = 0;
            for (auto _ : state) {
                packer.pack_block(values.data() + static_cast<std::size_t>(b) * block_size);
                b = (b + 1) % block_count;
            }
            if (packer.finish() != VELLOX_OK) state.SkipWithError("write failed");
            state.SetItemsProcessed(state.iterations() * block_size);
            state.counters["bytes_per_block"] = benchmark::Counter(
                static_cast<double>(packer.bytes_written()) /
                static_cast<double>(std::max<std::int64_t>(state.iterations(), 1)));
        }
    }
}

void BM_PackNoise(benchmark::State& state) { pack_blocks(state, noise_blocks(), -1); }
void BM_PackNoiseBudget(benchmark::State& state) {
    pack_blocks(state, noise_blocks(), half_budget);
}
void BM_PackQuiet(benchmark::State& state) { pack_blocks(state, quiet_blocks(), -1); }
void BM_PackQuietBudget(benchmark::State& state) {
    pack_blocks(state, quiet_blocks(), half_budget);
}

BENCHMARK(BM_PackNoise);
BENCHMARK(BM_PackNoiseBudget);
BENCHMARK(BM_PackQuiet);
BENCHMARK(BM_PackQuietBudget);

}  // namespace
}  // namespace vellox
