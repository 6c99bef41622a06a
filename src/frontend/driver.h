#pragma once
// The conversion driver: set-up, the main loop from source through bank and packer to the
// output file, the console report and the tear-down.

namespace vellox {

// Runs one conversion for the process's arguments; returns the exit status: 0 when the
// output file was written completely, 2 for a malformed command line or a value out of
// range, 1 for every other failure.
[[nodiscard]] int run_conversion(int argc, const char* const* argv);

}  // namespace vellox
