#pragma once
// The conversion driver: set-up, the main loop from source through bank and packer to the
// output file, the console report and the tear-down.

#include <cstdint>  // std::int32_t

namespace vellox {

// The bits allowed per block: the input bits of an average block (the last, partial block
// counted whole) scaled by percents; -1 without a size target (percents -1) or without input.
[[nodiscard]] std::int32_t derive_bit_budget(double percents, bool sixteen_bit,
                                             std::int32_t samples, std::int32_t block_size);

// Runs one conversion for the process's arguments; returns the exit status: 0 when the
// output file was written completely, 2 for a malformed command line or a value out of
// range, 1 for every other failure.
[[nodiscard]] int run_conversion(int argc, const char* const* argv);

}  // namespace vellox
