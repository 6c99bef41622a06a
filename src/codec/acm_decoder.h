#pragma once
// AcmDecoder: an ACM stream read back into 16-bit samples, block by block: the header, the
// block unpacker, the subband synthesis, and the account of what could not be decoded.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "acm/acm_format.h"
#include "acm/byte_stream.h"
#include "vellox/vellox.h"

namespace vellox {

class AcmBlockUnpacker;
class SubbandSynthesis;

class AcmDecoder {
public:
    // A block that cannot be unpacked hands out zeros up to the next multiple of failure_span
    // values of the stream, where decoding is tried again: the stream a reader gets does not
    // depend on the sizes it reads in. The programs read 65,536 values at a time.
    static constexpr std::int64_t default_failure_span = 65536;

    // source: borrowed, at the start of the file. failure_span: at least 1.
    explicit AcmDecoder(ByteSource& source, std::int64_t failure_span = default_failure_span);
    ~AcmDecoder();

    AcmDecoder(const AcmDecoder&) = delete;
    AcmDecoder& operator=(const AcmDecoder&) = delete;

    // Reads the header and makes the decoder. VELLOX_ERROR_NOT_ACM for a stream shorter than
    // the header, a wrong magic or a header of 0 rows; VELLOX_ERROR_SAMPLE_COUNT for a count
    // beyond 2^31 - 1; VELLOX_ERROR_READ; VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status open();

    // The header; valid after open read it (even when open then failed on its contents).
    const AcmHeader& header() const { return head; }
    std::int32_t sample_count() const { return static_cast<std::int32_t>(head.sample_count); }

    // Fills count places of buffer with the next values of the decoded stream, each decoded
    // value shifted right by levels and saturated to 16 bits; returns how many came before the
    // end of the stream (the rest are 0). The stream holds the header's sample count of
    // decoded values, in order, with a run of zeros wherever a block could not be unpacked
    // (see failure_span): so after damage it runs on past the sample count.
    std::int32_t read(std::int16_t* buffer, std::int32_t count);

    // Samples not yet taken into a decoded block.
    std::int32_t remaining_samples() const { return remaining; }

    // Of the values handed out among the first sample_count, those that did not come from a
    // block that unpacked without failure and began before the end of the stream.
    std::int64_t samples_not_decoded() const;

    // Blocks that could not be unpacked so far.
    std::int64_t failed_blocks() const { return failed_block_count; }

    // VELLOX_ERROR_READ after the source failed a read (the stream then reads as zero bytes;
    // sticky), VELLOX_OK before.
    vellox_status status() const;

    // Once every value of the sample count was handed out: sets *bytes to how many bytes of the
    // stream follow the end of its last block. The writer never writes them (it leaves the
    // zero bytes at the end out, so a stream may end before its last block does): they tell of
    // damage that the blocks themselves may not show. The blocks the count needs that were not
    // unpacked yet (after damage, whose zeros push the last blocks' values past the count) are
    // unpacked here as read would, and the rest of the stream is read to find its end; nothing
    // more is handed out afterwards. VELLOX_ERROR_READ when the source failed a read.
    [[nodiscard]] vellox_status trailing_bytes(std::int64_t* bytes);

private:
    [[nodiscard]] bool decode_next_block();
    void count_handed_out(std::int64_t n, bool decoded);

    ByteSource& source;         // borrowed
    std::int64_t failure_span;  // see default_failure_span
    AcmHeader head;
    std::int32_t levels = 0;                // transform levels of the file, 0 .. 15
    std::int32_t rows = 0;                  // the file's subblocks, 1 .. 4095
    std::int32_t block_size = 0;            // rows << levels
    std::int32_t remaining = 0;             // samples not yet taken into a decoded block
    std::unique_ptr<std::int32_t[]> block;  // decoded, transformed in place, then handed out
    std::int32_t cursor = 0;                // index in block of the next value to hand out
    std::int32_t available = 0;             // values of the current block not handed out
    bool block_decoded = false;             // the current block was present in the stream
    std::int64_t position = 0;              // values handed out so far
    std::int64_t zeros_until = 0;           // after a failed block: zeros up to this position
    std::int64_t decoded = 0;  // values below sample_count handed out from present blocks
    std::int64_t failed_block_count = 0;
    std::int64_t trailing = -1;  // see trailing_bytes; -1 until it looked
    std::unique_ptr<AcmBlockUnpacker> unpacker;
    std::unique_ptr<SubbandSynthesis> synthesis;
};

}  // namespace vellox
