// The table of the programs' messages.

#include "frontend/messages.h"

#include <cstddef>  // std::size_t

namespace vellox {

namespace {

// In the order of Message.
constexpr const char* texts[] = {
    "Cannot open input file.\n",
    "Cannot open output file.\n",
    "Cannot create coder",
    "Cannot create packer",
    "Cannot allocate memory",
    "Not a WAV file",
    "Unsupported WAV format",
    "Not an ACM file",
    "Input file is too long",
    "Unsupported sound file format",
    "Input and output are the same file",
    "Bad tap count in file",
    "Bad numeric format in file",
    "'levels' parameter (-l) should be between 0 and 15.\n",
    "'filter_length' parameter should be greater than 2.\n",
    "'filter_length' parameter should be between 3 and 806.\n",
    "'filter_length' parameter should be between 3 and 402.\n",
    "'subblocks' parameter (-s) should be between 1 and 4095.\n",
    "'percents' parameter (-q) should be between 1 and 100.\n",
    "'gain' parameter (--gain) should be between -60 and 20.\n",
    "Warning: %ld coefficients were truncated. Max. truncated value: %ld\n",
    "Fade out your signal to fit into [-32768;+32767] interval.\n",
    "Warning: damaged input: %ld of %ld samples could not be decoded\n",
    "Something went wrong: left_to_pack=%ld\n",
    "'channels' parameter (-c) should be between 1 and 16.\n",
    "'rate' parameter (-r) should be between 1 and 1000000.\n",
    "Cannot open original file.\n",
    "Last frame completed with %ld zero samples\n",
    "Sample counts differ: %ld in the original, %ld decoded\n",
    "Warning: the header says %u channels at %u Hz; writing 2 channels at 22050 Hz\n",
    "'channels' parameter (-c) should be between 1 and 65535.\n",
    "'rate' parameter (-r) should be between 1 and 65535.\n",
    "Warning: %ld bytes follow the end of the stream\n",
    "Note: --gain %.1f would fit every coefficient\n",
    "Note: --fit applied a gain of %.1f dB\n",
    "Note: --limit lowered %.1f%% of the input, by at most %.1f dB\n",
    "Input file changed while it was read",
    "Reading this format needs libsndfile, which this build lacks",
    "Warning: damaged input: %ld of %ld frames are missing; silence stands in\n",
    "Warning: damaged original: %ld of %ld frames are missing; silence stands in\n",
    "'rate' parameter (--resample) should be between 8000 and 192000.\n",
    "'rate' parameter (--resample) above 65535 needs -r: the header's rate field is 16 bits "
    "wide.\n",
    "'--resample' needs libsoxr, which this build lacks.\n",
    "'--resample' and '--downmix' need an input that states its rate and channels (WAV, RF64 "
    "or a format read through libsndfile), not raw or ACM input.\n",
    "'--resample' takes inputs of 1000 to 1000000 Hz; this one is %u Hz.\n",
    "The input is %u Hz, more than the header's 16-bit rate field holds: give -r or "
    "--resample.\n",
    "'--resample' takes at most 64 channels (%d here): add --downmix.\n",
    "Note: the input is %u Hz but the file's header says %u Hz; --resample %u converts it\n",
    "'jobs' parameter (-j) should be between 1 and 256.\n",
    "Output file exists",
    "Another input has the same output file",
    "Input file is the output of another input",
    "Ended by signal %d (%s)",
    "Failed with exit status %d",
};
static_assert(sizeof texts / sizeof texts[0] ==
                  static_cast<std::size_t>(Message::job_exit_status) + 1,
              "one text for every message");

}  // namespace

const char* message_text(Message message) { return texts[static_cast<std::size_t>(message)]; }

}  // namespace vellox
