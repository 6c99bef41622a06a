// BitReader: fields across the read buffer's end, a refill of a full buffer, and the zero
// bytes past the end of the stream.

#include "acm/bit_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acm/byte_stream.h"

namespace vellox {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes that show where each came from.
Bytes numbered_bytes(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
}

// The n bits (0 .. 64) of bytes from bit position on; bits past the end read as 0.
std::uint64_t stream_bits(const Bytes& bytes, std::int64_t position, int n) {
    std::uint64_t value = 0;
    for (int i = 0; i < n; ++i) {
        const auto byte = static_cast<std::size_t>((position + i) / 8);
        if (byte < bytes.size() && ((bytes[byte] >> ((position + i) % 8)) & 1) != 0) {
            value |= std::uint64_t{1} << i;
        }
    }
    return value;
}

TEST(BitReader, RefillWithSixtyFourBitsPendingAddsNothing) {
    // A decoder takes every pending bit after each refill: each refill then takes 7 bytes,
    // until fewer than 8 are left in the read buffer. That refill goes a byte at a time into
    // the next piece and ends with 64 bits pending; a refill right after must leave them, not
    // shift the next word in by 64.
    const Bytes bytes = numbered_bytes(BitReader::buffer_size + 64);
    MemorySource source(bytes.data(), bytes.size());
    BitReader reader(source);
    ASSERT_EQ(reader.init(), VELLOX_OK);
    std::int64_t position = 0;
    for (;;) {
        std::uint64_t bits = reader.pending_bits();
        int count = reader.pending_count();
        reader.refill(bits, count);
        ASSERT_EQ(bits & (count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1),
                  stream_bits(bytes, position, count))
            << "at bit " << position;
        if (count == 64) {
            reader.refill(bits, count);
            EXPECT_EQ(count, 64);
            EXPECT_EQ(bits, stream_bits(bytes, position, 64));
            break;
        }
        ASSERT_LT(position, 8 * BitReader::buffer_size) << "no refill ended with 64 bits";
        position += count;
        reader.keep(bits >> count, 0);
    }
    EXPECT_EQ(reader.bit_position(), position);
}

TEST(BitReader, PastTheEndEveryBitIsZeroAndCounted) {
    const Bytes bytes = numbered_bytes(5);
    MemorySource source(bytes.data(), bytes.size());
    BitReader reader(source);
    ASSERT_EQ(reader.init(), VELLOX_OK);
    // A field's result holds the stream's next bits above it.
    EXPECT_EQ(reader.get_bits(3), stream_bits(bytes, 0, 32));
    EXPECT_EQ(reader.get_bits(32), stream_bits(bytes, 3, 32));
    EXPECT_EQ(reader.get_bits(5) & 31, stream_bits(bytes, 35, 5));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(reader.get_bits(16), 0u);
    EXPECT_EQ(reader.bit_position(), 40 + 160);
    EXPECT_EQ(reader.bytes_read(), 5);
    EXPECT_EQ(reader.status(), VELLOX_OK);
}

}  // namespace
}  // namespace vellox
