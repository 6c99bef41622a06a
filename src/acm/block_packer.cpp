// BlockPacker: the standard mode's quantization of a block by its step, and the order of a
// block's fields: the head, then every column through the column coder.

#include "acm/block_packer.h"

#include <algorithm>  // std::fill, std::max, std::min
#include <cassert>    // assert
#include <cstddef>    // std::size_t
#include <cstring>    // std::memcpy

#include "acm/acm_format.h"
#include "acm/bit_writer.h"
#include "acm/column_coder.h"
#include "acm/reciprocal.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

BlockPacker::BlockPacker(ByteSink& output, std::int32_t column_count, std::int32_t row_count,
                         std::int32_t budget)
    : sink(output), columns(column_count), rows(row_count), block_size(0), bit_budget(budget) {
    const std::int64_t size = std::int64_t{row_count} * column_count;
    if (size <= INT32_MAX && size >= 0) block_size = static_cast<std::int32_t>(size);
}

BlockPacker::~BlockPacker() = default;

vellox_status BlockPacker::init() {
    // The block with its two extra rows must be indexable by int32.
    if (columns < 1) return VELLOX_ERROR_LEVELS;
    const std::int64_t buffer_values = (std::int64_t{rows} + 2) * columns;
    if (rows < 1 || buffer_values > INT32_MAX) return VELLOX_ERROR_SUBBLOCKS;

    // Zero-filled, so the two extra rows start and stay 0.
    block = allocate_array<std::int16_t>(buffer_values);
    if (!block) return VELLOX_ERROR_MEMORY;
    writer = make_object<BitWriter>(sink);
    if (!writer) return VELLOX_ERROR_MEMORY;
    const vellox_status made = writer->init();
    if (made != VELLOX_OK) {
        writer.reset();
        return made;
    }
    max_magnitude = allocate_array<std::int32_t>(columns);
    max_positive = allocate_array<std::int16_t>(columns);
    min_negative = allocate_array<std::int16_t>(columns);
    search_columns = allocate_array<ColumnMaxima>(columns);
    if (!max_magnitude || !max_positive || !min_negative || !search_columns) {
        return VELLOX_ERROR_MEMORY;
    }
    // High-quality mode: only with a bit budget, since without one every block is exact.
    if (high_quality && bit_budget >= 0) {
        hq_methods = allocate_array<ColumnMethod>(columns);
        if (!hq_methods) return VELLOX_ERROR_MEMORY;
        hq = make_object<HqQuantizer>(columns, rows, hq_lookahead_bytes);
        if (!hq) return VELLOX_ERROR_MEMORY;
        return hq->init();
    }
    return VELLOX_OK;
}

void BlockPacker::set_high_quality(bool enabled, std::int64_t lookahead_bytes) {
    high_quality = enabled;
    hq_lookahead_bytes = lookahead_bytes;
}

