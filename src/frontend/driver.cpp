// The conversion driver: set-up in a fixed order, one pass of the main loop, the report, and
// the tear-down in the reverse order of need (the packer flushes into the still open file).

#include "frontend/driver.h"

#include <algorithm>  // std::max, std::min
#include <cerrno>     // errno
#include <cstdint>    // std::int16_t, std::int32_t, std::int64_t
#include <cstdio>     // std::printf, std::fwrite
#include <memory>     // std::unique_ptr

#include "acm/acm_format.h"
#include "acm/block_packer.h"
#include "analysis/analysis_filter_bank.h"
#include "common/alloc.h"
#include "common/numeric.h"
#include "frontend/errors.h"
#include "frontend/output_file.h"
#include "frontend/settings.h"
#include "sources/sound_source.h"

namespace vellox {

namespace {

constexpr const char* version_text = "v1.0 beta  (c) 2026 vellox contributors";
constexpr std::int32_t chunk_size = 65536;  // samples read and filtered per pass

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

struct ConversionContext {
    ConversionSettings settings;
    std::unique_ptr<SoundSource> source;
    OutputFile output;
    std::unique_ptr<AnalysisFilterBank> bank;
    std::unique_ptr<BlockPacker> packer;
    std::int32_t samples = 0;               // the source's sample count, taken once after opening
    std::int32_t columns = 0;               // 1 << levels
    std::int32_t block_size = 0;            // columns * subblocks
    std::int32_t bit_budget = -1;           // bits per block; -1: no limit
    std::unique_ptr<std::int16_t[]> chunk;  // chunk_size samples from the source
    std::unique_ptr<std::int32_t[]> coefficients;  // chunk_size values from the bank
    std::unique_ptr<std::int16_t[]> block;         // block_size clipped coefficients
};

std::unique_ptr<AnalysisFilterBank> make_filter_bank(const ConversionSettings& settings) {
    switch (settings.filter_kind) {
        case 'O':
            return make_object<FoFilterBank>(settings.levels, settings.filter_length);
        case 'C':
            return make_object<FcFilterBank>(settings.levels, settings.filter_file_name);
        default:
            return make_object<FdFilterBank>(settings.levels, settings.filter_length);
    }
}

bool write_header(ConversionContext& context) {
    AcmHeader header;
    header.sample_count = static_cast<std::uint32_t>(context.samples);
    header.levels_subblocks =
        pack_levels_subblocks(context.settings.levels, context.settings.subblocks);
    std::uint8_t bytes[acm_header_size];
    encode_acm_header(header, bytes);
    if (std::fwrite(bytes, 1, sizeof bytes, context.output.stream()) != sizeof bytes) {
        context.output.print_write_error(errno);
        return false;
    }
    return true;
}

bool set_up_conversion(ConversionContext& context) {
    const ConversionSettings& settings = context.settings;
    context.source = open_sound_source(settings.snd_file_name, settings.snd_type);
    if (context.source == nullptr) {
        std::fprintf(stderr, "Cannot open input file.\n");
        return false;
    }
    if (!context.output.open(settings.acm_file_name)) {
        std::fprintf(stderr, "Cannot open output file.\n");
        return false;
    }
    context.bank = make_filter_bank(settings);
    if (context.bank == nullptr || !context.bank->init()) {
        print_error("Cannot create coder", nullptr);
        return false;
    }
    context.samples = context.source->remaining_samples;
    context.columns = std::int32_t{1} << settings.levels;
    context.block_size = context.columns * settings.subblocks;
    if (!write_header(context)) return false;
    context.bit_budget = derive_bit_budget(settings.percents, context.source->is_16bit != 0,
                                           context.samples, context.block_size);
    context.packer = make_object<BlockPacker>(context.output.stream(), context.columns,
                                              settings.subblocks, context.bit_budget);
    if (context.packer != nullptr) context.packer->set_high_quality(settings.high_quality);
    if (context.packer == nullptr || !context.packer->init()) {
        print_error("Cannot create packer", nullptr);
        return false;
    }
    context.chunk = allocate_array<std::int16_t>(chunk_size);
    context.coefficients = allocate_array<std::int32_t>(chunk_size);
    context.block = allocate_array<std::int16_t>(context.block_size);
    if (context.chunk == nullptr || context.coefficients == nullptr || context.block == nullptr) {
        print_error("Cannot allocate memory", nullptr);
        return false;
    }
    return true;
}

// Releases everything that exists, the packer before the output file is closed. A file that
// was not committed is removed; the target stays as it was.
void tear_down_conversion(ConversionContext& context) {
    context.packer.reset();
    context.output.discard();
    context.bank.reset();
    context.source.reset();
    context.chunk.reset();
    context.coefficients.reset();
    context.block.reset();
}

// Coefficients that did not fit 16 bits.
struct ClipStatistics {
    std::int64_t count = 0;     // clipped coefficients
    std::int64_t largest = 0;   // the largest value above 32767, 0 when none
    std::int64_t smallest = 0;  // the smallest value below -32768, 0 when none
};

// Clips count coefficients to 16 bits into out, counting the clipped ones. A first pass finds
// the extremes and a second narrows the values, both without branches per value; only a span
// that holds a value out of range goes value by value.
void clip_into_block(const std::int32_t* coefficients, std::int32_t count, std::int16_t* out,
                     ClipStatistics& clips) {
    std::int32_t lowest = 0;
    std::int32_t highest = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        lowest = std::min(lowest, coefficients[i]);
        highest = std::max(highest, coefficients[i]);
    }
    if (lowest >= -32768 && highest <= 32767) {
        for (std::int32_t i = 0; i < count; ++i)
            out[i] = static_cast<std::int16_t>(coefficients[i]);
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t value = coefficients[i];
        if (value > 32767) {
            ++clips.count;
            if (value > clips.largest) clips.largest = value;
            value = 32767;
        } else if (value < -32768) {
            ++clips.count;
            if (value < clips.smallest) clips.smallest = value;
            value = -32768;
        }
        out[i] = static_cast<std::int16_t>(value);
    }
}

// Feeds the whole input through bank and packer. False when a write failed (the loop stops
// at once) or the input could not be read.
bool run_main_loop(ConversionContext& context, ClipStatistics& clips) {
    SoundSource& source = *context.source;
    AnalysisFilterBank& bank = *context.bank;
    BlockPacker& packer = *context.packer;
    std::int16_t* const block = context.block.get();
    const std::int32_t block_size = context.block_size;

    std::int64_t left_to_pack =
        (static_cast<std::int64_t>(context.samples) + block_size - 1) / block_size * block_size;
    std::int32_t fill = 0;  // values in the block buffer
    std::int64_t to_feed = bank.delay() + context.samples;
    while (to_feed > 0) {
        const auto n = static_cast<std::int32_t>(to_feed < chunk_size ? to_feed : chunk_size);
        (void)source.read(context.chunk.get(), n);
        const std::int32_t produced =
            bank.process(context.chunk.get(), n, context.coefficients.get());
        const std::int32_t* coefficients = context.coefficients.get();
        for (std::int32_t i = 0; i < produced;) {
            const std::int32_t span = std::min(produced - i, block_size - fill);
            clip_into_block(coefficients + i, span, block + fill, clips);
            i += span;
            fill += span;
            if (fill == block_size) {
                packer.pack_block(block);
                left_to_pack -= block_size;
                fill = 0;
            }
        }
        std::printf("#");
        std::fflush(stdout);
        to_feed -= n;
        if (packer.write_error() != 0) break;
    }
    if (packer.write_error() == 0 && fill > 0) {
        for (std::int32_t i = fill; i < block_size; ++i) block[i] = 0;
        packer.pack_block(block);
        left_to_pack -= block_size;
    }
    std::printf("#\n");

    if (source.read_error() != 0) {
        errno = source.read_error();
        print_system_error(context.settings.snd_file_name);
        return false;
    }
    if (!packer.finish()) {
        context.output.print_write_error(packer.write_error());
        return false;
    }
    if (left_to_pack != 0)
        std::printf("Something went wrong: left_to_pack=%ld\n", static_cast<long>(left_to_pack));
    return true;
}

void print_report(const ConversionContext& context, std::int64_t output_size,
                  const ClipStatistics& clips) {
    std::printf("Output file size: %ld\n", static_cast<long>(output_size));
    const double rate = context.samples == 0 ? 0.0
                                             : static_cast<double>(output_size) * 8.0 /
                                                   static_cast<double>(context.samples);
    const double bits_per_input_sample = context.source->is_16bit != 0 ? 16.0 : 8.0;
    std::printf("Compression rate: %6.3f bits per sample (%6.2f%% of original file)\n", rate,
                rate / bits_per_input_sample * 100.0);
    if (clips.count > 0) {
        const std::int64_t extreme =
            clips.largest >= -clips.smallest ? clips.largest : clips.smallest;
        std::printf("Warning: %ld coefficients were truncated. Max. truncated value: %ld\n",
                    static_cast<long>(clips.count), static_cast<long>(extreme));
        std::printf("Fade out your signal to fit into [-32768;+32767] interval.\n");
    }
    const std::int64_t failed = context.source->failed_blocks();
    if (failed > 0) {
        std::fprintf(stderr, "Warning: %ld blocks of the input could not be decoded\n",
                     static_cast<long>(failed));
    }
}

}  // namespace

