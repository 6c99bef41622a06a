// Throughput of the analysis filter bank: samples per second through the whole tree, fed in
// the driver's chunks of 65,536 samples.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "analysis/analysis_filter_bank.h"

namespace vellox {
namespace {

constexpr std::int32_t chunk = 65536;

std::vector<std::int16_t> noise(std::size_t count) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::vector<std::int16_t> samples(count);
    for (std::int16_t& s : samples) s = static_cast<std::int16_t>(full(random));
    return samples;
}

// Arguments: levels, filter_length, 1 for the "-fo" design instead of "-fd", and the path
// (0 portable, 1 AVX2, 2 AVX-512, 3 the fastest available).
void BM_AnalysisFilterBank(benchmark::State& state) {
    const auto levels = static_cast<std::int32_t>(state.range(0));
    const auto filter_length = static_cast<std::int32_t>(state.range(1));
    std::unique_ptr<AnalysisFilterBank> bank;
    if (state.range(2) == 1) {
        bank = std::make_unique<FoFilterBank>(levels, filter_length);
    } else {
        bank = std::make_unique<FdFilterBank>(levels, filter_length);
    }
    if (state.range(3) < 3 && !bank->set_filter_path(static_cast<KernelPath>(state.range(3)))) {
        state.SkipWithError("path not available");
        return;
    }
    if (bank->init() != VELLOX_OK) {
        state.SkipWithError("init failed");
        return;
    }
    const std::vector<std::int16_t> samples = noise(chunk);
    std::vector<std::int32_t> out(chunk);
    // Past the warm-up, so every level filters every value.
    for (std::int64_t fed = 0; fed < bank->delay() + chunk; fed += chunk) {
        bank->process(samples.data(), chunk, out.data());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(bank->process(samples.data(), chunk, out.data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * chunk);
}
BENCHMARK(BM_AnalysisFilterBank)
    ->Args({7, 11, 0, 3})
    ->Args({7, 11, 0, 2})
    ->Args({7, 11, 0, 1})
    ->Args({7, 11, 0, 0})
    ->Args({1, 11, 0, 3})
    ->Args({3, 11, 0, 3})
    ->Args({10, 11, 0, 3})
    ->Args({15, 11, 0, 3})
    ->Args({7, 11, 1, 3})
    ->Args({7, 3, 0, 3})
    ->Unit(benchmark::kMillisecond);

// Silence: whole tiles whose outputs reach back only to zero values are not filtered.
void BM_AnalysisFilterBankSilence(benchmark::State& state) {
    FdFilterBank bank(7, 11);
    if (bank.init() != VELLOX_OK) {
        state.SkipWithError("init failed");
        return;
    }
    const std::vector<std::int16_t> samples(chunk, 0);
    std::vector<std::int32_t> out(chunk);
    for (auto _ : state) {
        benchmark::DoNotOptimize(bank.process(samples.data(), chunk, out.data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * chunk);
}
BENCHMARK(BM_AnalysisFilterBankSilence)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellox
