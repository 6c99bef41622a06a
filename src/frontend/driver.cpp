// The conversion driver: set-up in a fixed order, one pass of the main loop through the
// library's encoder, the report, and the tear-down.

#include "frontend/driver.h"

#include <cerrno>   // errno
#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <cstdio>   // std::printf, std::fputs
#include <cstring>  // std::strcmp
#include <memory>   // std::unique_ptr

#include "codec/encoder.h"
#include "codec/input_level.h"
#include "common/alloc.h"
#include "frontend/console.h"
#include "frontend/errors.h"
#include "frontend/file_byte_sink.h"
#include "frontend/filter_file.h"
#include "frontend/input_source.h"
#include "frontend/input_spool.h"
#include "frontend/job_channel.h"
#include "frontend/level_passes.h"
#include "frontend/messages.h"
#include "frontend/output_file.h"
#include "frontend/progress_marks.h"
#include "frontend/settings.h"
#include "vellox/vellox.h"

namespace vellox {

namespace {

constexpr const char* version_text = "v1.0 beta  (c) 2026 vellox contributors";
constexpr std::int32_t chunk_size = Encoder::chunk_size;  // samples read and encoded per pass

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

struct ConversionContext {
    ConversionSettings settings;
    std::FILE* console = stdout;  // borrowed: standard error when the output is standard output
    bool quiet = false;           // "--quiet": no banner, progress marks or report
    InputSpool input;             // standard input or a pipe, copied for the source to read
    std::unique_ptr<SoundSource> source;
    OutputFile output;
    FileByteSink sink;               // the output file, for the encoder
    std::unique_ptr<double[]> taps;  // the magnitudes of a "-fc" file
    std::unique_ptr<Encoder> encoder;
    LevelPlan level_plan;                     // "--gain", "--fit" and "--limit"
    std::unique_ptr<InputLevel> level;        // the samples' way from the source to the encoder
    std::int32_t samples = 0;                 // the source's sample count, taken once after opening
    std::unique_ptr<std::int16_t[]> chunk;    // chunk_size samples from the source
    std::unique_ptr<std::int16_t[]> leveled;  // chunk_size samples for the encoder
};

void print_message(Message message) { print_error(message_text(message), nullptr); }

bool set_up_conversion(ConversionContext& context) {
    const ConversionSettings& settings = context.settings;
    // Standard input, pipes and character devices are copied first: the sample count must be
    // known before the header is written.
    if (!context.input.open(settings.snd_file_name, settings.snd_type)) {
        std::fputs(message_text(Message::cannot_open_input), stderr);
        return false;
    }
    context.source =
        open_input_source(settings.snd_file_name, settings.snd_type, context.input.descriptor());
    if (context.source == nullptr) {
        std::fputs(message_text(Message::cannot_open_input), stderr);
        return false;
    }
    // The output may replace the input only when an ACM file is re-encoded in place, through a
    // file put in its place at the end; standard output is written as it goes.
    const bool replaced_at_the_end =
        context.source->is_acm() && std::strcmp(settings.acm_file_name, "-") != 0;
    const int input_to_keep = replaced_at_the_end ? -1 : context.source->descriptor();
    if (!context.output.open(settings.acm_file_name, input_to_keep)) {
        std::fputs(message_text(Message::cannot_open_output), stderr);
        return false;
    }
    context.sink.attach(context.output.stream());

    EncoderSettings encoding;
    encoding.levels = settings.levels;
    encoding.subblocks = settings.subblocks;
    encoding.filter_kind = settings.filter_kind;
    encoding.filter_length = settings.filter_length;
    encoding.high_quality = settings.high_quality;
    encoding.channels = static_cast<std::uint16_t>(settings.channels);
    encoding.sample_rate = static_cast<std::uint16_t>(settings.sample_rate);
    if (settings.filter_kind == 'C') {
        std::int32_t count = 0;
        if (read_filter_file(settings.filter_file_name, &count, &context.taps) !=
            FilterFileResult::ok) {
            print_message(Message::cannot_create_coder);
            return false;
        }
        encoding.taps = context.taps.get();
        encoding.tap_count = count;
    }
    context.samples = context.source->remaining_samples;
    const std::int32_t block_size = settings.subblocks << settings.levels;
    encoding.bit_budget = derive_bit_budget(settings.percents, context.source->is_16bit != 0,
                                            context.samples, block_size);
    // "--fit" and "--limit" read the input first: the source is at its start again after.
    if (settings.fit || settings.limit) {
        const InputPlace place = {settings.snd_file_name, settings.snd_type,
                                  context.input.descriptor()};
        if (!plan_level(encoding, place, settings.gain_db, settings.fit, settings.limit,
                        context.source, context.level_plan)) {
            if (context.source == nullptr)
                std::fputs(message_text(Message::cannot_open_input), stderr);
            return false;
        }
    } else {
        context.level_plan.gain_db = settings.gain_db;
    }
    context.encoder = make_object<Encoder>(encoding, context.samples, context.sink);
    // The encoder is made step by step, each failure with its own message.
    Encoder* encoder = context.encoder.get();
    if (encoder == nullptr || encoder->make_filter_bank() != VELLOX_OK) {
        print_message(Message::cannot_create_coder);
        return false;
    }
    if (encoder->write_header() != VELLOX_OK) {
        context.output.print_write_error(context.sink.error());
        return false;
    }
    if (encoder->make_packer() != VELLOX_OK) {
        print_message(Message::cannot_create_packer);
        return false;
    }
    if (encoder->make_buffers() != VELLOX_OK) {
        print_message(Message::cannot_allocate_memory);
        return false;
    }
    const LevelPlan& plan = context.level_plan;
    context.level =
        make_object<InputLevel>(encoding, plan.gain_db, plan.limit, plan.ceiling, context.samples);
    context.chunk = allocate_array<std::int16_t>(chunk_size);
    context.leveled = allocate_array<std::int16_t>(chunk_size);
    if (!context.level || context.level->init() != VELLOX_OK || !context.chunk ||
        !context.leveled) {
        print_message(Message::cannot_allocate_memory);
        return false;
    }
    return true;
}

// Releases everything that exists. A file that was not committed is removed; the target
// stays as it was.
void tear_down_conversion(ConversionContext& context) {
    context.encoder.reset();
    context.output.discard();
    context.source.reset();
    context.level.reset();
    context.chunk.reset();
    context.leveled.reset();
    context.taps.reset();
}

// Feeds the whole input, and the values after it that drain the bank, through the encoder,
// one "#" per chunk. False when a write failed (the loop stops at once) or the input could
// not be read.
bool run_main_loop(ConversionContext& context) {
    SoundSource& source = *context.source;
    Encoder& encoder = *context.encoder;
    InputLevel& level = *context.level;
    ProgressMarks marks(context.quiet ? nullptr : context.console, context.samples);
    std::int64_t fed = 0;
    for (std::int64_t to_feed = encoder.delay() + level.delay() + context.samples; to_feed > 0;) {
        const auto n = static_cast<std::int32_t>(to_feed < chunk_size ? to_feed : chunk_size);
        (void)source.read(context.chunk.get(), n);
        const std::int32_t m = level.process(context.chunk.get(), n, context.leveled.get());
        (void)encoder.feed(context.leveled.get(), m);
        fed += n;
        marks.mark(fed);
        to_feed -= n;
        if (encoder.status() != VELLOX_OK) break;
    }
    marks.finish();

    if (source.read_error() != 0) {
        errno = source.read_error();
        print_system_error(context.settings.snd_file_name);
        return false;
    }
    if (encoder.finish() != VELLOX_OK) {
        context.output.print_write_error(context.sink.error());
        return false;
    }
    if (encoder.left_to_pack() != 0)
        std::fprintf(context.console, message_text(Message::left_to_pack),
                     static_cast<long>(encoder.left_to_pack()));
    return true;
}

// The report; with "--quiet" only its warnings.
void print_report(const ConversionContext& context, std::int64_t output_size) {
    std::FILE* console = context.console;
    if (!context.quiet) {
        std::fprintf(console, "Output file size: %ld\n", static_cast<long>(output_size));
        const double rate = bits_per_sample(output_size, context.samples);
        const double bits_per_input_sample = context.source->is_16bit != 0 ? 16.0 : 8.0;
        std::fprintf(console,
                     "Compression rate: %6.3f bits per sample (%6.2f%% of original file)\n", rate,
                     rate / bits_per_input_sample * 100.0);
    }
    const ClipStatistics& clips = context.encoder->clips();
    if (clips.count > 0) {
        std::fprintf(console, message_text(Message::clipped_coefficients),
                     static_cast<long>(clips.count), static_cast<long>(clips.extreme()));
        std::fputs(message_text(Message::fade_out), console);
    }
    // The lines on standard error come after these, also where both go to one pipe.
    const std::int64_t lost = context.source->samples_not_decoded();
    if (clips.count > 0 || lost > 0 || level_notes_due(context.level_plan, *context.level))
        std::fflush(console);
    if (clips.count > 0) {
        std::fprintf(stderr, message_text(Message::fitting_gain), fitting_gain_db(clips));
    }
    if (lost > 0) {
        std::fprintf(stderr, message_text(Message::damaged_input), static_cast<long>(lost),
                     static_cast<long>(context.samples));
    }
    print_level_notes(context.level_plan, *context.level, context.samples);
}

}  // namespace

void print_banner(std::FILE* console) {
    std::fprintf(console, "vellox converter %s\n", version_text);
}

int run_conversion(int argc, const char* const* argv) {
    if (asks_for_version(argc, argv)) {
        std::printf("vellox %s\n", vellox_version());
        return exit_success;
    }
    ConversionContext context;
    // Every console line goes to standard error when the ACM data goes to standard output.
    context.console = console_stream(output_name(argc, argv));
    context.quiet = asks_for_quiet(argc, argv);
    if (!context.quiet) print_banner(context.console);
    switch (parse_command_line(argc, argv, context.settings, context.console)) {
        case ParseOutcome::accepted:
            break;
        case ParseOutcome::show_usage:
            print_usage(context.console);
            return exit_usage;
        case ParseOutcome::rejected:
            return exit_usage;
        case ParseOutcome::show_help:
            print_usage(context.console);
            print_options(context.console);
            return exit_success;
    }

    if (!set_up_conversion(context)) {
        tear_down_conversion(context);
        return exit_failure;
    }
    if (!context.quiet) {
        std::fprintf(context.console, "Input type: %s\t%ld samples\n", context.source->type_name(),
                     static_cast<long>(context.source->total_samples));
    }

    bool written = run_main_loop(context);
    const std::int64_t output_size = context.encoder->bytes_written();
    written = written && context.output.commit();
    if (written) {
        print_report(context, output_size);
        report_job_written(static_cast<std::uint64_t>(output_size), context.samples);
    }
    tear_down_conversion(context);
    return written ? exit_success : exit_failure;
}

}  // namespace vellox
