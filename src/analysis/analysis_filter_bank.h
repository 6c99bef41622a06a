#pragma once
// The analysis filter bank: a tree of two-band FIR splits that turns 16-bit samples into
// 32-bit sub-band coefficients, one stream, fed in chunks of any size.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t

namespace vellox {

class AnalysisFilterBank {
public:
    virtual ~AnalysisFilterBank();

    AnalysisFilterBank(const AnalysisFilterBank&) = delete;
    AnalysisFilterBank& operator=(const AnalysisFilterBank&) = delete;

    // Designs the filters and allocates the state; false when the bank is unusable.
    [[nodiscard]] bool init();

    // Input values that produce no output: filter_length * (2^levels - 1). After init.
    std::int64_t delay() const;

    // Filters count samples into destination (room for count values); returns the number of
    // coefficients written to its start. State carries over from call to call.
    std::int32_t process(const std::int16_t* source, std::int32_t count,
                         std::int32_t* destination);

protected:
    AnalysisFilterBank(std::int32_t levels, std::int32_t filter_length);

    // Computes the taps; false on failure (after printing what the user must know).
    [[nodiscard]] virtual bool design_filters() = 0;

    std::int32_t levels;         // 0 .. 15
    std::int32_t filter_length;  // N: one-sided taps, centre included
    std::int32_t full_length;    // 2N - 1
};

// The default design ("-fd").
class FdFilterBank : public AnalysisFilterBank {
public:
    FdFilterBank(std::int32_t levels, std::int32_t filter_length);

protected:
    bool design_filters() override;
};

// The second computed design ("-fo").
class FoFilterBank : public FdFilterBank {
public:
    FoFilterBank(std::int32_t levels, std::int32_t filter_length);

protected:
    bool design_filters() override;
};

// Taps read from a text file ("-fc").
class FcFilterBank : public FdFilterBank {
public:
    FcFilterBank(std::int32_t levels, const char* filter_file_name);

protected:
    bool design_filters() override;

private:
    const char* filter_file_name;  // borrowed from the settings
};

}  // namespace vellox
