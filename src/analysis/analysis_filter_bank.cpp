// The analysis filter bank. (Not written yet.)

#include "analysis/analysis_filter_bank.h"

namespace vellox {

AnalysisFilterBank::AnalysisFilterBank(std::int32_t level_count, std::int32_t taps)
    : levels(level_count), filter_length(taps), full_length(0) {}

AnalysisFilterBank::~AnalysisFilterBank() = default;

bool AnalysisFilterBank::init() { return design_filters() && false; }

std::int64_t AnalysisFilterBank::delay() const { return 0; }

std::int32_t AnalysisFilterBank::process(const std::int16_t* /*source*/, std::int32_t /*count*/,
                                         std::int32_t* /*destination*/) {
    return 0;
}

FdFilterBank::FdFilterBank(std::int32_t level_count, std::int32_t taps)
    : AnalysisFilterBank(level_count, taps) {}

bool FdFilterBank::design_filters() { return false; }

FoFilterBank::FoFilterBank(std::int32_t level_count, std::int32_t taps)
    : FdFilterBank(level_count, taps) {}

bool FoFilterBank::design_filters() { return false; }

FcFilterBank::FcFilterBank(std::int32_t level_count, const char* file_name)
    : FdFilterBank(level_count, 0), filter_file_name(file_name) {}

bool FcFilterBank::design_filters() { return filter_file_name != nullptr && false; }

}  // namespace vellox
