#pragma once
// The two computed filter designs ("-fd", "-fo") and the shared finishing step that turns
// one-sided magnitudes (computed, or the caller's for "-fc") into the low-pass and high-pass
// filters.

#include <cstdint>  // std::int32_t

namespace vellox {

// The largest one-sided tap count a bank accepts, whatever the design. Longer filters would
// only feed the allocator sizes that a tap count in a hostile "-fc" file picked, and the
// computed designs overflow the double range long before (see the limits below).
constexpr std::int32_t max_filter_length = 1 << 20;

// The longest computed filters whose magnitudes and divisor stay finite doubles: from one tap
// more on, the "-fd" divisor or the "-fo" magnitudes and divisor overflow the double range,
// and every tap comes out 0 or not a number. A "-fc" filter brings its own length.
constexpr std::int32_t max_fd_filter_length = 806;
constexpr std::int32_t max_fo_filter_length = 402;

// The "-fd" magnitudes (Pell numbers 1, 2, 5, 12, ...) into c[0 .. n-1], outer end first;
// returns the divisor c[n-1] + c[n-2] (c[-1] taken as 0). n >= 1.
double design_fd_magnitudes(double* c, std::int32_t n);

// The "-fo" magnitudes into c[0 .. n-1], outer end first; returns the divisor c[1] * c[0] / 2.
// n >= 2.
double design_fo_magnitudes(double* c, std::int32_t n);

// Turns the magnitudes in low_pass[0 .. n-1] into the symmetric low-pass filter of 2n - 1
// taps (signs +, +, -, -, ... outward from the centre, divided by dc_norm) and high_pass into
// the same filter with the taps at odd distance from the centre negated.
void finish_filters(double* low_pass, double* high_pass, std::int32_t n, double dc_norm);

}  // namespace vellox
