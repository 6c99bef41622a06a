// End-to-end golden outputs: small generated inputs converted with many settings must give
// exactly these files (an FNV-1a hash of the bytes each), so that no later change of any
// stage can alter a single bit unnoticed.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_support.h"

namespace vellox::cli {
namespace {

std::string fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}

// A WAV header for 16-bit mono data of the given size.
std::string wav16(const std::string& data) {
    auto u32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    };
    const std::string fmt("\x01\x00\x01\x00\x22\x56\x00\x00\x44\xAC\x00\x00\x02\x00\x10\x00", 16);
    return "RIFF" + u32(static_cast<std::uint32_t>(36 + data.size())) + "WAVEfmt " + u32(16) + fmt +
           "data" + u32(static_cast<std::uint32_t>(data.size())) + data;
}

struct GoldenCase {
    const char* input;                 // name of a generated input, see make_inputs
    std::vector<std::string> options;  // after the two names
    const char* hash;                  // of the whole output file
    long size;                         // of the whole output file
};

void make_inputs(const ScratchFolder& folder) {
    std::vector<std::int16_t> mix = sine(30000, 9000, 37.3);
    const std::vector<std::int16_t> hiss = noise(30000, 3000, 99);
    for (std::size_t i = 0; i < mix.size(); ++i) {
        mix[i] = static_cast<std::int16_t>(mix[i] + hiss[i] / (i < 15000 ? 8 : 1));
    }
    for (std::size_t i = 20000; i < 24000; ++i) mix[i] = 0;  // a pause
    write_file(folder / "mix.wav", wav16(raw16(mix)));
    write_file(folder / "noise.raw", raw16(noise(70001, 32767, 5)));
    std::vector<std::int16_t> square(2049);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 64) % 2 ? 32767 : -32768;
    write_file(folder / "square.raw", raw16(square));
    std::string bytes8;
    for (int i = 0; i < 5000; ++i) bytes8.push_back(static_cast<char>((i * 7) % 256));
    write_file(folder / "ramp8.raw", bytes8);
    write_file(folder / "one.raw", raw16({1234}));
    write_file(folder / "taps.txt", "5\n0.05 -0.1 0.2 0.3 0.5\n");
}

TEST(Golden, OutputsAreExactlyTheKnownFiles) {
    ScratchFolder folder;
    make_inputs(folder);
    const std::vector<GoldenCase> cases = {
        {"mix.wav", {}, "8ebf065251b5e7c5", 28563},
        {"mix.wav", {"-q0"}, "cc9ff42fffe58ef8", 38245},
        {"mix.wav", {"-q", "10"}, "411f7e1c2a49fe06", 5250},
        {"mix.wav", {"-l", "0", "-s", "1"}, "bd50fe3827f91d1f", 110014},
        {"mix.wav", {"-l", "3", "-s", "4095", "-q", "25"}, "1bed643285566e62", 8823},
        {"mix.wav", {"-fo", "-l", "5"}, "cc7bbd8e290f89da", 27696},
        {"mix.wav", {"-fd", "4", "-l", "10", "-s", "2", "-q0"}, "67c82407ef44dc36", 40472},
        {"mix.wav", {"-fc", folder / "taps.txt", "-l", "2"}, "083f533451374874", 27521},
        {"noise.raw", {"-q", "100"}, "373e6a5ac0f4eeda", 135608},
        {"noise.raw", {"-l", "1", "-q0"}, "88cf007633a36036", 148245},
        {"noise.raw", {"-l", "15", "-s", "1", "-q", "60"}, "6dc4add3c86534fb", 104961},
        {"square.raw", {"-l", "4"}, "9c55d3ec7128e68d", 1926},
        {"ramp8.raw", {"-8", "-q", "33"}, "6ba21f5bc5bf8492", 1772},
        {"one.raw", {}, "4561a9a43f498e73", 15},
    };
    for (const GoldenCase& c : cases) {
        std::vector<std::string> args;
        std::string label = c.input;
        if (std::string(c.input) == "ramp8.raw") {
            args = {"-8", folder / c.input, folder / "out.acm"};
            args.insert(args.end(), c.options.begin() + 1, c.options.end());
        } else {
            args = {folder / c.input, folder / "out.acm"};
            args.insert(args.end(), c.options.begin(), c.options.end());
        }
        for (const std::string& o : c.options) label += " " + o;
        const RunResult r = run_vellox(args, folder);
        ASSERT_EQ(r.exit_code, 0) << label << "\n" << r.err;
        const std::string acm = read_file(folder / "out.acm");
        EXPECT_EQ(fnv1a(acm), c.hash) << label;
        EXPECT_EQ(static_cast<long>(acm.size()), c.size) << label;
    }
}

}  // namespace
}  // namespace vellox::cli
