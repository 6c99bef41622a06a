// The encode loop: bank, clipping, blocks, packer; and the bit budget.

#include "codec/encoder.h"

#include <algorithm>  // std::fill, std::max, std::min
#include <cassert>    // assert

#include "acm/acm_format.h"
#include "acm/block_packer.h"
#include "acm/byte_stream.h"
#include "analysis/analysis_filter_bank.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

namespace {

std::unique_ptr<AnalysisFilterBank> make_filter_bank_for(const EncoderSettings& settings) {
    switch (settings.filter_kind) {
        case 'O':
            return make_object<FoFilterBank>(settings.levels, settings.filter_length);
        case 'C':
            return make_object<FcFilterBank>(settings.levels, settings.taps, settings.tap_count);
        default:
            return make_object<FdFilterBank>(settings.levels, settings.filter_length);
    }
}

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
    if (status == VELLOX_OK) status = write_header();
    if (status == VELLOX_OK) status = make_packer();
    if (status == VELLOX_OK) status = make_buffers();
    return status;
}

vellox_status Encoder::make_filter_bank() {
    assert(!bank && failure == VELLOX_OK);
    bank = make_filter_bank_for(settings);
    const vellox_status status = bank ? bank->init() : VELLOX_ERROR_MEMORY;
    // The taps were copied into the bank; nothing of the caller's is kept.
    settings.taps = nullptr;
    return failed_with(status);
}

vellox_status Encoder::write_header() {
    assert(bank && !header_written && failure == VELLOX_OK);
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
    assert(packer && !coefficients && failure == VELLOX_OK);
    block_size = settings.subblocks << settings.levels;
    coefficients = allocate_array<std::int32_t>(chunk_size);
    block = allocate_array<std::int16_t>(block_size);
    zeros = allocate_array<std::int16_t>(chunk_size);
    if (!coefficients || !block || !zeros) return failed_with(VELLOX_ERROR_MEMORY);
    to_pack = (static_cast<std::int64_t>(samples) + block_size - 1) / block_size * block_size;
    ready = true;
    return VELLOX_OK;
}

vellox_status Encoder::failed_with(vellox_status status) {
    if (failure == VELLOX_OK) failure = status;
    return status;
}

std::int64_t Encoder::delay() const { return bank ? bank->delay() : 0; }

vellox_status Encoder::feed(const std::int16_t* values, std::int64_t count) {
    if (!ready || failure != VELLOX_OK || done) return VELLOX_ERROR_STATE;
    if (count < 0 || count > samples + delay() - fed) return VELLOX_ERROR_TOO_MANY_SAMPLES;
    while (count > 0 && packer->status() == VELLOX_OK) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, chunk_size));
        encode_chunk(values, n);
        values += n;
        count -= n;
        fed += n;
    }
    return failed_with(packer->status());
}

void Encoder::encode_chunk(const std::int16_t* values, std::int32_t count) {
    const std::int32_t produced = bank->process(values, count, coefficients.get());
    const std::int32_t* next = coefficients.get();
    for (std::int32_t i = 0; i < produced;) {
        const std::int32_t span = std::min(produced - i, block_size - fill);
        clip_into_block(next + i, span, block.get() + fill, clip_statistics);
        i += span;
        fill += span;
        if (fill == block_size) {
            packer->pack_block(block.get());
            to_pack -= block_size;
            fill = 0;
        }
    }
}

vellox_status Encoder::finish() {
    if (!ready || failure != VELLOX_OK || done) return VELLOX_ERROR_STATE;
    if (fed < samples) return VELLOX_ERROR_TOO_FEW_SAMPLES;
    for (std::int64_t rest = samples + delay() - fed; rest > 0 && packer->status() == VELLOX_OK;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(rest, chunk_size));
        encode_chunk(zeros.get(), n);
        rest -= n;
        fed += n;
    }
    if (packer->status() == VELLOX_OK && fill > 0) {
        std::fill(block.get() + fill, block.get() + block_size, std::int16_t{0});
        packer->pack_block(block.get());
        to_pack -= block_size;
        fill = 0;
    }
    const vellox_status status = failed_with(packer->finish());
    done = status == VELLOX_OK;
    return status;
}

std::int64_t Encoder::bytes_written() const {
    return (header_written ? acm_header_size : 0) + (packer ? packer->bytes_written() : 0);
}

}  // namespace vellox
