#pragma once
// ReferenceDecoder: an ACM file decoded as plainly as the format description reads, to check
// the library's decoder against.

#include <gtest/gtest.h>

#include <algorithm>  // std::min, std::max
#include <cstdint>    // std::int16_t, std::int32_t, std::int64_t, std::uint32_t
#include <cstdio>     // std::FILE, std::fopen, std::fgetc
#include <string>     // std::string
#include <utility>    // std::pair
#include <vector>     // std::vector

#include "acm/acm_format.h"
#include "sources/acm_stream_builder.h"

namespace vellox {
namespace acm_test {

// A decoder written plainly from the format description: one fgetc per byte into a 32-bit bit
// buffer, prefix codes matched bit by bit, group values split by division, the synthesis
// column by column with stage 1 kept as 16-bit pairs, and the read loop as described.
class ReferenceDecoder {
public:
    ReferenceDecoder(const char* name, std::int64_t span)
        : file(std::fopen(name, "rb")), failure_span(span) {
        std::uint8_t bytes[acm_header_size] = {};
        if (file == nullptr || std::fread(bytes, 1, acm_header_size, file) != 14) return;
        std::fseek(file, 0, SEEK_END);
        stream_bytes = std::ftell(file) - acm_header_size;
        std::fseek(file, acm_header_size, SEEK_SET);
        const AcmHeader header = decode_acm_header(bytes);
        sample_count = header.sample_count;
        levels = header.levels();
        rows = header.subblocks();
        columns = 1 << levels;
        remaining = static_cast<std::int32_t>(header.sample_count);
        block.resize(static_cast<std::size_t>(rows) << levels);
        stage1.assign(static_cast<std::size_t>(columns / 2), {0, 0});
        later.assign(static_cast<std::size_t>(levels + 1), {});
        for (int s = 2; s <= levels; ++s) {
            later[static_cast<std::size_t>(s)].assign(static_cast<std::size_t>(columns >> s),
                                                      {0, 0});
        }
    }
    ~ReferenceDecoder() {
        if (file != nullptr) std::fclose(file);
    }

    // A block that fails hands out zeros up to the next multiple of failure_span values.
    std::int32_t read(std::int16_t* buffer, std::int32_t count) {
        std::int32_t i = 0;
        while (i < count) {
            if (position < zeros_until) {
                buffer[i++] = 0;
                ++position;
                continue;
            }
            if (available == 0) {
                if (remaining == 0) break;
                const std::int64_t first_bit = 8 * bytes_taken - bit_count;
                if (!unpack()) {
                    ++failed;
                    zeros_until = (position / failure_span + 1) * failure_span;
                    continue;
                }
                present = first_bit < 8 * stream_bytes;
                synthesize();
                cursor = 0;
                available = std::min(static_cast<std::int32_t>(block.size()), remaining);
                remaining -= available;
            }
            const std::int32_t v = block[static_cast<std::size_t>(cursor++)] >> levels;
            buffer[i++] = static_cast<std::int16_t>(std::max(-32768, std::min(32767, v)));
            if (present && position < sample_count) ++decoded;
            ++position;
            --available;
        }
        for (std::int32_t j = i; j < count; ++j) buffer[j] = 0;
        position += count - i;
        return i;
    }

    std::int64_t not_decoded() const { return std::min(position, sample_count) - decoded; }

    // The bytes of the stream behind the last block the sample count needs, once the blocks
    // not unpacked yet are: a failed block is followed by the next from where it stopped.
    std::int64_t trailing_bytes() {
        while (remaining > 0) {
            if (!unpack()) {
                ++failed;
                continue;
            }
            remaining -= std::min(static_cast<std::int32_t>(block.size()), remaining);
        }
        const std::int64_t block_end = (8 * bytes_taken - bit_count + 7) / 8;
        return std::max<std::int64_t>(0, stream_bytes - block_end);
    }

    std::int32_t remaining = 0;
    std::int64_t failed = 0;

private:
    std::uint32_t get_bits(int n) {
        while (bit_count < n) {
            const int c = std::fgetc(file);
            ++bytes_taken;
            bit_buffer |= static_cast<std::uint32_t>(c == EOF ? 0 : c) << bit_count;
            bit_count += 8;
        }
        const std::uint32_t value = bit_buffer & ((1u << n) - 1);
        bit_buffer >>= n;
        bit_count -= n;
        return value;
    }
    std::int32_t& at(int row, int column) {
        return block[static_cast<std::size_t>(row * columns + column)];
    }
    std::int32_t entry(int k) { return table[static_cast<std::size_t>(k + 32768)]; }

