// The quality measures against hand-computed values, whatever pieces the samples come in.

#include "frontend/quality_compare.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/test_files.h"

namespace vellox {
namespace {

std::string measure(const std::vector<std::int16_t>& x, const std::vector<std::int16_t>& y,
                    std::size_t piece = 65536) {
    QualityMeter meter;
    for (std::size_t i = 0; i < x.size(); i += piece) {
        const auto n = static_cast<std::int32_t>(std::min(piece, x.size() - i));
        meter.add(x.data() + i, y.data() + i, n);
    }
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return "no temporary file";
    print_quality(file, meter.report());
    const std::vector<std::uint8_t> bytes = test::stream_bytes(file);
    std::fclose(file);
    return std::string(bytes.begin(), bytes.end());
}

TEST(QualityMeter, HandComputedCases) {
    // Signal 3^2 + 4^2 = 25, error 3^2 + 1^2 = 10: 10 log10 2.5 = 3.98 dB.
    EXPECT_EQ(measure({3, 4, 0, 0}, {0, 4, 1, 0}),
              "SNR: 3.98 dB\nSegmental SNR: 3.98 dB\nPeak error: 3\nCompared samples: 4\n");
    // Frame 1 exact (limited to 100 dB), frame 2 110 against 100 (20 log10 11 = 20.83 dB),
    // frame 3 silent and left out: 10 log10(22100 / 100) = 23.44 dB; (100 + 20.83) / 2.
    std::vector<std::int16_t> x(2048, 100);
    x.resize(4096, 110);
    x.resize(4596, 0);
    std::vector<std::int16_t> y(4096, 100);
    y.resize(4596, 0);
    for (std::size_t piece : {1, 777, 2047, 2048, 65536}) {
        EXPECT_EQ(
            measure(x, y, piece),
            "SNR: 23.44 dB\nSegmental SNR: 60.41 dB\nPeak error: 10\nCompared samples: 4596\n")
            << piece;
    }
}

TEST(QualityMeter, EqualSilentAndFarOffSignals) {
    EXPECT_EQ(measure({5, -5}, {5, -5}),
              "SNR: inf dB\nSegmental SNR: 100.00 dB\nPeak error: 0\nCompared samples: 2\n");
    EXPECT_EQ(measure({}, {}),
              "SNR: inf dB\nSegmental SNR: n/a\nPeak error: 0\nCompared samples: 0\n");
    // A silent original has no SNR of its own: errors beside it give -inf, and no frame counts.
    EXPECT_EQ(measure({0, 0, 0}, {0, -5, 0}),
              "SNR: -inf dB\nSegmental SNR: n/a\nPeak error: 5\nCompared samples: 3\n");
    // 10 log10(1 / 101^2) = -40.09 dB, limited to -10 in the segmental mean.
    EXPECT_EQ(measure({1}, {-100}),
              "SNR: -40.09 dB\nSegmental SNR: -10.00 dB\nPeak error: 101\nCompared samples: 1\n");
    // The largest error there is, on every sample of a long run: no sum overflows.
    EXPECT_EQ(measure(std::vector<std::int16_t>(200000, -32768),
                      std::vector<std::int16_t>(200000, 32767)),
              "SNR: -6.02 dB\nSegmental SNR: -6.02 dB\nPeak error: 65535\nCompared samples: "
              "200000\n");
}

}  // namespace
}  // namespace vellox
