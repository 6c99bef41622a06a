// Sound sources: the base, the raw PCM and WAV readers, and the factory. (Readers not
// written yet.)

#include "sources/sound_source.h"

namespace vellox {

SoundSource::SoundSource(const char* name) : file_name(name) {}

SoundSource::~SoundSource() {
    if (file != nullptr) std::fclose(file);
}

std::int16_t SoundSource::read_sample() {
    std::int16_t sample = 0;
    return read(&sample, 1) == 1 ? sample : 0;
}

std::unique_ptr<SoundSource> open_sound_source(const char* /*file_name*/, SoundType /*type*/) {
    return nullptr;
}

}  // namespace vellox
