// Writes deterministic test material as 16-bit mono WAV files, for comparing the encoder's
// modes: a music-like mix, formant-synthesised speech, pink noise and a chirp with tones.
// Usage: vellox_make_material kind out.wav seconds [rate [peak]]
//   kind: music, speech, pink, chirp; compressed (the music mix mastered loud), tone (440 Hz)
//   peak: the largest sample's level in dBFS, to which the whole piece is scaled

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frontend/wav_writer.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// A small seeded generator, so that the material is the same on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed * 2654435761u + 1) {}
    double uniform() {  // 0 .. 1
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
    double symmetric() { return 2.0 * uniform() - 1.0; }  // -1 .. 1

private:
    std::uint64_t state;
};

// Second-order resonator (a formant): y = x + 2r cos(w) y1 - r^2 y2, scaled to unit gain at
// its centre frequency.
struct Resonator {
    double a1 = 0.0, a2 = 0.0, gain = 1.0, y1 = 0.0, y2 = 0.0;
    void set(double frequency, double bandwidth, double rate) {
        const double r = std::exp(-pi * bandwidth / rate);
        const double w = 2.0 * pi * frequency / rate;
        a1 = 2.0 * r * std::cos(w);
        a2 = -r * r;
        gain = (1.0 - r) * std::sqrt(1.0 - 2.0 * r * std::cos(2.0 * w) + r * r);
    }
    double run(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Music: a bass line, chords of harmonic tones with attack and decay, a hi-hat-like noise
// burst on every beat and a slow swell, so that loud and quiet passages alternate.
std::vector<double> music(std::int64_t count, double rate) {
    std::vector<double> out(static_cast<std::size_t>(count));
    Random random(7);
    const double beat = 0.5;  // seconds
    const double chords[4][3] = {{220.0, 277.18, 329.63},
                                 {196.0, 246.94, 293.66},
                                 {174.61, 220.0, 261.63},
                                 {196.0, 246.94, 311.13}};
    double hat_state = 0.0;
    for (std::int64_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int bar = static_cast<int>(t / (4.0 * beat)) % 4;
        const double in_beat = std::fmod(t, beat);
        const double in_bar = std::fmod(t, 4.0 * beat);
        double v = 0.0;
        // Chord: three voices, six harmonics each, struck at the start of each bar.
        const double chord_env = std::exp(-1.2 * in_bar) * (1.0 - std::exp(-60.0 * in_bar));
        for (int k = 0; k < 3; ++k) {
            const double f0 = chords[bar][k] * (1.0 + 0.003 * std::sin(2.0 * pi * 5.5 * t + k));
            for (int h = 1; h <= 6; ++h) {
                v += 2600.0 / (h * h * 0.7 + 0.3) * chord_env * std::sin(2.0 * pi * f0 * h * t + k);
            }
        }
        // Bass on every beat.
        const double bass_f = chords[bar][0] / 4.0;
        const double bass_env = std::exp(-4.0 * in_beat) * (1.0 - std::exp(-200.0 * in_beat));
        v += 5000.0 * bass_env *
             (std::sin(2.0 * pi * bass_f * t) + 0.3 * std::sin(2.0 * pi * 2.0 * bass_f * t));
        // Hi-hat: high-passed noise with a fast decay on the off-beats.
        const double off = std::fmod(t + beat / 2.0, beat);
        const double noise = random.symmetric();
        const double high = noise - hat_state;
        hat_state = noise;
        v += 1800.0 * std::exp(-40.0 * off) * high;
        // A slow swell over 6 s and a quiet passage in the middle.
        double swell = 0.55 + 0.45 * std::sin(2.0 * pi * t / 6.0);
        if (std::fmod(t, 10.0) > 6.0 && std::fmod(t, 10.0) < 7.0) swell *= 0.05;
        out[static_cast<std::size_t>(i)] = 2.2 * v * swell;
    }
    return out;
}

// Speech: vowels from a glottal pulse train through three formants, with a pitch contour per
// phrase, fricatives of shaped noise between syllables, and pauses between phrases.
std::vector<double> speech(std::int64_t count, double rate) {
    std::vector<double> out(static_cast<std::size_t>(count));
    Random random(11);
    // F1, F2, F3 of a, e, i, o, u.
    const double vowels[5][3] = {{730, 1090, 2440},
                                 {530, 1840, 2480},
                                 {270, 2290, 3010},
                                 {570, 840, 2410},
                                 {300, 870, 2240}};
    Resonator f[3];
    Resonator hiss;
    hiss.set(4500.0, 2000.0, rate);
    double phase = 0.0;
    const double syllable = 0.22;  // seconds
    for (std::int64_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phrase_t = std::fmod(t, 2.5);  // phrases of 2 s, 0.5 s pause
        const auto syllable_index = static_cast<int>(t / syllable);
        const double in_syllable = std::fmod(t, syllable);
        const int v = (syllable_index * 3 + syllable_index / 5) % 5;
        if (in_syllable < 1.0 / rate + 1e-12) {
            for (int k = 0; k < 3; ++k) f[k].set(vowels[v][k], 60.0 + 40.0 * k, rate);
        }
        double sample = 0.0;
        if (phrase_t < 2.0) {
            // Falling pitch with a rise at the end of the phrase.
            const double pitch = 140.0 - 25.0 * phrase_t +
                                 35.0 * std::exp(-8.0 * (2.0 - phrase_t)) +
                                 6.0 * std::sin(2.0 * pi * 3.0 * t);
            phase += pitch / rate;
            double glottal = 0.0;
            if (phase >= 1.0) {
                phase -= 1.0;
                glottal = 1.0;
            }
            const bool fricative = in_syllable < 0.05 && syllable_index % 3 == 0;
            const double voiced_env = std::sin(pi * std::fmin(in_syllable / syllable, 1.0));
            double excitation = glottal * 9000.0 * voiced_env;
            if (fricative) excitation = 0.0;
            double voiced = 0.0;
            for (int k = 0; k < 3; ++k) voiced += f[k].run(excitation) * (k == 0 ? 1.0 : 0.5 / k);
            sample = 60.0 * voiced;
            if (fricative) sample += 2500.0 * hiss.run(random.symmetric()) * 4.0;
        } else {
            for (int k = 0; k < 3; ++k) f[k].run(0.0);
            sample = 30.0 * random.symmetric();  // room noise
        }
        out[static_cast<std::size_t>(i)] = sample;
    }
    return out;
}

// Pink noise: the sum of seven first-order filtered white noises (Kellet's refinement).
std::vector<double> pink(std::int64_t count, double) {
    std::vector<double> out(static_cast<std::size_t>(count));
    Random random(3);
    double b[7] = {0, 0, 0, 0, 0, 0, 0};
    for (std::int64_t i = 0; i < count; ++i) {
        const double white = random.symmetric();
        b[0] = 0.99886 * b[0] + white * 0.0555179;
        b[1] = 0.99332 * b[1] + white * 0.0750759;
        b[2] = 0.96900 * b[2] + white * 0.1538520;
        b[3] = 0.86650 * b[3] + white * 0.3104856;
        b[4] = 0.55000 * b[4] + white * 0.5329522;
        b[5] = -0.7616 * b[5] - white * 0.0168980;
        const double p = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + white * 0.5362;
        b[6] = white * 0.115926;
        out[static_cast<std::size_t>(i)] = 3000.0 * p;
    }
    return out;
}

// A logarithmic sweep from 40 Hz to nearly half the rate, with two steady tones under it.
std::vector<double> chirp(std::int64_t count, double rate) {
    std::vector<double> out(static_cast<std::size_t>(count));
    const double duration = static_cast<double>(count) / rate;
    const double f0 = 40.0;
    const double f1 = 0.45 * rate;
    const double k = std::log(f1 / f0) / duration;
    for (std::int64_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double sweep_phase = 2.0 * pi * f0 * (std::exp(k * t) - 1.0) / k;
        out[static_cast<std::size_t>(i)] = 9000.0 * std::sin(sweep_phase) +
                                           4000.0 * std::sin(2.0 * pi * 440.0 * t) +
                                           2000.0 * std::sin(2.0 * pi * 1234.5 * t);
    }
    return out;
}

// The music mix mastered loud: a fast compressor on its envelope (attack 2 ms, release
// 80 ms, ratio about 7), a soft clipper and a hard one: dense peaks close to its level, and
// flat tops, whose coefficients reach past the peak.
std::vector<double> compressed(std::int64_t count, double rate) {
    std::vector<double> out = music(count, rate);
    const double attack = std::exp(-1.0 / (0.002 * rate));
    const double release = std::exp(-1.0 / (0.08 * rate));
    double envelope = 0.0;
    for (double& v : out) {
        const double level = std::fabs(v);
        const double k = level > envelope ? attack : release;
        envelope = k * envelope + (1.0 - k) * level;
        const double gain = std::pow(std::fmax(envelope, 30.0) / 3000.0, -0.85);
        v = 30000.0 * std::fmax(-1.0, std::fmin(1.0, 1.3 * std::tanh(v * gain / 5000.0)));
    }
    return out;
}

// A steady 440 Hz tone.
std::vector<double> tone(std::int64_t count, double rate) {
    std::vector<double> out(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        out[static_cast<std::size_t>(i)] =
            30000.0 * std::sin(2.0 * pi * 440.0 * static_cast<double>(i) / rate);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr,
                     "usage: %s music|speech|pink|chirp|compressed|tone out.wav seconds "
                     "[rate [peak_dbfs]]\n",
                     argv[0]);
        return 2;
    }
    const char* kind = argv[1];
    const double rate = argc >= 5 ? std::atof(argv[4]) : 22050.0;
    const auto count = static_cast<std::int64_t>(std::atof(argv[3]) * rate);
    if (rate < 8000.0 || rate > 192000.0 || count < 0 || count > (std::int64_t{1} << 30)) {
        std::fprintf(stderr, "bad length or rate\n");
        return 2;
    }
    std::vector<double> signal;
    if (std::strcmp(kind, "music") == 0) {
        signal = music(count, rate);
    } else if (std::strcmp(kind, "speech") == 0) {
        signal = speech(count, rate);
    } else if (std::strcmp(kind, "pink") == 0) {
        signal = pink(count, rate);
    } else if (std::strcmp(kind, "chirp") == 0) {
        signal = chirp(count, rate);
    } else if (std::strcmp(kind, "compressed") == 0) {
        signal = compressed(count, rate);
    } else if (std::strcmp(kind, "tone") == 0) {
        signal = tone(count, rate);
    } else {
        std::fprintf(stderr, "unknown kind '%s'\n", kind);
        return 2;
    }

    // A short fade-in: the transform's start-up stretch (its first few hundred samples at the
    // default levels) decodes with a large error in every mode, which would otherwise swamp
    // the differences this material is made to show. Recordings mostly start quietly too.
    const auto fade = static_cast<std::int64_t>(0.1 * rate);
    for (std::int64_t i = 0; i < fade && i < count; ++i) {
        const double g =
            0.5 - 0.5 * std::cos(pi * static_cast<double>(i) / static_cast<double>(fade));
        signal[static_cast<std::size_t>(i)] *= g;
    }

    if (argc == 6) {
        double peak = 0.0;
        for (const double v : signal) peak = std::fmax(peak, std::fabs(v));
        const double scale =
            peak > 0.0 ? 32767.0 * std::pow(10.0, std::atof(argv[5]) / 20.0) / peak : 0.0;
        for (double& v : signal) v *= scale;
    }

    std::FILE* f = std::fopen(argv[2], "wb");
    if (f == nullptr) return 1;
    const auto samples = static_cast<std::uint32_t>(count);
    const auto sample_rate = static_cast<std::uint32_t>(rate);
    vellox::WavFormat format;  // mono 16-bit PCM
    format.channels = 1;
    format.rate = static_cast<std::int32_t>(sample_rate);
    std::uint8_t header[vellox::rf64_header_size];
    std::fwrite(header, 1, vellox::make_wav_header(format, samples, header), f);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(signal.size() * 2);
    for (const double v : signal) {
        const long s = std::lround(v);
        const auto sample =
            static_cast<std::int16_t>(s > 32767 ? 32767 : (s < -32768 ? -32768 : s));
        bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    return std::fclose(f) == 0 ? 0 : 1;
}
