#pragma once
// BlockPacker: picks one quantizer step per block, quantizes the block, and writes its head
// and every column through the column coder and its BitWriter.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "acm/hq_quantizer.h"
#include "acm/step_search.h"
#include "vellox/vellox.h"  // vellox_status

namespace vellox {

class BitWriter;
class ByteSink;

class BlockPacker {
public:
    // sink: borrowed; the stream goes on behind what it took so far (the header). bit_budget:
    // bits allowed per block, -1 for no limit. Stores the values; allocates nothing.
    BlockPacker(ByteSink& sink, std::int32_t columns, std::int32_t rows, std::int32_t bit_budget);
    ~BlockPacker();  // frees; the bits not finished are lost

    BlockPacker(const BlockPacker&) = delete;
    BlockPacker& operator=(const BlockPacker&) = delete;

    // High-quality mode ("-hq"), to be set before init; without a bit budget it changes
    // nothing. Values are rounded instead of truncated, and the steps are chosen over a
    // look-ahead of at most lookahead_bytes, so pack_block may hold blocks back until finish.
    void set_high_quality(bool enabled,
                          std::int64_t lookahead_bytes = HqQuantizer::default_lookahead_bytes);

    // Allocates the block buffer, the bit writer and the per-column arrays: VELLOX_OK,
    // VELLOX_ERROR_MEMORY, or VELLOX_ERROR_LEVELS or VELLOX_ERROR_SUBBLOCKS for a shape of no
    // columns, or of no rows or more than 32-bit indexes reach.
    [[nodiscard]] vellox_status init();

    // Packs one block of rows * columns values, row after row. values is not changed.
    void pack_block(const std::int16_t* values);

    // High-quality mode with a bit budget, where the standard mode's coefficients differ from
    // the ones coded: the bits the standard mode writes for its block of values (for the last
    // block of the stream less the zero method codes it ends with, which its file leaves
    // out)...
    [[nodiscard]] std::int64_t standard_bits(const std::int16_t* values, bool last);
    // ...and a block packed against those bits (a standard_bits result for the same stretch
    // of input), in place of what the standard mode would write for these values.
    void pack_block(const std::int16_t* values, std::int64_t standard_bits);

    // Codes the blocks still held back (high-quality mode), then ends the bit stream:
    // VELLOX_OK, VELLOX_ERROR_WRITE when any write to the sink failed, VELLOX_ERROR_STATE
    // without a successful init.
    [[nodiscard]] vellox_status finish();

    // Bytes of the stream handed to the sink so far (see BitWriter::bytes_written).
    std::int64_t bytes_written() const;

    // Bits of the stream so far, the held-back zero bytes included.
    std::int64_t bits_written() const;

    // VELLOX_ERROR_WRITE after a write the sink did not take whole (nothing is written after
    // it), VELLOX_OK before.
    vellox_status status() const;

private:
    std::int32_t choose_step();
    std::int32_t quantize_block(std::int32_t step);
    void put_block_head(std::int32_t range_bits, std::int32_t step);
    void put_hq_block();

    ByteSink& sink;  // borrowed
    std::int32_t columns;
    std::int32_t rows;
    std::int32_t block_size;  // rows * columns; 0 when the product does not fit
    std::int32_t bit_budget;  // bits per block; -1: no limit
    std::unique_ptr<BitWriter> writer;
    // The current block, row after row, then two rows of zeros that the column coders read
    // past the last row. Holds the coded integers after quantization.
    std::unique_ptr<std::int16_t[]> block;
    // Per column: the largest magnitude (0 .. 32768), then of the coded integers.
    std::unique_ptr<std::int32_t[]> max_magnitude;
    // Per column: the largest positive value, 0 when there is none; then of the coded integers.
    std::unique_ptr<std::int16_t[]> max_positive;
    // Per column: the most negative value, 0 when there is none.
    std::unique_ptr<std::int16_t[]> min_negative;
    // The budget search's columns: those that hold a value other than 0, in column order.
    std::unique_ptr<ColumnMaxima[]> search_columns;  // columns entries
    std::int32_t search_count = 0;                   // entries in use
    std::int32_t gcd_step = 1;  // the current block's exact step, as choose_step found it

    // High-quality mode: the setting, then the quantizer (null in the standard mode).
    bool high_quality = false;
    std::int64_t hq_lookahead_bytes = HqQuantizer::default_lookahead_bytes;
    std::unique_ptr<HqQuantizer> hq;
    std::unique_ptr<ColumnMethod[]> hq_methods;  // columns: each column's method, from hq
};

}  // namespace vellox
