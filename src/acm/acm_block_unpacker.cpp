// The reading half of the ACM block stream: the amplitude table and one decoder per column
// method, over the bit reader.

#include "acm/acm_block_unpacker.h"

#include <cstddef>  // std::ptrdiff_t, std::size_t

#include "acm/prefix_codes.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

namespace {

// Blocks of this many columns or more are decoded through the tile: their rows lie 2 KiB or
// more apart. tile_columns values of a row fill a 64-byte cache line.
constexpr std::int32_t wide_block = 512;
constexpr std::int32_t tile_columns = 16;

// The reader's table of each prefix-code method, by method code; all zeros for other codes.
constexpr std::array<PrefixTable, 32> make_prefix_tables() {
    std::array<PrefixTable, 32> tables{};
    for (int code = 0; code < 32; ++code) {
        if (const PrefixCode* prefix = prefix_code_of(static_cast<ColumnMethod>(code))) {
            tables[static_cast<std::size_t>(code)] = make_prefix_table(*prefix);
        }
    }
    return tables;
}
constexpr std::array<PrefixTable, 32> prefix_tables = make_prefix_tables();

// Bits of a digit of a group method in its decoding table.
constexpr int digit_bits(const GroupCode& code) {
    return ceil_log2(static_cast<std::uint32_t>(code.base()));
}

// A group method's decoding table, by group value: the digits, each in digit_bits bits.
template <std::size_t N>
constexpr std::array<std::uint16_t, N> make_group_digits(const GroupCode& code) {
    std::array<std::uint16_t, N> table{};
    int limit = 1;
    for (int d = 0; d < code.values; ++d) limit *= code.base();
    for (int g = 0; g < limit; ++g) {
        int rest = g;
        int packed = 0;
        for (int d = 0; d < code.values; ++d) {
            packed |= (rest % code.base()) << (d * digit_bits(code));
            rest /= code.base();
        }
        table[static_cast<std::size_t>(g)] = static_cast<std::uint16_t>(packed);
    }
    return table;
}

}  // namespace

constexpr std::array<std::uint16_t, 32> group_digits_base3 =
    make_group_digits<32>(packed3_5bit_group);
constexpr std::array<std::uint16_t, 128> group_digits_base5 =
    make_group_digits<128>(packed3_7bit_group);
constexpr std::array<std::uint16_t, 128> group_digits_base11 =
    make_group_digits<128>(packed2_7bit_group);

const AcmBlockUnpacker::ColumnDecoder AcmBlockUnpacker::column_decoders[32] = {
    &AcmBlockUnpacker::decode_zero,          // 0
    &AcmBlockUnpacker::decode_invalid,       // 1
    &AcmBlockUnpacker::decode_invalid,       // 2
    &AcmBlockUnpacker::decode_linear,        // 3
    &AcmBlockUnpacker::decode_linear,        // 4
    &AcmBlockUnpacker::decode_linear,        // 5
    &AcmBlockUnpacker::decode_linear,        // 6
    &AcmBlockUnpacker::decode_linear,        // 7
    &AcmBlockUnpacker::decode_linear,        // 8
    &AcmBlockUnpacker::decode_linear,        // 9
    &AcmBlockUnpacker::decode_linear,        // 10
    &AcmBlockUnpacker::decode_linear,        // 11
    &AcmBlockUnpacker::decode_linear,        // 12
    &AcmBlockUnpacker::decode_linear,        // 13
    &AcmBlockUnpacker::decode_linear,        // 14
    &AcmBlockUnpacker::decode_linear,        // 15
    &AcmBlockUnpacker::decode_linear,        // 16
    &AcmBlockUnpacker::decode_prefix,        // 17 vlc1_pairs
    &AcmBlockUnpacker::decode_prefix,        // 18 vlc1
    &AcmBlockUnpacker::decode_packed3_5bit,  // 19
    &AcmBlockUnpacker::decode_prefix,        // 20 vlc2_pairs
    &AcmBlockUnpacker::decode_prefix,        // 21 vlc2
    &AcmBlockUnpacker::decode_packed3_7bit,  // 22
    &AcmBlockUnpacker::decode_prefix,        // 23 vlc3_pairs
    &AcmBlockUnpacker::decode_prefix,        // 24 vlc3
    &AcmBlockUnpacker::decode_invalid,       // 25
    &AcmBlockUnpacker::decode_prefix,        // 26 vlc4_pairs
    &AcmBlockUnpacker::decode_prefix,        // 27 vlc4
    &AcmBlockUnpacker::decode_invalid,       // 28
    &AcmBlockUnpacker::decode_packed2_7bit,  // 29
    &AcmBlockUnpacker::decode_invalid,       // 30
    &AcmBlockUnpacker::decode_invalid,       // 31
};

AcmBlockUnpacker::AcmBlockUnpacker(ByteSource& input_source, std::int32_t level_count,
                                   std::int32_t row_count)
    : reader(input_source), rows(row_count), columns(std::int32_t{1} << level_count) {}

