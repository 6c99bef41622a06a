// The encode loop: analysis, clipping, blocks, packer; and the bit budget.

#include "codec/encoder.h"

#include <algorithm>  // std::copy, std::fill, std::max, std::min
#include <cassert>    // assert

#include "acm/acm_format.h"
#include "acm/block_packer.h"
#include "acm/byte_stream.h"
#include "analysis/analysis_filter_bank.h"
#include "codec/coded_analysis.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

namespace {

// Clips count coefficients to 16 bits into out, counting the clipped ones. A first pass finds
// the extremes and a second narrows the values, both without branches per value; only a span
// that holds a value out of range goes value by value.
void clip_into_block(const std::int32_t* coefficients, std::int32_t count, std::int16_t* out,
                     ClipStatistics& clips) {
    std::int32_t lowest = 0;
    std::int32_t highest = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        lowest = std::min(lowest, coefficients[i]);
        highest = std::max(highest, coefficients[i]);
    }
    if (lowest >= -32768 && highest <= 32767) {
        for (std::int32_t i = 0; i < count; ++i)
            out[i] = static_cast<std::int16_t>(coefficients[i]);
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t value = coefficients[i];
        if (value > 32767) {
            ++clips.count;
            if (value > clips.largest) clips.largest = value;
            value = 32767;
        } else if (value < -32768) {
            ++clips.count;
            if (value < clips.smallest) clips.smallest = value;
            value = -32768;
        }
        out[i] = static_cast<std::int16_t>(value);
    }
}

}  // namespace

std::int32_t derive_bit_budget(double percents, bool sixteen_bit, std::int32_t samples,
                               std::int32_t block_size) {
    if (percents == -1.0 || samples == 0) return -1;
    const double bits = sixteen_bit ? 16.0 : 8.0;
    const std::int64_t blocks = (static_cast<std::int64_t>(samples) + block_size - 1) / block_size;
    // In this order, and a multiplication by 0.01 rather than a division by 100: the budget
    // is part of what fixes the output to the bit.
    const double value =
        bits * static_cast<double>(samples) / static_cast<double>(blocks) * percents * 0.01;
    return truncate_to_int32(value);
}

Encoder::Encoder(const EncoderSettings& encoder_settings, std::int32_t sample_count,
                 ByteSink& output)
    : settings(encoder_settings), samples(sample_count), sink(output) {}

Encoder::~Encoder() = default;

vellox_status Encoder::init() {
    vellox_status status = make_filter_bank();
    if (!settings.analysis_only) {
        if (status == VELLOX_OK) status = write_header();
        if (status == VELLOX_OK) status = make_packer();
    }
    if (status == VELLOX_OK) status = make_buffers();
    return status;
}

vellox_status Encoder::make_filter_bank() {
    assert(!analysis && failure == VELLOX_OK);
    analysis = make_object<CodedAnalysis>(settings);
    const vellox_status status = analysis ? analysis->init() : VELLOX_ERROR_MEMORY;
    // The taps were copied into the bank; nothing of the caller's is kept.
    settings.taps = nullptr;
    return failed_with(status);
}

vellox_status Encoder::write_header() {
    assert(analysis && !header_written && failure == VELLOX_OK);
    AcmHeader header;
    header.sample_count = static_cast<std::uint32_t>(samples);
    header.channels = settings.channels;
    header.sample_rate = settings.sample_rate;
    header.levels_subblocks = pack_levels_subblocks(settings.levels, settings.subblocks);
    std::uint8_t bytes[acm_header_size];
    encode_acm_header(header, bytes);
    if (sink.write(bytes, sizeof bytes) != sizeof bytes) return failed_with(VELLOX_ERROR_WRITE);
    header_written = true;
    return VELLOX_OK;
}

vellox_status Encoder::make_packer() {
    assert(header_written && !packer && failure == VELLOX_OK);
    const std::int32_t columns = std::int32_t{1} << settings.levels;
    packer = make_object<BlockPacker>(sink, columns, settings.subblocks, settings.bit_budget);
    if (!packer) return failed_with(VELLOX_ERROR_MEMORY);
    packer->set_high_quality(settings.high_quality);
    return failed_with(packer->init());
}

