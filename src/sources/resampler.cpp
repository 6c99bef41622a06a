// The resampler over libsoxr; without libsoxr, one that cannot be made.

#include "sources/resampler.h"

#include "common/alloc.h"

#if VELLOX_HAVE_SOXR
#include <soxr.h>
#endif

namespace vellox {

Resampler::Resampler(double input, double output, std::int32_t channel_count)
    : input_rate(input), output_rate(output), channels(channel_count) {}

#if VELLOX_HAVE_SOXR

Resampler::~Resampler() {
    if (state != nullptr) soxr_delete(state);
}

bool Resampler::available() { return true; }

bool Resampler::init() {
    // libsoxr allocates on its own; the test hook's count covers it as one allocation.
    if (!allocation_allowed()) return false;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // One thread: the same output on every machine, and the encoder has the other core.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    state = soxr_create(input_rate, output_rate, static_cast<unsigned>(channels), &error, &io,
                        &quality, &runtime);
    return error == nullptr && state != nullptr;
}

bool Resampler::process(const std::int16_t* input, std::size_t frames, std::size_t* used,
                        double* output, std::size_t capacity, std::size_t* made) {
    *used = 0;
    *made = 0;
    if (state == nullptr) return false;
    return soxr_process(state, input, input != nullptr ? frames : 0, used, output, capacity,
                        made) == nullptr;
}

#else  // no libsoxr in this build

Resampler::~Resampler() = default;

bool Resampler::available() { return false; }

bool Resampler::init() {
    // Nothing can be made: the stored values have no use here.
    (void)input_rate;
    (void)output_rate;
    (void)channels;
    (void)state;
    return false;
}

bool Resampler::process(const std::int16_t*, std::size_t, std::size_t* used, double*, std::size_t,
                        std::size_t* made) {
    *used = 0;
    *made = 0;
    return false;
}

#endif

}  // namespace vellox
