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
#include "sources/converted_source.h"
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
    std::unique_ptr<ConvertedSource> converted;  // "--resample", "--downmix": reads source
    SoundSource* signal = nullptr;               // borrowed: what is encoded, converted or source
    std::int32_t header_channels = 2;            // the header's layout
    std::uint32_t header_rate = 22050;
    OutputFile output;
    FileByteSink sink;               // the output file, for the encoder
    std::unique_ptr<double[]> taps;  // the magnitudes of a "-fc" file
    std::unique_ptr<Encoder> encoder;
    LevelPlan level_plan;                     // "--gain", "--fit" and "--limit"
    std::unique_ptr<InputLevel> level;        // the samples' way from the signal to the encoder
    std::int32_t samples = 0;                 // the signal's sample count, taken once after opening
    std::unique_ptr<std::int16_t[]> chunk;    // chunk_size samples from the signal
    std::unique_ptr<std::int16_t[]> leveled;  // chunk_size samples for the encoder
};

void print_message(Message message) { print_error(message_text(message), nullptr); }

// How far the set-up came: ready, or failed with its exit status's reason.
enum class SetUp {
    ready,
    failed,        // exit status 1
    out_of_range,  // exit status 2: the options do not fit the input
};

// Puts the conversion that "--resample" and "--downmix" ask for between the source and the
// encoder, and fixes the header's layout: the converted signal's, where -c and -r do not say
// otherwise; 2 channels at 22050 Hz without either option. Prints why it cannot.
SetUp set_up_signal(ConversionContext& context) {
    const ConversionSettings& settings = context.settings;
    SoundSource& source = *context.source;
    context.signal = &source;
    context.header_channels = settings.channels;
    context.header_rate = static_cast<std::uint32_t>(settings.sample_rate);
    if (!settings.resample && !settings.downmix) return SetUp::ready;
    std::FILE* console = context.console;
    if (source.channels < 1 || source.sample_rate == 0) {
        std::fputs(message_text(Message::layout_unknown), console);
        return SetUp::out_of_range;
    }
    const std::uint32_t input_rate = source.sample_rate;
    const std::uint32_t rate =
        settings.resample ? static_cast<std::uint32_t>(settings.resample_rate) : input_rate;
    if (rate != input_rate) {
        if (input_rate < ConvertedSource::lowest_resampled_rate ||
            input_rate > ConvertedSource::highest_resampled_rate) {
            std::fprintf(console, message_text(Message::input_rate_not_resampled), input_rate);
            return SetUp::out_of_range;
        }
        if (!settings.downmix && source.channels > ConvertedSource::most_resampled_channels) {
            std::fprintf(console, message_text(Message::too_many_channels), source.channels);
            return SetUp::out_of_range;
        }
    }
    if (!settings.channels_given) context.header_channels = settings.downmix ? 1 : source.channels;
    if (!settings.rate_given) {
        // Only "--downmix" alone gets here with such a rate: "--resample" was checked before.
        if (rate > 65535) {
            std::fprintf(console, message_text(Message::input_rate_too_high), rate);
            return SetUp::out_of_range;
        }
        context.header_rate = rate;
    }
    context.converted =
        make_object<ConvertedSource>(source, settings.downmix, settings.resample ? rate : 0);
    const OpenResult opened = context.converted != nullptr
                                  ? context.converted->open()
                                  : OpenResult::refused(Refusal::no_memory);
    if (!opened.ok()) {
        print_open_failure(opened, settings.snd_file_name);
        std::fputs(message_text(Message::cannot_open_input), stderr);
        return SetUp::failed;
    }
    context.signal = context.converted.get();
    return SetUp::ready;
}

