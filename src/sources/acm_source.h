#pragma once
// AcmSource: an ACM file as an input, decoded block by block; SubbandSynthesis: the inverse
// multi-level transform that turns a decoded block back into samples in time order.

#include "sources/sound_source.h"

namespace vellox {

class AcmSource : public SoundSource {
public:
    explicit AcmSource(const char* file_name);
    ~AcmSource() override;

    [[nodiscard]] bool open(bool report) override;
    const char* type_name() const override { return "ACM"; }
    std::int32_t read(std::int16_t* buffer, std::int32_t count) override;
};

}  // namespace vellox