vellox_status Encoder::make_buffers() {
    assert((packer || settings.analysis_only) && analysis && !coefficients && failure == VELLOX_OK);
    block_size = settings.subblocks << settings.levels;
    coefficients = allocate_array<std::int32_t>(std::int64_t{chunk_size} + analysis->burst());
    block = allocate_array<std::int16_t>(block_size);
    zeros = allocate_array<std::int16_t>(chunk_size);
    if (!coefficients || !block || !zeros) return failed_with(VELLOX_ERROR_MEMORY);
    to_pack = (static_cast<std::int64_t>(samples) + block_size - 1) / block_size * block_size;
    // Past the samples the inverse's values fall by 0.172 a row of the block: 64 rows on
    // every one rounds to 0, so the inverse gives the last block up to there (or to its end)
    // and zeros stand for the rest, as in the standard mode.
    coded_end = analysis->exact()
                    ? std::min(to_pack, samples + (std::int64_t{64} << settings.levels))
                    : samples;

    referenced = analysis->exact() && packer && settings.bit_budget >= 0;
    if (referenced) {
        // How far either stream can run ahead of the other, in blocks: the coded one by the
        // difference of the bank's delay and its own least delay, the bank's by the coded
        // one's delay, and by the last block, which the bank completes with zeros at once.
        const std::int64_t bank_delay = analysis->filter_bank().delay();
        const std::int64_t coded_lead = bank_delay - analysis->least_delay();
        const std::int64_t blocks = coded_lead > 0 ? coded_lead / block_size + 1 : 0;
        const std::int64_t targets = (analysis->delay() + analysis->burst()) / block_size + 3;
        if (blocks > INT32_MAX / 2 || targets > INT32_MAX / 2) {
            return failed_with(VELLOX_ERROR_MEMORY);
        }
        block_capacity = static_cast<std::int32_t>(blocks);
        target_capacity = static_cast<std::int32_t>(targets);
        reference_coefficients = allocate_array<std::int32_t>(chunk_size);
        reference_block = allocate_array<std::int16_t>(block_size);
        waiting_blocks = allocate_array<std::int16_t>(std::int64_t{block_capacity} * block_size);
        waiting_targets = allocate_array<std::int64_t>(target_capacity);
        if (!reference_coefficients || !reference_block || !waiting_blocks || !waiting_targets)
            return failed_with(VELLOX_ERROR_MEMORY);
    }
    ready = true;
    return VELLOX_OK;
}

const AnalysisFilterBank& Encoder::filter_bank() const { return analysis->filter_bank(); }

vellox_status Encoder::packer_status() const { return packer ? packer->status() : VELLOX_OK; }

vellox_status Encoder::failed_with(vellox_status status) {
    if (failure == VELLOX_OK) failure = status;
    return status;
}

std::int64_t Encoder::delay() const {
    if (!analysis) return 0;
    if (!analysis->exact()) return analysis->delay();
    // The inverse has coefficients past the samples too, for the last block.
    std::int64_t values = analysis->delay() + (coded_end - samples);
    if (referenced) values = std::max(values, analysis->filter_bank().delay());
    return values;
}

vellox_status Encoder::feed(const std::int16_t* values, std::int64_t count) {
    if (!ready || failure != VELLOX_OK || done) return VELLOX_ERROR_STATE;
    if (count < 0 || count > samples + delay() - fed) return VELLOX_ERROR_TOO_MANY_SAMPLES;
    while (count > 0 && packer_status() == VELLOX_OK) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, chunk_size));
        encode_chunk(values, n);
        values += n;
        count -= n;
        fed += n;
    }
    return failed_with(packer_status());
}

void Encoder::encode_chunk(const std::int16_t* values, std::int32_t count) {
    const std::int32_t produced = analysis->process(values, count, coefficients.get());
    const std::int32_t* next = coefficients.get();
    if (!referenced) {
        for (std::int32_t i = 0; i < produced;) i += take_coded(next + i, produced - i);
        return;
    }
    const std::int32_t* reference = reference_coefficients.get();
    const std::int32_t reference_produced =
        analysis->filter_bank().process(values, count, reference_coefficients.get());
    // Block by block, the stream behind first, so that few blocks wait.
    std::int32_t i = 0;
    std::int32_t j = 0;
    while (i < produced || j < reference_produced) {
        const bool reference_behind = reference_taken / block_size <= coded_taken / block_size;
        if (j < reference_produced && (reference_behind || i == produced)) {
            j += take_reference(reference + j, reference_produced - j);
        } else {
            i += take_coded(next + i, produced - i);
        }
    }
}

