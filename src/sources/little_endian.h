#pragma once
// Multi-byte fields of the input formats, assembled byte by byte from little-endian bytes.

#include <cstdint>  // std::int16_t, std::int32_t, std::uint32_t, std::uint64_t

namespace vellox {

inline std::uint32_t u16_le(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8;
}

inline std::uint32_t u32_le(const unsigned char* bytes) {
    return u16_le(bytes) | u16_le(bytes + 2) << 16;
}

inline std::uint64_t u64_le(const unsigned char* bytes) {
    return u32_le(bytes) | static_cast<std::uint64_t>(u32_le(bytes + 4)) << 32;
}

// The signed 16-bit sample stored as the bytes low, high.
inline std::int16_t int16_from_bytes(unsigned char low, unsigned char high) {
    std::int32_t value = low | high << 8;
    if (value >= 32768) value -= 65536;
    return static_cast<std::int16_t>(value);
}

}  // namespace vellox
