// The ACM decoder alone: the first bytes choose levels, subblocks and the sample count of a
// valid header, the rest is the block stream.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "acm/acm_format.h"
#include "fuzz/fuzz_file.h"
#include "sources/acm_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const int levels = data[0] & 15;
    const int subblocks = 1 + (((data[1] << 8) | data[2]) % 4095);
    if ((static_cast<std::int64_t>(subblocks) << levels) > (1 << 18)) return 0;  // 1 MiB blocks
    // Up to 65535 samples: past the end of the stream every block decodes as silence, and
    // reading on only slows the fuzzer down.
    const auto sample_count = static_cast<std::uint32_t>((data[3] << 8) | data[4]);

    vellox::AcmHeader header;
    header.sample_count = sample_count;
    header.levels_subblocks = vellox::pack_levels_subblocks(levels, subblocks);
    std::vector<std::uint8_t> file(vellox::acm_header_size);
    vellox::encode_acm_header(header, file.data());
    file.insert(file.end(), data + 5, data + size);
    const char* name = vellox::fuzz::write_fuzz_file(file.data(), file.size());

    vellox::AcmSource source(name);
    if (!source.open(false)) __builtin_trap();  // a valid header always opens
    std::vector<std::int16_t> buffer(3000);
    std::int64_t delivered = 0;
    // Failed blocks stop a read; the next read tries the next block. Bounded by the count of
    // reads, since every block may fail.
    for (int reads = 0; reads < 4096 && source.remaining_samples + 0 >= 0; ++reads) {
        const std::int32_t got =
            source.read(buffer.data(), static_cast<std::int32_t>(buffer.size()));
        delivered += got;
        if (got == 0 && source.remaining_samples == 0) break;
    }
    if (delivered > static_cast<std::int64_t>(sample_count)) __builtin_trap();
    return 0;
}
