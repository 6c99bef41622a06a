// velloxdec's driver: set-up in a fixed order (input, original, output), one pass of decoding,
// the report, and the tear-down.

#include "frontend/decoder_driver.h"

#include <cerrno>   // errno, EIO
#include <cstdio>   // std::fopen, std::fclose, std::fprintf
#include <cstring>  // std::strcmp
#include <memory>   // std::unique_ptr

#include "frontend/console.h"
#include "frontend/decode_to_wav.h"
#include "frontend/decoder_settings.h"
#include "frontend/errors.h"
#include "frontend/file_byte_sink.h"
#include "frontend/file_identity.h"
#include "frontend/input_source.h"
#include "frontend/input_spool.h"
#include "frontend/job_channel.h"
#include "frontend/messages.h"
#include "frontend/output_file.h"
#include "frontend/progress_marks.h"
#include "frontend/quality_compare.h"
#include "sources/file_byte_source.h"
#include "sources/sound_source.h"
#include "vellox/vellox.h"

namespace vellox {

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// The ACM input as the decoder reads it: a file, or standard input for "-".
struct InputFile {
    InputFile() = default;
    ~InputFile() {
        if (owned) std::fclose(file);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::FILE* file = nullptr;  // owned when owned is set
    bool owned = false;         // false for standard input
    FileByteSource bytes;       // reads file
};

// The decoder's read function over a FileByteSource.
int read_input(void* user, unsigned char* bytes, std::size_t size, std::size_t* got) {
    return static_cast<FileByteSource*>(user)->read(bytes, size, got) ? 0 : 1;
}

struct DecoderDestroyer {
    void operator()(vellox_decoder* decoder) const { vellox_decoder_destroy(decoder); }
};

struct DecoderContext {
    DecoderSettings settings;
    std::FILE* console = stdout;  // borrowed: where the console lines go
    InputFile input;
    std::unique_ptr<vellox_decoder, DecoderDestroyer> decoder;  // reads from input
    InputSpool original_spool;              // a "--compare" pipe or standard input, copied
    std::unique_ptr<SoundSource> original;  // "--compare"
    QualityMeter meter;
    OutputFile output;        // a named WAV file
    FileByteSink sink;        // the WAV file's bytes: output's stream or standard output
    bool writes_wav = false;  // a WAV file is written
};

void print_message(Message message) { print_error(message_text(message), nullptr); }

bool open_input(DecoderContext& context) {
    const char* name = context.settings.acm_file_name;
    InputFile& input = context.input;
    if (std::strcmp(name, "-") == 0) {
        input.file = stdin;
    } else {
        input.file = std::fopen(name, "rb");
        if (input.file == nullptr) {
            print_system_error(name);
            return false;
        }
        input.owned = true;
    }
    input.bytes.attach(input.file);
    vellox_decoder* decoder = nullptr;
    const vellox_status status = vellox_decoder_open_callback(read_input, &input.bytes, &decoder);
    context.decoder.reset(decoder);
    switch (status) {
        case VELLOX_OK:
            return true;
        case VELLOX_ERROR_READ:
            errno = input.bytes.error();
            print_system_error(name);
            return false;
        case VELLOX_ERROR_SAMPLE_COUNT:
            print_error(message_text(Message::input_too_long), name);
            return false;
        case VELLOX_ERROR_MEMORY:
            print_message(Message::cannot_allocate_memory);
            return false;
        default:
            print_error(message_text(Message::not_an_acm_file), name);
            return false;
    }
}

bool open_output(DecoderContext& context) {
    const char* name = context.settings.wav_file_name;
    if (name == nullptr) return true;
    context.writes_wav = true;
    // OutputFile refuses to replace the ACM input (and writes standard output, "-", as it is);
    // the original of a comparison is kept the same way.
    if (context.original != nullptr &&
        match_open_file(name, context.original->descriptor()) == FileMatch::same_regular) {
        print_error(message_text(Message::same_file), name);
        std::fputs(message_text(Message::cannot_open_output), stderr);
        return false;
    }
    if (!context.output.open(name, fileno(context.input.file))) {
        std::fputs(message_text(Message::cannot_open_output), stderr);
        return false;
    }
    context.sink.attach(context.output.stream());
    return true;
}

// Opens the input, the original and the output, in this order: nothing is created for an
// input that cannot be read.
bool set_up_decoding(DecoderContext& context) {
    if (!open_input(context)) {
        std::fputs(message_text(Message::cannot_open_input), stderr);
        return false;
    }
    const char* original = context.settings.original_file_name;
    if (original != nullptr) {
        // The original is read as vellox reads its input: pipes and standard input copied
        // first, then detected.
        if (context.original_spool.open(original, SoundType::automatic)) {
            context.original = open_input_source(original, SoundType::automatic,
                                                 context.original_spool.descriptor());
        }
        if (context.original == nullptr) {
            std::fputs(message_text(Message::cannot_open_original), stderr);
            return false;
        }
    }
    return open_output(context);
}

// Releases everything that exists. A file that was not committed is removed; the target stays
// as it was. The decoder goes before the input it reads from.
void tear_down_decoding(DecoderContext& context) {
    context.output.discard();
    context.decoder.reset();
    context.original.reset();
}

void print_decode_failure(const DecoderContext& context, const DecodeResult& result) {
    if (result.memory_failed) {
        print_message(Message::cannot_allocate_memory);
    } else if (result.read_failed) {
        errno = context.input.bytes.error() != 0 ? context.input.bytes.error() : EIO;
        print_system_error(context.settings.acm_file_name);
    } else if (result.original_read_failed) {
        errno = context.original->read_error();
        print_system_error(context.settings.original_file_name);
    } else {
        context.output.print_write_error(context.sink.error());
    }
}

// Puts the WAV file in place (standard output flushed). Prints why not.
bool finish_output(DecoderContext& context) {
    if (!context.writes_wav) return true;
    return context.output.commit();
}

// The WAV file's layout: what the command line gives, else what the header says. A header
// outside the ranges of "-c" and "-r" (a damaged file) gives 2 channels at 22050 Hz, and
// *replaced tells that the warning is due: only when neither was given, so that its words
// are true, and only when a WAV file is written.
WavFormat wav_format(const DecoderContext& context, bool* replaced) {
    const DecoderSettings& settings = context.settings;
    const vellox_decoder* decoder = context.decoder.get();
    const int channels = vellox_decoder_channels(decoder);
    const std::uint32_t rate = vellox_decoder_sample_rate(decoder);
    const bool header_usable = channels_in_range(channels) && rate_in_range(rate);
    WavFormat format;
    format.channels = settings.channels_given ? settings.channels
                      : channels_in_range(channels) && (header_usable || settings.rate_given)
                          ? channels
                          : 2;
    format.rate = settings.rate_given ? settings.rate
                  : rate_in_range(rate) && (header_usable || settings.channels_given)
                      ? static_cast<std::int32_t>(rate)
                      : 22050;
    *replaced =
        !header_usable && !settings.channels_given && !settings.rate_given && context.writes_wav;
    return format;
}

// The report; with "--quiet" only the comparison and the warnings.
void print_report(const DecoderContext& context, const DecodeResult& result, bool header_replaced) {
    std::FILE* console = context.console;
    if (context.writes_wav && !context.settings.quiet) {
        if (result.padding > 0) {
            std::fprintf(console, message_text(Message::frame_completed),
                         static_cast<long>(result.padding));
        }
        std::fprintf(console, "Output file size: %ld\n", static_cast<long>(result.wav_bytes));
    }
    if (context.original != nullptr) {
        print_quality(console, context.meter.report());
        if (context.original->total_samples != result.samples) {
            std::fprintf(console, message_text(Message::sample_counts_differ),
                         static_cast<long>(context.original->total_samples),
                         static_cast<long>(result.samples));
        }
    }
    if (header_replaced) {
        std::fprintf(stderr, message_text(Message::header_layout_replaced),
                     static_cast<unsigned>(vellox_decoder_channels(context.decoder.get())),
                     static_cast<unsigned>(vellox_decoder_sample_rate(context.decoder.get())));
    }
    if (result.not_decoded > 0) {
        std::fprintf(stderr, message_text(Message::damaged_input),
                     static_cast<long>(result.not_decoded), static_cast<long>(result.samples));
    }
    if (result.trailing_bytes > 0) {
        std::fprintf(stderr, message_text(Message::trailing_bytes),
                     static_cast<long>(result.trailing_bytes));
    }
    // A cut original read through libsndfile: zeros stood in for its missing end.
    const SoundSource* original = context.original.get();
    if (original != nullptr && original->frames_missing() > 0) {
        std::fprintf(stderr, message_text(Message::original_frames_missing),
                     static_cast<long>(original->frames_missing()),
                     static_cast<long>(original->total_samples / original->channels));
    }
}

}  // namespace

void print_decoder_banner(std::FILE* console) {
    std::fprintf(console, "velloxdec decoder %s  (c) 2026 vellox contributors\n", vellox_version());
}

int run_decoder(int argc, const char* const* argv) {
    DecoderContext context;
    const DecoderParse parsed = parse_decoder_command_line(argc, argv, context.settings);
    if (parsed == DecoderParse::show_version) {
        std::printf("velloxdec %s\n", vellox_version());
        return exit_success;
    }
    // Every other line goes where it cannot end up inside a WAV file on standard output.
    context.console =
        parsed == DecoderParse::show_help ? stdout : console_stream(context.settings.wav_file_name);
    const bool quiet = context.settings.quiet;
    if (!quiet) print_decoder_banner(context.console);
    switch (parsed) {
        case DecoderParse::accepted:
            break;
        case DecoderParse::show_help:
            print_decoder_help(context.console);
            return exit_success;
        case DecoderParse::show_version:  // answered above
        case DecoderParse::show_usage:
            print_decoder_usage(context.console);
            return exit_usage;
        case DecoderParse::channels_range:
            std::fputs(message_text(Message::channels_range), context.console);
            return exit_usage;
        case DecoderParse::rate_range:
            std::fputs(message_text(Message::rate_range), context.console);
            return exit_usage;
    }

    if (!set_up_decoding(context)) {
        tear_down_decoding(context);
        return exit_failure;
    }
    const std::int64_t samples = vellox_decoder_sample_count(context.decoder.get());
    if (!quiet) {
        std::fprintf(context.console, "Input type: ACM\t%ld samples\n", static_cast<long>(samples));
        std::fprintf(context.console, "Levels: %d, subblocks: %d\n",
                     vellox_decoder_levels(context.decoder.get()),
                     vellox_decoder_subblocks(context.decoder.get()));
    }

    bool header_replaced = false;
    const WavFormat format = wav_format(context, &header_replaced);
    Comparison comparison;
    comparison.original = context.original.get();
    comparison.meter = &context.meter;
    ProgressMarks marks(quiet ? nullptr : context.console, samples);
    const DecodeResult result =
        decode_to_wav(context.decoder.get(), format, context.writes_wav ? &context.sink : nullptr,
                      context.original != nullptr ? &comparison : nullptr, &marks);
    if (result.failed()) {
        print_decode_failure(context, result);
        tear_down_decoding(context);
        return exit_failure;
    }
    if (!finish_output(context)) {
        tear_down_decoding(context);
        return exit_failure;
    }
    print_report(context, result, header_replaced);
    if (context.writes_wav) report_job_written(result.wav_bytes, result.samples);
    tear_down_decoding(context);
    // "-t" answers whether the file is intact; a decoded file with damage is still written.
    const bool damaged = result.not_decoded > 0 || result.trailing_bytes > 0;
    return context.settings.test && damaged ? exit_failure : exit_success;
}

}  // namespace vellox