std::int32_t derive_bit_budget(double percents, bool sixteen_bit, std::int32_t samples,
                               std::int32_t block_size) {
    if (percents == -1.0 || samples == 0) return -1;
    const double bits = sixteen_bit ? 16.0 : 8.0;
    const std::int64_t blocks = (static_cast<std::int64_t>(samples) + block_size - 1) / block_size;
    // In this order, and a multiplication by 0.01 rather than a division by 100: the budget
    // is part of what fixes the output to the bit.
    const double value =
        bits * static_cast<double>(samples) / static_cast<double>(blocks) * percents * 0.01;
    return truncate_to_int32(value);
}

int run_conversion(int argc, const char* const* argv) {
    std::printf("vellox converter %s\n", version_text);

    ConversionContext context;
    switch (parse_command_line(argc, argv, context.settings)) {
        case ParseOutcome::accepted:
            break;
        case ParseOutcome::show_usage:
            print_usage();
            return exit_usage;
        case ParseOutcome::rejected:
            return exit_usage;
    }

    if (!set_up_conversion(context)) {
        tear_down_conversion(context);
        return exit_failure;
    }
    std::printf("Input type: %s\t%ld samples\n", context.source->type_name(),
                static_cast<long>(context.source->total_samples));

    ClipStatistics clips;
    bool written = run_main_loop(context, clips);
    const std::int64_t output_size = context.packer->bytes_written() + acm_header_size;
    // The packer's last bits go into the file before it is closed and put in place.
    context.packer.reset();
    written = written && context.output.commit();
    if (written) print_report(context, output_size, clips);
    tear_down_conversion(context);
    return written ? exit_success : exit_failure;
}

}  // namespace vellox
