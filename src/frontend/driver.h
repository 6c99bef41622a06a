#pragma once
// The conversion driver: set-up, the main loop from source through bank and packer to the
// output file, the console report and the tear-down.

#include <cstdio>  // std::FILE

namespace vellox {

// Prints the banner line, "vellox converter <version>", on console.
void print_banner(std::FILE* console);

// Runs one conversion for the process's arguments; returns the exit status: 0 when the
// output file was written completely, 2 for a malformed command line or a value out of
// range, 1 for every other failure.
[[nodiscard]] int run_conversion(int argc, const char* const* argv);

}  // namespace vellox
