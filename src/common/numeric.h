#pragma once
// Number conversions shared by the encoder and the decoder: the ways a real becomes an
// integer, 32-bit two's-complement arithmetic that wraps without undefined behaviour, and the
// bit length of a range.

#include <cstdint>  // std::int32_t, std::int64_t, std::uint32_t

namespace vellox {

// value truncated toward zero; values beyond the 32-bit range saturate to it, NaN gives 0.
[[nodiscard]] std::int32_t truncate_to_int32(double value);

// a + b, a - b and a * b in 32-bit two's complement, wrapping on overflow.
[[nodiscard]] inline std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
[[nodiscard]] inline std::int32_t wrapping_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
[[nodiscard]] inline std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// value rounded to the nearest integer, halves away from zero; values beyond the 32-bit range
// saturate to it, NaN gives 0. The fraction value - trunc(value) is exact below 2^52.
[[nodiscard]] inline std::int32_t round_to_int32(double value) {
    if (!(value > -2147483648.5 && value < 2147483647.5)) return truncate_to_int32(value);
    const auto whole = static_cast<std::int64_t>(value);
    const double fraction = value - static_cast<double>(whole);
    return static_cast<std::int32_t>(whole + (fraction >= 0.5 ? 1 : 0) -
                                     (fraction <= -0.5 ? 1 : 0));
}

// Smallest n with (1 << n) >= m, for m in 1 .. 2^31: the bits that number m values.
[[nodiscard]] constexpr int ceil_log2(std::uint32_t m) {
    return m <= 1 ? 0 : 32 - __builtin_clz(m - 1);
}

// v limited to the 16-bit sample range -32768 .. 32767.
[[nodiscard]] inline std::int16_t saturate_to_int16(std::int64_t v) {
    return static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

}  // namespace vellox
