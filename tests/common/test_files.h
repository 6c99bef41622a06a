#pragma once
// Files for unit tests: a text file removed at the end of the test, and the whole content of
// an open stream.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vellox::test {

// A text file in the test's temporary directory, removed at the end of the test.
class TextFile {
public:
    explicit TextFile(const std::string& text) {
        // A unique name: tests run in parallel processes that share the folder.
        path = testing::TempDir() + "vellox_text_XXXXXX";
        const int descriptor = mkstemp(path.data());
        std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "w") : nullptr;
        if (file != nullptr) {
            std::fputs(text.c_str(), file);
            std::fclose(file);
        }
    }
    ~TextFile() { std::remove(path.c_str()); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    std::string path;
};

// Every byte of file, after flushing what is buffered.
inline std::vector<std::uint8_t> stream_bytes(std::FILE* file) {
    std::vector<std::uint8_t> bytes;
    std::fflush(file);
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    return bytes;
}

// The file bytes of a bit stream: the bits 8 to a byte from bit 0, without the zero bytes at
// its end (the writer never writes them).
inline std::vector<std::uint8_t> stream_file_bytes(const std::vector<bool>& bits) {
    std::vector<std::uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i]) bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | (1 << (i % 8)));
    }
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    return bytes;
}

}  // namespace vellox::test
