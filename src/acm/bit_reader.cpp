// BitReader: the rare paths, near the end of the read buffer and at the end of the stream.

#include "acm/bit_reader.h"

#include <cstddef>  // std::size_t

#include "common/alloc.h"

namespace vellox {

BitReader::BitReader(ByteSource& input_source) : source(input_source) {}

vellox_status BitReader::init() {
    input = allocate_array<std::uint8_t>(buffer_size);
    if (input == nullptr) return VELLOX_ERROR_MEMORY;
    input_next = input.get();
    input_end = input.get();
    return VELLOX_OK;
}

// Reads the next piece of the stream into input; false when nothing came.
bool BitReader::load_input() {
    if (input_done) return false;
    std::size_t got = 0;
    if (!source.read(input.get(), static_cast<std::size_t>(buffer_size), &got)) read_failed = true;
    // A short read is the end of the stream or a read error; either way the rest of the
    // stream reads as zero bytes.
    if (got < static_cast<std::size_t>(buffer_size) || read_failed) input_done = true;
    input_next = input.get();
    input_end = input.get() + got;
    bytes_loaded += static_cast<std::int64_t>(got);
    return got > 0;
}

std::int64_t BitReader::read_to_end() {
    while (load_input()) {
    }
    input_next = input_end;
    return bytes_loaded;
}

std::uint64_t BitReader::next_byte() {
    if (input_next == input_end && !load_input()) {
        ++zero_bytes_taken;
        return 0;
    }
    return *input_next++;
}

// Near the end of the read buffer: a byte at a time, loading the next piece when it runs out.
void BitReader::refill_slowly() {
    while (bit_count <= 56) {
        bit_buffer |= next_byte() << bit_count;
        bit_count += 8;
    }
}

}  // namespace vellox
