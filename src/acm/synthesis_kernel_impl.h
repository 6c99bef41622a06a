#pragma once
// The vector synthesis stage, written once over a few vector operations (the Ops of each path)
// and compiled by each path's source file with that path's instruction set. Only those files
// include it; everything here has internal linkage, so no copy built for one instruction set
// can stand in for another.

#include <cstddef>  // std::ptrdiff_t
#include <cstdint>  // std::int32_t

#include "acm/synthesis_kernel.h"

namespace vellox {
namespace {

// Ops gives Vec (Ops::width 32-bit lanes, arithmetic wrapping), load, store, add, sub,
// bit_xor and shift_in<s>(prev, cur): the lanes of cur moved up by s places, the last s lanes
// of prev in the first s places.
template <class Ops>
struct VectorSynthesis {
    using Vec = typename Ops::Vec;
    static constexpr int width = Ops::width;

    // Views at least a vector wide: width columns at a time, top to bottom, the pairs in
    // registers.
    static void strips(std::int32_t* block, std::int32_t d, std::int32_t n, std::int32_t* state,
                       std::int32_t increment) {
        alignas(64) std::int32_t lanes[width] = {};
        lanes[0] = increment;
        const Vec first_column = Ops::load(lanes);
        lanes[0] = 0;
        const Vec none = Ops::load(lanes);
        const std::ptrdiff_t pair_stride = 2 * static_cast<std::ptrdiff_t>(d);
        const std::int32_t pairs = n / 2;
        for (std::int32_t i = 0; i < d; i += width) {
            Vec a = Ops::load(state + i);
            Vec b = Ops::load(state + d + i);
            const Vec inc = i == 0 ? first_column : none;
            std::int32_t* x_at = block + i;  // row 2k, columns i .. i + width - 1
            for (std::int32_t k = 0; k < pairs; ++k, x_at += pair_stride) {
                const Vec x = Ops::load(x_at);
                const Vec y = Ops::load(x_at + d);
                Ops::store(x_at, Ops::add(Ops::add(x, a), Ops::add(Ops::add(b, b), inc)));
                Ops::store(x_at + d, Ops::add(Ops::sub(Ops::sub(Ops::add(x, x), y), b), inc));
                a = x;
                b = y;
            }
            Ops::store(state + i, a);
            Ops::store(state + d + i, b);
        }
    }

    // The outputs of the vector cur from the inputs v at and before it (prev, the vector
    // before): 2 v[p - d] + (v[p] + v[p - 2d]), negated in the y rows, where sign is -1.
    template <int d>
    static Vec stencil(Vec prev, Vec cur, Vec sign, Vec inc) {
        const Vec near = Ops::template shift_in<d>(prev, cur);
        const Vec far = Ops::template shift_in<2 * d>(prev, cur);
        const Vec sum = Ops::sub(Ops::bit_xor(Ops::add(cur, far), sign), sign);
        return Ops::add(Ops::add(sum, Ops::add(near, near)), inc);
    }

    // Views narrower than a vector, worked in memory order as a stencil. Every vector starts
    // on a pair of rows, since width is a multiple of 2d.
    template <int d>
    static void narrow(std::int32_t* block, std::int32_t n, std::int32_t* state,
                       std::int32_t increment) {
        static_assert(2 * d <= width, "a pair of rows fits a vector");
        const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(n) * d;  // at least 2d
        alignas(64) std::int32_t lanes[width] = {};
        // The carried pairs are the 2d values before the first.
        for (int j = 0; j < 2 * d; ++j) lanes[width - 2 * d + j] = state[j];
        Vec prev = Ops::load(lanes);
        for (int j = 0; j < 2 * d; ++j) state[j] = block[count - 2 * d + j];
        for (int j = 0; j < width; ++j) lanes[j] = (j / d) % 2 == 0 ? 0 : -1;
        const Vec sign = Ops::load(lanes);
        for (int j = 0; j < width; ++j) lanes[j] = j % d == 0 ? increment : 0;
        const Vec inc = Ops::load(lanes);
        std::ptrdiff_t p = 0;
        for (; p + width <= count; p += width) {
            const Vec cur = Ops::load(block + p);
            Ops::store(block + p, stencil<d>(prev, cur, sign, inc));
            prev = cur;
        }
        if (p < count) {
            // Fewer values than a vector are left; the zeros behind them reach no output of
            // theirs.
            const auto rest = static_cast<int>(count - p);
            for (int j = 0; j < width; ++j) lanes[j] = j < rest ? block[p + j] : 0;
            Ops::store(lanes, stencil<d>(prev, Ops::load(lanes), sign, inc));
            for (int j = 0; j < rest; ++j) block[p + j] = lanes[j];
        }
    }

    static void stage(std::int32_t* block, std::int32_t d, std::int32_t n, std::int32_t* state,
                      std::int32_t increment) {
        if (d >= width) {
            strips(block, d, n, state, increment);
        } else if (d == 1) {
            narrow<1>(block, n, state, increment);
        } else if (d == 2) {
            narrow<2>(block, n, state, increment);
        } else if (d == 4) {
            narrow<4>(block, n, state, increment);
        } else if constexpr (width >= 16) {
            narrow<width / 2>(block, n, state, increment);
        }
    }
};

}  // namespace
}  // namespace vellox
