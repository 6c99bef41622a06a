#pragma once
// velloxdec's driver: an ACM file decoded through the library's C API into a WAV file, tested,
// or compared with its original; the report, the exit status and the output file.

#include <cstdio>  // std::FILE

namespace vellox {

// Prints the banner line, "velloxdec decoder <version>  (c) ...", on console.
void print_decoder_banner(std::FILE* console);

// Runs velloxdec for the process's arguments; returns the exit status: 0 when the WAV file was
// written completely (or, with "-t", when the input is intact), 1 for every failure (and for
// damage found by "-t"), 2 for a malformed command line or a value out of range.
[[nodiscard]] int run_decoder(int argc, const char* const* argv);

}  // namespace vellox
