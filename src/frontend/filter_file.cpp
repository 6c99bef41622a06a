// The "-fc" file reader.

#include "frontend/filter_file.h"

#include <cctype>  // std::isspace, std::isdigit
#include <cmath>   // std::fabs, std::isfinite
#include <cstdio>  // std::FILE, std::fopen, std::fscanf

#include "analysis/filter_design.h"
#include "common/alloc.h"
#include "frontend/errors.h"
#include "frontend/messages.h"

namespace vellox {

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
                                  std::unique_ptr<double[]>* taps) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
    if (!file) {
        print_system_error(path);
        return FilterFileResult::cannot_open;
    }
    std::int32_t n = 0;
    if (!read_count(file.get(), &n)) {
        print_error(message_text(Message::bad_tap_count), path);
        return FilterFileResult::bad_count;
    }
    *count = n;
    // The limit is checked before anything is allocated or read, so a count of two billion
    // fails at once instead of reading on until the file runs out.
    if (n < 1 || n > max_filter_length) return FilterFileResult::unusable_count;
    *taps = allocate_array<double>(n);
    if (!*taps) return FilterFileResult::unusable_count;
    double* c = taps->get();
    for (std::int32_t i = 0; i < n; ++i) {
        double value = 0.0;
        // "nan", "inf" and values beyond the double range (1e999 reads as infinite) are no
        // filter taps: they would make every coefficient 0 or saturated.
        if (std::fscanf(file.get(), "%lf", &value) != 1 || !std::isfinite(value)) {
            print_error(message_text(Message::bad_numeric_format), path);
            return FilterFileResult::bad_value;
        }
        c[i] = std::fabs(value);
    }
    return FilterFileResult::ok;
}

}  // namespace vellox
