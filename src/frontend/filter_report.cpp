// The filter report.

#include "frontend/filter_report.h"

#include "analysis/analysis_filter_bank.h"

namespace vellox {

namespace {

void print_half(std::FILE* stream, const char* title, const double* taps, std::int32_t n) {
    std::fputs(title, stream);
    double sum = 0.0;
    for (std::int32_t k = 0; k < n; ++k) {
        std::fprintf(stream, "% .10f ", taps[k]);
        sum += taps[k];
    }
    // The sum over all taps of the symmetric filter, from its one-sided half.
    std::fprintf(stream, "\nDC gain: %.10f\n", 2.0 * sum - taps[n - 1]);
}

}  // namespace

void print_filters(std::FILE* stream, const AnalysisFilterBank& bank) {
    if (stream == nullptr) return;
    const std::int32_t n = (bank.full_filter_length() + 1) / 2;
    const double* low_pass = bank.low_pass_taps();
    const double* high_pass = bank.high_pass_taps();
    std::fprintf(stream, "Filter length: %d\n", 2 * n - 1);
    print_half(stream, "Low Pass Filter: ", low_pass, n);
    print_half(stream, "High Pass Filter: ", high_pass, n);
}

}  // namespace vellox
