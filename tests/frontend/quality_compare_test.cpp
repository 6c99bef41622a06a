// The quality measures against hand-computed values, and the same report whatever pieces the
// samples come in.

#include "frontend/quality_compare.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/test_files.h"

namespace vellox {
namespace {

std::string printed(const QualityReport& report) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return "no temporary file";
    print_quality(file, report);
    const std::vector<std::uint8_t> bytes = test::stream_bytes(file);
    std::fclose(file);
    return std::string(bytes.begin(), bytes.end());
}

std::string measure(const std::vector<std::int16_t>& original,
                    const std::vector<std::int16_t>& decoded, std::size_t piece = 65536) {
    QualityMeter meter;
    for (std::size_t i = 0; i < original.size(); i += piece) {
        const std::size_t n = std::min(piece, original.size() - i);
        meter.add(original.data() + i, decoded.data() + i, static_cast<std::int32_t>(n));
    }
    return printed(meter.report());
}

TEST(QualityMeter, HandComputedCase) {
    // Signal 3^2 + 4^2 = 25, error 3^2 + 1^2 = 10: 10 log10 2.5 = 3.979 dB, one frame.
    EXPECT_EQ(measure({3, 4, 0, 0}, {0, 4, 1, 0}),
              "SNR: 3.98 dB\nSegmental SNR: 3.98 dB\nPeak error: 3\nCompared samples: 4\n");
}

TEST(QualityMeter, FramesOf2048SamplesRunAcrossPieces) {
    // Frame 1 exact (limited to 100 dB); frame 2 100 against 110, 20 log10 11 = 20.83 dB;
    // frame 3, 500 silent samples, left out. The whole: 10 log10(22100 / 100) = 23.44 dB;
    // the segmental mean (100 + 20.83) / 2 = 60.41 dB.
    std::vector<std::int16_t> original(2048, 100);
    original.resize(4096, 110);
    original.resize(4596, 0);
    std::vector<std::int16_t> decoded(4096, 100);
    decoded.resize(4596, 0);
    const std::string expected =
        "SNR: 23.44 dB\nSegmental SNR: 60.41 dB\nPeak error: 10\nCompared samples: 4596\n";
    for (std::size_t piece : {1, 777, 2047, 2048, 65536}) {
        EXPECT_EQ(measure(original, decoded, piece), expected) << piece;
    }
}

TEST(QualityMeter, EqualSilentAndFarOffSignals) {
    EXPECT_EQ(measure({5, -5}, {5, -5}),
              "SNR: inf dB\nSegmental SNR: 100.00 dB\nPeak error: 0\nCompared samples: 2\n");
    // A silent original has no SNR of its own: errors beside it give -inf, and no frame counts.
    EXPECT_EQ(measure({0, 0, 0}, {0, -5, 0}),
              "SNR: -inf dB\nSegmental SNR: n/a\nPeak error: 5\nCompared samples: 3\n");
    EXPECT_EQ(measure({}, {}),
              "SNR: inf dB\nSegmental SNR: n/a\nPeak error: 0\nCompared samples: 0\n");
    // 10 log10(1 / 101^2) = -40.09 dB, limited to -10 in the segmental mean.
    EXPECT_EQ(measure({1}, {-100}),
              "SNR: -40.09 dB\nSegmental SNR: -10.00 dB\nPeak error: 101\nCompared samples: 1\n");
    // The largest error there is, on every sample of a long run: the sums do not overflow.
    const std::vector<std::int16_t> low(200000, -32768);
    const std::vector<std::int16_t> high(200000, 32767);
    EXPECT_EQ(measure(low, high),
              "SNR: -6.02 dB\nSegmental SNR: -6.02 dB\nPeak error: 65535\nCompared samples: "
              "200000\n");
}

}  // namespace
}  // namespace vellox
