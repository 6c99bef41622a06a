// Writes a deterministic test signal as a 16-bit mono 22050 Hz WAV file, for the speed
// script: a few harmonic tones with vibrato, a little noise, and a short pause every minute.
// Usage: vellox_make_wav out.wav seconds

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frontend/wav_writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s out.wav seconds\n", argv[0]);
        return 2;
    }
    const std::uint32_t rate = 22050;
    const auto count = static_cast<std::uint32_t>(std::atof(argv[2]) * rate);
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    vellox::WavFormat format;  // mono 16-bit PCM
    format.channels = 1;
    format.rate = static_cast<std::int32_t>(rate);
    std::uint8_t header[vellox::rf64_header_size];
    std::fwrite(header, 1, vellox::make_wav_header(format, count, header), f);

    std::vector<std::uint8_t> bytes;
    bytes.reserve(2 * 65536);
    std::uint32_t noise = 12345;
    const double base[] = {110.0, 164.8, 220.0, 277.2};
    for (std::uint32_t i = 0; i < count; ++i) {
        const double t = i / static_cast<double>(rate);
        const double second_of_minute = std::fmod(t, 60.0);
        double v = 0.0;
        if (second_of_minute >= 2.0) {  // two seconds of silence each minute
            const double vibrato = 1.0 + 0.004 * std::sin(2.0 * M_PI * 5.0 * t);
            for (int k = 0; k < 4; ++k) {
                const double f0 = base[(k + static_cast<int>(t / 4.0)) % 4] * vibrato;
                for (int h = 1; h <= 4; ++h) {
                    v += 2400.0 / h * std::sin(2.0 * M_PI * f0 * h * t + k);
                }
            }
            noise = noise * 1664525u + 1013904223u;
            v += static_cast<double>(static_cast<int>(noise >> 20) - 2048) * 0.5;
            v *= 0.6 + 0.4 * std::sin(2.0 * M_PI * 0.25 * t);
        }
        const long s = std::lround(v);
        const auto sample =
            static_cast<std::int16_t>(s > 32767 ? 32767 : (s < -32768 ? -32768 : s));
        bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
        if (bytes.size() == bytes.capacity()) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            bytes.clear();
        }
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    return std::fclose(f) == 0 ? 0 : 1;
}
