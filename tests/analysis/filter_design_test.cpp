// The three filter designs, the finishing step and the filter report.

#include "analysis/filter_design.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis_filter_bank.h"
#include "frontend/filter_report.h"

namespace vellox {
namespace {

std::vector<double> taps_of(const double* taps, std::int32_t count) {
    return std::vector<double>(taps, taps + count);
}

// A "-fc" bank of the magnitudes taps, initialised.
std::unique_ptr<FcFilterBank> fc_bank(std::int32_t levels, const std::vector<double>& taps) {
    auto bank =
        std::make_unique<FcFilterBank>(levels, taps.data(), static_cast<std::int32_t>(taps.size()));
    EXPECT_EQ(bank->init(), VELLOX_OK);
    return bank;
}

std::string report_of(const AnalysisFilterBank& bank) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return "<no tmpfile>";
    print_filters(file, bank);
    std::rewind(file);
    std::string text;
    for (int ch = std::fgetc(file); ch != EOF; ch = std::fgetc(file)) text += static_cast<char>(ch);
    std::fclose(file);
    return text;
}

TEST(FdDesign, DefaultFilterHasPellMagnitudesAndSignPattern) {
    FdFilterBank bank(0, 11);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    ASSERT_EQ(bank.full_filter_length(), 21);
    EXPECT_EQ(bank.divisor(), 8119.0);
    const double pell[11] = {1, 2, 5, 12, 29, 70, 169, 408, 985, 2378, 5741};
    const double sign[11] = {-1, 1, 1, -1, -1, 1, 1, -1, -1, 1, 1};
    const double* low = bank.low_pass_taps();
    const double* high = bank.high_pass_taps();
    double sum = 0.0;
    for (int k = 0; k < 21; ++k) {
        const int d = k < 10 ? 10 - k : k - 10;  // distance from the centre
        const double expected = sign[10 - d] * pell[10 - d] / 8119.0;
        EXPECT_EQ(low[k], expected) << "tap " << k;
        EXPECT_EQ(high[k], d % 2 == 0 ? expected : -expected) << "tap " << k;
        sum += low[k];
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.10f %.10f", low[10], low[9]);
    EXPECT_STREQ(text, "0.7071067866 0.2928932134");
    EXPECT_NEAR(sum, 1.0, 1e-12);
}

TEST(FdDesign, ThreeTaps) {
    FdFilterBank bank(0, 3);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(taps_of(bank.low_pass_taps(), 5),
              (std::vector<double>{-1 / 7.0, 2 / 7.0, 5 / 7.0, 2 / 7.0, -1 / 7.0}));
    EXPECT_EQ(taps_of(bank.high_pass_taps(), 5),
              (std::vector<double>{-1 / 7.0, -2 / 7.0, 5 / 7.0, -2 / 7.0, -1 / 7.0}));
}

TEST(FoDesign, WorkedStepsAndThreeTaps) {
    const std::vector<std::vector<double>> steps = {
        {3, 7}, {7, 17, 42}, {17, 41, 102, 246}, {41, 99, 246, 594, 1435}};
    for (const std::vector<double>& expected : steps) {
        std::vector<double> c(expected.size());
        design_fo_magnitudes(c.data(), static_cast<std::int32_t>(c.size()));
        EXPECT_EQ(c, expected);
    }
    FoFilterBank bank(0, 3);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.divisor(), 59.5);
    EXPECT_EQ(taps_of(bank.low_pass_taps(), 5),
              (std::vector<double>{-7 / 59.5, 17 / 59.5, 42 / 59.5, 17 / 59.5, -7 / 59.5}));
    EXPECT_EQ(taps_of(bank.high_pass_taps(), 5),
              (std::vector<double>{-7 / 59.5, -17 / 59.5, 42 / 59.5, -17 / 59.5, -7 / 59.5}));
}

TEST(FoDesign, AgreesWithClosedFormUpToTwentyOneTaps) {
    // c[2m] = B(m+1) H(n), c[2m+1] = B(m+1) H(n+1) with H: 1, 1, 3, 7, 17, ... and
    // B: 1, 6, 35, 204, ...
    std::vector<double> h = {1, 1};
    while (h.size() < 24) h.push_back(2 * h[h.size() - 1] + h[h.size() - 2]);
    std::vector<double> b = {0, 1, 6};
    while (b.size() < 24) b.push_back(6 * b[b.size() - 1] - b[b.size() - 2]);
    for (std::int32_t n = 2; n <= 21; ++n) {
        std::vector<double> c(static_cast<std::size_t>(n));
        design_fo_magnitudes(c.data(), n);
        for (std::int32_t k = 0; k < n; ++k) {
            const double expected = b[static_cast<std::size_t>(k / 2 + 1)] *
                                    h[static_cast<std::size_t>(k % 2 == 0 ? n : n + 1)];
            EXPECT_EQ(c[static_cast<std::size_t>(k)], expected) << "n " << n << " k " << k;
        }
    }
}

TEST(FoDesign, DefaultLength) {
    FoFilterBank bank(0, 11);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.divisor(), 79570259.5);
    const double magnitudes[11] = {8119,    19601,   48714,   117606,   284165,  686035,
                                   1656276, 3998604, 9653491, 23305589, 56264670};
    const double* low = bank.low_pass_taps();
    double sum = 0.0;
    for (int k = 0; k < 21; ++k) {
        const int d = k < 10 ? 10 - k : k - 10;
        EXPECT_EQ(std::fabs(low[k]), magnitudes[10 - d] / 79570259.5) << "tap " << k;
        sum += low[k];
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.10f %.10f", low[10], sum);
    EXPECT_STREQ(text, "0.7071067803 1.0000360750");
}

TEST(FcDesign, TapsLoseTheirSignsAndKeepTheirScale) {
    const auto bank = fc_bank(0, {1, -2, 5});
    EXPECT_EQ(bank->divisor(), 1.0);
    EXPECT_EQ(bank->delay(), 0);
    EXPECT_EQ(taps_of(bank->low_pass_taps(), 5), (std::vector<double>{-1, 2, 5, 2, -1}));
    EXPECT_EQ(taps_of(bank->high_pass_taps(), 5), (std::vector<double>{-1, -2, 5, -2, -1}));
}

TEST(FcDesign, OneAndTwoTapsHaveNoSignPattern) {
    const auto single = fc_bank(0, {-0.25});
    ASSERT_EQ(single->full_filter_length(), 1);
    EXPECT_EQ(single->low_pass_taps()[0], 0.25);
    EXPECT_EQ(single->high_pass_taps()[0], 0.25);

    const auto pair = fc_bank(0, {3e-1, -1.5e0});
    EXPECT_EQ(taps_of(pair->low_pass_taps(), 3), (std::vector<double>{0.3, 1.5, 0.3}));
    EXPECT_EQ(taps_of(pair->high_pass_taps(), 3), (std::vector<double>{-0.3, 1.5, -0.3}));
}

TEST(FcDesign, TheLargestTapCountIsAccepted) {
    static_assert(max_filter_length == 1048576, "the file reader's tests refuse the next count");
    const std::vector<double> taps(static_cast<std::size_t>(max_filter_length), 1.0);
    FcFilterBank bank(0, taps.data(), max_filter_length);
    EXPECT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(bank.full_filter_length(), 2 * max_filter_length - 1);
    FcFilterBank too_long(0, taps.data(), max_filter_length + 1);
    EXPECT_EQ(too_long.init(), VELLOX_ERROR_TAPS);
    // The computed designs take the same limit.
    FdFilterBank longest(0, max_filter_length);
    EXPECT_EQ(longest.init(), VELLOX_OK);
}

TEST(FilterReport, PrintsHalfFiltersAndDcGains) {
    FdFilterBank bank(1, 3);
    ASSERT_EQ(bank.init(), VELLOX_OK);
    EXPECT_EQ(report_of(bank),
              "Filter length: 5\n"
              "Low Pass Filter: -0.1428571429  0.2857142857  0.7142857143 \n"
              "DC gain: 1.0000000000\n"
              "High Pass Filter: -0.1428571429 -0.2857142857  0.7142857143 \n"
              "DC gain: -0.1428571429\n");

    // Without a stream there is no report.
    print_filters(nullptr, bank);
}

}  // namespace
}  // namespace vellox
