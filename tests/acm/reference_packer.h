#pragma once
// A reference packer for the packer's tests: the stream format transcribed as directly as
// possible (a byte-at-a-time writer, per-value loops), and seeded random blocks of many kinds.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "acm/packer_streams.h"

namespace vellox::packer_test {

class ReferenceWriter {
public:
    void put_bits(std::uint32_t value, int n) {
        const int room = 32 - pending;
        const int first = n > room ? room : n;
        add(value & mask(first), first);
        if (n > first) add((value >> first) & mask(n - first), n - first);
    }

    void finish_bits() {
        flush_whole_bytes();
        if (pending == 0) return;
        accumulator &= (1u << pending) - 1;
        if (accumulator != 0) {
            write_held_zeros();
            out.push_back(static_cast<std::uint8_t>(accumulator));
        }
        accumulator = 0;
        pending = 0;
    }

    Bytes out;

private:
    static std::uint32_t mask(int f) { return f == 32 ? 0xFFFFFFFFu : (1u << f) - 1; }

    std::uint8_t byte(int i) const { return static_cast<std::uint8_t>(accumulator >> (8 * i)); }

    void add(std::uint32_t bits, int f) {
        accumulator |= bits << pending;
        pending += f;
        flush_whole_bytes();
    }

    void flush_whole_bytes() {
        const int w = pending / 8;
        if (w == 0) return;
        int t = 0;
        while (t < w && byte(w - 1 - t) == 0) ++t;
        if (w > t) {
            write_held_zeros();
            for (int i = 0; i < w - t; ++i) out.push_back(byte(i));
        }
        held_zero_bytes += t;
        accumulator = w == 4 ? 0 : accumulator >> (8 * w);
        pending -= 8 * w;
    }

    void write_held_zeros() {
        while (held_zero_bytes > 0) {
            const int n = std::min(held_zero_bytes, 4);
            out.insert(out.end(), static_cast<std::size_t>(n), 0);
            held_zero_bytes -= n;
        }
    }

    std::uint32_t accumulator = 0;
    int pending = 0;
    int held_zero_bytes = 0;
};

// Prefix codes of k = -m .. m in stream order; the pair methods' zero_pair is "0".
struct ReferenceCode {
    int method;
    bool pairs;
    int m;
    std::vector<const char*> patterns;
};

const ReferenceCode reference_codes[8] = {
    {17, true, 1, {"110", "10", "111"}},
    {18, false, 1, {"10", "0", "11"}},
    {20, true, 2, {"1100", "1110", "10", "1101", "1111"}},
    {21, false, 2, {"100", "110", "0", "101", "111"}},
    {23, true, 3, {"11100", "11110", "1100", "10", "1101", "11101", "11111"}},
    {24, false, 3, {"1100", "1110", "100", "0", "101", "1101", "1111"}},
    {26, true, 4, {"11000", "11100", "11010", "11110", "10", "11001", "11101", "11011", "11111"}},
    {27, false, 4, {"1000", "1100", "1010", "1110", "0", "1001", "1101", "1011", "1111"}},
};

class ReferencePacker {
public:
    ReferencePacker(int columns_, int rows_, int bit_budget_)
        : columns(columns_),
          rows(rows_),
          block_size(columns_ * rows_),
          bit_budget(bit_budget_),
          block(static_cast<std::size_t>((rows_ + 2) * columns_), 0),
          max_magnitude(static_cast<std::size_t>(columns_)),
          max_positive(static_cast<std::size_t>(columns_)) {}

    void pack_block(const std::int16_t* values) {
        const int step = choose_step(values);
        quantize_block(step);
        for (int j = 0; j < columns; ++j) code_column(j);
    }

    Bytes finish() {
        writer.finish_bits();
        return writer.out;
    }

private:
    int at(int row, int column) const {
        return block[static_cast<std::size_t>(row * columns + column)];
    }

