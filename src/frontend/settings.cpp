// The command line: words are taken left to right, values converted the way atol and atof
// convert them, and the range checks run once on the final values.

#include "frontend/settings.h"

#include <cstdio>   // std::fprintf, std::fputs
#include <cstdlib>  // std::strtol

#include "analysis/filter_design.h"
#include "frontend/command_words.h"
#include "frontend/messages.h"
#include "sources/resampler.h"

namespace vellox {

namespace {

ParseOutcome reject(Message message, std::FILE* console) {
    std::fputs(message_text(message), console);
    return ParseOutcome::rejected;
}

// "--resample" and "--downmix": what the command line alone tells; the input's layout is
// checked once the input is open.
ParseOutcome check_conversion(const ConversionSettings& settings, std::FILE* console) {
    const std::int32_t rate = settings.resample_rate;
    if (settings.resample && (rate < 8000 || rate > 192000)) {
        return reject(Message::resample_range, console);
    }
    if (settings.resample && !Resampler::available()) {
        return reject(Message::resample_needs_soxr, console);
    }
    if (settings.resample && rate > 65535 && !settings.rate_given) {
        return reject(Message::resample_needs_rate, console);
    }
    // Raw samples and ACM files state no layout of their own.
    const SoundType type = settings.snd_type;
    if ((settings.resample || settings.downmix) &&
        (type == SoundType::raw8 || type == SoundType::raw16 || type == SoundType::acm)) {
        return reject(Message::layout_unknown, console);
    }
    return ParseOutcome::accepted;
}

ParseOutcome check_ranges(const ConversionSettings& settings, std::FILE* console) {
    if (settings.levels < 0 || settings.levels > 15) {
        std::fputs(message_text(Message::levels_range), console);
        return ParseOutcome::rejected;
    }
    if (settings.filter_length < 3) {
        std::fputs(message_text(Message::filter_length_range), console);
        return ParseOutcome::rejected;
    }
    // Only the design finally chosen counts: "-fd 900 -fc taps.txt" filters with the file.
    if (settings.filter_kind == 'D' && settings.filter_length > max_fd_filter_length) {
        std::fputs(message_text(Message::fd_filter_length_range), console);
        return ParseOutcome::rejected;
    }
    if (settings.filter_kind == 'O' && settings.filter_length > max_fo_filter_length) {
        std::fputs(message_text(Message::fo_filter_length_range), console);
        return ParseOutcome::rejected;
    }
    if (settings.subblocks < 1 || settings.subblocks > 4095) {
        std::fputs(message_text(Message::subblocks_range), console);
        return ParseOutcome::rejected;
    }
    // Three comparisons in this order: above 100 fails, above 1 passes, exactly -1 (no size
    // target) passes; everything else fails, not-a-number included.
    const double percents = settings.percents;
    const bool percents_ok = percents > 100.0 ? false : (percents > 1.0 || percents == -1.0);
    if (!percents_ok) {
        std::fputs(message_text(Message::percents_range), console);
        return ParseOutcome::rejected;
    }
    // The header's fields are 16 bits wide.
    if (settings.channels < 1 || settings.channels > 65535) {
        std::fputs(message_text(Message::header_channels_range), console);
        return ParseOutcome::rejected;
    }
    if (settings.sample_rate < 1 || settings.sample_rate > 65535) {
        std::fputs(message_text(Message::header_rate_range), console);
        return ParseOutcome::rejected;
    }
    // Not-a-number fails too.
    if (!(settings.gain_db >= -60.0 && settings.gain_db <= 20.0)) {
        std::fputs(message_text(Message::gain_range), console);
        return ParseOutcome::rejected;
    }
    return check_conversion(settings, console);
}

}  // namespace

bool asks_for_version(int argc, const char* const* argv) {
    return argc >= 2 && word_is(argv[1], "--version");
}

const char* output_name(int argc, const char* const* argv) {
    // The same rule as the parse: a first word that begins with "-" (but is no lone "-") is
    // the type word.
    const int first_name = argc >= 2 && argv[1][0] == '-' && argv[1][1] != '\0' ? 2 : 1;
    return first_name + 1 < argc ? argv[first_name + 1] : nullptr;
}

bool asks_for_quiet(int argc, const char* const* argv) {
    const int first_name = argc >= 2 && argv[1][0] == '-' && argv[1][1] != '\0' ? 2 : 1;
    for (int i = first_name + 2; i < argc;) {
        if (word_is(argv[i], "--quiet")) return true;
        const int words = option_words(argv[i], i + 1 < argc ? argv[i + 1] : nullptr);
        i += words > 0 ? words : 1;
    }
    return false;
}

bool is_type_word(const char* word) {
    return word_is(word, "-8") || word_is(word, "-16") || word_is(word, "-wav") ||
           word_is(word, "-acm");
}

int option_words(const char* word, const char* next, bool batch) {
    if (word_is(word, "-l") || word_is(word, "-s") || word_is(word, "-q") || word_is(word, "-fc") ||
        word_is(word, "-c") || word_is(word, "-r") || word_is(word, "--gain") ||
        word_is(word, "--resample")) {
        return 2;
    }
    if (word_is(word, "-q0") || word_is(word, "-hq") || word_is(word, "--fit") ||
        word_is(word, "--limit") || word_is(word, "--downmix") || word_is(word, "--quiet")) {
        return 1;
    }
    if (word_is(word, "-fd") || word_is(word, "-fo")) {
        if (next == nullptr) return 1;
        if (next[0] == '-') return 1;
        if (!batch) return 2;
        char* end = nullptr;
        (void)std::strtol(next, &end, 10);
        return end != next && *end == '\0' ? 2 : 1;
    }
    return 0;
}

ParseOutcome parse_command_line(int argc, const char* const* argv, ConversionSettings& settings,
                                std::FILE* console) {
    if (argc >= 2 && word_is(argv[1], "--help")) return ParseOutcome::show_help;
    if (argc <= 2) return ParseOutcome::show_usage;

    int i = 1;
    // A lone "-" is no type word but the input name: standard input.
    if (argv[i][0] == '-' && argv[i][1] != '\0') {
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
            word_is(word, "-fc") || word_is(word, "-c") || word_is(word, "-r") ||
            word_is(word, "--resample") || word_is(word, "--gain")) {
            if (!has_next) return ParseOutcome::show_usage;
            const char* value = argv[++i];
            if (word_is(word, "-l")) {
                settings.levels = integer_value(value);
            } else if (word_is(word, "-c")) {
                settings.channels = integer_value(value);
                settings.channels_given = true;
            } else if (word_is(word, "-r")) {
                settings.sample_rate = integer_value(value);
                settings.rate_given = true;
            } else if (word_is(word, "--resample")) {
                settings.resample = true;
                settings.resample_rate = integer_value(value);
            } else if (word_is(word, "-s")) {
                settings.subblocks = integer_value(value);
            } else if (word_is(word, "-q")) {
                settings.percents = real_value(value);
            } else if (word_is(word, "--gain")) {
                settings.gain_db = real_value(value);
            } else {
                settings.filter_kind = 'C';
                settings.filter_file_name = value;
            }
        } else if (word_is(word, "-q0")) {
            settings.percents = -1.0;
        } else if (word_is(word, "-hq")) {
            settings.high_quality = true;
        } else if (word_is(word, "--downmix")) {
            settings.downmix = true;
        } else if (word_is(word, "--fit")) {
            settings.fit = true;
        } else if (word_is(word, "--limit")) {
            settings.limit = true;
        } else if (word_is(word, "--quiet")) {
            // Read before the parse: asks_for_quiet.
        } else if (word_is(word, "-fd") || word_is(word, "-fo")) {
            settings.filter_kind = word_is(word, "-fd") ? 'D' : 'O';
            if (has_next && argv[i + 1][0] != '-')
                settings.filter_length = integer_value(argv[++i]);
        } else {
            return ParseOutcome::show_usage;
        }
    }
    return check_ranges(settings, console);
}

