#pragma once
// The "-fc" file: a decimal tap count, then that many numbers, the one-sided magnitudes of the
// filter from its outer end to its centre.

#include <cstdint>  // std::int32_t
#include <memory>   // std::unique_ptr

namespace vellox {

// Why reading a "-fc" file failed; each failure but `unusable_count` has printed its line.
enum class FilterFileResult {
    ok,
    cannot_open,     // the system's message for the path
    bad_count,       // "Bad tap count in file"
    unusable_count,  // below 1, above max_filter_length, or no memory: no message
    bad_value,       // "Bad numeric format in file": unreadable, or not a finite number
};

// Reads the file at path. On ok, *count is the tap count n and *taps holds the n absolute
// values. *count is also set when a count was read but is unusable (a count beyond the int
// range reads as the nearest int).
[[nodiscard]] FilterFileResult read_filter_file(const char* path, std::int32_t* count,
                                                std::unique_ptr<double[]>* taps);

}  // namespace vellox
