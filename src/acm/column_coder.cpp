// The column coders: one emitter per kind of method, each writing a whole column through a
// burst of the bit writer, which keeps the pending bits in registers.

#include "acm/column_coder.h"

#include <cassert>  // assert

#include "acm/prefix_codes.h"

namespace vellox {

namespace {

// Each emitter makes its own burst, so that the compiler sees it whole.
class ColumnBits : public BitWriter::Burst {
public:
    using Burst::Burst;
    void put_method(ColumnMethod method) { put(static_cast<std::uint32_t>(method), method_width); }
};

// One codeword per row. In a pair method a zero at an odd place of its run of zeros (counted
// from 1) is written as the one-bit zero_pair when the next row (the extra zero row after
// the last) also holds 0, and as its codeword otherwise; a zero at an even place is the pair's
// second half and writes nothing. Chosen without branches, as the rows come.
template <bool pairs>
void put_prefix_coded(BitWriter& out, const PrefixCode& code, const Column column) {
    ColumnBits bits(out);
    bits.put_method(code.method);
    const Codeword* words = code.words + code.largest;  // indexed by k
    if (pairs) {
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

// A group method of values rows to a group (3 or 2); rows past the last read as 0 from the
// extra zero rows.
template <int values>
void put_grouped(BitWriter& out, const GroupCode& code, const Column column) {
    static_assert(values == 2 || values == 3, "groups of two or three rows");
    assert(code.values == values);
    ColumnBits bits(out);
    bits.put_method(code.method);
    const std::int32_t base = code.base();
    const std::int32_t offset = code.offset();
    const std::uint32_t mask = (std::uint32_t{1} << code.width) - 1;
    for (std::int32_t i = 0; i < column.rows; i += values) {
        std::int32_t group = column.at(i) + base * column.at(i + 1) + offset;
        if (values == 3) group += base * base * column.at(i + 2);
        bits.put(static_cast<std::uint32_t>(group) & mask, code.width);
    }
    bits.finish();
}

}  // namespace

void put_column(BitWriter& out, ColumnMethod method, const Column& column) {
    // Linear columns first: loud material codes most of its columns so.
    if (method >= ColumnMethod::linear_first && method <= ColumnMethod::linear_last) {
        put_linear(out, static_cast<int>(method), column);  // the code is the width
    } else if (const PrefixCode* code = prefix_code_of(method)) {
        if (code->has_pairs) {
            put_prefix_coded<true>(out, *code, column);
        } else {
            put_prefix_coded<false>(out, *code, column);
        }
    } else if (const GroupCode* group = group_code_of(method)) {
        if (group->values == 3) {
            put_grouped<3>(out, *group, column);
        } else {
            put_grouped<2>(out, *group, column);
        }
    } else {
        assert(method == ColumnMethod::zero);
        out.put_bits(static_cast<std::uint32_t>(method), method_width);
    }
}

}  // namespace vellox
