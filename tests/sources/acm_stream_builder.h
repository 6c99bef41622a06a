#pragma once
// Helpers for the ACM reader's tests and benchmark: a least-significant-bit-first stream
// builder, whole ACM files in temporary files, and seeded random blocks that use every valid
// column method.

#include <unistd.h>  // write, close, unlink

#include <algorithm>  // std::max, std::min
#include <cstdint>    // std::int32_t, std::uint8_t, std::uint32_t
#include <cstdlib>    // mkstemp
#include <random>     // std::mt19937
#include <string>     // std::string
#include <vector>     // std::vector

#include "acm/acm_format.h"

namespace vellox {
namespace acm_test {

class BitStreamBuilder {
public:
    void put_bit(bool bit) {
        if (bit_total % 8 == 0) data.push_back(0);
        if (bit) data.back() = static_cast<std::uint8_t>(data.back() | (1u << (bit_total % 8)));
        ++bit_total;
    }
    // The low width bits of value, least significant first.
    void put(std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) put_bit(((value >> i) & 1u) != 0);
    }
    // Bits in stream order: "110" is a one, a one, then a zero.
    void put_pattern(const char* bits) {
        for (; *bits != '\0'; ++bits) put_bit(*bits == '1');
    }
    void put_block_head(int range_bits, int step) {
        put(static_cast<std::uint32_t>(range_bits), range_bits_width);
        put(static_cast<std::uint32_t>(step), step_width);
    }
    void put_method(int code) { put(static_cast<std::uint32_t>(code), method_width); }