    int choose_step(const std::int16_t* values) {
        std::fill(max_magnitude.begin(), max_magnitude.end(), 0);
        std::fill(max_positive.begin(), max_positive.end(), 0);
        int j = 0;
        for (int e = 0; e < block_size; ++e) {
            const int v = values[e];
            block[static_cast<std::size_t>(e)] = v;
            const auto column = static_cast<std::size_t>(j);
            if (v > 0) max_positive[column] = std::max(max_positive[column], v);
            max_magnitude[column] = std::max(max_magnitude[column], std::abs(v));
            if (++j == columns) j = 0;
        }
        int g = 0;
        for (int e = 0; e < block_size; ++e) {
            int a = std::abs(block[static_cast<std::size_t>(e)]);
            while (a != 0) {
                const int r = g % a;
                g = a;
                a = r;
            }
        }
        const int s0 = g == 0 ? 1 : g;
        if (bit_budget == -1 || fits(s0)) return s0;
        int last = s0;
        int d = 16;
        while (!fits(last + d)) {
            last += d;
            d *= 2;
        }
        int first = last + 1;
        int count = d - 1;
        while (count > 0) {
            const int half = count / 2;
            const int mid = first + half;
            if (!fits(mid)) {
                first = mid + 1;
                count = count - half - 1;
            } else {
                count = half;
            }
        }
        return first;
    }

    bool fits(int s) const { return estimate_bits(s) <= static_cast<double>(bit_budget); }

    double estimate_bits(int s) const {
        double sum = 0;
        for (int j = 0; j < columns; ++j) {
            const auto column = static_cast<std::size_t>(j);
            sum += bits_per_value(max_magnitude[column] / s, max_positive[column] / s);
        }
        return sum * rows;
    }

    static double bits_per_value(int a, int b) {
        switch (a) {
            case 0:
                return 0;
            case 1:
                return 5.0 / 3.0;
            case 2:
                return 7.0 / 3.0;
            case 3:
                return 3;
            case 4:
                return b <= 3 ? 3 : 3.5;
            case 5:
                return 3.5;
            default:
                return linear_width(a, b);
        }
    }

    static int linear_width(int a, int b) {
        int n = 0;
        while ((1 << n) < std::max(a, b + 1)) ++n;
        return n + 1;
    }

    void quantize_block(int step) {
        int x = 1;
        for (int e = 0; e < block_size; ++e) {
            const int k = block[static_cast<std::size_t>(e)] / step;
            block[static_cast<std::size_t>(e)] = k;
            x = std::max(x, k < 0 ? -k : k + 1);
        }
        int range_bits = 0;
        while ((1 << range_bits) < x) ++range_bits;
        writer.put_bits(static_cast<std::uint32_t>(range_bits), 4);
        writer.put_bits(static_cast<std::uint32_t>(step), 16);
    }

    void code_column(int j) {
        int magnitude = 0, positive = 0, ones = 0, zeros = 0, pairs = 0;
        for (int i = 0; i < rows;) {
            const int k = at(i, j);
            if (k != 0) {
                magnitude = std::max(magnitude, std::abs(k));
                if (k > 0) positive = std::max(positive, k);
                if (std::abs(k) == 1) ++ones;
                ++i;
            } else {
                ++zeros;
                if (at(i + 1, j) != 0) {
                    ++i;
                } else {
                    ++pairs;
                    if (i + 1 < rows) ++zeros;
                    i += 2;
                }
            }
        }
        const bool pairs_test = 3 * pairs > rows;
        switch (magnitude) {
            case 0:
                writer.put_bits(0, 5);
                return;
            case 1:
                if (pairs_test) return put_prefix(0, j);
                if (3 * zeros > rows) return put_prefix(1, j);
                return put_packed3_5bit(j);
            case 2:
                if (pairs_test) return put_prefix(2, j);
                if (3 * zeros > rows) return put_prefix(3, j);
                return put_packed3_7bit(j);
            case 3:
                if (pairs_test) return put_prefix(4, j);
                if (3 * zeros + ones > rows) return put_prefix(5, j);
                return put_linear(3, j);
            case 4:
                if (positive <= 3) {
                    if (pairs_test) return put_prefix(6, j);
                    if (3 * zeros > rows) return put_prefix(7, j);
                    return put_linear(3, j);
                }
                if (pairs_test) return put_prefix(6, j);
                if (6 * zeros > rows) return put_prefix(7, j);
                return put_packed2_7bit(j);
            case 5:
                return put_packed2_7bit(j);
            default:
                return put_linear(linear_width(magnitude, positive), j);
        }
    }

    void put_pattern(const char* pattern) {
        for (; *pattern != '\0'; ++pattern) writer.put_bits(*pattern == '1' ? 1 : 0, 1);
    }

