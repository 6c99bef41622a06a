// Round trip through the whole format: arbitrary 16-bit samples encoded as the driver does
// (header, filter bank, clipping, blocks, the last one padded) and decoded through AcmSource.
// With levels 0 and no size target every sample must come back exactly; otherwise the
// decoder must deliver exactly the sample count from a stream it decodes without failure.
// In the high-quality mode ("-hq") the stream must also stay within 1/256 of the standard
// mode's bits for the same samples.
//
// Bytes: levels (low four bits) and the high-quality mode (bit 4), two bytes of subblocks, the
// size target (0: none), the filter length, then the samples, little-endian.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "acm/acm_format.h"
#include "acm/block_packer.h"
#include "analysis/analysis_filter_bank.h"
#include "common/numeric.h"
#include "fuzz/fuzz_file.h"
#include "sources/acm_source.h"

namespace {

constexpr std::int32_t chunk_size = 65536;   // samples per pass, as in the driver
constexpr std::int64_t max_block = 1 << 16;  // values per block, so a run stays short
constexpr std::size_t parameter_bytes = 5;

// Encodes samples into the file at path; false when a write failed. Sets bits to the length
// of the block stream in bits.
bool encode(const std::string& path, const std::vector<std::int16_t>& samples, int levels,
            std::int32_t subblocks, std::int32_t bit_budget, std::int32_t filter_length,
            bool high_quality, std::int64_t& bits) {
    const auto count = static_cast<std::int32_t>(samples.size());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    vellox::AcmHeader header;
    header.sample_count = static_cast<std::uint32_t>(count);
    header.levels_subblocks = vellox::pack_levels_subblocks(levels, subblocks);
    std::uint8_t bytes[vellox::acm_header_size];
    vellox::encode_acm_header(header, bytes);
    if (std::fwrite(bytes, 1, sizeof bytes, file) != sizeof bytes) __builtin_trap();

    vellox::FdFilterBank bank(levels, filter_length);
    if (!bank.init()) __builtin_trap();
    const std::int32_t columns = std::int32_t{1} << levels;
    const std::int32_t block_size = columns * subblocks;
    bool written = false;
    {
        vellox::BlockPacker packer(file, columns, subblocks, bit_budget);
        packer.set_high_quality(high_quality);
        if (!packer.init()) __builtin_trap();
        std::vector<std::int16_t> chunk(chunk_size);
        std::vector<std::int32_t> coefficients(chunk_size);
        std::vector<std::int16_t> block(static_cast<std::size_t>(block_size));
        std::int32_t fill = 0;
        std::int64_t next = 0;  // next sample to feed
        for (std::int64_t to_feed = bank.delay() + count; to_feed > 0;) {
            const auto n = static_cast<std::int32_t>(to_feed < chunk_size ? to_feed : chunk_size);
            for (std::int32_t i = 0; i < n; ++i, ++next) {
                chunk[static_cast<std::size_t>(i)] =
                    next < count ? samples[static_cast<std::size_t>(next)] : 0;
            }
            const std::int32_t produced = bank.process(chunk.data(), n, coefficients.data());
            for (std::int32_t i = 0; i < produced; ++i) {
                block[static_cast<std::size_t>(fill++)] =
                    vellox::saturate_to_int16(coefficients[static_cast<std::size_t>(i)]);
                if (fill == block_size) {
                    packer.pack_block(block.data());
                    fill = 0;
                }
            }
            to_feed -= n;
        }
        if (fill > 0) {
            for (std::int32_t i = fill; i < block_size; ++i) block[static_cast<std::size_t>(i)] = 0;
            packer.pack_block(block.data());
        }
        written = packer.finish();
        bits = packer.bits_written();
        // What the packer says it wrote is what the file holds behind the header.
        if (written && std::ftell(file) != vellox::acm_header_size + packer.bytes_written()) {
            __builtin_trap();
        }
    }
    return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < parameter_bytes) return 0;
    const int levels = data[0] & 15;
    const bool high_quality = (data[0] & 16) != 0;
    const std::int64_t most_rows = max_block >> levels < 4095 ? max_block >> levels : 4095;
    const auto subblocks = static_cast<std::int32_t>(1 + ((data[1] << 8) | data[2]) % most_rows);
    const int percents = data[3] % 100;  // 0: no size target, else 2 .. 100
    // The bank's delay, fed as zeros, grows with the filter length times 2^levels: the deep
    // trees take the shortest filter.
    const std::int32_t filter_length = levels <= 10 ? 3 + data[4] % 9 : 3;
    std::vector<std::int16_t> samples((size - parameter_bytes) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint8_t* p = data + parameter_bytes + 2 * i;
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
    }
    const auto count = static_cast<std::int32_t>(samples.size());
    const std::int64_t block_size = static_cast<std::int64_t>(subblocks) << levels;
    std::int32_t bit_budget = -1;
    if (percents != 0 && count > 0) {
        // As the driver derives it from 16-bit input.
        const std::int64_t blocks = (count + block_size - 1) / block_size;
        bit_budget = vellox::truncate_to_int32(16.0 * count / static_cast<double>(blocks) *
                                               (percents + 1) * 0.01);
    }

    static const std::string path = vellox::fuzz::scratch_file_name(".acm");
    std::int64_t standard_bits = 0;
    std::int64_t bits = 0;
    if (high_quality) {
        if (!encode(path, samples, levels, subblocks, bit_budget, filter_length, false,
                    standard_bits)) {
            __builtin_trap();
        }
    }
    if (!encode(path, samples, levels, subblocks, bit_budget, filter_length, high_quality, bits))
        __builtin_trap();
    if (high_quality && bits > standard_bits + standard_bits / 256) __builtin_trap();

    vellox::AcmSource source(path.c_str());
    if (!source.open(false) || source.total_samples != count) __builtin_trap();
    std::vector<std::int16_t> decoded(4096);
    std::int64_t delivered = 0;
    for (;;) {
        const std::int32_t got =
            source.read(decoded.data(), static_cast<std::int32_t>(decoded.size()));
        if (got == 0) break;
        if (delivered + got > count) __builtin_trap();
        if (levels == 0 && bit_budget == -1) {
            for (std::int32_t i = 0; i < got; ++i) {
                if (decoded[static_cast<std::size_t>(i)] !=
                    samples[static_cast<std::size_t>(delivered + i)]) {
                    __builtin_trap();
                }
            }
        }
        delivered += got;
    }
    if (delivered != count || source.failed_blocks() != 0) __builtin_trap();
    return 0;
}
