// Block quantizer with its bit budget search, and the column coders that write each column of
// coded integers with the cheapest of the fixed methods.

#include "acm/block_packer.h"

#include <algorithm>  // std::fill, std::max, std::min
#include <cassert>    // assert
#include <cstddef>    // std::ptrdiff_t, std::size_t
#include <cstring>    // std::memcpy

#include "acm/acm_format.h"
#include "acm/bit_writer.h"
#include "acm/prefix_codes.h"
#include "common/alloc.h"

namespace vellox {

namespace {

// Smallest n with (1 << n) >= m, for m in 1 .. 2^31.
int ceil_log2(std::uint32_t m) { return m <= 1 ? 0 : 32 - __builtin_clz(m - 1); }

// Truncating division of a magnitude (0 .. 32768) by a step (1 .. 2^24) as a multiplication.
// With factor = floor(2^40 / step) + 1 = (2^40 + e) / step, 0 < e <= step, the product
// a * factor / 2^40 exceeds a / step by a * e / (step * 2^40) < 1 / step, which never reaches
// the next integer: the result is exactly a / step.
class Reciprocal {
public:
    explicit Reciprocal(std::int32_t step)
        : factor((std::uint64_t{1} << 40) / static_cast<std::uint64_t>(step) + 1) {
        assert(step >= 1 && step <= (1 << 24));
    }
    std::int32_t divide(std::int32_t magnitude) const {
        assert(magnitude >= 0 && magnitude <= 32768);
        return static_cast<std::int32_t>((static_cast<std::uint64_t>(magnitude) * factor) >> 40);
    }

private:
    std::uint64_t factor;  // 2^40 / step, rounded up past it
};

// The greatest common divisor of g and a (gcd(g, 0) = g), by Euclid's remainders, the first
// taken of the new value by the divisor so far (usually the smaller).
std::uint32_t gcd(std::uint32_t g, std::uint32_t a) {
    if (g == 0 || a == 0) return g | a;
    a %= g;
    while (a != 0) {
        const std::uint32_t r = g % a;
        g = a;
        a = r;
    }
    return g;
}

// The greatest common divisor of the magnitudes of count values, 1 when all are 0. Once it is
// 1 no value can change it, and runs of zeros (gcd(g, 0) = g) are passed over a chunk at a
// time.
std::int32_t exact_step(const std::int16_t* values, std::int64_t count) {
    constexpr std::int64_t chunk = 16;
    std::uint32_t divisor = 0;
    for (std::int64_t start = 0; start < count && divisor != 1; start += chunk) {
        const std::int64_t end = std::min<std::int64_t>(start + chunk, count);
        int any = 0;
        for (std::int64_t e = start; e < end; ++e) any |= values[e];
        if (any == 0) continue;
        for (std::int64_t e = start; e < end; ++e) {
            const std::int32_t v = values[e];
            divisor = gcd(divisor, static_cast<std::uint32_t>(v < 0 ? -v : v));
        }
    }
    return divisor == 0 ? 1 : static_cast<std::int32_t>(divisor);
}

// Estimated bits per value of a column whose coded integers reach the magnitude a and the
// positive value b (b <= a): the cost of the dense method the column coder would fall back
// to. For a = 0 .. 5; a = 4 costs 3.5 instead when b is 4.
constexpr double small_column_bits[6] = {0.0, 5.0 / 3.0, 7.0 / 3.0, 3.0, 3.0, 3.5};

// Width of a linear column whose coded integers reach the magnitude a and the positive
// value b: the least w with -(1 << (w-1)) .. (1 << (w-1)) - 1 holding them, 4 .. 16 for a >= 6.
int linear_width(std::int32_t a, std::int32_t b) {
    return ceil_log2(static_cast<std::uint32_t>(std::max(a, b + 1))) + 1;
}

double bits_per_value(std::int32_t a, std::int32_t b) {
    if (a < 6) return (a == 4 && b > 3) ? 3.5 : small_column_bits[a];
    return static_cast<double>(linear_width(a, b));
}

// Group offsets: the lowest coded integer of each place moved to digit 0.
constexpr std::int32_t packed3_5bit_offset = 1 + 3 + 9;
constexpr std::int32_t packed3_7bit_offset = 2 + 10 + 50;
constexpr std::int32_t packed2_7bit_offset = 5 + 55;

// A column of the block: rows coded integers stride elements apart, followed by two zeros
// at the same stride.
struct Column {
    const std::int16_t* first;
    std::ptrdiff_t stride;
    std::int32_t rows;

