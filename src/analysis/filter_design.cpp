// The filter designs, the "-fc" file reader, the finishing step and the filter report.

#include "analysis/filter_design.h"

#include <cctype>  // std::isspace, std::isdigit
#include <cmath>   // std::fabs

#include "common/alloc.h"
#include "frontend/errors.h"

namespace vellox {

std::FILE* report_stream = nullptr;

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

namespace {

// Closes the filter file on every way out.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads a decimal integer the way formatted input does (leading white space, optional sign,
// digits), but a value beyond the int range reads as the nearest int instead of wrapping:
// a count of 99999999999 must not come out as some small positive number. False when no
// digit follows.
bool read_count(std::FILE* file, std::int32_t* value) {
    int ch = std::fgetc(file);
    while (ch != EOF && std::isspace(ch)) ch = std::fgetc(file);
    bool negative = false;
    if (ch == '+' || ch == '-') {
        negative = ch == '-';
        ch = std::fgetc(file);
    }
    if (ch == EOF || !std::isdigit(ch)) return false;
    constexpr std::int64_t limit = 2147483648;  // |INT32_MIN|; magnitudes stop growing here
    std::int64_t magnitude = 0;
    while (ch != EOF && std::isdigit(ch)) {
        if (magnitude < limit) magnitude = magnitude * 10 + (ch - '0');
        ch = std::fgetc(file);
    }
    if (ch != EOF) std::ungetc(ch, file);
    if (magnitude > limit) magnitude = limit;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    *value = static_cast<std::int32_t>(signed_value > INT32_MAX ? INT32_MAX : signed_value);
    return true;
}

}  // namespace

FilterFileResult read_filter_file(const char* path, std::int32_t* count,
                                  std::unique_ptr<double[]>* low_pass,
                                  std::unique_ptr<double[]>* high_pass) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
    if (!file) {
        print_system_error(path);
        return FilterFileResult::cannot_open;
    }
    std::int32_t n = 0;
    if (!read_count(file.get(), &n)) {
        print_error("Bad tap count in file", path);
        return FilterFileResult::bad_count;
    }
    *count = n;
    // The limit is checked before anything is allocated or read, so a count of two billion
    // fails at once instead of reading on until the file runs out.
    if (n < 1 || n > max_filter_length) return FilterFileResult::unusable_count;
    const std::int32_t full = 2 * n - 1;
    *low_pass = allocate_array<double>(full);
    *high_pass = allocate_array<double>(full);
    if (!*low_pass || !*high_pass) return FilterFileResult::unusable_count;
    double* c = low_pass->get();
    for (std::int32_t i = 0; i < n; ++i) {
        double value = 0.0;
        if (std::fscanf(file.get(), "%lf", &value) != 1) {
            print_error("Bad numeric format in file", path);
            return FilterFileResult::bad_value;
        }
        c[i] = std::fabs(value);
    }
    return FilterFileResult::ok;
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

void print_filters(std::FILE* stream, const double* low_pass, const double* high_pass,
                   std::int32_t n) {
    if (stream == nullptr) return;
    std::fprintf(stream, "Filter length: %d\n", 2 * n - 1);
    print_half(stream, "Low Pass Filter: ", low_pass, n);
    print_half(stream, "High Pass Filter: ", high_pass, n);
}

}  // namespace vellox
