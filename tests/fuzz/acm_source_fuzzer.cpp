// The ACM decoder alone, through the C API: the first bytes choose levels, subblocks and the
// sample count of a valid header, the rest is the block stream. Whatever the stream holds,
// exactly the sample count comes out, the same in any read sizes, and no more of it is counted
// as lost than there is.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_file.h"
#include "vellox/vellox.h"

namespace {

// Every sample of the file, read count samples at a time; traps on a failure.
std::vector<std::int16_t> decode(const std::vector<std::uint8_t>& file, std::size_t count,
                                 std::uint64_t* not_decoded) {
    vellox_decoder* decoder = nullptr;
    if (vellox_decoder_open_memory(file.data(), file.size(), &decoder) != VELLOX_OK) {
        __builtin_trap();  // a valid header always opens
    }
    std::vector<std::int16_t> samples;
    std::vector<std::int16_t> buffer(count);
    for (;;) {
        std::size_t got = 0;
        if (vellox_decoder_read(decoder, buffer.data(), count, &got) != VELLOX_OK) __builtin_trap();
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
        if (got < count) break;
    }
    *not_decoded = vellox_decoder_samples_not_decoded(decoder);
    vellox_decoder_destroy(decoder);
    return samples;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> file;
    std::uint32_t sample_count = 0;
    if (!vellox::fuzz::acm_file_from(data, size, &file, &sample_count)) return 0;

    std::uint64_t lost = 0;
    const std::vector<std::int16_t> whole = decode(file, 65536, &lost);
    if (whole.size() != sample_count || lost > sample_count) __builtin_trap();
    std::uint64_t lost_in_pieces = 0;
    if (decode(file, 777, &lost_in_pieces) != whole || lost_in_pieces != lost) __builtin_trap();
    return 0;
}
