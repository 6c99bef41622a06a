// The memory and callback byte streams.

#include "acm/byte_stream.h"

#include <cstring>  // std::memcpy

#include "common/alloc.h"

namespace vellox {

std::size_t MemorySink::write(const std::uint8_t* bytes, std::size_t size) {
    if (size > capacity - used) {
        // Doubling keeps the copies to a constant share of the bytes written.
        std::size_t wanted = capacity < 4096 ? 4096 : capacity;
        while (wanted - used < size) {
            if (wanted > SIZE_MAX / 2) return 0;
            wanted *= 2;
        }
        std::unique_ptr<std::uint8_t[]> larger =
            allocate_array<std::uint8_t>(static_cast<std::int64_t>(wanted));
        if (!larger) return 0;
        if (used > 0) std::memcpy(larger.get(), buffer.get(), used);
        buffer = std::move(larger);
        capacity = wanted;
    }
    std::memcpy(buffer.get() + used, bytes, size);
    used += size;
    return size;
}

MemorySource::MemorySource(const void* data, std::size_t size)
    : next(static_cast<const std::uint8_t*>(data)), left(data == nullptr ? 0 : size) {}

bool MemorySource::read(std::uint8_t* bytes, std::size_t size, std::size_t* got) {
    const std::size_t n = size < left ? size : left;
    if (n > 0) std::memcpy(bytes, next, n);
    next += n;
    left -= n;
    *got = n;
    return true;
}

bool CallbackSource::read(std::uint8_t* bytes, std::size_t size, std::size_t* got) {
    // A function may give fewer bytes than asked for, as a pipe does: only none is the end.
    *got = 0;
    while (*got < size) {
        std::size_t arrived = 0;
        if (function(user, bytes + *got, size - *got, &arrived) != 0) return false;
        if (arrived == 0) break;
        // A function that claims more than it was given room for is not believed.
        *got += arrived <= size - *got ? arrived : size - *got;
    }
    return true;
}

}  // namespace vellox
