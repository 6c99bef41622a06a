#pragma once
// QualityMeter: how far decoded samples lie from the original ones: the signal-to-noise ratio,
// the segmental one over short frames, and the largest error.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint64_t
#include <cstdio>   // std::FILE

namespace vellox {

struct QualityReport {
    // 10 log10(sum x^2 / sum (x - y)^2) over the compared samples, x the original and y the
    // decoded ones, in dB: +inf when they are equal (no samples included), -inf when the
    // original is silent and the decoded samples are not.
    double snr = 0.0;
    // The mean over the frames whose original is not all zero of each frame's SNR, limited to
    // -10 .. +100 dB; valid only when segmental_frames > 0.
    double segmental_snr = 0.0;
    std::int64_t segmental_frames = 0;  // frames that count for segmental_snr
    std::int32_t peak_error = 0;        // the largest |x - y|, 0 .. 65535
    std::int64_t compared = 0;          // samples compared
};

class QualityMeter {
public:
    // Samples per frame of the segmental SNR; the last, shorter frame counts as well.
    static constexpr std::int32_t frame_length = 2048;
    static constexpr double lowest_frame_snr = -10.0;   // dB
    static constexpr double highest_frame_snr = 100.0;  // dB

    // Takes the next count samples of both signals; frames run on across calls.
    void add(const std::int16_t* original, const std::int16_t* decoded, std::int32_t count);

    QualityReport report() const;

private:
    void close_frame();

    // Sums of squares are exact: 2^31 samples of (2^16)^2 stay below 2^64.
    std::uint64_t signal_energy = 0;  // sum x^2
    std::uint64_t error_energy = 0;   // sum (x - y)^2
    std::uint64_t frame_signal = 0;   // sum x^2 over the current frame
    std::uint64_t frame_error = 0;    // sum (x - y)^2 over the current frame
    std::int32_t frame_fill = 0;      // samples in the current frame
    double segmental_sum = 0.0;       // the limited SNRs of the frames that count, in dB
    std::int64_t segmental_frames = 0;
    std::int32_t peak_error = 0;
    std::int64_t compared = 0;
};

// Prints the report lines "SNR: %.2f dB", "Segmental SNR: %.2f dB" (or "Segmental SNR: n/a"
// when no frame counts), "Peak error: %d" and "Compared samples: %ld" on stream.
void print_quality(std::FILE* stream, const QualityReport& report);

}  // namespace vellox
