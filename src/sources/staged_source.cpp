// Handing out staged samples.

#include "sources/staged_source.h"

#include <algorithm>  // std::min, std::fill
#include <cstring>    // std::memcpy

namespace vellox {

std::int32_t StagedSource::read(std::int16_t* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int32_t n = std::min(count, remaining_samples);
    std::int32_t done = 0;
    while (done < n && (staged_next < staged_count || refill())) {
        const std::int32_t piece = std::min(n - done, staged_count - staged_next);
        std::memcpy(buffer + done, staged.get() + staged_next,
                    static_cast<std::size_t>(piece) * sizeof *buffer);
        staged_next += piece;
        done += piece;
    }
    std::fill(buffer + done, buffer + count, std::int16_t{0});
    remaining_samples -= n;
    return n;
}

}  // namespace vellox
