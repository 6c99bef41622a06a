#pragma once
// The fuzz input as a file: the readers take file names, so each run writes its bytes to one
// file in memory-backed storage and reuses it. The files are removed when the fuzzer ends.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vellox::fuzz {

// The path of this process's scratch file with the given suffix; removed at exit.
inline std::string scratch_file_name(const std::string& suffix) {
    static std::vector<std::string> names;  // every name handed out, for the clean-up
    static const std::string base = [] {
        std::atexit([] {
            for (const std::string& name : names) std::remove(name.c_str());
        });
        const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(folder) + "/vellox-fuzz-" + std::to_string(getpid());
    }();
    const std::string name = base + suffix;
    bool known = false;
    for (const std::string& n : names) known = known || n == name;
    if (!known) names.push_back(name);
    return name;
}

inline const std::string& fuzz_file_name() {
    static const std::string name = scratch_file_name("");
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
