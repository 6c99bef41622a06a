#pragma once
// velloxdec's command line: the names, the options, the range checks, the usage and help texts.

#include <cstdint>  // std::int32_t
#include <cstdio>   // std::FILE

namespace vellox {

// The values from velloxdec's command line; the strings are the argument words themselves,
// borrowed for the life of the process.
struct DecoderSettings {
    const char* acm_file_name = nullptr;       // borrowed; "-": standard input
    const char* wav_file_name = nullptr;       // borrowed; null: none; "-": standard output
    const char* original_file_name = nullptr;  // borrowed; "--compare"; "-": standard input
    bool test = false;                         // "-t": decode without writing
    std::int32_t channels = 2;                 // "-c": channels of the WAV file, 1 .. 16
    std::int32_t rate = 22050;                 // "-r": frames per second, 1 .. 1,000,000
    bool channels_given = false;               // "-c" was given: the header's count is not used
    bool rate_given = false;                   // "-r" was given: the header's rate is not used
    bool quiet = false;                        // "--quiet": no banner, progress marks or report
};

enum class DecoderParse {
    accepted,        // run the decoder
    show_usage,      // malformed: the caller prints the usage text
    show_help,       // "--help"
    show_version,    // "--version"
    channels_range,  // "-c" out of range
    rate_range,      // "-r" out of range
};

// Fills settings from the argument vector (argv[0] is not looked at). Prints nothing.
[[nodiscard]] DecoderParse parse_decoder_command_line(int argc, const char* const* argv,
                                                      DecoderSettings& settings);

// The words an option of a batch's decoding takes with its value: 2 for "-c" and "-r", 0 for
// every other word (next, the word after it, is not looked at).
[[nodiscard]] int decoder_option_words(const char* word, const char* next);

// The ranges of "-c" and "-r", which a header's fields must also meet to be used.
[[nodiscard]] bool channels_in_range(std::int64_t channels);
[[nodiscard]] bool rate_in_range(std::int64_t rate);

// The usage text, printed for a malformed command line.
void print_decoder_usage(std::FILE* stream);

// The usage line, every option with its range and default, and the exit statuses.
void print_decoder_help(std::FILE* stream);

}  // namespace vellox