void BlockPacker::pack_block(const std::int16_t* values) {
    assert(writer && search_columns);
    // After a failed write nothing reaches the sink any more; finish reports the failure.
    if (writer->status() != VELLOX_OK) return;
    std::memcpy(block.get(), values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    const std::int32_t step = choose_step();
    if (hq) {
        // High-quality mode: the quantizer keeps the block, or borrows the block buffer when
        // it keeps none, and hands back the blocks whose turn has come.
        hq->push(block.get(), step, gcd_step);
        while (hq->ready()) put_hq_block();
        return;
    }
    put_block_head(quantize_block(step), step);
    const std::int32_t* magnitude = max_magnitude.get();
    const std::int16_t* positive = max_positive.get();
    put_columns(
        *writer, columns, [magnitude](std::int32_t j) { return magnitude[j] == 0; },
        [&](std::int32_t j) {
            const Column column{block.get() + j, columns, rows};
            const ColumnCounts counts = count_column(column, magnitude[j], positive[j]);
            put_column(*writer, standard_column_method(counts, rows), column);
        });
}

std::int64_t BlockPacker::standard_bits(const std::int16_t* values, bool last) {
    assert(hq);
    std::memcpy(block.get(), values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    const std::int32_t step = choose_step();
    const std::int64_t bits = hq->standard_bits_of(block.get(), step);
    if (!last) return bits;
    // The method codes of the zero columns that end the stream are zero bits, which the file
    // leaves out; the block of zeros, head and method codes, is the least a block costs.
    std::int32_t zero_columns = 0;
    while (zero_columns < columns && max_magnitude.get()[columns - 1 - zero_columns] < step)
        ++zero_columns;
    const std::int64_t least = range_bits_width + step_width + std::int64_t{method_width} * columns;
    return std::max(least, bits - std::int64_t{method_width} * zero_columns);
}

void BlockPacker::pack_block(const std::int16_t* values, std::int64_t standard_bits) {
    assert(hq);
    if (writer->status() != VELLOX_OK) return;
    std::memcpy(block.get(), values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    const std::uint32_t divisor = magnitude_gcd(block.get(), block_size);
    hq->push_with_target(block.get(), standard_bits,
                         divisor == 0 ? 1 : static_cast<std::int32_t>(divisor));
    while (hq->ready()) put_hq_block();
}

void BlockPacker::put_block_head(std::int32_t range_bits, std::int32_t step) {
    assert(range_bits >= 0 && range_bits <= 15);
    assert(step >= 1 && step <= 32769);  // so the 16-bit field holds it
    writer->put_bits(static_cast<std::uint32_t>(range_bits), range_bits_width);
    writer->put_bits(static_cast<std::uint32_t>(step), step_width);
}

// High-quality mode: the next block, its coded integers and column methods as the quantizer
// chose them.
void BlockPacker::put_hq_block() {
    const ColumnMethod* methods = hq_methods.get();
    const HqBlockHead head = hq->pop(block.get(), hq_methods.get());
    [[maybe_unused]] const std::int64_t bits_before = writer->bits_written();
    put_block_head(head.range_bits, head.step);
    put_columns(
        *writer, columns, [methods](std::int32_t j) { return methods[j] == ColumnMethod::zero; },
        [&](std::int32_t j) {
            put_column(*writer, methods[j], Column{block.get() + j, columns, rows});
        });
    assert(writer->bits_written() - bits_before == head.bits);
}

vellox_status BlockPacker::finish() {
    if (!writer) return VELLOX_ERROR_STATE;
    if (hq && writer->status() == VELLOX_OK) {
        hq->end_input();
        while (hq->ready()) put_hq_block();
    }
    writer->finish_bits();
    return writer->status();
}

std::int64_t BlockPacker::bytes_written() const { return writer ? writer->bytes_written() : 0; }

std::int64_t BlockPacker::bits_written() const { return writer ? writer->bits_written() : 0; }

vellox_status BlockPacker::status() const { return writer ? writer->status() : VELLOX_OK; }

std::int32_t BlockPacker::choose_step() {
    std::int16_t* top = max_positive.get();
    std::int16_t* bottom = min_negative.get();
    std::fill(top, top + columns, std::int16_t{0});
    std::fill(bottom, bottom + columns, std::int16_t{0});
    const std::int16_t* row = block.get();
    for (std::int32_t i = 0; i < rows; ++i, row += columns) {
        for (std::int32_t j = 0; j < columns; ++j) {
            top[j] = std::max(top[j], row[j]);
            bottom[j] = std::min(bottom[j], row[j]);
        }
    }
    std::int32_t* magnitude = max_magnitude.get();
    for (std::int32_t j = 0; j < columns; ++j) {
        magnitude[j] = std::max<std::int32_t>(top[j], -std::int32_t{bottom[j]});
    }
    const std::uint32_t divisor = magnitude_gcd(block.get(), block_size);
    const auto first_step = divisor == 0 ? 1 : static_cast<std::int32_t>(divisor);
    gcd_step = first_step;

    // A budget below -1 cannot be met by any step; it is taken as no limit like -1.
    if (bit_budget < 0) return first_step;
    search_count = 0;
    for (std::int32_t j = 0; j < columns; ++j) {
        search_columns.get()[search_count] = {magnitude[j], top[j]};
        search_count += magnitude[j] != 0 ? 1 : 0;
    }
    return search_step(search_columns.get(), search_count, rows, bit_budget, first_step);
}

// Turns the block into its coded integers at step, and the column maxima into theirs; returns
// the block's range_bits.
std::int32_t BlockPacker::quantize_block(std::int32_t step) {
    assert(step >= 1 && step <= 32769);
    std::int32_t* magnitude = max_magnitude.get();
    std::int16_t* top = max_positive.get();
    const std::int16_t* bottom = min_negative.get();
    std::int32_t range_needed = 1;  // largest -k over negative k and k + 1 over the others
    if (step == 1) {
        for (std::int32_t j = 0; j < columns; ++j) {
            range_needed = std::max(range_needed, std::max(top[j] + 1, -std::int32_t{bottom[j]}));
        }
        return ceil_log2(static_cast<std::uint32_t>(range_needed));
    }
    // Division truncates toward zero, so it keeps the order of values of one sign: the column
    // maxima of the coded integers are those of the values divided by the step.
    const Reciprocal divide_by_step(step);
    const auto quotient = [&divide_by_step](std::int32_t a) {
        return static_cast<std::int32_t>(divide_by_step.divide(static_cast<std::uint32_t>(a)));
    };
    for (std::int32_t j = 0; j < columns; ++j) {
        const std::int32_t positive = quotient(top[j]);
        const std::int32_t negative = quotient(-std::int32_t{bottom[j]});
        range_needed = std::max(range_needed, std::max(positive + 1, negative));
        magnitude[j] = quotient(magnitude[j]);
        top[j] = static_cast<std::int16_t>(positive);
    }
    // The same division over the values, which the compiler turns into vector multiplications.
    std::int16_t* values = block.get();
    for (std::int32_t e = 0; e < block_size; ++e) {
        const std::int32_t v = values[e];
        const auto k = quotient(v < 0 ? -v : v);
        values[e] = static_cast<std::int16_t>(v < 0 ? -k : k);
    }
    return ceil_log2(static_cast<std::uint32_t>(range_needed));
}

}  // namespace vellox
