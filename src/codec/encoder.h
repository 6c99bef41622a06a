#pragma once
// Encoder: the one encode loop, from 16-bit samples through the analysis (the filter bank, or
// in the high-quality mode the exact inverse of the synthesis), the clipping to 16 bits and
// the blocks to the packer, behind the 14-byte header, into a byte sink. The program, the C
// API, the fuzz harnesses and the benchmarks all encode through it.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "acm/acm_format.h"  // acm_channels, acm_sample_rate
#include "vellox/vellox.h"   // vellox_status

namespace vellox {

class AnalysisFilterBank;
class BlockPacker;
class ByteSink;
class CodedAnalysis;

// The bits allowed per block: the input bits of an average block (the last, partial block
// counted whole) scaled by percents; -1 without a size target (percents -1) or without input.
[[nodiscard]] std::int32_t derive_bit_budget(double percents, bool sixteen_bit,
                                             std::int32_t samples, std::int32_t block_size);

struct EncoderSettings {
    std::int32_t levels = 7;          // transform levels, 0 .. 15
    std::int32_t subblocks = 16;      // rows per block, 1 .. 4095
    char filter_kind = 'D';           // 'D', 'O' or 'C'
    std::int32_t filter_length = 11;  // one-sided taps of 'D' and 'O'
    const double* taps = nullptr;     // 'C': tap_count magnitudes, outer end first; borrowed
    std::int32_t tap_count = 0;       //      until init returns
    std::int32_t bit_budget = -1;     // bits per block; -1: no limit (see derive_bit_budget)
    // The coefficients from the exact inverse of the reader's synthesis, rounded; with a bit
    // budget also rounding to the step, and steps spread over a bounded look-ahead within the
    // standard mode's size (whose filter bank still runs, for that size).
    bool high_quality = false;
    std::uint16_t channels = acm_channels;        // the header's fields, written and nothing
    std::uint16_t sample_rate = acm_sample_rate;  // more: they change no sample or block
    // No header and no packing: only the clip statistics of the coefficients the settings
    // would code, for a pass that finds how loud the input may be.
    bool analysis_only = false;
};

// Coefficients that did not fit 16 bits.
struct ClipStatistics {
    std::int64_t count = 0;     // clipped coefficients
    std::int64_t largest = 0;   // the largest value above 32767, 0 when none
    std::int64_t smallest = 0;  // the smallest value below -32768, 0 when none

    // The clipped value of larger magnitude (the positive one on a tie), 0 when none.
    std::int64_t extreme() const { return largest >= -smallest ? largest : smallest; }
};

class Encoder {
public:
    // Values fed to the bank at a time.
    static constexpr std::int32_t chunk_size = 65536;

    // sample_count: 0 .. 2^31 - 1. sink: borrowed for the encoder's life. Stores the values;
    // allocates nothing.
    Encoder(const EncoderSettings& settings, std::int32_t sample_count, ByteSink& sink);
    ~Encoder();  // frees; writes nothing

    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Makes the analysis, writes the header, then makes the packer and the buffers: the steps
    // below, in that order (with analysis_only, no header and no packer). VELLOX_OK, or the status
    // of the first step that failed; after a failure the encoder takes no input.
    [[nodiscard]] vellox_status init();

    // The steps of init, for a caller that tells their failures apart; each once, in this
    // order, each after the one before succeeded.
    // The filter bank, and for the high-quality mode the inverse: VELLOX_ERROR_LEVELS,
    // VELLOX_ERROR_FILTER_LENGTH, VELLOX_ERROR_TAPS (see AnalysisFilterBank::init) or
    // VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status make_filter_bank();
    // The 14 header bytes to the sink: VELLOX_ERROR_WRITE when it does not take them.
    [[nodiscard]] vellox_status write_header();
    // The packer with its bit writer (and -hq's quantizer): VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status make_packer();
    // The encoder's own buffers: VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status make_buffers();

    // The values after the samples that push the last coefficients out of the analysis.
    std::int64_t delay() const;

    // Encodes count more input values: the samples, then optionally the values after them
    // (delay() of them; finish feeds zeros for those not given). VELLOX_OK;
    // VELLOX_ERROR_TOO_MANY_SAMPLES, feeding nothing, for more than sample_count + delay()
    // in all or a negative count; VELLOX_ERROR_WRITE when a write failed;
    // VELLOX_ERROR_STATE before a successful init, after a failure or after finish.
    [[nodiscard]] vellox_status feed(const std::int16_t* values, std::int64_t count);

