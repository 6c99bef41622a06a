#pragma once
// AcmSource: an ACM file as an input, decoded block by block; SubbandSynthesis: the inverse
// multi-level transform that turns a decoded block back into samples in time order.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr
#include <utility>  // std::pair

#include "sources/sound_source.h"

namespace vellox {

class AcmBlockUnpacker;

class SubbandSynthesis {
public:
    // levels: 0 .. 15. Stores it; allocates nothing.
    explicit SubbandSynthesis(std::int32_t levels);
    virtual ~SubbandSynthesis();

    SubbandSynthesis(const SubbandSynthesis&) = delete;
    SubbandSynthesis& operator=(const SubbandSynthesis&) = delete;

    // Allocates the zeroed state carried from block to block (nothing when levels is 0).
    [[nodiscard]] bool allocate_state();

    // Turns a block of rows * columns values, as the unpacker filled it (row after row), in
    // place into rows * columns samples in time order, scaled up by 2^levels. Sums wrap in
    // 32-bit two's complement.
    void inverse_transform(std::int32_t* block, std::int32_t rows);

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
};

class AcmSource : public SoundSource {
public:
    explicit AcmSource(const char* file_name);
    ~AcmSource() override;

    // Opens the file, checks the header and makes the decoder. A wrong magic, a file shorter
    // than the header or a header with no rows per block fail with a message only when
    // report is on; a file that cannot be opened or read, or a sample count beyond 2^31 - 1,
    // is refused with a message in any case.
    [[nodiscard]] bool open(bool report) override;
    const char* type_name() const override { return "ACM"; }
    bool is_acm() const override { return true; }

    // Decodes blocks as needed; each value is shifted right by levels and saturated to 16
    // bits. Stops early (the rest is 0) at a block that cannot be decoded; the next read
    // tries the stream from where that block stopped.
    std::int32_t read(std::int16_t* buffer, std::int32_t count) override;

    std::int64_t failed_blocks() const override { return failed_block_count; }

private:
    [[nodiscard]] bool decode_next_block();

    std::int32_t levels = 0;                // transform levels of the file, 0 .. 15
    std::int32_t rows = 0;                  // the file's subblocks, 1 .. 4095
    std::int32_t block_size = 0;            // rows << levels
    std::unique_ptr<std::int32_t[]> block;  // decoded, transformed in place, then handed out
    std::int32_t cursor = 0;                // index in block of the next value to hand out
    std::int32_t available = 0;             // values of the current block not handed out
    std::unique_ptr<AcmBlockUnpacker> unpacker;
    std::unique_ptr<SubbandSynthesis> synthesis;
    std::int64_t failed_block_count = 0;  // unpack_block calls that failed
};

}  // namespace vellox
