// Writes the samples vellox would encode for an input and its options, after "--gain",
// "--fit" and "--limit" (the same passes and the same limiter), as a 16-bit mono WAV file at
// 22050 Hz; and prints the gain and the limiter's ceiling the passes chose. For
// tools/hq-compare, which measures a decoded file against the input its encoder saw.
// Usage: vellox_level_input in.wav out.wav [vellox options]

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "codec/encoder.h"
#include "codec/input_level.h"
#include "frontend/filter_file.h"
#include "frontend/input_source.h"
#include "frontend/level_passes.h"
#include "frontend/settings.h"
#include "frontend/wav_writer.h"

int main(int argc, char** argv) {
    using namespace vellox;
    ConversionSettings settings;
    if (argc < 3 || parse_command_line(argc, argv, settings, stderr) != ParseOutcome::accepted) {
        std::fprintf(stderr, "usage: %s in.wav out.wav [vellox options]\n", argv[0]);
        return 2;
    }
    std::unique_ptr<SoundSource> source =
        open_input_source(settings.snd_file_name, settings.snd_type);
    if (source == nullptr) return 1;
    EncoderSettings encoding = encoder_shape(settings);
    std::unique_ptr<double[]> taps;
    if (settings.filter_kind == 'C') {
        if (read_filter_file(settings.filter_file_name, &encoding.tap_count, &taps) !=
            FilterFileResult::ok) {
            return 1;
        }
        encoding.taps = taps.get();
    }
    LevelPlan plan;
    plan.gain_db = settings.gain_db;
    const InputPlace place = {settings.snd_file_name, settings.snd_type, -1};
    std::unique_ptr<ConvertedSource> converted;  // the input as it is
    if ((settings.fit || settings.limit) &&
        !plan_level(encoding, place, settings.gain_db, settings.fit, settings.limit, source,
                    converted, plan)) {
        return 1;
    }
    const std::int32_t samples = source->total_samples;
    InputLevel level(encoding, plan.gain_db, plan.limit, plan.ceiling, samples);
    if (level.init() != VELLOX_OK) return 1;

    std::FILE* f = std::fopen(settings.acm_file_name, "wb");
    if (f == nullptr) return 1;
    WavFormat format;
    format.channels = 1;
    std::uint8_t header[rf64_header_size];
    std::fwrite(header, 1, make_wav_header(format, static_cast<std::uint64_t>(samples), header), f);
    std::vector<std::int16_t> chunk(Encoder::chunk_size);
    std::vector<std::int16_t> out(Encoder::chunk_size);
    std::int64_t to_write = samples;
    for (std::int64_t to_feed = samples + level.delay(); to_feed > 0;) {
        const auto n = static_cast<std::int32_t>(
            to_feed < Encoder::chunk_size ? to_feed : Encoder::chunk_size);
        (void)source->read(chunk.data(), n);
        const std::int32_t m = level.process(chunk.data(), n, out.data());
        const std::int64_t keep = m < to_write ? m : to_write;
        for (std::int64_t i = 0; i < keep; ++i) {
            const auto u = static_cast<std::uint16_t>(out[static_cast<std::size_t>(i)]);
            std::fputc(u & 0xFF, f);
            std::fputc(u >> 8, f);
        }
        to_write -= keep;
        to_feed -= n;
    }
    const bool closed = std::fclose(f) == 0;
    std::printf("gain %.1f dB, ceiling %.4f, lowered %ld of %ld samples, least gain %.4f\n",
                plan.gain_db, plan.ceiling, static_cast<long>(level.lowered()),
                static_cast<long>(samples), level.least_gain());
    return closed ? 0 : 1;
}
