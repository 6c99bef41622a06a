#pragma once
// The three filter designs ("-fd", "-fo", "-fc") and the shared finishing step that turns
// one-sided magnitudes into the low-pass and high-pass filters.

#include <cstdint>  // std::int32_t
#include <cstdio>   // std::FILE
#include <memory>   // std::unique_ptr

namespace vellox {

// Where the banks write their filter report; null (no report) unless a test or a debugging
// session sets it.
extern std::FILE* report_stream;

// The largest one-sided tap count a bank accepts, whatever the design. Longer filters would
// only feed the allocator sizes that a tap count in a hostile "-fc" file picked, and the
// computed designs overflow the double range long before (near 800 taps).
constexpr std::int32_t max_filter_length = 1 << 20;

// The "-fd" magnitudes (Pell numbers 1, 2, 5, 12, ...) into c[0 .. n-1], outer end first;
// returns the divisor c[n-1] + c[n-2] (c[-1] taken as 0). n >= 1.
double design_fd_magnitudes(double* c, std::int32_t n);

// The "-fo" magnitudes into c[0 .. n-1], outer end first; returns the divisor c[1] * c[0] / 2.
// n >= 2.
double design_fo_magnitudes(double* c, std::int32_t n);

// Why reading a "-fc" file failed; each failure but `unusable_count` has printed its line.
enum class FilterFileResult {
    ok,
    cannot_open,     // the system's message for the path
    bad_count,       // "Bad tap count in file"
    unusable_count,  // below 1, above max_filter_length, or no memory: no message
    bad_value,       // "Bad numeric format in file"
};

// Reads a "-fc" file: a decimal tap count n, then n numbers whose absolute values go to
// low_pass[0 .. n-1], outer end first. On ok, *count is n and *low_pass and *high_pass hold
// 2n - 1 doubles each (zero-filled beyond the magnitudes). *count is also set when a count
// was read but is unusable (a count beyond the int range reads as the nearest int).
[[nodiscard]] FilterFileResult read_filter_file(const char* path, std::int32_t* count,
                                                std::unique_ptr<double[]>* low_pass,
                                                std::unique_ptr<double[]>* high_pass);

// Turns the magnitudes in low_pass[0 .. n-1] into the symmetric low-pass filter of 2n - 1
// taps (signs +, +, -, -, ... outward from the centre, divided by dc_norm) and high_pass into
// the same filter with the taps at odd distance from the centre negated.
void finish_filters(double* low_pass, double* high_pass, std::int32_t n, double dc_norm);

// Writes the filter report (length, one half of each filter, DC gains) on stream; nothing
// when stream is null.
void print_filters(std::FILE* stream, const double* low_pass, const double* high_pass,
                   std::int32_t n);

}  // namespace vellox
