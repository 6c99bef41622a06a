#pragma once
// SynthesisInverse: the exact inverse of the reader's subband synthesis. It turns 16-bit
// samples into the coefficients that the synthesis maps back onto them, in double precision
// and then rounded; one stream, fed in chunks of any size, with memory bounded by the levels.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "vellox/vellox.h"  // vellox_status

namespace vellox {

struct InverseLevel;  // one stage of the inverse; synthesis_inverse.cpp

class SynthesisInverse {
public:
    // Pairs of a stage's rows that the backward factor looks ahead: its terms fall by 0.172
    // a pair, so the ones left out sum to less than 2^-60 of the largest.
    static constexpr std::int32_t lookahead_pairs = 24;

    // levels: 0 .. 15. Stores it; allocates nothing.
    explicit SynthesisInverse(std::int32_t levels);
    ~SynthesisInverse();

    SynthesisInverse(const SynthesisInverse&) = delete;
    SynthesisInverse& operator=(const SynthesisInverse&) = delete;

    // Allocates every stage's window: VELLOX_OK, VELLOX_ERROR_LEVELS for levels outside
    // 0 .. 15, or VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status init();

    // Input values after which every coefficient before them has come out: after n + delay()
    // values at least n coefficients. 0 when levels is 0.
    std::int64_t delay() const { return total_delay; }

    // After n input values, at most n - least_delay() coefficients have come out.
    std::int64_t least_delay() const { return least; }

    // The most coefficients one call may write beyond its count of samples.
    std::int32_t burst() const { return std::int32_t{2} << levels; }

    // Takes count samples and writes the coefficients they complete to destination (room for
    // count + burst() values); returns how many. Coefficients come out in stream order, those
    // past the 32-bit range saturated. State carries over from call to call, so the
    // coefficients do not depend on how the samples are cut into calls.
    std::int32_t process(const std::int16_t* source, std::int32_t count, std::int32_t* destination);

private:
    template <typename Value>
    void take(std::int32_t level, const Value* values, std::int64_t count);
    void backward_segment(InverseLevel& level, std::int64_t first);
    void hand_on(std::int32_t level, std::int64_t from, std::int64_t to);

    std::int32_t levels;
    std::int64_t total_delay = 0;
    std::int64_t least = 0;
    double scale;  // 2^levels: the synthesis's values are the samples at that scale
    double root;   // 2 sqrt(2) - 3, the root of 1 + 6z^-1 + z^-2 inside the unit circle
    std::unique_ptr<InverseLevel[]> level_table;  // levels records, the time-domain stage first
    std::unique_ptr<double[]> storage;            // every stage's window and state, one block
    // The backward factor's running values, and the values of the row pair above the one it
    // writes: 2^levels each at most, in storage.
    double* backward = nullptr;
    double* newer = nullptr;
    std::int32_t* out = nullptr;  // where process writes the next coefficient (borrowed)
    std::int32_t written = 0;     // coefficients process wrote so far in this call
};

}  // namespace vellox