    const std::vector<std::uint8_t>& bytes() const { return data; }
    long bits() const { return bit_total; }

private:
    std::vector<std::uint8_t> data;
    long bit_total = 0;
};

// A header for sample_count, levels and subblocks followed by stream.
inline std::vector<std::uint8_t> acm_file_bytes(std::uint32_t sample_count, int levels,
                                                int subblocks,
                                                const std::vector<std::uint8_t>& stream) {
    AcmHeader header;
    header.sample_count = sample_count;
    header.levels_subblocks = pack_levels_subblocks(levels, subblocks);
    std::vector<std::uint8_t> bytes(acm_header_size);
    encode_acm_header(header, bytes.data());
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    return bytes;
}

// A file holding bytes, removed again at destruction.
class TempFile {
public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes) {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/vellox_acm_XXXXXX";
        const int fd = mkstemp(path.data());
        if (fd < 0) return;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
    ~TempFile() { ::unlink(path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const char* name() const { return path.c_str(); }

private:
    std::string path;
};

// Codewords of the prefix-code methods in stream order, for coded integers -4 .. 4 (null:
// not in the code), and the zero_pair symbol of the pair methods.
struct PrefixCode {
    int code;
    bool pairs;
    int limit;  // coded integers -limit .. limit
    const char* words[9];
};
inline const PrefixCode prefix_codes[8] = {
    {17, true, 1, {nullptr, nullptr, nullptr, "110", "10", "111", nullptr, nullptr, nullptr}},
    {18, false, 1, {nullptr, nullptr, nullptr, "10", "0", "11", nullptr, nullptr, nullptr}},
    {20, true, 2, {nullptr, nullptr, "1100", "1110", "10", "1101", "1111", nullptr, nullptr}},
    {21, false, 2, {nullptr, nullptr, "100", "110", "0", "101", "111", nullptr, nullptr}},
    {23, true, 3, {nullptr, "11100", "11110", "1100", "10", "1101", "11101", "11111", nullptr}},
    {24, false, 3, {nullptr, "1100", "1110", "100", "0", "101", "1101", "1111", nullptr}},
    {26, true, 4, {"11000", "11100", "11010", "11110", "10", "11001", "11101", "11011", "11111"}},
    {27, false, 4, {"1000", "1100", "1010", "1110", "0", "1001", "1101", "1011", "1111"}},
};

// Writes one column's method code and its coded integers k (rows values) as that method does.
// Prefix-code and packed methods need every k inside their range.
inline void put_column(BitStreamBuilder& out, int code, const std::vector<int>& values) {
    const int rows = static_cast<int>(values.size());
    const auto k = [&values](int r) { return values[static_cast<std::size_t>(r)]; };
    out.put_method(code);
    if (code == 0) return;
    if (code >= 3 && code <= 16) {
        for (int v : values) out.put(static_cast<std::uint32_t>(v + (1 << (code - 1))), code);
        return;
    }
    for (const PrefixCode& p : prefix_codes) {
        if (p.code != code) continue;
        for (int r = 0; r < rows; ++r) {
            if (p.pairs && k(r) == 0 && (r + 1 == rows || k(r + 1) == 0)) {
                out.put_pattern("0");
                ++r;
            } else {
                out.put_pattern(p.words[k(r) + 4]);
            }
        }
        return;
    }
    const int per_group = code == 29 ? 2 : 3;
    const int base = code == 19 ? 3 : (code == 22 ? 5 : 11);
    const int width = code == 19 ? 5 : 7;
    for (int r = 0; r < rows; r += per_group) {
        int g = 0;
        for (int d = per_group - 1; d >= 0; --d) {
            g = g * base + (r + d < rows ? k(r + d) : 0) + base / 2;
        }
        out.put(static_cast<std::uint32_t>(g), width);
    }
}

// One valid block of random columns (every method that the writer uses, small values more
// often than large ones); coded integers and products with the step stay in 16 bits.
inline void put_random_block(BitStreamBuilder& out, std::mt19937& rng, int levels, int rows) {
    static const int methods[] = {0,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                  15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 29};
    const int columns = 1 << levels;
    std::vector<int> codes(static_cast<std::size_t>(columns));
    std::vector<std::vector<int>> values(static_cast<std::size_t>(columns));
    int largest = 0;  // largest magnitude of a coded integer
    for (int j = 0; j < columns; ++j) {
        int code = methods[rng() % (sizeof(methods) / sizeof(methods[0]))];
        if (code >= 3 && code <= 16 && rng() % 2 == 0) code = 3 + static_cast<int>(rng() % 5);
        int low = 0;
        int high = 0;
        if (code >= 3 && code <= 16) {
            low = -(1 << (code - 1));
            high = (1 << (code - 1)) - 1;
        } else if (code == 19) {
            low = -1, high = 1;
        } else if (code == 22) {
            low = -2, high = 2;
        } else if (code == 29) {
            low = -5, high = 5;
        } else {
            for (const PrefixCode& p : prefix_codes) {
                if (p.code == code) low = -p.limit, high = p.limit;
            }
        }
        std::vector<int>& k = values[static_cast<std::size_t>(j)];
        for (int r = 0; r < rows; ++r) {
            const bool zero = rng() % 3 == 0;
            const int v =
                zero ? 0 : low + static_cast<int>(rng() % static_cast<unsigned>(high - low + 1));
            k.push_back(v);
            largest = std::max(largest, v < 0 ? -v : v);
        }
        codes[static_cast<std::size_t>(j)] = code;
    }
    // The smallest n with every k in -2^n .. 2^n - 1.
    int range_bits = 0;
    for (const std::vector<int>& k : values) {
        for (int v : k) {
            while (v > (1 << range_bits) - 1 || v < -(1 << range_bits)) ++range_bits;
        }
    }
    const int step_limit = largest == 0 ? 32767 : std::max(1, 32767 / largest);
    const int step = 1 + static_cast<int>(rng() % static_cast<unsigned>(std::min(step_limit, 400)));
    out.put_block_head(range_bits, step);
    for (int j = 0; j < columns; ++j) {
        put_column(out, codes[static_cast<std::size_t>(j)], values[static_cast<std::size_t>(j)]);
    }
}

}  // namespace acm_test
}  // namespace vellox
