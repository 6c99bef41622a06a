#pragma once
// Where a program's console lines go: standard output, unless the run writes its data there,
// so that no banner, progress mark or report ever ends up inside the data; and the check, at
// the end of a run, that they could be written.

#include <cstdint>  // std::int64_t
#include <cstdio>   // std::FILE

namespace vellox {

// True when name is "-" or names the file that standard output is (the same device and inode:
// "/dev/stdout", or the very file standard output was redirected to).
[[nodiscard]] bool names_standard_output(const char* name);

// The stream for the console lines of a run whose output file is output_name (null when there
// is none, or not yet known): standard error when that output is standard output, standard
// output otherwise.
[[nodiscard]] std::FILE* console_stream(const char* output_name);

// Ends a run whose exit status is status: flushes standard output and returns 1 in place of
// 0 when a console stream (standard output or standard error) could not be written, since the
// user then lost lines of it; else status. When standard output failed, the system's reason
// goes to standard error.
[[nodiscard]] int finish_console(int status);

// The rate the reports give: bits of an output of bytes per input sample, 0 without samples.
[[nodiscard]] inline double bits_per_sample(std::int64_t bytes, std::int64_t samples) {
    return samples == 0 ? 0.0 : static_cast<double>(bytes) * 8.0 / static_cast<double>(samples);
}

}  // namespace vellox