    void put_prefix(int row, int j) {
        const ReferenceCode& code = reference_codes[row];
        writer.put_bits(static_cast<std::uint32_t>(code.method), 5);
        for (int i = 0; i < rows;) {
            if (code.pairs && at(i, j) == 0 && at(i + 1, j) == 0) {
                writer.put_bits(0, 1);
                i += 2;
            } else {
                put_pattern(code.patterns[static_cast<std::size_t>(at(i, j) + code.m)]);
                ++i;
            }
        }
    }

    void put_linear(int w, int j) {
        writer.put_bits(static_cast<std::uint32_t>(w), 5);
        for (int i = 0; i < rows; ++i) {
            writer.put_bits(static_cast<std::uint32_t>(at(i, j) + (1 << (w - 1))), w);
        }
    }

    void put_packed3_5bit(int j) {
        writer.put_bits(19, 5);
        for (int i = 0; i < rows; i += 3) {
            const int g = at(i, j) + 3 * at(i + 1, j) + 9 * at(i + 2, j) + 13;
            writer.put_bits(static_cast<std::uint32_t>(g), 5);
        }
    }

    void put_packed3_7bit(int j) {
        writer.put_bits(22, 5);
        for (int i = 0; i < rows; i += 3) {
            const int g = at(i, j) + 5 * at(i + 1, j) + 25 * at(i + 2, j) + 62;
            writer.put_bits(static_cast<std::uint32_t>(g), 7);
        }
    }

    void put_packed2_7bit(int j) {
        writer.put_bits(29, 5);
        for (int i = 0; i < rows; i += 2) {
            const int g = at(i, j) + 11 * at(i + 1, j) + 60;
            writer.put_bits(static_cast<std::uint32_t>(g), 7);
        }
    }

    int columns;
    int rows;
    int block_size;
    int bit_budget;
    std::vector<int> block;  // rows + 2 rows
    std::vector<int> max_magnitude;
    std::vector<int> max_positive;
    ReferenceWriter writer;
};

inline Bytes reference_pack(int columns, int rows, int bit_budget,
                            const std::vector<Block>& blocks) {
    ReferencePacker packer(columns, rows, bit_budget);
    for (const Block& block : blocks) packer.pack_block(block.data());
    return packer.finish();
}

// Values of one kind: silence, narrow with zeros, full range, subband-like (large in the first
// columns, small in the last), sparse clicks, multiples of a common factor, extremes.
inline Block random_block(std::mt19937& random, int columns, int rows, int kind) {
    Block block(static_cast<std::size_t>(columns * rows), 0);
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int factor = uniform(2, 300);
    std::vector<int> column_range(static_cast<std::size_t>(columns));
    std::vector<int> column_zeros(static_cast<std::size_t>(columns));
    for (int j = 0; j < columns; ++j) {
        column_range[static_cast<std::size_t>(j)] = uniform(1, 6);
        column_zeros[static_cast<std::size_t>(j)] = uniform(0, 3);
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            int v = 0;
            switch (kind) {
                case 0:
                    break;
                case 1:
                    // Each column its own small range and share of zeros.
                    v = uniform(0, 3) >= column_zeros[static_cast<std::size_t>(j)]
                            ? uniform(-column_range[static_cast<std::size_t>(j)],
                                      column_range[static_cast<std::size_t>(j)])
                            : 0;
                    break;
                case 2:
                    v = uniform(-6, 6);
                    break;
                case 3:
                    v = uniform(-32768, 32767);
                    break;
                case 4: {
                    const int scale = 20000 >> (j * 14 / columns);
                    v = uniform(-scale, scale);
                    break;
                }
                case 5:
                    v = uniform(0, 40) == 0 ? uniform(-3000, 3000) : 0;
                    break;
                case 6:
                    v = std::clamp(factor * uniform(-40, 40), -32768, 32767) / factor * factor;
                    break;
                default: {
                    static constexpr int extremes[] = {-32768, 32767, 0, -1, 1, 16384, -16385};
                    v = extremes[uniform(0, 6)];
                    break;
                }
            }
            block[static_cast<std::size_t>(i * columns + j)] = static_cast<std::int16_t>(v);
        }
    }
    return block;
}

}  // namespace vellox::packer_test
