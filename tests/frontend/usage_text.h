#pragma once
// The usage text exactly as the program prints it, for the parser's and the executable's tests.

namespace vellox::test {

inline constexpr const char* usage_text =
    "Usage: vellox [-snd_type] snd_file_name acm_file_name [-q0 | -q percents]\n"
    "   snd_type can be used to specify the sound file format:\n"
    "     -8     8-bit raw PCM sound\n"
    "     -16   16-bit raw PCM file\n"
    "     -ACM  ACM file\n"
    "     -WAV  WAV file\n"
    "Options:\n"
    "   -q percents    limits the output file length by this percent of input\n"
    "                  length, sould be between 1 and 100 (default is 50%).\n"
    "   -q0            unconstrained output file length.\n";

}  // namespace vellox::test
