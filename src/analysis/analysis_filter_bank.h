#pragma once
// The analysis filter bank: a tree of two-band FIR splits that turns 16-bit samples into
// 32-bit sub-band coefficients, one stream, fed in chunks of any size.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "analysis/filter_kernel.h"
#include "vellox/vellox.h"  // vellox_status

namespace vellox {

struct FilterLevel;  // one level of the tree; analysis_filter_bank.cpp

class AnalysisFilterBank {
public:
    virtual ~AnalysisFilterBank();

    AnalysisFilterBank(const AnalysisFilterBank&) = delete;
    AnalysisFilterBank& operator=(const AnalysisFilterBank&) = delete;

    // Designs the filters and allocates the state: VELLOX_OK; VELLOX_ERROR_LEVELS for levels
    // outside 0 .. 15; VELLOX_ERROR_FILTER_LENGTH ("-fd", "-fo") or VELLOX_ERROR_TAPS ("-fc")
    // for a filter its design cannot make (no taps, or a length outside 1 .. max_filter_length
    // one-sided taps, from 2 for "-fo"); VELLOX_ERROR_MEMORY. A bank whose init failed is
    // unusable.
    [[nodiscard]] vellox_status init();

    // Input values that produce no output: filter_length * (2^levels - 1). After init.
    std::int64_t delay() const;

    // Filters count samples into destination (room for count values); returns the number of
    // coefficients written to its start. State carries over from call to call.
    std::int32_t process(const std::int16_t* source, std::int32_t count, std::int32_t* destination);

    // The designed filter pair, full_filter_length() taps each. After a successful init.
    std::int32_t full_filter_length() const { return full_length; }
    virtual const double* low_pass_taps() const = 0;
    virtual const double* high_pass_taps() const = 0;

    // The instruction set of the inner loop: the fastest available unless set here (for tests
    // and benchmarks; every path gives the same coefficients). False, and no change, when the
    // path is not available.
    [[nodiscard]] bool set_filter_path(KernelPath path);
    KernelPath filter_path() const { return path; }

protected:
    AnalysisFilterBank(std::int32_t levels, std::int32_t filter_length);

    // Checks the filter length, sets full_length and computes the taps: VELLOX_OK,
    // VELLOX_ERROR_FILTER_LENGTH or VELLOX_ERROR_TAPS for a filter the design cannot make,
    // VELLOX_ERROR_MEMORY.
    [[nodiscard]] virtual vellox_status design_filters() = 0;

    std::int32_t levels;         // 0 .. 15
    std::int32_t filter_length;  // N: one-sided taps, centre included
    std::int32_t full_length;    // 2N - 1

private:
    [[nodiscard]] bool allocate_windows();
    void make_room(FilterLevel& level, std::int64_t incoming);
    void filter_outputs(const FilterLevel& level, std::int64_t end, double* values,
                        std::int32_t* coefficients) const;

    std::unique_ptr<double[]> delay_lines;       // every level's window, one block
    std::unique_ptr<FilterLevel[]> level_table;  // levels records
    // full_length taps for outputs in even rows, as many for odd rows, then the tap patterns
    // of the levels whose rows change within a vector (2, 4 and 8 taps per term).
    std::unique_ptr<double[]> tap_table;
    bool finite_taps = true;  // false: zero values must skip their terms (0 * inf is NaN)
    KernelPath path = KernelPath::portable;
    bool path_set = false;  // set_filter_path chose the path
};

// The default design ("-fd").
class FdFilterBank : public AnalysisFilterBank {
public:
    FdFilterBank(std::int32_t levels, std::int32_t filter_length);

    const double* low_pass_taps() const override { return low_pass.get(); }
    const double* high_pass_taps() const override { return high_pass.get(); }
    double divisor() const { return dc_norm; }

protected:
    vellox_status design_filters() override;

    // Checks that the filter has least .. max_filter_length one-sided taps (wrong_length
    // otherwise), sets full_length and allocates both filters (VELLOX_ERROR_MEMORY when that
    // fails).
    [[nodiscard]] vellox_status allocate_filters(std::int32_t least, vellox_status wrong_length);
    // Shared end of every design: the two filters from the magnitudes.
    void finish_filters();

    std::unique_ptr<double[]> low_pass;   // full_length taps
    std::unique_ptr<double[]> high_pass;  // full_length taps
    double dc_norm = 1.0;                 // divisor of every tap
};

// The second computed design ("-fo").
class FoFilterBank : public FdFilterBank {
public:
    FoFilterBank(std::int32_t levels, std::int32_t filter_length);

protected:
    vellox_status design_filters() override;
};

// The caller's taps ("-fc"): one-sided magnitudes, outer end first, used at their scale.
class FcFilterBank : public FdFilterBank {
public:
    // taps: tap_count values, borrowed until init returns (the bank keeps a copy); their
    // signs do not matter.
    FcFilterBank(std::int32_t levels, const double* taps, std::int32_t tap_count);

protected:
    vellox_status design_filters() override;

private:
    const double* taps;  // borrowed; null after init
};

}  // namespace vellox
