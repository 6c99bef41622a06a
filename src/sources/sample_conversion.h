#pragma once
// The one way every reader turns a real sample into a 16-bit one: the WAV reader's float
// formats, libsndfile's decoded formats and the resampler's output.

#include <cmath>    // std::isnan, std::round
#include <cstdint>  // std::int16_t

namespace vellox {

// A real sample, full scale at +-1.0, as a 16-bit sample: x * 32768 rounded half away from
// zero and saturated. NaN carries no level at all and becomes silence.
inline std::int16_t int16_from_real(double x) {
    const double scaled = x * 32768.0;
    if (std::isnan(scaled)) return 0;
    const double rounded = std::round(scaled);
    if (rounded >= 32767.0) return 32767;
    if (rounded <= -32768.0) return -32768;
    return static_cast<std::int16_t>(rounded);
}

}  // namespace vellox
