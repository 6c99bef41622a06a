#pragma once
// CodedAnalysis: the analysis whose coefficients a mode codes. The standard mode codes the
// filter bank's coefficients; the high-quality mode codes those of the exact inverse of the
// reader's synthesis, and keeps the bank for what the standard mode would write.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "vellox/vellox.h"  // vellox_status

namespace vellox {

class AnalysisFilterBank;
class SynthesisInverse;
struct EncoderSettings;

class CodedAnalysis {
public:
    // Stores the settings (the taps stay borrowed until init returns); allocates nothing.
    explicit CodedAnalysis(const EncoderSettings& settings);
    ~CodedAnalysis();

    CodedAnalysis(const CodedAnalysis&) = delete;
    CodedAnalysis& operator=(const CodedAnalysis&) = delete;

    // Makes the filter bank (in either mode: its design checks the filter settings) and, for
    // the high-quality mode, the inverse: VELLOX_OK, the bank's failure (see
    // AnalysisFilterBank::init), or VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status init();

    // The inverse's coefficients are coded (the high-quality mode).
    bool exact() const { return inverse != nullptr; }

    // Input values after which every coded coefficient before them has come out.
    std::int64_t delay() const;

    // After n input values, at most n - least_delay() coded coefficients have come out.
    std::int64_t least_delay() const;

    // The most coded coefficients a call of process writes beyond its count.
    std::int32_t burst() const;

    // Takes count samples; writes the coded coefficients they complete to destination (room
    // for count + burst()) and returns how many.
    std::int32_t process(const std::int16_t* samples, std::int32_t count,
                         std::int32_t* destination);

    // The filter bank: the standard mode's analysis in either mode. After a successful init.
    AnalysisFilterBank& filter_bank() { return *bank; }
    const AnalysisFilterBank& filter_bank() const { return *bank; }

private:
    std::int32_t levels;
    char filter_kind;
    std::int32_t filter_length;
    const double* taps;  // borrowed until init returns
    std::int32_t tap_count;
    bool high_quality;
    std::unique_ptr<AnalysisFilterBank> bank;
    std::unique_ptr<SynthesisInverse> inverse;  // null in the standard mode
};

}  // namespace vellox