    // Feeds zeros up to sample_count + delay() values, packs the last block, padded with
    // zeros, and ends the bit stream. VELLOX_OK; VELLOX_ERROR_TOO_FEW_SAMPLES, changing
    // nothing, when fewer than sample_count values were fed; VELLOX_ERROR_WRITE when a write
    // failed; VELLOX_ERROR_STATE before a successful init, after a failure or after a finish
    // that succeeded.
    [[nodiscard]] vellox_status finish();

    // Bytes handed to the sink, header included (see BitWriter::bytes_written).
    std::int64_t bytes_written() const;
    // VELLOX_OK until something failed, then the status of that failure: of the init step that
    // failed, or VELLOX_ERROR_WRITE after a write the sink did not take whole (sticky).
    vellox_status status() const { return failure; }
    // True after a finish that succeeded.
    bool finished() const { return done; }
    // Input values fed so far.
    std::int64_t values_fed() const { return fed; }
    const ClipStatistics& clips() const { return clip_statistics; }
    // The values of the blocks the sample count needs that were not packed: 0 after finish.
    std::int64_t left_to_pack() const { return to_pack; }
    // The bank, for its taps; after a successful init.
    const AnalysisFilterBank& filter_bank() const;

private:
    void encode_chunk(const std::int16_t* values, std::int32_t count);
    std::int32_t take_coded(const std::int32_t* values, std::int32_t count);
    std::int32_t take_reference(const std::int32_t* values, std::int32_t count);
    void coded_block_done();
    void reference_block_done();
    void pack(const std::int16_t* values, std::int64_t standard_bits);
    // The packer's status, VELLOX_OK without one (analysis_only).
    vellox_status packer_status() const;
    // Keeps the first failure for status(); returns status.
    vellox_status failed_with(vellox_status status);

    EncoderSettings settings;
    std::int32_t samples;         // the sample count the header announces
    ByteSink& sink;               // borrowed
    std::int32_t block_size = 0;  // subblocks << levels
    std::unique_ptr<CodedAnalysis> analysis;
    std::unique_ptr<BlockPacker> packer;           // null for analysis_only
    std::unique_ptr<std::int32_t[]> coefficients;  // chunk_size + burst coded coefficients
    std::unique_ptr<std::int16_t[]> block;         // block_size clipped coefficients
    std::unique_ptr<std::int16_t[]> zeros;         // chunk_size zeros that drain the analysis
    std::int32_t fill = 0;                         // values in block
    std::int64_t coded_end = 0;    // coded coefficients packed, zeros after them: the
                                   // samples' (the bank), or more (the inverse's, see init)
    std::int64_t coded_taken = 0;  // coded coefficients taken into blocks so far

    // The high-quality mode with a bit budget packs each block against the bits the standard
    // mode writes for the bank's coefficients of the same stretch of input (its reference
    // block): the blocks of the stream that runs ahead wait for their partners.
    bool referenced = false;
    std::unique_ptr<std::int32_t[]> reference_coefficients;  // chunk_size from the bank
    std::unique_ptr<std::int16_t[]> reference_block;         // block_size
    std::int32_t reference_fill = 0;
    std::int64_t reference_taken = 0;  // bank coefficients taken (up to the sample count)
    ClipStatistics reference_clips;    // not reported
    std::unique_ptr<std::int16_t[]> waiting_blocks;   // block_capacity coded blocks
    std::unique_ptr<std::int64_t[]> waiting_targets;  // target_capacity standard bits
    std::int32_t block_capacity = 0;
    std::int32_t target_capacity = 0;
    std::int32_t first_block = 0;  // ring index of the oldest waiting block
    std::int32_t blocks_waiting = 0;
    std::int32_t first_target = 0;
    std::int32_t targets_waiting = 0;

    std::int64_t fed = 0;               // input values fed
    std::int64_t to_pack = 0;           // values of the needed blocks not packed yet
    bool header_written = false;        // the sink took the 14 header bytes
    bool ready = false;                 // init's steps all succeeded
    bool done = false;                  // finish succeeded
    vellox_status failure = VELLOX_OK;  // see status
    ClipStatistics clip_statistics;
};

}  // namespace vellox
