#pragma once
// The command line: defaults, option words, range checks and the usage text.

#include <cstdint>  // std::int32_t
#include <cstdio>   // std::FILE, stdout

#include "codec/encoder.h"             // EncoderSettings
#include "sources/source_detection.h"  // SoundType

namespace vellox {

// The values from the command line. Only the driver reads them; the strings are the argument
// words themselves, borrowed for the life of the process.
struct ConversionSettings {
    SoundType snd_type = SoundType::automatic;
    const char* snd_file_name = nullptr;     // borrowed
    const char* acm_file_name = nullptr;     // borrowed
    std::int32_t levels = 7;                 // transform levels, 0 .. 15
    std::int32_t subblocks = 16;             // rows per block, 1 .. 4095
    std::int32_t filter_length = 11;         // one-sided taps: "-fd" 3 .. 806, "-fo" 3 .. 402
    char filter_kind = 'D';                  // 'D' ("-fd"), 'O' ("-fo") or 'C' ("-fc")
    double percents = 50.0;                  // size target in percent of the input; -1: none
    const char* filter_file_name = nullptr;  // borrowed; the taps file of "-fc"
    bool high_quality = false;               // "-hq": the exact inverse of the synthesis
    std::int32_t channels = 2;               // "-c": the header's channel count, 1 .. 65535
    std::int32_t sample_rate = 22050;        // "-r": the header's rate in Hz, 1 .. 65535
    double gain_db = 0.0;                    // "--gain": -60 .. 20 dB on every sample
    bool fit = false;                        // "--fit": the gain at which nothing is clipped
    bool limit = false;                      // "--limit": lower the level where it would be
    bool channels_given = false;             // "-c" was given
    bool rate_given = false;                 // "-r" was given
    bool resample = false;                   // "--resample": convert the signal's rate
    std::int32_t resample_rate = 0;          // "--resample": that rate in Hz, 8000 .. 192000
    bool downmix = false;                    // "--downmix": mix all channels into one
};

enum class ParseOutcome {
    accepted,    // run the conversion
    show_usage,  // malformed; the caller prints the usage text
    rejected,    // a value is out of range; its message is already printed
    show_help,   // "--help": the caller prints the usage text and every option
};

// True when the first argument word is "--version" (in any letter case).
[[nodiscard]] bool asks_for_version(int argc, const char* const* argv);

// The word the parse will take as the output name, or null when there is none; known before
// the parse, so that the banner goes where the console lines go.
[[nodiscard]] const char* output_name(int argc, const char* const* argv);

// True when "--quiet" stands among the options after the names: no banner, progress marks or
// report then. Known before the parse, as the banner comes first.
[[nodiscard]] bool asks_for_quiet(int argc, const char* const* argv);

// True when word is a type word ("-8", "-16", "-wav", "-acm").
[[nodiscard]] bool is_type_word(const char* word);

// The words an option after the names takes with its value: 1 or 2, or 0 when word is no
// option. "-fd" and "-fo" take next (null at the end) as their length when it does not begin
// with "-"; in the batch form, where file names stand among the options, when it is a whole
// number.
[[nodiscard]] int option_words(const char* word, const char* next, bool batch = false);

// Fills settings from the argument vector (argv[0] is not looked at). Range messages go to
// console.
[[nodiscard]] ParseOutcome parse_command_line(int argc, const char* const* argv,
                                              ConversionSettings& settings,
                                              std::FILE* console = stdout);

// Prints the usage text on console.
// The encoder's settings for the shape and mode the options ask for (levels, subblocks, the
// filter's kind and length, "-hq"); the header's fields, taps and budget are left to the caller.
[[nodiscard]] EncoderSettings encoder_shape(const ConversionSettings& settings);

void print_usage(std::FILE* console = stdout);

// Prints every option with its range and default on console, for "--help".
void print_options(std::FILE* console = stdout);

}  // namespace vellox
