// Arbitrary bytes as an input file, opened with the automatic type and with each explicit
// type, and read to the end in chunks: zeros past the end, and never more samples than counted
// unless damage was counted.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "acm/acm_format.h"
#include "fuzz/fuzz_file.h"
#include "sources/source_detection.h"

namespace {

constexpr std::int32_t chunk = 4096;
// Samples read per open, so that a run stays short: a header may promise two billion samples,
// and past the end of the file an ACM stream decodes as silence, block after block.
constexpr std::int64_t read_limit = 1 << 14;

// ACM headers decide their block size; huge blocks only explore allocation, not decoding (the
// ACM harness covers blocks up to 2^18 values).
bool acm_block_is_small(const std::uint8_t* data, std::size_t size) {
    if (size < vellox::acm_header_size) return true;
    const vellox::AcmHeader header = vellox::decode_acm_header(data);
    return (static_cast<std::int64_t>(header.subblocks()) << header.levels()) <= (1 << 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* name = vellox::fuzz::write_fuzz_file(data, size);
    const bool acm_allowed = acm_block_is_small(data, size);
    std::int16_t buffer[chunk];
    for (vellox::SoundType type :
         {vellox::SoundType::automatic, vellox::SoundType::raw8, vellox::SoundType::raw16,
          vellox::SoundType::wav, vellox::SoundType::acm}) {
        if (!acm_allowed &&
            (type == vellox::SoundType::automatic || type == vellox::SoundType::acm)) {
            continue;
        }
        std::unique_ptr<vellox::SoundSource> source = vellox::open_sound_source(name, type).source;
        if (source == nullptr) continue;
        if (source->total_samples < 0 || source->remaining_samples != source->total_samples) {
            __builtin_trap();
        }
        std::int64_t delivered = 0;
        for (std::int64_t done = 0; done < read_limit; done += chunk) {
            const std::int32_t got = source->read(buffer, chunk);
            if (got < 0 || got > chunk) __builtin_trap();
            for (std::int32_t i = got; i < chunk; ++i) {
                if (buffer[i] != 0) __builtin_trap();  // zeros past the end
            }
            delivered += got;
            if (got == 0 && source->remaining_samples == 0) break;
        }
        // Only a damaged ACM input runs on past its count: each block that cannot be decoded
        // stands as zeros up to the next multiple of 65,536 values, and that loses samples.
        if (delivered > source->total_samples && source->samples_not_decoded() == 0) {
            __builtin_trap();
        }
    }
    return 0;
}
