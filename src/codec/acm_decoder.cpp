// The ACM decoder: header check, block decoding on demand, and the count of what was lost.

#include "codec/acm_decoder.h"

#include <algorithm>  // std::fill, std::min, std::max
#include <cstdint>    // INT32_MAX

#include "acm/acm_block_unpacker.h"
#include "acm/subband_synthesis.h"
#include "common/alloc.h"

namespace vellox {

AcmDecoder::AcmDecoder(ByteSource& input, std::int64_t span)
    : source(input), failure_span(span < 1 ? 1 : span) {}

AcmDecoder::~AcmDecoder() = default;

vellox_status AcmDecoder::open() {
    std::uint8_t bytes[acm_header_size] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        std::size_t piece = 0;
        if (!source.read(bytes + got, sizeof bytes - got, &piece)) return VELLOX_ERROR_READ;
        if (piece == 0) break;
        got += piece;
    }
    head = decode_acm_header(bytes);
    // A stream shorter than the header, or one whose blocks would hold no values, is no stream
    // this format can have.
    if (got < sizeof bytes || head.magic != acm_magic || head.subblocks() == 0) {
        return VELLOX_ERROR_NOT_ACM;
    }
    if (head.sample_count > static_cast<std::uint32_t>(INT32_MAX)) return VELLOX_ERROR_SAMPLE_COUNT;
    remaining = static_cast<std::int32_t>(head.sample_count);
    levels = head.levels();
    rows = head.subblocks();
    block_size = rows << levels;  // at most 4095 << 15

    block = allocate_array<std::int32_t>(block_size);
    if (!block) return VELLOX_ERROR_MEMORY;
    unpacker = make_object<AcmBlockUnpacker>(source, levels, rows);
    if (!unpacker) return VELLOX_ERROR_MEMORY;
    const vellox_status unpacker_made = unpacker->init();
    if (unpacker_made != VELLOX_OK) return unpacker_made;
    synthesis = make_object<SubbandSynthesis>(levels);
    if (!synthesis) return VELLOX_ERROR_MEMORY;
    return synthesis->allocate_state();
}

std::int32_t AcmDecoder::read(std::int16_t* buffer, std::int32_t count) {
    std::int32_t done = 0;
    while (done < count) {
        if (position < zeros_until) {
            const auto n = static_cast<std::int32_t>(
                std::min<std::int64_t>(zeros_until - position, count - done));
            std::fill(buffer + done, buffer + done + n, std::int16_t{0});
            count_handed_out(n, false);
            done += n;
            continue;
        }
        if (available == 0) {
            if (remaining == 0) break;
            if (!decode_next_block()) {
                zeros_until = (position / failure_span + 1) * failure_span;
                continue;
            }
        }
        const std::int32_t n = std::min(available, count - done);
        // A value beyond the 16-bit range saturates rather than wrapping around.
        synthesis->to_samples(block.get() + cursor, n, buffer + done);
        count_handed_out(n, block_decoded);
        cursor += n;
        available -= n;
        done += n;
    }
    if (done < count) {
        std::fill(buffer + done, buffer + count, std::int16_t{0});
        position += count - done;
    }
    return done;
}

void AcmDecoder::count_handed_out(std::int64_t n, bool from_block) {
    const std::int64_t below_count = std::min<std::int64_t>(n, head.sample_count - position);
    if (from_block && below_count > 0) decoded += below_count;
    position += n;
}

std::int64_t AcmDecoder::samples_not_decoded() const {
    return std::min<std::int64_t>(position, head.sample_count) - decoded;
}

vellox_status AcmDecoder::status() const { return unpacker ? unpacker->status() : VELLOX_OK; }

vellox_status AcmDecoder::trailing_bytes(std::int64_t* bytes) {
    if (trailing < 0) {
        // A failed block is followed by the next from where it stopped, as in read. Every
        // attempt takes bits of the stream, and past its end every block unpacks: this ends.
        while (remaining > 0) {
            if (!unpacker->unpack_block(block.get())) {
                ++failed_block_count;
                continue;
            }
            remaining -= std::min(block_size, remaining);
        }
        available = 0;
        const std::int64_t block_end = (unpacker->bit_position() + 7) / 8;  // in whole bytes
        trailing = std::max<std::int64_t>(0, unpacker->read_to_end() - block_end);
    }
    *bytes = trailing;
    return status();
}

bool AcmDecoder::decode_next_block() {
    if (!unpacker->unpack_block(block.get())) {
        ++failed_block_count;
        return false;
    }
    synthesis->inverse_transform(block.get(), rows);
    block_decoded = unpacker->block_present();
    cursor = 0;
    available = std::min(block_size, remaining);
    remaining -= available;
    return true;
}

}  // namespace vellox
