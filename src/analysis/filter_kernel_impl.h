#pragma once
// The bank's inner loop, written once over a few vector operations (the Ops of each path) and
// compiled by each path's source file with that path's instruction set. Only those files
// include it; everything here has internal linkage, so no copy built for one instruction set
// can stand in for another.

#include <cstdint>  // std::int32_t, std::int64_t

#include "analysis/filter_kernel.h"
#include "common/numeric.h"

// The products and sums must be rounded one by one: never fused into multiply-adds.
#if defined(__clang__)
#pragma clang fp contract(off)
#endif

namespace vellox {
namespace {

// Vectors of outputs computed side by side: enough independent sums to hide the latency of
// the additions, few enough to stay in registers.
constexpr int group_vectors = 8;

// Computes job's outputs in groups of Ops::width * group_vectors. lane_shift is the level's
// shift, capped where the rows stop changing within a group: below log2(Ops::width) the rows
// change inside a vector and every vector takes the same lane pattern of taps; below the
// group's log2 every vector lies in one row whose parity its place in the group gives;
// beyond, the whole group lies in one row. Every lane adds its terms oldest first.
template <class Ops, int lane_shift, bool to_values, bool checked>
void filter_run(const BlockJob& job) {
    using Vec = typename Ops::Vec;
    constexpr int width = Ops::width;
    constexpr int group = width * group_vectors;
    static_assert(block_outputs % group == 0, "runs must hold whole groups");
    const std::int64_t stride = std::int64_t{1} << job.shift;
    const std::int32_t taps = job.tap_count;
    const double* const even = job.even_taps;
    const double* const odd = job.odd_taps;
    for (std::int64_t b = 0; b < job.count; b += group) {
        Vec sum[group_vectors];
        for (Vec& s : sum) s = Ops::zero();
        const double* value = job.newest + b - (taps - 1) * stride;  // the oldest term
        if constexpr ((1 << lane_shift) < width) {
            constexpr int period = 2 << lane_shift;
            const double* pattern = job.period_taps[lane_shift];
            for (std::int32_t j = taps - 1; j >= 0; --j, value += stride) {
                const Vec tap = Ops::template load_period<period>(pattern + j * period);
#pragma GCC unroll 8
                for (int v = 0; v < group_vectors; ++v) {
                    sum[v] = Ops::add(sum[v], Ops::mul(tap, Ops::load(value + v * width)));
                }
            }
        } else if constexpr ((1 << lane_shift) < group) {
            for (std::int32_t j = taps - 1; j >= 0; --j, value += stride) {
                const Vec even_tap = Ops::broadcast(even + j);
                const Vec odd_tap = Ops::broadcast(odd + j);
#pragma GCC unroll 8
                for (int v = 0; v < group_vectors; ++v) {
                    const Vec& tap = (((v * width) >> lane_shift) & 1) != 0 ? odd_tap : even_tap;
                    sum[v] = Ops::add(sum[v], Ops::mul(tap, Ops::load(value + v * width)));
                }
            }
        } else {
            const double* row = (((job.begin + b) >> job.shift) & 1) != 0 ? odd : even;
            for (std::int32_t j = taps - 1; j >= 0; --j, value += stride) {
                const Vec tap = Ops::broadcast(row + j);
#pragma GCC unroll 8
                for (int v = 0; v < group_vectors; ++v) {
                    sum[v] = Ops::add(sum[v], Ops::mul(tap, Ops::load(value + v * width)));
                }
            }
        }
        if (!checked || Ops::all_in_range(sum)) {
            for (int v = 0; v < group_vectors; ++v) {
                if constexpr (to_values) {
                    Ops::store_whole(sum[v], job.values + b + v * width);
                } else {
                    Ops::store_coefficients(sum[v], job.coefficients + b + v * width);
                }
            }
        } else {
            // Sums beyond the 32-bit range (only from huge "-fc" taps) saturate one by one.
            double spilled[group];
            for (int v = 0; v < group_vectors; ++v) Ops::store(sum[v], spilled + v * width);
            for (int k = 0; k < group; ++k) {
                const std::int32_t c = truncate_to_int32(spilled[k]);
                if constexpr (to_values) {
                    job.values[b + k] = c;
                } else {
                    job.coefficients[b + k] = c;
                }
            }
        }
    }
}

template <class Ops, int lane_shift>
void filter_run_to(const BlockJob& job) {
    if (job.values != nullptr) {
        if (job.in_range) {
            filter_run<Ops, lane_shift, true, false>(job);
        } else {
            filter_run<Ops, lane_shift, true, true>(job);
        }
    } else if (job.in_range) {
        filter_run<Ops, lane_shift, false, false>(job);
    } else {
        filter_run<Ops, lane_shift, false, true>(job);
    }
}

constexpr int log2_of(int n) { return n <= 1 ? 0 : 1 + log2_of(n / 2); }

// The run for job's level, its shift capped at the group's log2.
template <class Ops>
void filter_blocks_with(const BlockJob& job) {
    constexpr int cap = log2_of(Ops::width * group_vectors);
    static_assert(cap <= 6, "a group wider than a run");
    switch (job.shift < cap ? job.shift : cap) {
        case 0:
            filter_run_to<Ops, 0>(job);
            break;
        case 1:
            filter_run_to<Ops, 1 < cap ? 1 : cap>(job);
            break;
        case 2:
            filter_run_to<Ops, 2 < cap ? 2 : cap>(job);
            break;
        case 3:
            filter_run_to<Ops, 3 < cap ? 3 : cap>(job);
            break;
        case 4:
            filter_run_to<Ops, 4 < cap ? 4 : cap>(job);
            break;
        case 5:
            filter_run_to<Ops, 5 < cap ? 5 : cap>(job);
            break;
        default:
            filter_run_to<Ops, cap>(job);
            break;
    }
}

}  // namespace
}  // namespace vellox
