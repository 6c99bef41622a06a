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

#include "acm/acm_format.h"

// libsndfile 1.2 loses the Vorbis decoder's state when a damaged Ogg Vorbis file fails to
// open (a few kilobytes, once per file): LeakSanitizer is told to let that one pass, so that
// it keeps watching everything else. Not inline: this strong definition must win over the
// runtime's weak one, and each fuzzer is one file that includes this header once.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbis.so\n"; }

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

// An ACM file from fuzz bytes: levels (low four bits of data[0]), two bytes of subblocks and
// two of the sample count make a valid header, and the bytes after them are its block stream.
// False for fewer than 5 bytes, or blocks of more than 2^18 values (1 MiB): larger ones only
// explore allocation, not decoding.
inline bool acm_file_from(const std::uint8_t* data, std::size_t size,
                          std::vector<std::uint8_t>* file, std::uint32_t* sample_count) {
    if (size < 5) return false;
    const int levels = data[0] & 15;
    const int subblocks = 1 + (((data[1] << 8) | data[2]) % 4095);
    if ((static_cast<std::int64_t>(subblocks) << levels) > (1 << 18)) return false;
    // Up to 65535 samples: past the end of the stream every block decodes as silence, and
    // reading on only slows the fuzzer down.
    *sample_count = static_cast<std::uint32_t>((data[3] << 8) | data[4]);
    vellox::AcmHeader header;
    header.sample_count = *sample_count;
    header.levels_subblocks = vellox::pack_levels_subblocks(levels, subblocks);
    file->assign(vellox::acm_header_size, 0);
    vellox::encode_acm_header(header, file->data());
    file->insert(file->end(), data + 5, data + size);
    return true;
}

}  // namespace vellox::fuzz
