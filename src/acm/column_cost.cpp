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
std::int64_t data_bits(ColumnMethod method, const ColumnCounts& c, std::int32_t rows) {
    switch (method) {
        case ColumnMethod::zero:
            return 0;
        case ColumnMethod::vlc1_pairs:
            return prefix_bits(vlc1_pairs_code, c, rows);
        case ColumnMethod::vlc1:
            return prefix_bits(vlc1_code, c, rows);
        case ColumnMethod::vlc2_pairs:
            return prefix_bits(vlc2_pairs_code, c, rows);
        case ColumnMethod::vlc2:
            return prefix_bits(vlc2_code, c, rows);
        case ColumnMethod::vlc3_pairs:
            return prefix_bits(vlc3_pairs_code, c, rows);
        case ColumnMethod::vlc3:
            return prefix_bits(vlc3_code, c, rows);
        case ColumnMethod::vlc4_pairs:
            return prefix_bits(vlc4_pairs_code, c, rows);
        case ColumnMethod::vlc4:
            return prefix_bits(vlc4_code, c, rows);
        case ColumnMethod::packed3_5bit:
            return group_bits(packed3_5bit_group, rows);
        case ColumnMethod::packed3_7bit:
            return group_bits(packed3_7bit_group, rows);
        case ColumnMethod::packed2_7bit:
            return group_bits(packed2_7bit_group, rows);
        default:  // linear, the code is the width
            return static_cast<std::int64_t>(method) * rows;
    }
}

}  // namespace

ColumnMethod standard_column_method(const ColumnCounts& c, std::int32_t rows) {
    const std::int64_t r = rows;
    const std::int64_t zeros = c.zeros;
    const bool pairs_pay = 3 * std::int64_t{c.pairs} > r;
    switch (c.max_magnitude) {
        case 0:
            return ColumnMethod::zero;
        case 1:
            if (pairs_pay) return ColumnMethod::vlc1_pairs;
            return 3 * zeros > r ? ColumnMethod::vlc1 : ColumnMethod::packed3_5bit;
        case 2:
            if (pairs_pay) return ColumnMethod::vlc2_pairs;
            return 3 * zeros > r ? ColumnMethod::vlc2 : ColumnMethod::packed3_7bit;
        case 3:
            if (pairs_pay) return ColumnMethod::vlc3_pairs;
            return 3 * zeros + c.ones > r ? ColumnMethod::vlc3 : static_cast<ColumnMethod>(3);
        case 4:
            if (pairs_pay) return ColumnMethod::vlc4_pairs;
            if (c.max_positive <= 3) {
                return 3 * zeros > r ? ColumnMethod::vlc4 : static_cast<ColumnMethod>(3);
            }
            return 6 * zeros > r ? ColumnMethod::vlc4 : ColumnMethod::packed2_7bit;
        case 5:
            return ColumnMethod::packed2_7bit;
        default:
            return static_cast<ColumnMethod>(linear_width(c.max_magnitude, c.max_positive));
    }
}

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