    std::int32_t at(std::int32_t row) const { return first[row * stride]; }
};

// Counts of one column for the method decision.
struct ColumnStats {
    std::int32_t ones = 0;   // rows holding 1 or -1
    std::int32_t zeros = 0;  // rows holding 0
    std::int32_t pairs = 0;  // zero_pair symbols a pair method writes
};

// A pair method writes one zero_pair for every second zero of a run of zeros, and one more
// for a run of odd length at the end of the column, whose last zero pairs with the extra
// zero row. Counted without branches, as the rows come.
ColumnStats count_column(const Column& column) {
    ColumnStats stats;
    std::int32_t run = 0;  // zeros so far in the current run
    for (std::int32_t i = 0; i < column.rows; ++i) {
        const std::int32_t k = column.at(i);
        const std::int32_t zero = k == 0 ? 1 : 0;
        run = (run + 1) * zero;
        stats.zeros += zero;
        stats.pairs += zero & ~run & 1;
        stats.ones += (static_cast<std::uint32_t>(k + 1) <= 2 ? 1 : 0) - zero;
    }
    stats.pairs += run & 1;
    return stats;
}

// A column's fields go through a burst of the writer, which keeps its pending bits in
// registers; each emitter makes its own, so that the compiler sees it whole.
class ColumnBits : public BitWriter::Burst {
public:
    using Burst::Burst;
    void put_method(ColumnMethod method) { put(static_cast<std::uint32_t>(method), method_width); }
};

// One codeword per row. In a pair method a zero at an odd place of its run of zeros (counted
// from 1) is written as the one-bit zero_pair when the next row (the extra zero row after
// the last) also holds 0, and as its codeword otherwise; a zero at an even place is the pair's
// second half and writes nothing. Chosen without branches, as the rows come.
void put_prefix_coded(BitWriter& out, const PrefixCode& code, const Column column) {
    ColumnBits bits(out);
    bits.put_method(code.method);
    const Codeword* words = code.words + code.largest;  // indexed by k
    if (code.has_pairs) {
        std::uint32_t run = 0;  // place of this row in its run of zeros, 0 for a non-zero row
        for (std::int32_t i = 0; i < column.rows; ++i) {
            const std::int32_t k = column.at(i);
            const std::uint32_t zero = k == 0 ? 1 : 0;
            run = (run + 1) * zero;
            const std::uint32_t pair = zero & run & (column.at(i + 1) == 0 ? 1 : 0);
            const std::uint32_t second_half = zero & ~run & 1;
            const Codeword& word = words[k];
            const std::uint32_t value = (pair | second_half) != 0 ? 0 : word.value;
            const int length = second_half != 0 ? 0 : (pair != 0 ? 1 : word.length);
            bits.put(value, length);
        }
    } else {
        for (std::int32_t i = 0; i < column.rows; ++i) {
            const Codeword& word = words[column.at(i)];
            bits.put(word.value, word.length);
        }
    }
    bits.finish();
}

// Linear columns of width w (3 .. 16): k + 2^(w-1) in w bits per row.
void put_linear(BitWriter& out, int w, const Column column) {
    ColumnBits bits(out);
    bits.put(static_cast<std::uint32_t>(w), method_width);
    const std::int32_t offset = std::int32_t{1} << (w - 1);
    const std::uint32_t mask = (std::uint32_t{1} << w) - 1;
    for (std::int32_t i = 0; i < column.rows; ++i) {
        bits.put(static_cast<std::uint32_t>(column.at(i) + offset) & mask, w);
    }
    bits.finish();
}

// Three rows to a group of width bits, digits in base (3 or 5); rows past the last read as 0
// from the extra zero rows.
void put_packed3(BitWriter& out, const Column column, ColumnMethod method, std::int32_t base,
                 std::int32_t offset, int width) {
    ColumnBits bits(out);
    bits.put_method(method);
    const std::uint32_t mask = (std::uint32_t{1} << width) - 1;
    for (std::int32_t i = 0; i < column.rows; i += 3) {
        const std::int32_t group =
            column.at(i) + base * column.at(i + 1) + base * base * column.at(i + 2) + offset;
        bits.put(static_cast<std::uint32_t>(group) & mask, width);
    }
    bits.finish();
}

void put_packed2_7bit(BitWriter& out, const Column column) {
    ColumnBits bits(out);
    bits.put_method(ColumnMethod::packed2_7bit);
    for (std::int32_t i = 0; i < column.rows; i += 2) {
        const std::int32_t group = column.at(i) + 11 * column.at(i + 1) + packed2_7bit_offset;
        bits.put(static_cast<std::uint32_t>(group) & 127, 7);
    }
    bits.finish();
}

// The method of a column whose largest magnitude a is 1 .. 4, and its data. The tests on
// zeros mark where a prefix code becomes shorter than the dense method.
void choose_small_column(BitWriter& out, std::int32_t a, std::int32_t b, const Column& column) {
    const ColumnStats stats = count_column(column);
    const std::int64_t row_count = column.rows;
    const bool pairs_pay = 3 * std::int64_t{stats.pairs} > row_count;
    const std::int64_t zeros = stats.zeros;
    switch (a) {
        case 1:
            if (pairs_pay) {
                put_prefix_coded(out, vlc1_pairs_code, column);
            } else if (3 * zeros > row_count) {
                put_prefix_coded(out, vlc1_code, column);
            } else {
                put_packed3(out, column, ColumnMethod::packed3_5bit, 3, packed3_5bit_offset, 5);
            }
            break;
        case 2:
            if (pairs_pay) {
                put_prefix_coded(out, vlc2_pairs_code, column);
            } else if (3 * zeros > row_count) {
                put_prefix_coded(out, vlc2_code, column);
            } else {
                put_packed3(out, column, ColumnMethod::packed3_7bit, 5, packed3_7bit_offset, 7);
            }
            break;
        case 3:
            if (pairs_pay) {
                put_prefix_coded(out, vlc3_pairs_code, column);
            } else if (3 * zeros + stats.ones > row_count) {
                put_prefix_coded(out, vlc3_code, column);
            } else {
                put_linear(out, 3, column);
            }
            break;
        default:  // 4
            if (pairs_pay) {
                put_prefix_coded(out, vlc4_pairs_code, column);
            } else if (b <= 3) {
                if (3 * zeros > row_count) {
                    put_prefix_coded(out, vlc4_code, column);
                } else {
                    put_linear(out, 3, column);
                }
            } else if (6 * zeros > row_count) {
                put_prefix_coded(out, vlc4_code, column);
            } else {
                put_packed2_7bit(out, column);
            }
            break;
    }
}

// High-quality mode: a column coded with the method the quantizer chose for it.
void put_column_as(BitWriter& out, ColumnMethod method, const Column& column) {
    switch (method) {
        case ColumnMethod::zero:
            out.put_bits(static_cast<std::uint32_t>(method), method_width);
            break;
        case ColumnMethod::vlc1_pairs:
            put_prefix_coded(out, vlc1_pairs_code, column);
            break;
        case ColumnMethod::vlc1:
            put_prefix_coded(out, vlc1_code, column);
            break;
        case ColumnMethod::vlc2_pairs:
            put_prefix_coded(out, vlc2_pairs_code, column);
            break;
        case ColumnMethod::vlc2:
            put_prefix_coded(out, vlc2_code, column);
            break;
        case ColumnMethod::vlc3_pairs:
            put_prefix_coded(out, vlc3_pairs_code, column);
            break;
        case ColumnMethod::vlc3:
            put_prefix_coded(out, vlc3_code, column);
            break;
        case ColumnMethod::vlc4_pairs:
            put_prefix_coded(out, vlc4_pairs_code, column);
            break;
        case ColumnMethod::vlc4:
            put_prefix_coded(out, vlc4_code, column);
            break;
        case ColumnMethod::packed3_5bit:
            put_packed3(out, column, method, 3, packed3_5bit_offset, 5);
            break;
        case ColumnMethod::packed3_7bit:
            put_packed3(out, column, method, 5, packed3_7bit_offset, 7);
            break;
        case ColumnMethod::packed2_7bit:
            put_packed2_7bit(out, column);
            break;
        default:  // linear, the code is the width
            assert(method >= ColumnMethod::linear_first && method <= ColumnMethod::linear_last);
            put_linear(out, static_cast<int>(method), column);
            break;
    }
}

}  // namespace

BlockPacker::BlockPacker(ByteSink& output, std::int32_t column_count, std::int32_t row_count,
                         std::int32_t budget)
    : sink(output), columns(column_count), rows(row_count), block_size(0), bit_budget(budget) {
    const std::int64_t size = std::int64_t{row_count} * column_count;
    if (size <= INT32_MAX && size >= 0) block_size = static_cast<std::int32_t>(size);
}

BlockPacker::~BlockPacker() = default;

bool BlockPacker::init() {
    // The block with its two extra rows must be indexable by int32.
    if (columns < 1 || rows < 1) return false;
    const std::int64_t buffer_values = (std::int64_t{rows} + 2) * columns;
    if (buffer_values > INT32_MAX) return false;

    // Zero-filled, so the two extra rows start and stay 0.
    block = allocate_array<std::int16_t>(buffer_values);
    if (!block) return false;
    writer = make_object<BitWriter>(sink);
    if (!writer) return false;
    if (!writer->init()) {
        writer.reset();
        return false;
    }
    max_magnitude = allocate_array<std::int32_t>(columns);
    if (!max_magnitude) return false;
    max_positive = allocate_array<std::int16_t>(columns);
    if (!max_positive) return false;
    min_negative = allocate_array<std::int16_t>(columns);
    if (!min_negative) return false;
    search_columns = allocate_array<ColumnMaxima>(columns);
    if (search_columns == nullptr) return false;
    // High-quality mode: only with a bit budget, since without one every block is exact.
    if (high_quality && bit_budget >= 0) {
        hq_methods = allocate_array<ColumnMethod>(columns);
        if (!hq_methods) return false;
        hq = make_object<HqQuantizer>(columns, rows, hq_lookahead_bytes);
        if (!hq || !hq->init()) return false;
    }
    return true;
}

void BlockPacker::set_high_quality(bool enabled, std::int64_t lookahead_bytes) {
    high_quality = enabled;
    hq_lookahead_bytes = lookahead_bytes;
}

void BlockPacker::pack_block(const std::int16_t* values) {
    assert(writer && search_columns);
    // After a failed write nothing reaches the sink any more; finish reports the failure.
    if (writer->write_failed()) return;
    std::memcpy(block.get(), values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    const std::int32_t step = choose_step();
    if (hq) {
        // High-quality mode: the quantizer keeps the block, or borrows the block buffer when
        // it keeps none, and hands back the blocks whose turn has come.
        hq->push(block.get(), step, gcd_step);
        while (hq->ready()) put_hq_block();
        return;
    }
    quantize_block(step);
    std::int32_t j = 0;
    while (j < columns) {
        // A run of zero columns is a run of zero method codes, put twelve at a time.
        std::int32_t zero_columns = 0;
        while (j < columns && max_magnitude.get()[j] == 0) {
            ++zero_columns;
            ++j;
        }
        for (; zero_columns >= 12; zero_columns -= 12) writer->put_bits(0, 12 * method_width);
        if (zero_columns > 0) writer->put_bits(0, zero_columns * method_width);
        if (j < columns) code_column(j++);
    }
}

std::int64_t BlockPacker::standard_bits(const std::int16_t* values, bool last) {
    assert(hq);
    std::memcpy(block.get(), values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    const std::int32_t step = choose_step();
    const std::int64_t bits = hq->standard_bits(block.get(), step);
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
    if (writer->write_failed()) return;
    std::memcpy(block.get(), values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    hq->push_with_target(block.get(), standard_bits, exact_step(block.get(), block_size));
    while (hq->ready()) put_hq_block();
}

// High-quality mode: the next block, its coded integers and column methods as the quantizer
// chose them.
void BlockPacker::put_hq_block() {
    const ColumnMethod* methods = hq_methods.get();
    const HqBlockHead head = hq->pop(block.get(), hq_methods.get());
    [[maybe_unused]] const std::int64_t bits_before = writer->bits_written();
    writer->put_bits(static_cast<std::uint32_t>(head.range_bits), range_bits_width);
    writer->put_bits(static_cast<std::uint32_t>(head.step), step_width);
    std::int32_t j = 0;
    while (j < columns) {
        // A run of zero columns is a run of zero method codes, put twelve at a time.
        std::int32_t zero_columns = 0;
        while (j < columns && methods[j] == ColumnMethod::zero) {
            ++zero_columns;
            ++j;
        }
        for (; zero_columns >= 12; zero_columns -= 12) writer->put_bits(0, 12 * method_width);
        if (zero_columns > 0) writer->put_bits(0, zero_columns * method_width);
        if (j < columns) {
            put_column_as(*writer, methods[j], Column{block.get() + j, columns, rows});
            ++j;
        }
    }
    assert(writer->bits_written() - bits_before == head.bits);
}

bool BlockPacker::finish() {
    if (!writer) return false;
    if (hq && !writer->write_failed()) {
        hq->end_input();
        while (hq->ready()) put_hq_block();
    }
    writer->finish_bits();
    return !writer->write_failed();
}

std::int64_t BlockPacker::bytes_written() const { return writer ? writer->bytes_written() : 0; }

std::int64_t BlockPacker::bits_written() const { return writer ? writer->bits_written() : 0; }

bool BlockPacker::write_failed() const { return writer && writer->write_failed(); }

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

    const std::int32_t first_step = exact_step(block.get(), block_size);
    gcd_step = first_step;

    // A budget below -1 cannot be met by any step; it is taken as no limit like -1.
    if (bit_budget < 0) return first_step;
    search_count = 0;
    for (std::int32_t j = 0; j < columns; ++j) {
        search_columns.get()[search_count] = {magnitude[j], top[j]};
        search_count += magnitude[j] != 0 ? 1 : 0;
    }
    if (step_fits(first_step)) return first_step;

    // Probe upward with doubling increments: first_step + 16, + 48, + 112, ... Every step
    // above the block's largest magnitude fits (it estimates 0 bits), so probes stay below
    // 2^17 and the result below 32770.
    std::int32_t last_unfit = first_step;
    std::int32_t increment = 16;
    while (!step_fits(last_unfit + increment)) {
        last_unfit += increment;
        increment *= 2;
    }
    // The smallest fitting step between, by binary search.
    std::int32_t first = last_unfit + 1;
    std::int32_t count = increment - 1;
    while (count > 0) {
        const std::int32_t half = count / 2;
        const std::int32_t mid = first + half;
        if (!step_fits(mid)) {
            first = mid + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

bool BlockPacker::step_fits(std::int32_t step) const {
    return estimate_bits(step) <= static_cast<double>(bit_budget);
}

// Columns of zeros estimate 0 bits at every step and are left out: adding 0 changes no sum.
double BlockPacker::estimate_bits(std::int32_t step) const {
    const ColumnMaxima* maxima = search_columns.get();
    double sum = 0.0;
    if (search_count <= 2) {  // too few columns to pay for the reciprocal's own division
        for (std::int32_t i = 0; i < search_count; ++i) {
            sum += bits_per_value(maxima[i].magnitude / step, maxima[i].positive / step);
        }
    } else {
        const Reciprocal divide_by_step(step);
        for (std::int32_t i = 0; i < search_count; ++i) {
            sum += bits_per_value(divide_by_step.divide(maxima[i].magnitude),
                                  divide_by_step.divide(maxima[i].positive));
        }
    }
    return sum * static_cast<double>(rows);
}

void BlockPacker::quantize_block(std::int32_t step) {
    assert(step >= 1 && step <= 32769);  // so the 16-bit field holds it
    // Division truncates toward zero, so it keeps the order of values of one sign: the
    // column maxima of the coded integers are those of the values divided by the step.
    const Reciprocal divide_by_step(step);
    std::int32_t* magnitude = max_magnitude.get();
    std::int16_t* top = max_positive.get();
    const std::int16_t* bottom = min_negative.get();
    std::int32_t range_needed = 1;  // largest -k over negative k and k + 1 over the others
    for (std::int32_t j = 0; j < columns; ++j) {
        const std::int32_t positive = divide_by_step.divide(top[j]);
        const std::int32_t negative = divide_by_step.divide(-std::int32_t{bottom[j]});
        range_needed = std::max(range_needed, std::max(positive + 1, negative));
        magnitude[j] = divide_by_step.divide(magnitude[j]);
        top[j] = static_cast<std::int16_t>(positive);
    }
    if (step != 1) {
        // The same division with a 32-bit factor, which the compiler turns into vector
        // multiplications: factor = floor(2^32 / step) + 1 = (2^32 + e) / step with
        // 0 < e <= step, so a * factor / 2^32 exceeds a / step by less than a / 2^32 <= 2^-17,
        // less than the 1 / step that separates a / step from the next integer.
        const auto factor =
            static_cast<std::uint32_t>((std::uint64_t{1} << 32) / static_cast<std::uint64_t>(step) +
                                       1);  // step >= 2: below 2^31 + 1
        std::int16_t* values = block.get();
        for (std::int32_t e = 0; e < block_size; ++e) {
            const std::int32_t v = values[e];
            const auto a = static_cast<std::uint32_t>(v < 0 ? -v : v);
            const auto k = static_cast<std::int32_t>((std::uint64_t{a} * factor) >> 32);
            values[e] = static_cast<std::int16_t>(v < 0 ? -k : k);
        }
    }
    const int range_bits = ceil_log2(static_cast<std::uint32_t>(range_needed));
    writer->put_bits(static_cast<std::uint32_t>(range_bits), range_bits_width);
    writer->put_bits(static_cast<std::uint32_t>(step), step_width);
}

void BlockPacker::code_column(std::int32_t j) {
    BitWriter& out = *writer;
    const Column column{block.get() + j, columns, rows};
    const std::int32_t a = max_magnitude.get()[j];
    const std::int32_t b = max_positive.get()[j];
    if (a == 0) {
        out.put_bits(static_cast<std::uint32_t>(ColumnMethod::zero), method_width);
    } else if (a >= 6) {
        put_linear(out, linear_width(a, b), column);
    } else if (a == 5) {
        put_packed2_7bit(out, column);
    } else {
        choose_small_column(out, a, b, column);
    }
}

}  // namespace vellox
