// The column coder's decision table and the bits of every method, the prefix codes' bits
// taken from their codeword lengths.

#include "acm/column_cost.h"

#include "acm/prefix_codes.h"

namespace vellox {

namespace {

// The length of the codeword of k in code.
constexpr int length_of(const PrefixCode& code, int k) {
    return code.words[k + code.largest].length;
}

// True when a codeword's length depends on |k| only through whether k is 0, 1 or -1, or
// larger: then the counts of zeros and ones give the bits of a column.
constexpr bool lengths_follow_the_counts(const PrefixCode& code) {
    for (int k = 2; k <= code.largest; ++k) {
        if (length_of(code, k) != length_of(code, 2) || length_of(code, -k) != length_of(code, 2))
            return false;
    }
    return length_of(code, -1) == length_of(code, 1);
}

static_assert(lengths_follow_the_counts(vlc1_pairs_code) && lengths_follow_the_counts(vlc1_code) &&
              lengths_follow_the_counts(vlc2_pairs_code) && lengths_follow_the_counts(vlc2_code) &&
              lengths_follow_the_counts(vlc3_pairs_code) && lengths_follow_the_counts(vlc3_code) &&
              lengths_follow_the_counts(vlc4_pairs_code) && lengths_follow_the_counts(vlc4_code));

// The data bits of a prefix-code column: a pair method writes the one-bit zero_pair for the
// pairs and the codeword of 0 for the zeros alone.
constexpr std::int64_t prefix_bits(const PrefixCode& code, const ColumnCounts& c,
                                   std::int32_t rows) {
    const std::int64_t nonzero = std::int64_t{rows} - c.zeros;
    const std::int64_t others = nonzero - c.ones;  // magnitudes of 2 or more
    const std::int64_t zero_bits = code.has_pairs
                                       ? c.pairs + std::int64_t{length_of(code, 0)} * c.single_zeros
                                       : std::int64_t{length_of(code, 0)} * c.zeros;
    return zero_bits + std::int64_t{length_of(code, 1)} * c.ones +
           (code.largest >= 2 ? std::int64_t{length_of(code, 2)} * others : 0);
}

// The data bits of a group-method column: every group whole, the last one too.
constexpr std::int64_t group_bits(const GroupCode& code, std::int32_t rows) {
    return std::int64_t{code.width} * ((std::int64_t{rows} + code.values - 1) / code.values);
}

// The data bits of method, a method with a decoder.
constexpr std::int64_t data_bits(ColumnMethod method, const ColumnCounts& c, std::int32_t rows) {
    if (method == ColumnMethod::zero) return 0;
    if (const PrefixCode* code = prefix_code_of(method)) return prefix_bits(*code, c, rows);
    if (const GroupCode* code = group_code_of(method)) return group_bits(*code, rows);
    return static_cast<std::int64_t>(method) * rows;  // linear, the code is the width
}

}  // namespace

std::int64_t column_bits(ColumnMethod method, const ColumnCounts& c, std::int32_t rows) {
    return method_width + data_bits(method, c, rows);
}

std::int64_t standard_column_bits(const ColumnCounts& c, std::int32_t rows) {
    return column_bits(standard_column_method(c, rows), c, rows);
}

ColumnChoice cheapest_column(const ColumnCounts& c, std::int32_t rows) {
    ColumnChoice best;
    best.bits = method_width;
    const std::int32_t a = c.max_magnitude;
    if (a == 0) return best;
    // The narrowest linear column that holds the coded integers, then every method of a
    // smaller range that holds them too.
    best.method = static_cast<ColumnMethod>(linear_width(a, c.max_positive));
    std::int64_t data = data_bits(best.method, c, rows);
    const auto consider = [&](ColumnMethod method) {
        const std::int64_t bits = data_bits(method, c, rows);
        if (bits < data) {
            data = bits;
            best.method = method;
        }
    };
    if (a <= 5) consider(ColumnMethod::packed2_7bit);
    if (a <= 4) {
        consider(ColumnMethod::vlc4);
        consider(ColumnMethod::vlc4_pairs);
    }
    if (a <= 3) {
        consider(ColumnMethod::vlc3);
        consider(ColumnMethod::vlc3_pairs);
    }
    if (a <= 2) {
        consider(ColumnMethod::packed3_7bit);
        consider(ColumnMethod::vlc2);
        consider(ColumnMethod::vlc2_pairs);
    }
    if (a <= 1) {
        consider(ColumnMethod::packed3_5bit);
        consider(ColumnMethod::vlc1);
        consider(ColumnMethod::vlc1_pairs);
    }
    best.bits = method_width + data;
    return best;
}

}  // namespace vellox
