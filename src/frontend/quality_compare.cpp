// The quality measures, accumulated chunk by chunk in bounded memory.

#include "frontend/quality_compare.h"

#include <cmath>   // std::log10
#include <limits>  // std::numeric_limits

namespace vellox {

namespace {

// 10 log10(signal / error) in dB; +inf for no error, -inf for no signal beside an error.
double snr_of(std::uint64_t signal, std::uint64_t error) {
    if (error == 0) return std::numeric_limits<double>::infinity();
    if (signal == 0) return -std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(static_cast<double>(signal) / static_cast<double>(error));
}

// The SNR of one frame as the segmental mean takes it.
double limited_snr(std::uint64_t signal, std::uint64_t error) {
    const double snr = snr_of(signal, error);
    if (snr < QualityMeter::lowest_frame_snr) return QualityMeter::lowest_frame_snr;
    if (snr > QualityMeter::highest_frame_snr) return QualityMeter::highest_frame_snr;
    return snr;
}

}  // namespace

void QualityMeter::add(const std::int16_t* original, const std::int16_t* decoded,
                       std::int32_t count) {
    for (std::int32_t i = 0; i < count;) {
        const std::int32_t n =
            count - i < frame_length - frame_fill ? count - i : frame_length - frame_fill;
        std::uint64_t signal = 0;
        std::uint64_t error = 0;
        std::int32_t peak = peak_error;
        for (std::int32_t k = i; k < i + n; ++k) {
            const std::int32_t x = original[k];
            const std::int32_t d = x - decoded[k];
            signal += static_cast<std::uint64_t>(x * x);
            // |d| is at most 65535, whose square needs 32 bits unsigned.
            const auto magnitude = static_cast<std::uint32_t>(d < 0 ? -d : d);
            error += static_cast<std::uint64_t>(magnitude) * magnitude;
            if (d > peak) peak = d;
            if (-d > peak) peak = -d;
        }
        peak_error = peak;
        frame_signal += signal;
        frame_error += error;
        signal_energy += signal;
        error_energy += error;
        frame_fill += n;
        compared += n;
        i += n;
        if (frame_fill == frame_length) close_frame();
    }
}

void QualityMeter::close_frame() {
    // A frame whose original is silent has no SNR of its own: it is left out of the mean.
    if (frame_signal > 0) {
        segmental_sum += limited_snr(frame_signal, frame_error);
        ++segmental_frames;
    }
    frame_signal = 0;
    frame_error = 0;
    frame_fill = 0;
}

QualityReport QualityMeter::report() const {
    QualityReport report;
    report.snr = snr_of(signal_energy, error_energy);
    double sum = segmental_sum;
    std::int64_t frames = segmental_frames;
    if (frame_fill > 0 && frame_signal > 0) {
        sum += limited_snr(frame_signal, frame_error);
        ++frames;
    }
    report.segmental_frames = frames;
    report.segmental_snr = frames > 0 ? sum / static_cast<double>(frames) : 0.0;
    report.peak_error = peak_error;
    report.compared = compared;
    return report;
}

void print_quality(std::FILE* stream, const QualityReport& report) {
    std::fprintf(stream, "SNR: %.2f dB\n", report.snr);
    if (report.segmental_frames > 0) {
        std::fprintf(stream, "Segmental SNR: %.2f dB\n", report.segmental_snr);
    } else {
        std::fputs("Segmental SNR: n/a\n", stream);
    }
    std::fprintf(stream, "Peak error: %d\n", report.peak_error);
    std::fprintf(stream, "Compared samples: %ld\n", static_cast<long>(report.compared));
}

}  // namespace vellox
