#pragma once
// The eight prefix codes of the column methods, once for the writer and the reader: each
// coded integer's codeword, and the 5-bit look-ahead table a reader decodes them with.

#include <array>    // std::array
#include <cstdint>  // std::uint8_t

#include "acm/acm_format.h"

namespace vellox {

// One codeword: the bit pattern read least significant bit first, and its length.
struct Codeword {
    std::uint8_t value;
    std::uint8_t length;
};

// A prefix-code method: its code, whether it has the one-bit zero_pair symbol (the value 0
// in 1 bit: two zero rows, or one on the last row), its largest magnitude m and the codewords
// of k = -m .. m.
struct PrefixCode {
    ColumnMethod method;
    bool has_pairs;
    int largest;
    Codeword words[9];
};

constexpr PrefixCode vlc1_pairs_code = {
    ColumnMethod::vlc1_pairs, true, 1, {{3, 3}, {1, 2}, {7, 3}}};
constexpr PrefixCode vlc1_code = {ColumnMethod::vlc1, false, 1, {{1, 2}, {0, 1}, {3, 2}}};
constexpr PrefixCode vlc2_pairs_code = {
    ColumnMethod::vlc2_pairs, true, 2, {{3, 4}, {7, 4}, {1, 2}, {11, 4}, {15, 4}}};
constexpr PrefixCode vlc2_code = {
    ColumnMethod::vlc2, false, 2, {{1, 3}, {3, 3}, {0, 1}, {5, 3}, {7, 3}}};
constexpr PrefixCode vlc3_pairs_code = {
    ColumnMethod::vlc3_pairs,
    true,
    3,
    {{7, 5}, {15, 5}, {3, 4}, {1, 2}, {11, 4}, {23, 5}, {31, 5}}};
constexpr PrefixCode vlc3_code = {
    ColumnMethod::vlc3, false, 3, {{3, 4}, {7, 4}, {1, 3}, {0, 1}, {5, 3}, {11, 4}, {15, 4}}};
constexpr PrefixCode vlc4_pairs_code = {
    ColumnMethod::vlc4_pairs,
    true,
    4,
    {{3, 5}, {7, 5}, {11, 5}, {15, 5}, {1, 2}, {19, 5}, {23, 5}, {27, 5}, {31, 5}}};
constexpr PrefixCode vlc4_code = {
    ColumnMethod::vlc4,
    false,
    4,
    {{1, 4}, {3, 4}, {5, 4}, {7, 4}, {0, 1}, {9, 4}, {11, 4}, {13, 4}, {15, 4}}};

// The prefix code of method, or null for a method of another kind.
constexpr const PrefixCode* prefix_code_of(ColumnMethod method) {
    switch (method) {
        case ColumnMethod::vlc1_pairs:
            return &vlc1_pairs_code;
        case ColumnMethod::vlc1:
            return &vlc1_code;
        case ColumnMethod::vlc2_pairs:
            return &vlc2_pairs_code;
        case ColumnMethod::vlc2:
            return &vlc2_code;
        case ColumnMethod::vlc3_pairs:
            return &vlc3_pairs_code;
        case ColumnMethod::vlc3:
            return &vlc3_code;
        case ColumnMethod::vlc4_pairs:
            return &vlc4_pairs_code;
        case ColumnMethod::vlc4:
            return &vlc4_code;
        default:
            return nullptr;
    }
}

// A reader's decoding table of a prefix code: the next 5 bits of the stream (bit 0 first) as
// an index give the codeword's length in bits 0..3 and k + 8 in bits 4..7, or 0 there for
// the zero_pair symbol.
using PrefixTable = std::array<std::uint8_t, 32>;
constexpr int zero_pair_symbol = -8;  // the k of a zero_pair entry

constexpr PrefixTable make_prefix_table(const PrefixCode& code) {
    PrefixTable table{};
    const auto put = [&table](Codeword word, int k) {
        const unsigned mask = (1u << word.length) - 1;
        for (unsigned peek = 0; peek < 32; ++peek) {
            if ((peek & mask) == word.value) {
                table[peek] = static_cast<std::uint8_t>(word.length | ((k + 8) << 4));
            }
        }
    };
    for (int k = -code.largest; k <= code.largest; ++k) put(code.words[k + code.largest], k);
    if (code.has_pairs) put(Codeword{0, 1}, zero_pair_symbol);
    return table;
}

// True when the codewords cover every 5-bit look-ahead exactly once: every bit sequence
// decodes, and no codeword hides another.
constexpr bool is_complete(const PrefixCode& code) {
    unsigned covered = code.has_pairs ? 16 : 0;
    for (int i = 0; i <= 2 * code.largest; ++i) covered += 32u >> code.words[i].length;
    const PrefixTable table = make_prefix_table(code);
    for (std::uint8_t entry : table) {
        if (entry == 0) return false;
    }
    return covered == 32;
}

static_assert(is_complete(vlc1_pairs_code) && is_complete(vlc1_code) &&
              is_complete(vlc2_pairs_code) && is_complete(vlc2_code) &&
              is_complete(vlc3_pairs_code) && is_complete(vlc3_code) &&
              is_complete(vlc4_pairs_code) && is_complete(vlc4_code));

}  // namespace vellox
