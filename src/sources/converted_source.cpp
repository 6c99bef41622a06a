// Downmixing and resampling between a source and the encoder.

#include "sources/converted_source.h"

#include <algorithm>  // std::min, std::max
#include <cerrno>     // ENOMEM
#include <cstring>    // std::memcpy

#include "common/alloc.h"
#include "sources/sample_conversion.h"

namespace vellox {

namespace {

constexpr std::int64_t max_samples = 2147483647;  // the largest signed 32-bit count
constexpr std::int32_t chunk_samples = 8192;      // values per chunk, in whole frames

}  // namespace

ConvertedSource::ConvertedSource(SoundSource& source, bool mix_down, std::uint32_t rate)
    : StagedSource(""), input(source), downmix(mix_down), output_rate(rate) {}

ConvertedSource::~ConvertedSource() = default;

std::int64_t ConvertedSource::converted_frames(std::int64_t input_frames, std::uint32_t input_rate,
                                               std::uint32_t rate) {
    // At most 2^31 frames times 2 * 192000 Hz: far inside 64 bits.
    return (input_frames * rate * 2 + input_rate) / (std::int64_t{input_rate} * 2);
}

OpenResult ConvertedSource::open() {
    input_channels = input.channels;
    const std::uint32_t input_rate = input.sample_rate;
    if (output_rate == 0) output_rate = input_rate;
    const std::int32_t output_channels = downmix ? 1 : input_channels;
    input_frames_left = (std::int64_t{input.total_samples} + input_channels - 1) / input_channels;
    const bool resampling = output_rate != input_rate;
    if (resampling && (input_rate < lowest_resampled_rate || input_rate > highest_resampled_rate ||
                       output_channels > most_resampled_channels)) {
        return OpenResult::refused(Refusal::unsupported_format);
    }
    const std::int64_t frames = resampling
                                    ? converted_frames(input_frames_left, input_rate, output_rate)
                                    : input_frames_left;
    if (frames > max_samples / output_channels) return OpenResult::refused(Refusal::input_too_long);
    total_samples = static_cast<std::int32_t>(frames * output_channels);
    remaining_samples = total_samples;
    channels = output_channels;
    sample_rate = output_rate;
    is_16bit = input.is_16bit;

    chunk_frames = std::max(1, chunk_samples / input_channels);
    output_capacity = std::max(1, chunk_samples / output_channels);
    frames_in = allocate_array<std::int16_t>(std::int64_t{chunk_frames} * input_channels);
    if (frames_in == nullptr) return OpenResult::refused(Refusal::no_memory);
    if (downmix) {
        mixed = allocate_array<std::int16_t>(chunk_frames);
        if (mixed == nullptr) return OpenResult::refused(Refusal::no_memory);
    }
    const std::int64_t staged_values =
        std::int64_t{std::max(chunk_frames, output_capacity)} * output_channels;
    staged = allocate_array<std::int16_t>(staged_values);
    if (staged == nullptr) return OpenResult::refused(Refusal::no_memory);
    if (resampling) {
        resampled = allocate_array<double>(std::int64_t{output_capacity} * output_channels);
        resampler = make_object<Resampler>(input_rate, output_rate, output_channels);
        if (resampled == nullptr || resampler == nullptr || !resampler->init()) {
            return OpenResult::refused(Refusal::no_memory);
        }
    }
    return OpenResult::opened();
}

std::int32_t ConvertedSource::read_input() {
    if (input_frames_left == 0) return 0;
    const auto frames =
        static_cast<std::int32_t>(std::min<std::int64_t>(chunk_frames, input_frames_left));
    // Past its end the input gives zeros: they complete an incomplete last frame.
    (void)input.read(frames_in.get(), frames * input_channels);
    input_frames_left -= frames;
    if (read_errno == 0) read_errno = input.read_error();
    if (downmix) {
        const std::int16_t* in = frames_in.get();
        std::int16_t* out = mixed.get();
        for (std::int32_t f = 0; f < frames; ++f, in += input_channels) {
            std::int64_t sum = 0;
            for (std::int32_t c = 0; c < input_channels; ++c) sum += in[c];
            // The mean, its magnitude rounded half up: half away from zero.
            const std::int64_t magnitude = sum < 0 ? -sum : sum;
            std::int64_t mean =
                (2 * magnitude + input_channels) / (2 * std::int64_t{input_channels});
            if (sum < 0) mean = -mean;
            out[f] = static_cast<std::int16_t>(
                std::min<std::int64_t>(32767, std::max<std::int64_t>(-32768, mean)));
        }
    }
    return frames;
}

bool ConvertedSource::refill() {
    staged_next = 0;
    staged_count = 0;
    if (resampler == nullptr) {
        const std::int32_t frames = read_input();
        if (frames == 0) return false;
        staged_count = frames * channels;
        std::memcpy(staged.get(), downmix ? mixed.get() : frames_in.get(),
                    static_cast<std::size_t>(staged_count) * sizeof(std::int16_t));
        return true;
    }
    for (;;) {
        if (pending_frames == 0 && !input_ended) {
            pending_frames = read_input();
            pending = downmix ? mixed.get() : frames_in.get();
            input_ended = pending_frames == 0;
        }
        std::size_t used = 0;
        std::size_t made = 0;
        if (!resampler->process(input_ended ? nullptr : pending,
                                static_cast<std::size_t>(pending_frames), &used, resampled.get(),
                                static_cast<std::size_t>(output_capacity), &made)) {
            read_errno = ENOMEM;
            return false;
        }
        pending += used * static_cast<std::size_t>(channels);
        pending_frames -= static_cast<std::int32_t>(used);
        if (made > 0) {
            staged_count = static_cast<std::int32_t>(made) * channels;
            const double* in = resampled.get();
            std::int16_t* out = staged.get();
            for (std::int32_t i = 0; i < staged_count; ++i) out[i] = int16_from_real(in[i]);
            return true;
        }
        // Drained, or stuck: a resampler that neither takes nor gives would loop for ever.
        if (input_ended || used == 0) return false;
    }
}

}  // namespace vellox
