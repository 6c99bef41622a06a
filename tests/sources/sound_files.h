#pragma once
// Sound files for the sources' tests, built byte by byte: little-endian fields, RIFF chunks,
// "fmt " bodies and whole WAV files; and a fixture that writes them into a folder of its own
// and opens them as the program does.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "frontend/input_source.h"
#include "sources/source_detection.h"

namespace vellox {
namespace source_test {

using namespace std::string_literals;

// value as count little-endian bytes.
inline std::string le(std::uint64_t value, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// A chunk with its pad byte; size overrides the length stated in the header.
inline std::string chunk(const char* id, const std::string& body, std::int64_t size = -1) {
    std::string bytes = id + le(size < 0 ? body.size() : static_cast<std::uint64_t>(size), 4);
    bytes += body;
    if (body.size() % 2 != 0) bytes += '\0';
    return bytes;
}

// A "fmt " body for mono 22,050 Hz, with extra bytes past the 16 that every form has.
inline std::string fmt_body(int tag, int bits, const std::string& extra = "") {
    const int align = bits / 8;
    return le(static_cast<std::uint64_t>(tag), 2) + le(1, 2) + le(22050, 4) +
           le(22050u * static_cast<unsigned>(align), 4) + le(static_cast<unsigned>(align), 2) +
           le(static_cast<unsigned>(bits), 2) + extra;
}

// The 40-byte extensible form whose sub-format GUID begins with sub_tag.
inline std::string extensible_body(int sub_tag, int bits) {
    const std::string guid_tail = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71"s;
    return fmt_body(0xFFFE, bits,
                    le(22, 2) + le(static_cast<unsigned>(bits), 2) + le(4, 4) +
                        le(static_cast<unsigned>(sub_tag), 2) + guid_tail);
}

// The bytes of an IEEE float, little-endian.
inline std::string float_bytes(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return le(bits, 4);
}

inline std::string double_bytes(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return le(bits, 8);
}

inline std::string wav(const std::string& chunks) {
    return "RIFF" + le(4 + chunks.size(), 4) + "WAVE" + chunks;
}

inline std::string samples16(const std::vector<int>& values) {
    std::string bytes;
    for (int v : values) bytes += le(static_cast<std::uint16_t>(v), 2);
    return bytes;
}

inline std::string wav16(const std::vector<int>& values) {
    return wav(chunk("fmt ", fmt_body(1, 16)) + chunk("data", samples16(values)));
}

inline std::vector<int> read_all(SoundSource& source, std::int32_t piece = 65536) {
    std::vector<int> values;
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(piece));
    std::int32_t got = 0;
    while ((got = source.read(buffer.data(), piece)) > 0)
        values.insert(values.end(), buffer.begin(), buffer.begin() + got);
    return values;
}

class SoundFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "vellox_sources_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string write(const char* name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        EXPECT_NE(out, nullptr);
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        EXPECT_EQ(std::fclose(out), 0);
        return path;
    }

    // A file of size bytes beginning with head, the rest a hole.
    std::string sparse(const char* name, const std::string& head, std::int64_t size) {
        const std::string path = write(name, head);
        EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
        return path;
    }

    // Opens path as type; errors receives the line the program prints for a failure.
    std::unique_ptr<SoundSource> open(const std::string& path, SoundType type) {
        testing::internal::CaptureStderr();
        std::unique_ptr<SoundSource> source = open_input_source(path.c_str(), type);
        errors = testing::internal::GetCapturedStderr();
        return source;
    }

    std::string dir;
    std::string errors;
};

}  // namespace source_test
}  // namespace vellox
