#pragma once
// HqQuantizer: the block packer's high-quality mode ("-hq"). It rounds every value to the
// nearest multiple of its block's step, and spreads the bits over a bounded look-ahead of
// blocks so that the blocks get about the same step while the stream as a whole gets the
// bits the standard mode would have written.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint32_t
#include <memory>   // std::unique_ptr

#include "acm/acm_format.h"  // ColumnMethod
#include "acm/hq_tally.h"

namespace vellox {

// The head of a block as the quantizer chose it.
struct HqBlockHead {
    std::int32_t range_bits = 0;  // 0 .. 15: every coded integer lies in -2^r .. 2^r - 1
    std::int32_t step = 1;        // 1 .. 32769
    std::int64_t bits = 0;        // bits the packer writes for the block, head included
};

class HqQuantizer {
public:
    // The look-ahead's default bound: 4 MiB holds about 95 s of 22,050 Hz mono at the default
    // block shape.
    static constexpr std::int64_t default_lookahead_bytes = std::int64_t{4} << 20;

    // columns * rows values per block; lookahead_bytes bounds the memory of the blocks held
    // back. Stores the values; allocates nothing.
    HqQuantizer(std::int32_t columns, std::int32_t rows, std::int64_t lookahead_bytes);
    ~HqQuantizer();

    HqQuantizer(const HqQuantizer&) = delete;
    HqQuantizer& operator=(const HqQuantizer&) = delete;

    // Allocates the look-ahead and the per-column counts: VELLOX_OK, VELLOX_ERROR_MEMORY, or
    // VELLOX_ERROR_LEVELS or VELLOX_ERROR_SUBBLOCKS for a block of no columns or no rows.
    // When not even two blocks fit in the look-ahead's bound, it holds none: every block is
    // then coded as soon as it comes.
    [[nodiscard]] vellox_status init();

    // Takes the next block, row after row, with the step the standard mode gives it and the
    // greatest common divisor of its magnitudes (1 for a block of zeros). The block is copied
    // into the look-ahead; without a look-ahead values is borrowed until the block's pop,
    // which then writes the coded integers into it.
    void push(const std::int16_t* values, std::int32_t standard_step, std::int32_t gcd_step);

    // As push, but the standard mode's bits for the block are given: those it writes for the
    // coefficients it computes itself for the same stretch of input (see standard_bits_of).
    void push_with_target(const std::int16_t* values, std::int64_t target, std::int32_t gcd_step);

    // The bits the standard mode writes for a block of values at its step standard_step, the
    // head included. Between pushes only.
    std::int64_t standard_bits_of(const std::int16_t* values, std::int32_t standard_step);

    // No block follows: every held block may be popped.
    void end_input();

    // True when a block waits for pop: the look-ahead is full, or the input has ended.
    bool ready() const;

    // Quantizes the oldest held block into coded (rows * columns values, row after row; the
    // values given to push when there is no look-ahead) and chooses the method of each of its
    // columns (columns entries).
    HqBlockHead pop(std::int16_t* coded, ColumnMethod* methods);

    // Blocks held at most, the current one included: 1 without a look-ahead.
    std::int32_t lookahead_blocks() const { return capacity; }

    // Bits the standard mode would have written for the blocks popped so far, and the bits
    // written for them here.
    std::int64_t standard_bits() const { return target_so_far; }
    std::int64_t coded_bits() const { return coded_so_far; }

    // Steps of the grid on which the size of a block is estimated.
    static constexpr int grid_size = hq_grid_size;

private:
    std::int32_t choose_step(std::int32_t gcd, double* estimate_at_step) const;
    std::int64_t code_at(const std::int16_t* values, std::int32_t step, std::int16_t* coded,
                         bool store);
    std::int32_t fit_step(const std::int16_t* values, std::int32_t start, std::int32_t gcd,
                          std::int64_t allowed);
    const std::int16_t* hold(const std::int16_t* values);
    void finish_push(std::int64_t target, std::int32_t gcd_step);
    // The bits of a block of zeros: the head and a method code per column.
    std::int64_t least_bits() const;

    std::int32_t columns;
    std::int32_t rows;
    std::int64_t block_size;                 // rows * columns
    std::int64_t lookahead_bytes;            // bound on the memory of the held blocks
    std::int32_t capacity = 1;               // blocks held at most
    bool direct = true;                      // no look-ahead: the pushed block is borrowed
    const std::int16_t* borrowed = nullptr;  // the pushed block in direct mode; borrowed

    // The look-ahead, a ring of capacity blocks from the oldest (first) on.
    std::unique_ptr<std::int16_t[]> held_values;    // capacity * block_size; none when direct
    std::unique_ptr<std::int64_t[]> held_estimate;  // capacity * grid_size: data bits
    std::unique_ptr<std::int64_t[]> held_target;    // capacity: the standard mode's bits
    std::unique_ptr<std::int32_t[]> held_gcd;       // capacity: the blocks' exact steps
    std::int32_t first = 0;                         // ring index of the oldest block
    std::int32_t count = 0;                         // blocks held
    bool input_ended = false;

    HqTally tally;  // the passes over a block and their counts per column

    // Sums over the held blocks.
    std::int64_t window_estimate[grid_size] = {};  // data bits
    std::int64_t window_target = 0;

    // Rate control: bits the standard mode would have written and bits written, over the
    // popped blocks; and the written and the estimated data bits (all but the head and the
    // method codes) of the last blocks, each block weighing less than the one after it.
    std::int64_t target_so_far = 0;
    std::int64_t coded_so_far = 0;
    double recent_coded = 0.0;
    double recent_estimate = 0.0;
};

}  // namespace vellox
