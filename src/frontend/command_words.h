#pragma once
// The words of a command line as both programs read them: option words in any letter case,
// numbers the way atol and atof read them.

#include <strings.h>  // strcasecmp

#include <cstdint>  // std::int32_t, INT32_MAX, INT32_MIN
#include <cstdlib>  // std::strtol, std::strtod

namespace vellox {

// True when word is option, ignoring ASCII letter case.
[[nodiscard]] inline bool word_is(const char* word, const char* option) {
    return strcasecmp(word, option) == 0;
}

// The leading integer of word, as atol reads it (0 when there is none), limited to the 32-bit
// range so that a huge value fails the range check instead of wrapping into it.
[[nodiscard]] inline std::int32_t integer_value(const char* word) {
    const long value = std::strtol(word, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

// The leading real number of word, as atof reads it (0 when there is none).
[[nodiscard]] inline double real_value(const char* word) { return std::strtod(word, nullptr); }

}  // namespace vellox
