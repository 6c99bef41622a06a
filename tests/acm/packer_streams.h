#pragma once
// The packer's tests' view of a stream: the bytes a packer writes for blocks, expected streams
// written field by field, fields read back from bytes, and a sink that fails every write.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acm/block_packer.h"
#include "acm/byte_stream.h"
#include "common/test_files.h"

namespace vellox::packer_test {

using Bytes = std::vector<std::uint8_t>;
using Block = std::vector<std::int16_t>;

inline Bytes read_all(const MemorySink& sink) {
    return Bytes(sink.data(), sink.data() + sink.size());
}

// The bytes of the stream a packer writes for blocks; checks that finish succeeds and that
// bytes_written is the number of bytes the sink took.
inline Bytes pack(std::int32_t columns, std::int32_t rows, std::int32_t bit_budget,
                  const std::vector<Block>& blocks) {
    MemorySink sink;
    BlockPacker packer(sink, columns, rows, bit_budget);
    if (packer.init() != VELLOX_OK) {
        ADD_FAILURE() << "init failed";
        return {};
    }
    for (const Block& block : blocks) packer.pack_block(block.data());
    EXPECT_EQ(packer.finish(), VELLOX_OK);
    EXPECT_EQ(packer.status(), VELLOX_OK);
    Bytes bytes = read_all(sink);
    EXPECT_EQ(packer.bytes_written(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
}

// A sink that fails every write.
class FullSink final : public ByteSink {
public:
    std::size_t write(const std::uint8_t* /*bytes*/, std::size_t /*size*/) override { return 0; }
};

// Expected streams, written field by field.
class Bits {
public:
    // A number of n bits, least significant bit first.
    Bits& field(std::uint32_t value, int n) {
        for (int i = 0; i < n; ++i) bits.push_back(((value >> i) & 1) != 0);
        return *this;
    }
    // A bit pattern in stream order, such as "110".
    Bits& pattern(const char* text) {
        for (; *text != '\0'; ++text) bits.push_back(*text == '1');
        return *this;
    }
    // The file bytes: the bits 8 to a byte from bit 0, without the zero bytes at the end.
    Bytes bytes() const { return test::stream_file_bytes(bits); }

private:
    std::vector<bool> bits;
};

// n bits of a stream starting at bit position; bits past the end read as 0.
inline std::uint32_t read_bits(const Bytes& bytes, std::int64_t position, int n) {
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        const std::int64_t bit = position + i;
        const auto byte = static_cast<std::size_t>(bit / 8);
        if (byte < bytes.size() && ((bytes[byte] >> (bit % 8)) & 1) != 0) value |= 1u << i;
    }
    return value;
}

}  // namespace vellox::packer_test