// Takes coded coefficients into the block up to its end; returns how many were used (those
// past the ones packed are passed over).
std::int32_t Encoder::take_coded(const std::int32_t* values, std::int32_t count) {
    if (coded_taken >= coded_end) return count;
    const auto span = static_cast<std::int32_t>(
        std::min<std::int64_t>({count, block_size - fill, coded_end - coded_taken}));
    clip_into_block(values, span, block.get() + fill, clip_statistics);
    fill += span;
    coded_taken += span;
    if (fill == block_size) {
        fill = 0;
        coded_block_done();
    }
    return span;
}

// Takes the bank's coefficients into the reference block, up to the sample count; the last
// block is completed with zeros, as the standard mode pads it, as soon as they are in.
std::int32_t Encoder::take_reference(const std::int32_t* values, std::int32_t count) {
    if (reference_taken >= samples) return count;
    const auto span = static_cast<std::int32_t>(
        std::min<std::int64_t>({count, block_size - reference_fill, samples - reference_taken}));
    clip_into_block(values, span, reference_block.get() + reference_fill, reference_clips);
    reference_fill += span;
    reference_taken += span;
    if (reference_taken == samples && reference_fill < block_size) {
        std::fill(reference_block.get() + reference_fill, reference_block.get() + block_size,
                  std::int16_t{0});
        reference_fill = block_size;
    }
    if (reference_fill == block_size) {
        reference_fill = 0;
        reference_block_done();
    }
    return span;
}

void Encoder::coded_block_done() {
    if (!packer) return;
    if (!referenced) {
        packer->pack_block(block.get());
        to_pack -= block_size;
        return;
    }
    if (targets_waiting > 0) {
        const std::int64_t target = waiting_targets.get()[first_target];
        first_target = (first_target + 1) % target_capacity;
        --targets_waiting;
        pack(block.get(), target);
        return;
    }
    assert(blocks_waiting < block_capacity);
    const std::int32_t slot = (first_block + blocks_waiting) % block_capacity;
    std::copy(block.get(), block.get() + block_size,
              waiting_blocks.get() + std::int64_t{slot} * block_size);
    ++blocks_waiting;
}

void Encoder::reference_block_done() {
    const std::int64_t target =
        packer->standard_bits(reference_block.get(), reference_taken == samples);
    if (blocks_waiting > 0) {
        pack(waiting_blocks.get() + std::int64_t{first_block} * block_size, target);
        first_block = (first_block + 1) % block_capacity;
        --blocks_waiting;
        return;
    }
    assert(targets_waiting < target_capacity);
    waiting_targets.get()[(first_target + targets_waiting) % target_capacity] = target;
    ++targets_waiting;
}

void Encoder::pack(const std::int16_t* values, std::int64_t standard_bits) {
    packer->pack_block(values, standard_bits);
    to_pack -= block_size;
}

vellox_status Encoder::finish() {
    if (!ready || failure != VELLOX_OK || done) return VELLOX_ERROR_STATE;
    if (fed < samples) return VELLOX_ERROR_TOO_FEW_SAMPLES;
    for (std::int64_t rest = samples + delay() - fed; rest > 0 && packer_status() == VELLOX_OK;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(rest, chunk_size));
        encode_chunk(zeros.get(), n);
        rest -= n;
        fed += n;
    }
    if (packer_status() == VELLOX_OK && fill > 0) {
        // The bank's last block: its coefficients past the samples are zeros.
        std::fill(block.get() + fill, block.get() + block_size, std::int16_t{0});
        fill = 0;
        coded_block_done();
    }
    assert(packer_status() != VELLOX_OK || (blocks_waiting == 0 && targets_waiting == 0));
    const vellox_status status = failed_with(packer ? packer->finish() : VELLOX_OK);
    done = status == VELLOX_OK;
    return status;
}

std::int64_t Encoder::bytes_written() const {
    return (header_written ? acm_header_size : 0) + (packer ? packer->bytes_written() : 0);
}

}  // namespace vellox
