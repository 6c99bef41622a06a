// The computed filter designs and the finishing step.

#include "analysis/filter_design.h"

namespace vellox {

double design_fd_magnitudes(double* c, std::int32_t n) {
    c[0] = 1.0;
    double a = 1.0;
    double b = 0.0;
    for (std::int32_t i = 1; i < n; ++i) {
        const double next = 2.0 * a + b;
        c[i] = next;
        b = a;
        a = next;
    }
    return a + b;
}

double design_fo_magnitudes(double* c, std::int32_t n) {
    c[0] = 1.0;
    // Step i turns c[0 .. i-1] into c[0 .. i]. It runs downward so that every c[j - 1] read
    // is still the value from before the step; the old c[j + 1], which an even j takes over,
    // is carried in `above`.
    for (std::int32_t i = 1; i < n; ++i) {
        const double below_top = i >= 2 ? c[i - 2] : 0.0;
        double above = c[i - 1];
        c[i - 1] = 2.0 * above + below_top + ((i - 1) % 2 == 0 ? 1.0 : 0.0);
        for (std::int32_t j = i - 2; j >= 0; --j) {
            const double old = c[j];
            if (j % 2 == 0) {
                c[j] = above;
            } else {
                c[j] = 2.0 * old + c[j - 1];
            }
            above = old;
        }
        c[i] = 2.0 * c[i - 1] + (i >= 2 ? c[i - 2] : 0.0) + 1.0;
    }
    return c[1] * c[0] * 0.5;
}

void finish_filters(double* low_pass, double* high_pass, std::int32_t n, double dc_norm) {
    // Reading outward from the centre the signs run +, +, -, -, +, +, -, -, ...
    for (std::int32_t k = n - 3; k >= 0; k -= 4) {
        low_pass[k] = -low_pass[k];
        if (k > 0) low_pass[k - 1] = -low_pass[k - 1];
    }
    const std::int32_t full = 2 * n - 1;
    for (std::int32_t k = 0; k < n - 1; ++k) low_pass[full - 1 - k] = low_pass[k];
    // The high-pass filter negates the taps at odd distance from the centre n - 1.
    for (std::int32_t k = 0; k < full; ++k) {
        low_pass[k] = low_pass[k] / dc_norm;
        high_pass[k] = k % 2 == n % 2 ? -low_pass[k] : low_pass[k];
    }
}

}  // namespace vellox
