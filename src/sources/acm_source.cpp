// The ACM source and the subband synthesis. (Not written yet.)

#include "sources/acm_source.h"

namespace vellox {

AcmSource::AcmSource(const char* name) : SoundSource(name) {}

AcmSource::~AcmSource() = default;

bool AcmSource::open(bool /*report*/) { return false; }

std::int32_t AcmSource::read(std::int16_t* buffer, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) buffer[i] = 0;
    return 0;
}

}  // namespace vellox
