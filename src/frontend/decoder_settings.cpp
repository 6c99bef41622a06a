// velloxdec's command line. As in vellox: the names first, options after them in any order
// and letter case, a repeated option overriding the earlier one, numbers read the way atol
// reads them, and the range checks once on the final values.

#include "frontend/decoder_settings.h"

#include <cstring>  // std::strcmp

#include "frontend/command_words.h"

namespace vellox {

namespace {

// Words that are options wherever they stand after the ACM file's name.
bool is_option(const char* word) {
    return word_is(word, "-t") || word_is(word, "-c") || word_is(word, "-r") ||
           word_is(word, "--compare") || word_is(word, "--help") || word_is(word, "--version") ||
           word_is(word, "--quiet");
}

}  // namespace

DecoderParse parse_decoder_command_line(int argc, const char* const* argv,
                                        DecoderSettings& settings) {
    int i = 1;
    if (i < argc && word_is(argv[i], "--help")) return DecoderParse::show_help;
    if (i < argc && word_is(argv[i], "--version")) return DecoderParse::show_version;
    if (i < argc && word_is(argv[i], "-t")) {
        settings.test = true;
        ++i;
    }
    // The ACM file's name; "-" is standard input, any other word beginning with "-" is no
    // name (a file named so is given as "./-name").
    if (i >= argc || (argv[i][0] == '-' && argv[i][1] != '\0')) return DecoderParse::show_usage;
    settings.acm_file_name = argv[i++];
    // The WAV file's name is optional: a word that does not begin with "-", or "-" itself.
    if (i < argc && (argv[i][0] != '-' || argv[i][1] == '\0') && !is_option(argv[i])) {
        settings.wav_file_name = argv[i++];
    }

    for (; i < argc; ++i) {
        const char* word = argv[i];
        if (word_is(word, "--help")) return DecoderParse::show_help;
        if (word_is(word, "--version")) return DecoderParse::show_version;
        if (word_is(word, "-t")) {
            settings.test = true;
        } else if (word_is(word, "--quiet")) {
            settings.quiet = true;
        } else if (word_is(word, "-c") || word_is(word, "-r") || word_is(word, "--compare")) {
            // The value is the next word, taken even if it begins with "-".
            if (i + 1 >= argc) return DecoderParse::show_usage;
            const char* value = argv[++i];
            if (word_is(word, "-c")) {
                settings.channels = integer_value(value);
                settings.channels_given = true;
            } else if (word_is(word, "-r")) {
                settings.rate = integer_value(value);
                settings.rate_given = true;
            } else {
                settings.original_file_name = value;
            }
        } else {
            return DecoderParse::show_usage;
        }
    }
    // "-t" writes nothing, so a WAV file's name beside it is a mistake; and a run without
    // either, or without "--compare", would do nothing at all.
    if (settings.test && settings.wav_file_name != nullptr) return DecoderParse::show_usage;
    if (!settings.test && settings.wav_file_name == nullptr &&
        settings.original_file_name == nullptr) {
        return DecoderParse::show_usage;
    }
    // Standard input can be only one of the two inputs.
    if (settings.original_file_name != nullptr && std::strcmp(settings.acm_file_name, "-") == 0 &&
        std::strcmp(settings.original_file_name, "-") == 0) {
        return DecoderParse::show_usage;
    }

    if (!channels_in_range(settings.channels)) return DecoderParse::channels_range;
    if (!rate_in_range(settings.rate)) return DecoderParse::rate_range;
    return DecoderParse::accepted;
}

int decoder_option_words(const char* word, const char* /* next */) {
    return word_is(word, "-c") || word_is(word, "-r") ? 2 : 0;
}

bool channels_in_range(std::int64_t channels) { return channels >= 1 && channels <= 16; }

bool rate_in_range(std::int64_t rate) { return rate >= 1 && rate <= 1000000; }

void print_decoder_usage(std::FILE* stream) {
    std::fputs("Usage: velloxdec [-t] acm_file_name [wav_file_name] [options]\n", stream);
    std::fputs("   -t              tests the file: decodes it without writing anything.\n", stream);
    std::fputs("Options:\n", stream);
    std::fputs("   -c channels     channels of the WAV file, 1 to 16 (default: the header's).\n",
               stream);
    std::fputs("   -r rate         sample rate of the WAV file, 1 to 1000000 Hz\n", stream);
    std::fputs("                   (default: the header's).\n", stream);
    std::fputs("   --compare file  compares the decoded samples with the original file.\n", stream);
    std::fputs("   --help          all about the options; --version: the version.\n", stream);
}

void print_decoder_help(std::FILE* stream) {
    std::fputs(
        "Usage: velloxdec [-t] acm_file_name [wav_file_name] [options]\n"
        "Decodes an ACM file to a 16-bit PCM WAV file (RF64 when it exceeds 4 GiB).\n"
        "   acm_file_name   the ACM file; - reads standard input.\n"
        "   wav_file_name   the WAV file; - writes it to standard output (the console\n"
        "                   lines then go to standard error). A name that begins with\n"
        "                   - is given as ./-name.\n"
        "Options (after the names, in any order and letter case):\n"
        "   -t              tests the file: decodes it without writing anything (no\n"
        "                   wav_file_name); exit status 0 when it is intact, 1 when\n"
        "                   it is damaged.\n"
        "   -c channels     channels of the WAV file, 1 to 16 (default: the header's).\n"
        "   -r rate         sample rate of the WAV file, 1 to 1000000 Hz (default: the\n"
        "                   header's). A header outside these ranges (a damaged file)\n"
        "                   gives 2 channels at 22050 Hz, with a warning. Files made\n"
        "                   without vellox -c and -r say 2 channels at 22050 Hz. A\n"
        "                   last frame that is not whole is completed with zeros.\n"
        "   --compare file  compares the decoded samples with file (WAV, ACM, what\n"
        "                   libsndfile reads or raw 16-bit, detected as vellox detects\n"
        "                   them and not converted; - reads standard input): SNR,\n"
        "                   segmental SNR (2048-sample frames limited to -10..100 dB,\n"
        "                   silent ones left out), peak error, samples compared.\n"
        "   --quiet         no banner, progress marks or report (the comparison's\n"
        "                   results stay); warnings and errors still.\n"
        "   --help          this text.\n"
        "   --version       the version.\n"
        "Samples that damage cost are counted in a warning on standard error.\n"
        "Exit status: 0 success, 1 failure (or damage found by -t), 2 a malformed\n"
        "command line or a value out of range.\n"
        "\n"
        "velloxdec --batch [options] FILE... decodes every FILE as the two-name form\n"
        "would, into FILE with its extension replaced by .wav (added when it has none);\n"
        "-c and -r apply to every file (-t and --compare have no batch form):\n"
        "   --output-dir DIR  the outputs go into DIR instead of beside their inputs.\n"
        "   -j jobs         decodings at once, 1 to 256 (default: one per processor).\n"
        "   -f              replaces outputs that exist (else their files are skipped).\n"
        "   --              ends the options: every word after it is a FILE.\n"
        "The second of two inputs with the same output, and an input that is an output,\n"
        "are refused. Everything goes to standard error: on a terminal a progress line,\n"
        "else a line for each file as it finishes; warnings and errors headed by the\n"
        "file's name; then a summary. Exit status: 0 all decoded or skipped, 1 any\n"
        "failed, 2 malformed or out of range.\n",
        stream);
}

}  // namespace vellox
