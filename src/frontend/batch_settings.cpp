// The batch's command line: words taken left to right, the options of each program told from
// file names by the program's own table.

#include "frontend/batch_settings.h"

#include <sched.h>   // sched_getaffinity, CPU_COUNT
#include <unistd.h>  // sysconf

#include "frontend/command_words.h"

namespace vellox {

namespace {

constexpr std::int32_t most_jobs = 256;

}  // namespace

bool asks_for_batch(int argc, const char* const* argv) {
    return argc >= 2 && word_is(argv[1], "--batch");
}

BatchParse parse_batch_command_line(int argc, const char* const* argv,
                                    const ProgramOptions& program, BatchSettings& settings) {
    bool jobs_given = false;
    bool options_ended = false;
    for (int i = 2; i < argc; ++i) {
        const char* word = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (options_ended || word[0] != '-') {
            settings.files.push_back(word);
            continue;
        }
        if (word[1] == '\0') return BatchParse::show_usage;
        if (word_is(word, "--")) {
            options_ended = true;
        } else if (word_is(word, "-j") || word_is(word, "--output-dir")) {
            if (next == nullptr) return BatchParse::show_usage;
            if (word_is(word, "-j")) {
                settings.jobs = integer_value(next);
                jobs_given = true;
            } else {
                settings.output_dir = next;
            }
            ++i;
        } else if (word_is(word, "-f")) {
            settings.force = true;
        } else if (word_is(word, "--quiet")) {
            settings.quiet = true;
        } else if (program.is_type_word != nullptr && program.is_type_word(word)) {
            settings.type_word = word;
        } else {
            const int words = program.option_words(word, next);
            if (words == 0 || (words == 2 && next == nullptr)) return BatchParse::show_usage;
            for (int k = 0; k < words; ++k) settings.options.push_back(argv[i + k]);
            i += words - 1;
        }
    }
    if (settings.files.empty()) return BatchParse::show_usage;
    if (jobs_given && (settings.jobs < 1 || settings.jobs > most_jobs)) {
        return BatchParse::jobs_range;
    }
    if (!jobs_given) settings.jobs = default_jobs();
    return BatchParse::accepted;
}

std::int32_t default_jobs() {
    long count = 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        count = CPU_COUNT(&allowed);
    } else {
        count = sysconf(_SC_NPROCESSORS_ONLN);
    }
    if (count < 1) return 1;
    return count > most_jobs ? most_jobs : static_cast<std::int32_t>(count);
}

}  // namespace vellox