    bool unpack() {
        const int range_bits = static_cast<int>(get_bits(4));
        const std::uint32_t step = get_bits(16);
        for (std::uint32_t k = 0; k <= (1u << range_bits); ++k) {
            if (k < (1u << range_bits)) {
                table[32768 + k] = static_cast<std::int16_t>(static_cast<std::uint16_t>(k * step));
            }
            if (k > 0) {
                table[32768 - k] =
                    static_cast<std::int16_t>(static_cast<std::uint16_t>(0u - k * step));
            }
        }
        for (int j = 0; j < columns; ++j) {
            const int code = static_cast<int>(get_bits(5));
            if (code == 0) {
                for (int r = 0; r < rows; ++r) at(r, j) = 0;
            } else if (code >= 3 && code <= 16) {
                for (int r = 0; r < rows; ++r) {
                    at(r, j) = entry(static_cast<int>(get_bits(code)) - (1 << (code - 1)));
                }
            } else if (code == 19 || code == 22 || code == 29) {
                const int base = code == 19 ? 3 : (code == 22 ? 5 : 11);
                const int digits = code == 29 ? 2 : 3;
                const int limit = digits == 2 ? base * base : base * base * base;
                for (int r = 0; r < rows;) {
                    int g = static_cast<int>(get_bits(code == 19 ? 5 : 7));
                    if (g >= limit) g = 0;
                    for (int d = 0; d < digits; ++d, g /= base, ++r) {
                        if (r < rows) at(r, j) = entry(g % base - base / 2);
                    }
                }
            } else if (const PrefixCode* p = prefix_code(code)) {
                for (int r = 0; r < rows; ++r) {
                    std::string seen;
                    int k = 99;
                    while (k == 99 && seen.size() < 5) {
                        seen += get_bits(1) != 0 ? '1' : '0';
                        if (p->pairs && seen == "0") k = 100;
                        for (int v = -4; v <= 4; ++v) {
                            if (p->words[v + 4] != nullptr && seen == p->words[v + 4]) k = v;
                        }
                    }
                    EXPECT_NE(k, 99) << "incomplete code " << code;
                    at(r, j) = k == 100 ? 0 : entry(k);
                    if (k == 100 && r + 1 < rows) at(++r, j) = 0;
                }
            } else {
                return false;
            }
        }
        return true;
    }

    static const PrefixCode* prefix_code(int code) {
        for (const PrefixCode& p : prefix_codes) {
            if (p.code == code) return &p;
        }
        return nullptr;
    }

    static std::int32_t wrap(std::int64_t v) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }

    template <typename Pair>
    void stage(int d, int n, std::vector<Pair>& pairs) {
        for (int i = 0; i < d; ++i) {
            auto& pair = pairs[static_cast<std::size_t>(i)];
            std::int64_t a = pair.first;
            std::int64_t b = pair.second;
            for (int k = 0; k < n / 2; ++k) {
                std::int32_t& x = block[static_cast<std::size_t>(2 * k * d + i)];
                std::int32_t& y = block[static_cast<std::size_t>((2 * k + 1) * d + i)];
                const std::int64_t x0 = x;
                const std::int64_t y0 = y;
                x = wrap(x0 + a + 2 * b);
                y = wrap(2 * x0 - y0 - b);
                a = x0;
                b = y0;
            }
            pair = {static_cast<typename Pair::first_type>(a),
                    static_cast<typename Pair::second_type>(b)};
        }
    }

    void synthesize() {
        if (levels == 0) return;
        stage(columns / 2, 2 * rows, stage1);
        for (int j = 0; j < 2 * rows; ++j) {
            block[static_cast<std::size_t>(j * (columns / 2))] =
                wrap(std::int64_t{block[static_cast<std::size_t>(j * (columns / 2))]} + 1);
        }
        for (int s = 2; s <= levels; ++s) {
            stage(columns >> s, rows << s, later[static_cast<std::size_t>(s)]);
        }
    }

    std::FILE* file;
    std::int64_t failure_span;
    std::int64_t stream_bytes = 0;  // bytes behind the header
    std::int64_t sample_count = 0;
    std::int64_t position = 0;     // values handed out
    std::int64_t zeros_until = 0;  // a failed block's zeros end here
    std::int64_t decoded = 0;      // values below sample_count from present blocks
    std::int64_t bytes_taken = 0;  // bytes taken into the bit buffer, past the end included
    bool present = false;          // the current block began before the end of the stream
    int levels = 0;
    int rows = 0;
    int columns = 1;
    std::uint32_t bit_buffer = 0;
    int bit_count = 0;
    std::vector<std::int16_t> table = std::vector<std::int16_t>(65536, 0);
    std::vector<std::int32_t> block;
    std::int32_t cursor = 0;
    std::int32_t available = 0;
    std::vector<std::pair<std::int16_t, std::int16_t>> stage1;
    std::vector<std::vector<std::pair<std::int32_t, std::int32_t>>> later;
};

}  // namespace acm_test
}  // namespace vellox