SetUp set_up_conversion(ConversionContext& context) {
    const ConversionSettings& settings = context.settings;
    // Standard input, pipes and character devices are copied first: the sample count must be
    // known before the header is written.
    if (!context.input.open(settings.snd_file_name, settings.snd_type)) {
        std::fputs(message_text(Message::cannot_open_input), stderr);
        return SetUp::failed;
    }
    context.source =
        open_input_source(settings.snd_file_name, settings.snd_type, context.input.descriptor());
    if (context.source == nullptr) {
        std::fputs(message_text(Message::cannot_open_input), stderr);
        return SetUp::failed;
    }
    // Nothing is created for options that do not fit the input.
    const SetUp signal = set_up_signal(context);
    if (signal != SetUp::ready) return signal;
    // The output may replace the input only when an ACM file is re-encoded in place, through a
    // file put in its place at the end; standard output is written as it goes.
    const bool replaced_at_the_end =
        context.source->is_acm() && std::strcmp(settings.acm_file_name, "-") != 0;
    const int input_to_keep = replaced_at_the_end ? -1 : context.source->descriptor();
    if (!context.output.open(settings.acm_file_name, input_to_keep)) {
        std::fputs(message_text(Message::cannot_open_output), stderr);
        return SetUp::failed;
    }
    context.sink.attach(context.output.stream());

    EncoderSettings encoding = encoder_shape(settings);
    encoding.channels = static_cast<std::uint16_t>(context.header_channels);
    encoding.sample_rate = static_cast<std::uint16_t>(context.header_rate);
    if (settings.filter_kind == 'C') {
        std::int32_t count = 0;
        if (read_filter_file(settings.filter_file_name, &count, &context.taps) !=
            FilterFileResult::ok) {
            print_message(Message::cannot_create_coder);
            return SetUp::failed;
        }
        encoding.taps = context.taps.get();
        encoding.tap_count = count;
    }
    context.samples = context.signal->remaining_samples;
    const std::int32_t block_size = settings.subblocks << settings.levels;
    encoding.bit_budget = derive_bit_budget(settings.percents, context.source->is_16bit != 0,
                                            context.samples, block_size);
    // "--fit" and "--limit" read the input first: the source is at its start again after.
    if (settings.fit || settings.limit) {
        InputPlace place = {settings.snd_file_name, settings.snd_type, context.input.descriptor()};
        place.converted = context.converted != nullptr;
        place.downmix = settings.downmix;
        place.rate = settings.resample ? static_cast<std::uint32_t>(settings.resample_rate) : 0;
        const bool planned =
            plan_level(encoding, place, settings.gain_db, settings.fit, settings.limit,
                       context.source, context.converted, context.level_plan);
        // The passes opened the input again: what is encoded is the new one.
        context.signal =
            context.converted != nullptr ? context.converted.get() : context.source.get();
        if (!planned) {
            if (context.source == nullptr || (place.converted && context.converted == nullptr))
                std::fputs(message_text(Message::cannot_open_input), stderr);
            return SetUp::failed;
        }
    } else {
        context.level_plan.gain_db = settings.gain_db;
    }
    context.encoder = make_object<Encoder>(encoding, context.samples, context.sink);
    // The encoder is made step by step, each failure with its own message.
    Encoder* encoder = context.encoder.get();
    if (encoder == nullptr || encoder->make_filter_bank() != VELLOX_OK) {
        print_message(Message::cannot_create_coder);
        return SetUp::failed;
    }
    if (encoder->write_header() != VELLOX_OK) {
        context.output.print_write_error(context.sink.error());
        return SetUp::failed;
    }
    if (encoder->make_packer() != VELLOX_OK) {
        print_message(Message::cannot_create_packer);
        return SetUp::failed;
    }
    if (encoder->make_buffers() != VELLOX_OK) {
        print_message(Message::cannot_allocate_memory);
        return SetUp::failed;
    }
    const LevelPlan& plan = context.level_plan;
    context.level =
        make_object<InputLevel>(encoding, plan.gain_db, plan.limit, plan.ceiling, context.samples);
    context.chunk = allocate_array<std::int16_t>(chunk_size);
    context.leveled = allocate_array<std::int16_t>(chunk_size);
    if (!context.level || context.level->init() != VELLOX_OK || !context.chunk ||
        !context.leveled) {
        print_message(Message::cannot_allocate_memory);
        return SetUp::failed;
    }
    return SetUp::ready;
}

// Releases everything that exists. A file that was not committed is removed; the target
// stays as it was.
void tear_down_conversion(ConversionContext& context) {
    context.encoder.reset();
    context.output.discard();
    context.converted.reset();
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
    SoundSource& source = *context.signal;
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

// True when the input states a rate and the header gives another.
bool rate_note_due(const ConversionContext& context) {
    const std::uint32_t rate = context.signal->sample_rate;
    return rate != 0 && rate != context.header_rate;
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
    const SoundSource& source = *context.source;
    // The lines on standard error come after these, also where both go to one pipe.
    const std::int64_t lost = source.samples_not_decoded();
    const std::int64_t missing = source.frames_missing();
    if (clips.count > 0 || lost > 0 || missing > 0 || rate_note_due(context) ||
        level_notes_due(context.level_plan, *context.level))
        std::fflush(console);
    if (clips.count > 0) {
        std::fprintf(stderr, message_text(Message::fitting_gain), fitting_gain_db(clips));
    }
    if (lost > 0) {
        std::fprintf(stderr, message_text(Message::damaged_input), static_cast<long>(lost),
                     static_cast<long>(source.total_samples));
    }
    if (missing > 0) {
        std::fprintf(stderr, message_text(Message::frames_missing), static_cast<long>(missing),
                     static_cast<long>(source.total_samples / source.channels));
    }
    print_level_notes(context.level_plan, *context.level, context.samples);
    // The note for a header whose rate is not the signal's, after every other line.
    if (rate_note_due(context)) {
        std::fprintf(stderr, message_text(Message::rate_note),
                     static_cast<unsigned>(context.signal->sample_rate),
                     static_cast<unsigned>(context.header_rate),
                     static_cast<unsigned>(context.header_rate));
    }
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

    const SetUp set_up = set_up_conversion(context);
    if (set_up != SetUp::ready) {
        tear_down_conversion(context);
        return set_up == SetUp::out_of_range ? exit_usage : exit_failure;
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