AcmBlockUnpacker::~AcmBlockUnpacker() = default;

vellox_status AcmBlockUnpacker::init() {
    const vellox_status status = reader.init();
    if (status != VELLOX_OK) return status;
    if (columns >= wide_block) {
        tile = allocate_array<std::int32_t>(std::int64_t{tile_columns} * rows);
        if (tile == nullptr) return VELLOX_ERROR_MEMORY;
    }
    return VELLOX_OK;
}

// Entries -2^range_bits .. 2^range_bits - 1, classes 0 .. range_bits, become k * step.
void AcmBlockUnpacker::fill_amplitude_table(int block_range_bits, std::uint32_t block_step) {
    range_bits = block_range_bits;
    step = block_step;
    for (int c = 0; c <= range_bits; ++c) class_steps[c] = static_cast<std::uint16_t>(step);
    for (std::int32_t k = -8; k < 8; ++k) small_entries[k + 8] = amplitude_entry(k);
}

std::int32_t AcmBlockUnpacker::amplitude_entry(std::int32_t k) const {
    const auto magnitude = static_cast<std::uint32_t>(k < 0 ? -k - 1 : k);  // 0 .. 32767
    const int bit_length = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
    const std::uint32_t product = static_cast<std::uint32_t>(k) * class_steps[bit_length];
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(product));
}

bool AcmBlockUnpacker::unpack_block(std::int32_t* block) {
    destination = block;
    const std::int64_t first_bit = reader.bit_position();
    const int block_range_bits = static_cast<int>(reader.get_bits(range_bits_width) & 15);
    // Reading the head has loaded the byte that holds the first bit, or found the end.
    present = first_bit < 8 * reader.bytes_read();
    const std::uint32_t block_step = reader.get_bits(step_width) & 0xFFFF;
    fill_amplitude_table(block_range_bits, block_step);
    if (!tile) {
        for (std::int32_t column = 0; column < columns; ++column) {
            const auto code = static_cast<std::int32_t>(reader.get_bits(method_width) & 31);
            if (!(this->*column_decoders[code])(block + column, columns, code)) return false;
        }
        return true;
    }
    // Wide blocks: a column's rows lie so far apart that they would share a few cache sets, so
    // columns are decoded into the tile, one after another, and copied out a row at a time.
    for (std::int32_t first = 0; first < columns; first += tile_columns) {
        for (std::int32_t c = 0; c < tile_columns; ++c) {
            const auto code = static_cast<std::int32_t>(reader.get_bits(method_width) & 31);
            if (!(this->*column_decoders[code])(tile.get() + c * rows, 1, code)) {
                copy_tile(first, c);
                return false;
            }
        }
        copy_tile(first, tile_columns);
    }
    return true;
}

// The first count columns of the tile become columns first .. first + count - 1 of the block.
void AcmBlockUnpacker::copy_tile(std::int32_t first, std::int32_t count) {
    const std::int32_t* const decoded = tile.get();
    for (std::int32_t r = 0; r < rows; ++r) {
        std::int32_t* row = destination + static_cast<std::ptrdiff_t>(r) * columns + first;
        for (std::int32_t c = 0; c < count; ++c) row[c] = decoded[c * rows + r];
    }
}

bool AcmBlockUnpacker::decode_zero(std::int32_t* out, std::ptrdiff_t stride,
                                   std::int32_t /*code*/) {
    std::ptrdiff_t at = 0;  // element of row r
    for (std::int32_t r = 0; r < rows; ++r, at += stride) out[at] = 0;
    return true;
}

bool AcmBlockUnpacker::decode_invalid(std::int32_t* /*out*/, std::ptrdiff_t /*stride*/,
                                      std::int32_t /*code*/) {
    return false;
}