void print_usage(std::FILE* console) {
    std::fprintf(console,
                 "Usage: vellox [-snd_type] snd_file_name acm_file_name [-q0 | -q percents]\n");
    std::fprintf(console, "   snd_type can be used to specify the sound file format:\n");
    std::fprintf(console, "     -8     8-bit raw PCM sound\n");
    std::fprintf(console, "     -16   16-bit raw PCM file\n");
    std::fprintf(console, "     -ACM  ACM file\n");
    std::fprintf(console, "     -WAV  WAV file\n");
    std::fprintf(console, "Options:\n");
    std::fprintf(console,
                 "   -q percents    limits the output file length by this percent of input\n");
    std::fprintf(console,
                 "                  length, sould be between 1 and 100 (default is 50%%).\n");
    std::fprintf(console, "   -q0            unconstrained output file length.\n");
}

void print_options(std::FILE* console) {
    std::fputs(
        "\n"
        "Every option comes after the file names and may be written in any letter case:\n"
        "   -q percents    size target in percent of the input's sample data, above 1 and at\n"
        "                  most 100 (default 50); a target, not a limit: small -l and -s\n"
        "                  values can exceed it\n"
        "   -q0            no size target: every block is coded exactly (also -q -1)\n"
        "   -hq            high quality: coefficients the decoder maps back onto the input,\n"
        "                  the same size target, a lower error; with -q0 every block exact\n"
        "   -l levels      transform levels, 0 to 15: 2^levels sub-bands (default 7)\n"
        "   -s subblocks   rows per block, 1 to 4095 (default 16)\n"
        "   -fd [length]   the default filter design, 3 to 806 one-sided taps (default 11)\n"
        "   -fo [length]   the second computed filter design, 3 to 402 one-sided taps\n"
        "                  (default 11)\n"
        "   -fc file       filter taps from a text file: a count, then that many numbers,\n"
        "                  the one-sided magnitudes from the outer end to the centre\n"
        "   -c channels    the channel count the header gives, 1 to 65535 (default 2)\n"
        "   -r rate        the sample rate the header gives, 1 to 65535 Hz (default 22050);\n"
        "                  neither changes the samples: a player reads them from the header\n"
        "   --gain dB      every sample times 10^(dB/20) first, -60 to 20 (default 0)\n"
        "   --fit          the largest gain up to 0 dB at which no coefficient is clipped,\n"
        "                  found in a pass over the input before the conversion\n"
        "   --limit        lowers the level only where coefficients would be clipped\n"
        "   --resample rate  converts the signal to rate Hz, 8000 to 192000 (libsoxr, very\n"
        "                  high quality); the header then gives rate, which above 65535\n"
        "                  needs -r, as the header's field is 16 bits wide\n"
        "   --downmix      mixes all channels into one, their mean; the header then gives\n"
        "                  1 channel. Both need an input that states its rate and channels\n"
        "                  (not raw or ACM), and set the header's fields unless -c and -r do\n"
        "   --quiet        no banner, progress marks or report; warnings and errors still\n"
        "   -              as snd_file_name: standard input; as acm_file_name: standard\n"
        "                  output (the console text then goes to standard error)\n"
        "   --help         this text;  --version  the version\n"
        "Without a type word the input kind is detected: WAV (and RF64), then ACM, then what\n"
        "libsndfile reads (FLAC, Ogg Vorbis and Opus, MP3, AIFF, AU, CAF, W64, ...), then raw\n"
        "16-bit PCM. An input whose rate differs from the header's gets a note on standard\n"
        "error. Exit status: 0 written, 1 failed, 2 malformed or out of range.\n"
        "\n"
        "vellox --batch [options] FILE... converts every FILE as the two-name form would,\n"
        "into FILE with its extension replaced by .acm (added when it has none):\n"
        "   --output-dir DIR  the outputs go into DIR instead of beside their inputs\n"
        "   -j jobs        conversions at once, 1 to 256 (default: one per processor)\n"
        "   -f             replaces outputs that exist (else their files are skipped)\n"
        "   --             ends the options: every word after it is a FILE\n"
        "The options above and a type word may stand anywhere; -fd and -fo take the next\n"
        "word as their length only when it is a number. The second of two inputs with the\n"
        "same output, and an input that is an output, are refused. Everything goes to\n"
        "standard error: on a terminal a progress line, else a line for each file as it\n"
        "finishes; warnings and errors headed by the file's name; then a summary. Exit\n"
        "status: 0 all converted or skipped, 1 any failed, 2 malformed or out of range.\n",
        console);
}

EncoderSettings encoder_shape(const ConversionSettings& settings) {
    EncoderSettings encoding;
    encoding.levels = settings.levels;
    encoding.subblocks = settings.subblocks;
    encoding.filter_kind = settings.filter_kind;
    encoding.filter_length = settings.filter_length;
    encoding.high_quality = settings.high_quality;
    return encoding;
}

}  // namespace vellox
