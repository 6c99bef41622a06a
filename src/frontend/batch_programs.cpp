// The two programs' batch forms: each option checked through the two-name form's own parse of
// a command line with stand-in names, so that the ranges and their messages are the same.

#include "frontend/batch_programs.h"

#include <cstdint>  // std::int32_t
#include <cstdio>   // std::fputs
#include <memory>   // std::unique_ptr
#include <vector>   // std::vector

#include "frontend/batch.h"
#include "frontend/decoder_driver.h"
#include "frontend/decoder_settings.h"
#include "frontend/driver.h"
#include "frontend/errors.h"
#include "frontend/filter_file.h"
#include "frontend/messages.h"
#include "frontend/settings.h"

namespace vellox {

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// The argument vector of a two-name run with the batch's options: name, the type word, the
// stand-in names, the options.
std::vector<const char*> stand_in_command_line(const char* name, const BatchSettings& settings,
                                               const char* input, const char* output) {
    std::vector<const char*> words{name};
    if (settings.type_word != nullptr) words.push_back(settings.type_word);
    words.push_back(input);
    words.push_back(output);
    words.insert(words.end(), settings.options.begin(), settings.options.end());
    words.push_back(nullptr);
    return words;
}

void print_encoder_batch_usage(std::FILE* console) {
    std::fputs(
        "Usage: vellox --batch [options] FILE...\n"
        "   converts every FILE as \"vellox FILE FILE.acm [options]\" would, its extension\n"
        "   replaced by .acm, beside it or in --output-dir DIR; -j jobs: 1 to 256 at once\n"
        "   (default: one per processor); -f replaces outputs that exist; --quiet prints\n"
        "   only warnings and errors; -- ends the options. vellox --help: every option.\n",
        console);
}

void print_decoder_batch_usage(std::FILE* console) {
    std::fputs(
        "Usage: velloxdec --batch [options] FILE...\n"
        "   decodes every FILE as \"velloxdec FILE FILE.wav [options]\" would, its extension\n"
        "   replaced by .wav, beside it or in --output-dir DIR; -j jobs: 1 to 256 at once\n"
        "   (default: one per processor); -f replaces outputs that exist; --quiet prints\n"
        "   only warnings and errors; -- ends the options; -c and -r apply to every file.\n",
        console);
}

int check_encoder_options(const BatchSettings& settings, std::FILE* console) {
    const std::vector<const char*> words = stand_in_command_line("vellox", settings, "in", "out");
    ConversionSettings conversion;
    switch (
        parse_command_line(static_cast<int>(words.size() - 1), words.data(), conversion, console)) {
        case ParseOutcome::accepted:
            break;
        case ParseOutcome::rejected:
            return exit_usage;
        case ParseOutcome::show_usage:
        case ParseOutcome::show_help:
            print_encoder_batch_usage(console);
            return exit_usage;
    }
    // A "-fc" file that cannot be used would fail every file alike.
    if (conversion.filter_kind == 'C') {
        std::int32_t count = 0;
        std::unique_ptr<double[]> taps;
        if (read_filter_file(conversion.filter_file_name, &count, &taps) != FilterFileResult::ok) {
            print_error(message_text(Message::cannot_create_coder), nullptr);
            return exit_failure;
        }
    }
    return 0;
}

int check_decoder_options(const BatchSettings& settings, std::FILE* console) {
    const std::vector<const char*> words =
        stand_in_command_line("velloxdec", settings, "in.acm", "out.wav");
    DecoderSettings decoding;
    switch (
        parse_decoder_command_line(static_cast<int>(words.size() - 1), words.data(), decoding)) {
        case DecoderParse::accepted:
            return 0;
        case DecoderParse::channels_range:
            std::fputs(message_text(Message::channels_range), console);
            return exit_usage;
        case DecoderParse::rate_range:
            std::fputs(message_text(Message::rate_range), console);
            return exit_usage;
        case DecoderParse::show_usage:
        case DecoderParse::show_help:
        case DecoderParse::show_version:
            print_decoder_batch_usage(console);
            return exit_usage;
    }
    return exit_usage;
}

}  // namespace

int run_encoder_batch(int argc, const char* const* argv) {
    BatchProgram program;
    program.extension = ".acm";
    program.options.option_words = [](const char* word, const char* next) {
        return option_words(word, next, true);
    };
    program.options.is_type_word = is_type_word;
    program.print_banner = print_banner;
    program.print_usage = print_encoder_batch_usage;
    program.check_options = check_encoder_options;
    return run_batch(argc, argv, program);
}

int run_decoder_batch(int argc, const char* const* argv) {
    BatchProgram program;
    program.extension = ".wav";
    program.options.option_words = decoder_option_words;
    program.print_banner = print_decoder_banner;
    program.print_usage = print_decoder_batch_usage;
    program.check_options = check_decoder_options;
    return run_batch(argc, argv, program);
}

}  // namespace vellox
