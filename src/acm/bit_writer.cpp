// BitWriter: the rare paths (held zero runs, buffer hand-over, end of stream) and the check
// on every write to the sink.

#include "acm/bit_writer.h"

#include <algorithm>  // std::min
#include <cstring>    // std::memset

#include "common/alloc.h"

namespace vellox {

BitWriter::BitWriter(ByteSink& output) : sink(output) {}

vellox_status BitWriter::init() {
    buffer = allocate_array<std::uint8_t>(buffer_size);
    return buffer != nullptr ? VELLOX_OK : VELLOX_ERROR_MEMORY;
}

void BitWriter::write_held_zeros() {
    if (failed) {
        held_zeros = 0;  // nothing reaches the sink any more
        return;
    }
    while (held_zeros > 0) {
        if (fill == buffer_size) flush_buffer();
        const std::int64_t n = std::min(held_zeros, buffer_size - fill);
        std::memset(buffer.get() + fill, 0, static_cast<std::size_t>(n));
        fill += n;
        held_zeros -= n;
    }
}

void BitWriter::flush_buffer() {
    if (fill > 0 && !failed) {
        const auto asked = static_cast<std::size_t>(fill);
        const std::size_t done = sink.write(buffer.get(), asked);
        bytes_flushed += static_cast<std::int64_t>(done < asked ? done : asked);
        if (done != asked) failed = true;
    }
    fill = 0;
}

void BitWriter::finish_bits() {
    if (finished) return;
    finished = true;
    if (pending > 0) {
        // The bits above pending are 0, so a last partial byte of zeros is held like a
        // whole zero byte and never written.
        const int whole_bytes = pending / 8;
        if (accumulator == 0) {
            held_zeros += whole_bytes;
        } else {
            const int used = append_word(accumulator);
            held_zeros = whole_bytes > used ? whole_bytes - used : 0;
        }
        accumulator = 0;
        pending = 0;
    }
    if (buffer == nullptr || failed) return;
    flush_buffer();
}

}  // namespace vellox
