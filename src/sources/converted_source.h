#pragma once
// ConvertedSource: the signal of another source with its channels mixed into one and/or its
// rate converted, as a source of its own whose count is fixed before the first read, so that
// the header can announce it; streamed in chunks, in bounded memory whatever the length.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint32_t
#include <memory>   // std::unique_ptr

#include "sources/resampler.h"
#include "sources/staged_source.h"

namespace vellox {

class ConvertedSource : public StagedSource {
public:
    // What the resampler takes: libsoxr's filters for ratios far beyond these grow without
    // bound (or fail), and every channel has filters of its own (64 take about 15 MB).
    static constexpr std::uint32_t lowest_resampled_rate = 1000;  // Hz, of the input
    static constexpr std::uint32_t highest_resampled_rate = 1000000;
    static constexpr std::int32_t most_resampled_channels = 64;

    // input: borrowed, opened, its channels and sample_rate known, nothing read from it yet.
    // downmix: mix all channels into one. rate: the output's rate in Hz, 0 to keep the
    // input's. Allocates nothing.
    ConvertedSource(SoundSource& input, bool downmix, std::uint32_t rate);
    ~ConvertedSource() override;

    // Fixes the output's count, then makes the buffers and the resampler: input_too_long when
    // the output would pass 2^31 - 1 samples, unsupported_format for a rate or channel count
    // the resampler does not take (see above), no_memory.
    OpenResult open() override;
    const char* type_name() const override { return input.type_name(); }

    // read hands out the converted frames, interleaved: a downmixed frame is the mean of the
    // input frame's values rounded half away from zero; resampled values are libsoxr's output
    // rounded half away from zero (x * 32768) and saturated. The input's last frame, when
    // incomplete, is completed with zeros. What the resampler gives past the count is dropped,
    // what it gives short of it is zeros.

    // The output frames for input_frames frames at input_rate converted to output_rate:
    // input_frames * output_rate / input_rate rounded to the nearest, a half up.
    static std::int64_t converted_frames(std::int64_t input_frames, std::uint32_t input_rate,
                                         std::uint32_t output_rate);

private:
    // Reads the input's next frames into frames_in (mixed into mixed when downmixing); returns
    // how many, 0 once all were read.
    std::int32_t read_input();

    // Makes the next converted frames into staged; false when there are no more.
    bool refill() override;

    SoundSource& input;  // borrowed
    bool downmix;
    std::uint32_t output_rate;  // 0: the input's
    std::int32_t input_channels = 0;
    std::int64_t input_frames_left = 0;         // frames not read from the input yet
    std::int32_t chunk_frames = 0;              // input frames read at a time
    std::int32_t output_capacity = 0;           // frames the resampler writes at a time
    std::unique_ptr<std::int16_t[]> frames_in;  // chunk_frames input frames
    std::unique_ptr<std::int16_t[]> mixed;      // chunk_frames mixed frames; downmix only
    std::unique_ptr<Resampler> resampler;       // only when the rate changes
    std::unique_ptr<double[]> resampled;        // output_capacity frames from the resampler
    const std::int16_t* pending = nullptr;      // input frames the resampler has not taken yet
    std::int32_t pending_frames = 0;
    bool input_ended = false;  // all input frames went to the resampler
};

}  // namespace vellox
