#pragma once
// The fuzz input as a file: the readers take file names, so each run writes its bytes to one
// file in memory-backed storage and reuses it.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vellox::fuzz {

inline const std::string& fuzz_file_name() {
    static const std::string name = [] {
        const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(folder) + "/vellox-fuzz-" + std::to_string(getpid());
    }();
    return name;
}

inline const char* write_fuzz_file(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(fuzz_file_name().c_str(), "wb");
    if (f == nullptr) __builtin_trap();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) __builtin_trap();
    std::fclose(f);
    return fuzz_file_name().c_str();
}

}  // namespace vellox::fuzz
