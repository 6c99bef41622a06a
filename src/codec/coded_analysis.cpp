// The coded analysis: the filter bank, or the exact inverse of the synthesis.

#include "codec/coded_analysis.h"

#include "analysis/analysis_filter_bank.h"
#include "analysis/synthesis_inverse.h"
#include "codec/encoder.h"
#include "common/alloc.h"

namespace vellox {

CodedAnalysis::CodedAnalysis(const EncoderSettings& settings)
    : levels(settings.levels),
      filter_kind(settings.filter_kind),
      filter_length(settings.filter_length),
      taps(settings.taps),
      tap_count(settings.tap_count),
      high_quality(settings.high_quality) {}

CodedAnalysis::~CodedAnalysis() = default;

vellox_status CodedAnalysis::init() {
    switch (filter_kind) {
        case 'O':
            bank = make_object<FoFilterBank>(levels, filter_length);
            break;
        case 'C':
            bank = make_object<FcFilterBank>(levels, taps, tap_count);
            break;
        default:
            bank = make_object<FdFilterBank>(levels, filter_length);
            break;
    }
    taps = nullptr;  // the bank copied them, or failed
    if (!bank) return VELLOX_ERROR_MEMORY;
    const vellox_status status = bank->init();
    if (status != VELLOX_OK || !high_quality) return status;
    inverse = make_object<SynthesisInverse>(levels);
    return inverse ? inverse->init() : VELLOX_ERROR_MEMORY;
}

std::int64_t CodedAnalysis::delay() const { return inverse ? inverse->delay() : bank->delay(); }

std::int64_t CodedAnalysis::least_delay() const {
    return inverse ? inverse->least_delay() : bank->delay();
}

std::int32_t CodedAnalysis::burst() const { return inverse ? inverse->burst() : 0; }

std::int32_t CodedAnalysis::process(const std::int16_t* samples, std::int32_t count,
                                    std::int32_t* destination) {
    return inverse ? inverse->process(samples, count, destination)
                   : bank->process(samples, count, destination);
}

}  // namespace vellox