// Per row a field of code bits holding k + 2^(code-1); k stays inside -32768 .. 32767.
bool AcmBlockUnpacker::decode_linear(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code) {
    const int width = code;
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    const std::uint32_t bias = std::uint32_t{1} << (width - 1);
    const std::int32_t n = rows;
    std::uint64_t bits = reader.pending_bits();
    int count = reader.pending_count();
    std::ptrdiff_t at = 0;  // element of the next row
    // Three fields (48 bits at most) per refill, which leaves 56 bits or more: the branches
    // depend on the row count alone, not on the width, and so are foreseen.
    const auto each_field = [&](auto value_of) {
        std::int32_t r = 0;
        for (; r + 3 <= n; r += 3, at += 3 * stride) {
            reader.refill(bits, count);
            out[at] = value_of(static_cast<std::uint32_t>(bits & mask));
            out[at + stride] = value_of(static_cast<std::uint32_t>((bits >> width) & mask));
            bits >>= 2 * width;
            out[at + 2 * stride] = value_of(static_cast<std::uint32_t>(bits & mask));
            bits >>= width;
            count -= 3 * width;
        }
        for (; r < n; ++r, at += stride) {
            if (count < width) reader.refill(bits, count);
            out[at] = value_of(static_cast<std::uint32_t>(bits & mask));
            bits >>= width;
            count -= width;
        }
    };
    if (width <= 4) {
        const std::int32_t* const entries = small_entries + 8 - bias;  // by field
        each_field([entries](std::uint32_t field) { return entries[field]; });
    } else if (width - 1 <= range_bits) {
        // Every field lies in the block's range, where entry k is k * step.
        const std::uint32_t block_step = step;
        each_field([bias, block_step](std::uint32_t field) -> std::int32_t {
            return static_cast<std::int16_t>(
                static_cast<std::uint16_t>((field - bias) * block_step));
        });
    } else {
        // Wider than the block's range, as no writer makes it: fields outside the range read
        // what earlier blocks left in the table.
        each_field([this, bias](std::uint32_t field) {
            return amplitude_entry(static_cast<std::int32_t>(field) -
                                   static_cast<std::int32_t>(bias));
        });
    }
    reader.keep(bits, count);
    return true;
}

// One codeword per row, found in the next 5 bits; in the pair methods a lone 0 bit sets two
// rows (one on the last row).
bool AcmBlockUnpacker::decode_prefix(std::int32_t* out, std::ptrdiff_t stride, std::int32_t code) {
    const PrefixTable& table = prefix_tables[static_cast<std::size_t>(code)];
    const std::int32_t last = rows - 1;
    std::uint64_t bits = reader.pending_bits();
    int count = reader.pending_count();
    std::ptrdiff_t at = 0;
    std::int32_t r = 0;
    // Without branches on the data: every codeword but the last row's also writes 0 to the
    // next row, which the next codeword overwrites unless this one was a zero_pair; and eleven
    // codewords (55 bits at most) follow each refill.
    while (r < last) {
        reader.refill(bits, count);
        for (int i = 0; i < 11 && r < last; ++i) {
            const std::uint8_t entry = table[bits & 31];
            bits >>= entry & 15;
            count -= entry & 15;
            const int index = entry >> 4;  // k + 8, or 0 for the zero_pair symbol
            out[at] = index != 0 ? small_entries[index] : 0;
            out[at + stride] = 0;
            const int advance = index != 0 ? 1 : 2;
            r += advance;
            at += advance * stride;
        }
    }
    if (r == last) {
        if (count < 5) reader.refill(bits, count);
        const std::uint8_t entry = table[bits & 31];
        bits >>= entry & 15;
        count -= entry & 15;
        const int index = entry >> 4;
        out[at] = index != 0 ? small_entries[index] : 0;
    }
    reader.keep(bits, count);
    return true;
}

// One group value of code.width bits per code.values rows, split by the digits table into
// digits of digit_bits bits, digit d standing for d - code.largest (at most 5). The last group
// is read whole; digits for rows past the end of the column are ignored.
inline bool AcmBlockUnpacker::decode_group(std::int32_t* out, std::ptrdiff_t stride,
                                           const GroupCode& code, const std::uint16_t* digits) {
    const int width = code.width;
    const int values_per_group = code.values;
    const int field_bits = digit_bits(code);
    const std::uint64_t group_mask = (std::uint64_t{1} << width) - 1;
    const std::uint32_t field_mask = (1u << field_bits) - 1;
    const std::int32_t* const entries = small_entries + 8 - code.largest;  // by digit
    const std::int32_t n = rows;
    std::uint64_t bits = reader.pending_bits();
    int count = reader.pending_count();
    std::ptrdiff_t at = 0;
    std::int32_t r = 0;
    while (r < n) {
        if (count < width) reader.refill(bits, count);
        std::uint32_t packed = digits[bits & group_mask];
        bits >>= width;
        count -= width;
        for (int d = 0; d < values_per_group && r < n; ++d, ++r, at += stride) {
            out[at] = entries[packed & field_mask];
            packed >>= field_bits;
        }
    }
    reader.keep(bits, count);
    return true;
}

bool AcmBlockUnpacker::decode_packed3_5bit(std::int32_t* out, std::ptrdiff_t stride,
                                           std::int32_t /*code*/) {
    return decode_group(out, stride, packed3_5bit_group, group_digits_base3.data());
}

bool AcmBlockUnpacker::decode_packed3_7bit(std::int32_t* out, std::ptrdiff_t stride,
                                           std::int32_t /*code*/) {
    return decode_group(out, stride, packed3_7bit_group, group_digits_base5.data());
}

bool AcmBlockUnpacker::decode_packed2_7bit(std::int32_t* out, std::ptrdiff_t stride,
                                           std::int32_t /*code*/) {
    return decode_group(out, stride, packed2_7bit_group, group_digits_base11.data());
}

}  // namespace vellox
