// Decodes an ACM file with the converter's own ACM reader and compares it with the original
// input: prints the signal-to-noise ratio over all samples and the size of the ACM file.
// Usage: vellox_quality original.wav encoded.acm
// Output, one line: "snr_db <value> size <bytes> samples <count>".

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "sources/sound_source.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s original.wav encoded.acm\n", argv[0]);
        return 2;
    }
    std::unique_ptr<vellox::SoundSource> original =
        vellox::open_sound_source(argv[1], vellox::SoundType::automatic);
    std::unique_ptr<vellox::SoundSource> decoded =
        vellox::open_sound_source(argv[2], vellox::SoundType::acm);
    if (original == nullptr || decoded == nullptr) return 1;
    if (original->total_samples != decoded->total_samples) {
        std::fprintf(stderr, "sample counts differ: %ld and %ld\n",
                     static_cast<long>(original->total_samples),
                     static_cast<long>(decoded->total_samples));
        return 1;
    }
    const std::int32_t total = original->total_samples;
    constexpr std::int32_t chunk = 65536;
    std::vector<std::int16_t> x(chunk);
    std::vector<std::int16_t> y(chunk);
    double signal = 0.0;
    double noise = 0.0;
    for (std::int32_t done = 0; done < total;) {
        const std::int32_t n = total - done < chunk ? total - done : chunk;
        (void)original->read(x.data(), n);
        (void)decoded->read(y.data(), n);
        for (std::int32_t i = 0; i < n; ++i) {
            const double a = x[static_cast<std::size_t>(i)];
            const double d = a - y[static_cast<std::size_t>(i)];
            signal += a * a;
            noise += d * d;
        }
        done += n;
    }
    if (decoded->samples_not_decoded() != 0) {
        std::fprintf(stderr, "%ld samples could not be decoded\n",
                     static_cast<long>(decoded->samples_not_decoded()));
        return 1;
    }
    std::FILE* f = std::fopen(argv[2], "rb");
    if (f == nullptr) return 1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    const double snr = noise == 0.0 ? INFINITY : 10.0 * std::log10(signal / noise);
    std::printf("snr_db %.3f size %ld samples %ld\n", snr, size, static_cast<long>(total));
    return 0;
}
