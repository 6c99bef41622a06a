#pragma once
// The batch form's command line, the same for both programs: "--batch" first, then the
// program's options, the batch's own ("-j", "-f", "--output-dir", "--quiet") and the names of
// the inputs in any order; "--" ends the options.

#include <cstdint>  // std::int32_t
#include <vector>   // std::vector

namespace vellox {

// What a program's options look like, for telling them from the file names.
struct ProgramOptions {
    // The words the option word takes with its value (1 or 2), 0 when it is none; next is the
    // word after it, null at the end.
    int (*option_words)(const char* word, const char* next) = nullptr;
    // True for a type word, which the two-name form takes only as its first word; null when
    // the program has none.
    bool (*is_type_word)(const char* word) = nullptr;
};

// The values of a batch's command line; the strings are the argument words, borrowed for the
// life of the process.
struct BatchSettings {
    std::vector<const char*> options;  // the program's option words with their values, in order
    const char* type_word = nullptr;   // the last type word given; null: none
    std::vector<const char*> files;    // the inputs, in order
    const char* output_dir = nullptr;  // "--output-dir"; null: each output beside its input
    std::int32_t jobs = 0;             // "-j": conversions at once, 1 .. 256; 0: not given
    bool force = false;                // "-f": outputs that exist are replaced
    bool quiet = false;                // "--quiet": no banner, progress or report
};

enum class BatchParse {
    accepted,    // run the batch
    show_usage,  // malformed: the caller prints the usage text
    jobs_range,  // "-j" out of range
};

// True when the first argument word is "--batch" (in any letter case).
[[nodiscard]] bool asks_for_batch(int argc, const char* const* argv);

// Fills settings from the argument vector, whose first word is "--batch". Prints nothing. A
// word that begins with "-" before "--" and is no option is malformed, and so is a lone "-"
// (standard input has no name to make an output's from) or no file at all.
[[nodiscard]] BatchParse parse_batch_command_line(int argc, const char* const* argv,
                                                  const ProgramOptions& program,
                                                  BatchSettings& settings);

// The number of processors this process may run on, 1 .. 256: the default of "-j".
[[nodiscard]] std::int32_t default_jobs();

}  // namespace vellox
