// The ACM source: header check, block decoding on demand and the subband synthesis that puts
// a decoded block back into time order.

#include "sources/acm_source.h"

#include <algorithm>  // std::fill, std::min
#include <cerrno>     // errno, EIO
#include <cstddef>    // std::ptrdiff_t, std::size_t
#include <cstdint>    // INT32_MAX

#include "acm/acm_format.h"
#include "common/alloc.h"
#include "common/numeric.h"
#include "frontend/errors.h"
#include "sources/acm_block_unpacker.h"

namespace vellox {

namespace {

// Views narrower than this are worked column by column with the pair in registers; wider
// ones row pair by row pair, which walks the block in memory order.
constexpr std::int32_t wide_view = 8;

// One synthesis stage on the view of n rows by d columns (row t, column i at t * d + i).
// Each column is taken top to bottom in pairs of rows (x, y); with (a, b) the column's
// previous pair, x becomes x + a + 2b and y becomes 2x - y - b. a and b hold every column's
// pair from the previous block and receive its last pair.
void synthesis_stage(std::int32_t* block, std::int32_t d, std::int32_t n, std::int32_t* a,
                     std::int32_t* b) {
    const std::int32_t pairs = n / 2;
    const std::ptrdiff_t pair_stride = 2 * static_cast<std::ptrdiff_t>(d);
    if (d < wide_view) {
        for (std::int32_t i = 0; i < d; ++i) {
            std::int32_t pa = a[i];
            std::int32_t pb = b[i];
            std::ptrdiff_t at = i;  // row 2k, column i of the view
            for (std::int32_t k = 0; k < pairs; ++k, at += pair_stride) {
                const std::int32_t x = block[at];
                const std::int32_t y = block[at + d];
                block[at] = wrapping_add(wrapping_add(x, pa), wrapping_add(pb, pb));
                block[at + d] = wrapping_sub(wrapping_sub(wrapping_add(x, x), y), pb);
                pa = x;
                pb = y;
            }
            a[i] = pa;
            b[i] = pb;
        }
        return;
    }
    std::ptrdiff_t row = 0;  // row 2k of the view
    for (std::int32_t k = 0; k < pairs; ++k, row += pair_stride) {
        std::int32_t* x_row = block + row;
        std::int32_t* y_row = x_row + d;
        for (std::int32_t i = 0; i < d; ++i) {
            const std::int32_t x = x_row[i];
            const std::int32_t y = y_row[i];
            x_row[i] = wrapping_add(wrapping_add(x, a[i]), wrapping_add(b[i], b[i]));
            y_row[i] = wrapping_sub(wrapping_sub(wrapping_add(x, x), y), b[i]);
            a[i] = x;
            b[i] = y;
        }
    }
}

}  // namespace

SubbandSynthesis::SubbandSynthesis(std::int32_t level_count)
    : levels(level_count), columns(std::int32_t{1} << level_count) {}

SubbandSynthesis::~SubbandSynthesis() = default;

bool SubbandSynthesis::allocate_state() {
    if (levels == 0) return true;
    carried_state = allocate_array<std::int32_t>(2 * static_cast<std::int64_t>(columns) - 2);
    return carried_state != nullptr;
}

void SubbandSynthesis::inverse_transform(std::int32_t* block, std::int32_t rows) {
    if (levels == 0) return;
    std::int32_t* state = carried_state.get();
    // Stage 1 pairs column i of each block row's first half with column columns / 2 + i.
    std::int32_t d = columns / 2;
    synthesis_stage(block, d, 2 * rows, state, state + d);
    state += 2 * d;
    // The 1 reaches every final value as 2^(levels - 1), so that the shift by levels in
    // read rounds to the nearest integer, halves upward.
    for (std::int32_t j = 0; j < 2 * rows; ++j) {
        std::int32_t& value = block[static_cast<std::ptrdiff_t>(j) * d];
        value = wrapping_add(value, 1);
    }
    for (std::int32_t s = 2; s <= levels; ++s) {
        d = columns >> s;
        synthesis_stage(block, d, rows << s, state, state + d);
        state += 2 * d;
    }
}

std::pair<std::int32_t, std::int32_t> SubbandSynthesis::carried_pair(int stage,
                                                                     std::int32_t column) const {
    const std::int32_t* state = carried_state.get();
    for (int s = 1; s < stage; ++s) state += 2 * (columns >> s);
    const std::int32_t d = columns >> stage;
    return {state[column], state[d + column]};
}

AcmSource::AcmSource(const char* name) : SoundSource(name) {}

AcmSource::~AcmSource() {
    block.reset();
    unpacker.reset();
    synthesis.reset();
}

bool AcmSource::open(bool report) {
    if (!open_file()) return false;
    std::uint8_t bytes[acm_header_size] = {};
    const std::size_t got = std::fread(bytes, 1, acm_header_size, file);
    if (got < static_cast<std::size_t>(acm_header_size) && std::ferror(file) != 0) {
        read_errno = errno != 0 ? errno : EIO;
        return refuse_unreadable();
    }
    const AcmHeader header = decode_acm_header(bytes);
    // A file shorter than the header, or one whose blocks would hold no values, is no
    // stream this format can have.
    if (got < static_cast<std::size_t>(acm_header_size) || header.magic != acm_magic ||
        header.subblocks() == 0) {
        if (report) print_error("Not an ACM file", file_name.c_str());
        return false;
    }
    if (header.sample_count > static_cast<std::uint32_t>(INT32_MAX)) {
        print_error("Input file is too long", file_name.c_str());
        refused = true;
        return false;
    }
    total_samples = static_cast<std::int32_t>(header.sample_count);
    remaining_samples = total_samples;
    levels = header.levels();
    rows = header.subblocks();
    block_size = rows << levels;  // at most 4095 << 15

    // The file is an ACM file: when its memory cannot be had, detection must not go on and
    // read it as raw samples.
    block = allocate_array<std::int32_t>(block_size);
    unpacker = block == nullptr ? nullptr : make_object<AcmBlockUnpacker>(file, levels, rows);
    if (unpacker != nullptr && unpacker->allocate_amplitude_table()) {
        synthesis = make_object<SubbandSynthesis>(levels);
        if (synthesis != nullptr && synthesis->allocate_state()) return true;
    }
    print_error("Cannot allocate memory", nullptr);
    refused = true;
    return false;
}

std::int32_t AcmSource::read(std::int16_t* buffer, std::int32_t count) {
    std::int32_t done = 0;
    while (done < count) {
        if (available == 0) {
            if (remaining_samples == 0 || !decode_next_block()) break;
        }
        const std::int32_t n = std::min(available, count - done);
        const std::int32_t* values = block.get() + cursor;
        std::int16_t* out = buffer + done;
        for (std::int32_t i = 0; i < n; ++i) {
            // A value beyond the 16-bit range saturates rather than wrapping around.
            out[i] = saturate_to_int16(values[i] >> levels);
        }
        cursor += n;
        available -= n;
        done += n;
    }
    if (done < count) std::fill(buffer + done, buffer + count, std::int16_t{0});
    return done;
}

bool AcmSource::decode_next_block() {
    const bool unpacked = unpacker->unpack_block(block.get());
    if (read_errno == 0) read_errno = unpacker->read_error();
    if (!unpacked) {
        ++failed_block_count;
        return false;
    }
    synthesis->inverse_transform(block.get(), rows);
    cursor = 0;
    available = std::min(block_size, remaining_samples);
    remaining_samples -= available;
    return true;
}

}  // namespace vellox
