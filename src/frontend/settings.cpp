// The command line: words are taken left to right, values converted the way atol and atof
// convert them, and the range checks run once on the final values.

#include "frontend/settings.h"

#include <strings.h>  // strcasecmp

#include <cstdio>   // std::printf
#include <cstdlib>  // std::strtol, std::strtod

namespace vellox {

namespace {

bool word_is(const char* word, const char* option) { return strcasecmp(word, option) == 0; }

// The leading integer of word, as atol reads it (0 when there is none), limited to the 32-bit
// range so that a huge value fails the range check instead of wrapping into it.
std::int32_t integer_value(const char* word) {
    const long value = std::strtol(word, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

// The leading real number of word, as atof reads it (0 when there is none).
double real_value(const char* word) { return std::strtod(word, nullptr); }

ParseOutcome check_ranges(const ConversionSettings& settings) {
    if (settings.levels < 0 || settings.levels > 15) {
        std::printf("'levels' parameter (-l) should be between 0 and 15.\n");
        return ParseOutcome::rejected;
    }
    if (settings.filter_length < 3) {
        std::printf("'filter_length' parameter should be greater than 2.\n");
        return ParseOutcome::rejected;
    }
    if (settings.subblocks < 1 || settings.subblocks > 4095) {
        std::printf("'subblocks' parameter (-s) should be between 1 and 4095.\n");
        return ParseOutcome::rejected;
    }
    // Three comparisons in this order: above 100 fails, above 1 passes, exactly -1 (no size
    // target) passes; everything else fails, not-a-number included.
    const double percents = settings.percents;
    const bool percents_ok = percents > 100.0 ? false : (percents > 1.0 || percents == -1.0);
    if (!percents_ok) {
        std::printf("'percents' parameter (-q) should be between 1 and 100.\n");
        return ParseOutcome::rejected;
    }
    return ParseOutcome::accepted;
}

}  // namespace

ParseOutcome parse_command_line(int argc, const char* const* argv, ConversionSettings& settings) {
    if (argc <= 2) return ParseOutcome::show_usage;

    int i = 1;
    if (argv[i][0] == '-') {
        const char* type_word = argv[i];
        if (word_is(type_word, "-8")) {
            settings.snd_type = SoundType::raw8;
        } else if (word_is(type_word, "-16")) {
            settings.snd_type = SoundType::raw16;
        } else if (word_is(type_word, "-wav")) {
            settings.snd_type = SoundType::wav;
        } else if (word_is(type_word, "-acm")) {
            settings.snd_type = SoundType::acm;
        } else {
            return ParseOutcome::show_usage;
        }
        ++i;
    }
    settings.snd_file_name = argv[i++];
    if (i >= argc) return ParseOutcome::show_usage;
    settings.acm_file_name = argv[i++];

    for (; i < argc; ++i) {
        const char* word = argv[i];
        const bool has_next = i + 1 < argc;
        if (word_is(word, "-l") || word_is(word, "-s") || word_is(word, "-q") ||
            word_is(word, "-fc")) {
            if (!has_next) return ParseOutcome::show_usage;
            const char* value = argv[++i];
            if (word_is(word, "-l")) {
                settings.levels = integer_value(value);
            } else if (word_is(word, "-s")) {
                settings.subblocks = integer_value(value);
            } else if (word_is(word, "-q")) {
                settings.percents = real_value(value);
            } else {
                settings.filter_kind = 'C';
                settings.filter_file_name = value;
            }
        } else if (word_is(word, "-q0")) {
            settings.percents = -1.0;
        } else if (word_is(word, "-hq")) {
            settings.high_quality = true;
        } else if (word_is(word, "-fd") || word_is(word, "-fo")) {
            settings.filter_kind = word_is(word, "-fd") ? 'D' : 'O';
            if (has_next && argv[i + 1][0] != '-')
                settings.filter_length = integer_value(argv[++i]);
        } else {
            return ParseOutcome::show_usage;
        }
    }
    return check_ranges(settings);
}

void print_usage() {
    std::printf("Usage: vellox [-snd_type] snd_file_name acm_file_name [-q0 | -q percents]\n");
    std::printf("   snd_type can be used to specify the sound file format:\n");
    std::printf("     -8     8-bit raw PCM sound\n");
    std::printf("     -16   16-bit raw PCM file\n");
    std::printf("     -ACM  ACM file\n");
    std::printf("     -WAV  WAV file\n");
    std::printf("Options:\n");
    std::printf("   -q percents    limits the output file length by this percent of input\n");
    std::printf("                  length, sould be between 1 and 100 (default is 50%%).\n");
    std::printf("   -q0            unconstrained output file length.\n");
}

}  // namespace vellox
