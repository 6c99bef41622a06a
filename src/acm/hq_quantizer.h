#pragma once
// HqQuantizer: the block packer's high-quality mode ("-hq"). It rounds every value to the
// nearest multiple of its block's step, and spreads the bits over a bounded look-ahead of
// blocks so that the blocks get about the same step while the stream as a whole gets the
// bits the standard mode would have written.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint32_t
#include <memory>   // std::unique_ptr

#include "acm/acm_format.h"  // ColumnMethod

namespace vellox {

// The head of a block as the quantizer chose it.
struct HqBlockHead {
    std::int32_t range_bits = 0;  // 0 .. 15: every coded integer lies in -2^r .. 2^r - 1
    std::int32_t step = 1;        // 1 .. 32769
    std::int64_t bits = 0;        // bits the packer writes for the block, head included
};

// What the column coder's method decision looks at in one column of coded integers.
struct HqColumnCounts {
    std::int32_t max_magnitude = 0;  // 0 .. 32768
    std::int32_t max_positive = 0;   // 0 when there is no positive value
    std::int32_t zeros = 0;          // rows holding 0
    std::int32_t ones = 0;           // rows holding 1 or -1
    std::int32_t pairs = 0;          // zero_pair symbols a pair method writes
    std::int32_t single_zeros = 0;   // zeros a pair method writes alone, 2 bits each
};

// Bits the column coder writes for a column of rows coded integers with these counts, its
// method code included, by the coder's own choice of method (the standard mode's).
std::int64_t hq_column_bits(const HqColumnCounts& counts, std::int32_t rows);

// A column's method and its bits, the method code included.
struct HqColumnChoice {
    ColumnMethod method = ColumnMethod::zero;  // for a linear column its width, 3 .. 16
    std::int64_t bits = 0;
};

// The method that writes a column with these counts in the fewest bits, of those whose range
// holds its coded integers.
HqColumnChoice hq_cheapest_column(const HqColumnCounts& counts, std::int32_t rows);

class HqQuantizer {
public:
    // The look-ahead's default bound: 4 MiB holds about 95 s of 22,050 Hz mono at the default
    // block shape.
    static constexpr std::int64_t default_lookahead_bytes = std::int64_t{4} << 20;

    // columns * rows values per block; lookahead_bytes bounds the memory of the blocks held
    // back. Stores the values; allocates nothing.
    HqQuantizer(std::int32_t columns, std::int32_t rows, std::int64_t lookahead_bytes);
    virtual ~HqQuantizer();

    HqQuantizer(const HqQuantizer&) = delete;
    HqQuantizer& operator=(const HqQuantizer&) = delete;

    // Allocates the look-ahead and the per-column counts. When not even two blocks fit in the
    // look-ahead's bound, it holds none: every block is then coded as soon as it comes.
    [[nodiscard]] bool init();

    // Takes the next block, row after row, with the step the standard mode gives it and the
    // greatest common divisor of its magnitudes (1 for a block of zeros). The block is copied
    // into the look-ahead; without a look-ahead values is borrowed until the block's pop,
    // which then writes the coded integers into it.
    void push(const std::int16_t* values, std::int32_t standard_step, std::int32_t gcd_step);

    // As push, but the standard mode's bits for the block are given: those it writes for the
    // coefficients it computes itself for the same stretch of input (see standard_bits).
    void push_with_target(const std::int16_t* values, std::int64_t target, std::int32_t gcd_step);

    // The bits the standard mode writes for a block of values at its step standard_step, the
    // head included. Between pushes only.
    std::int64_t standard_bits(const std::int16_t* values, std::int32_t standard_step);

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
    static constexpr int grid_size = 31;

private:
    template <typename Quantize, bool store, bool standard>
    std::int64_t tally(const std::int16_t* values, const Quantize& quantize, std::int16_t* coded);
    void estimate_block(std::int64_t* estimate, std::int32_t gcd) const;
    std::int32_t choose_step(std::int32_t gcd, double* estimate_at_step) const;
    std::int64_t code_at(const std::int16_t* values, std::int32_t step, std::int16_t* coded,
                         bool store);
    std::int32_t fit_step(const std::int16_t* values, std::int32_t start, std::int32_t gcd,
                          std::int64_t allowed);
    HqColumnCounts counts_of(std::int32_t column) const;  // of the last tally
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

    // Per column, the counts of the last tally (see HqColumnCounts), the length of the
    // current run of zeros, and the largest value and the largest negated value (at least 0).
    std::unique_ptr<std::int32_t[]> column_magnitude;
    std::unique_ptr<std::int32_t[]> column_positive;
    std::unique_ptr<std::int32_t[]> column_zeros;
    std::unique_ptr<std::int32_t[]> column_ones;
    std::unique_ptr<std::int32_t[]> column_pairs;
    std::unique_ptr<std::int32_t[]> column_singles;
    std::unique_ptr<std::int32_t[]> column_run;
    std::unique_ptr<std::int32_t[]> column_top;
    std::unique_ptr<std::int32_t[]> column_bottom;

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
