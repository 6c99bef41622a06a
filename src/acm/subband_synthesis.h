#pragma once
// SubbandSynthesis: the inverse multi-level transform of the reader, which turns a decoded
// block back into samples in time order and carries its state from block to block.

#include <cstdint>  // std::int16_t, std::int32_t
#include <memory>   // std::unique_ptr
#include <utility>  // std::pair

#include "acm/synthesis_kernel.h"
#include "vellox/vellox.h"  // vellox_status

namespace vellox {

class SubbandSynthesis {
public:
    // levels: 0 .. 15. Stores it; allocates nothing.
    explicit SubbandSynthesis(std::int32_t levels);
    ~SubbandSynthesis();

    SubbandSynthesis(const SubbandSynthesis&) = delete;
    SubbandSynthesis& operator=(const SubbandSynthesis&) = delete;

    // Allocates the zeroed state carried from block to block (nothing when levels is 0):
    // VELLOX_OK or VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status allocate_state();

    // Turns a block of rows * columns values, as the unpacker filled it (row after row), in
    // place into rows * columns samples in time order, scaled up by 2^levels. Sums wrap in
    // 32-bit two's complement.
    void inverse_transform(std::int32_t* block, std::int32_t rows);

    // Stores count transformed values as samples: each shifted right by levels with sign and
    // saturated to 16 bits.
    void to_samples(const std::int32_t* values, std::int32_t count, std::int16_t* samples) const {
        kernels->to_samples(values, count, levels, samples);
    }

    // The instruction set of the inner loops: the fastest available unless set. Every path
    // gives the same values. False, changing nothing, for a path this processor cannot run.
    [[nodiscard]] bool set_synthesis_path(KernelPath path);
    KernelPath synthesis_path() const { return path; }

    // The pair (a, b) that stage (1 .. levels) carries for its column (0 .. (columns >> stage)
    // - 1) into the next block.
    std::pair<std::int32_t, std::int32_t> carried_pair(int stage, std::int32_t column) const;

private:
    std::int32_t levels;   // number of stages
    std::int32_t columns;  // 1 << levels

    // Stage s (d = columns >> s columns) keeps a for its d columns, then b for them; the
    // stages follow each other from stage 1: 2 * columns - 2 values in all. The values of
    // stage 1 are decoded coefficients and fit in 16 bits; they are held as 32-bit values.
    std::unique_ptr<std::int32_t[]> carried_state;

    KernelPath path;
    const SynthesisKernels* kernels;  // those of path
};

}  // namespace vellox
