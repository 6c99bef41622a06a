#pragma once
// Resampler: libsoxr at its very-high-quality setting, streamed: 16-bit frames in, real frames
// out (full scale +-1.0), in bounded memory whatever the length. Only the programs link
// libsoxr; a build without it has the class all the same, and its init fails.

#include <cstddef>  // std::size_t
#include <cstdint>  // std::int16_t, std::int32_t

struct soxr;  // libsoxr's state, behind its soxr_t

namespace vellox {

class Resampler {
public:
    // Stores the rates in Hz and the channel count; allocates nothing.
    Resampler(double input_rate, double output_rate, std::int32_t channels);
    ~Resampler();

    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // True when this build resamples through libsoxr.
    static bool available();

    // Makes libsoxr's state; false when it cannot be had (or this build has no libsoxr).
    [[nodiscard]] bool init();

    // Takes up to frames interleaved input frames (null: the input has ended, and what the
    // filters still hold drains out) and writes up to capacity output frames; *used and *made
    // say how many. False when libsoxr fails.
    [[nodiscard]] bool process(const std::int16_t* input, std::size_t frames, std::size_t* used,
                               double* output, std::size_t capacity, std::size_t* made);

private:
    double input_rate;
    double output_rate;
    std::int32_t channels;
    soxr* state = nullptr;  // owned
};

}  // namespace vellox
