// The WAV and RF64 reader: the chunk walk to "data", the "fmt " body and the sample formats.

// File sizes and positions are 64-bit even where off_t would default to 32 bits.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "sources/wav_source.h"

#include <sys/types.h>  // off_t

#include <algorithm>  // std::min, std::max
#include <cerrno>     // errno
#include <cstdio>     // std::fread, std::ferror, fseeko
#include <cstring>    // std::memcmp

#include "common/alloc.h"
#include "sources/little_endian.h"

namespace vellox {

namespace {

bool same_id(const unsigned char* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

}  // namespace

WavSource::WavSource(const char* name) : RawPcmSource(name, true) {}

OpenResult WavSource::open() {
    const OpenResult opened = open_file();
    if (!opened.ok()) return opened;
    unsigned char head[12];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (got != sizeof head && std::ferror(file) != 0) return OpenResult::failed(errno);
    const bool rf64 = same_id(head, "RF64");
    if (got != sizeof head || !(same_id(head, "RIFF") || rf64) || !same_id(head + 8, "WAVE")) {
        return OpenResult::refused(Refusal::not_a_wav_file);
    }
    // From here on the file is taken as WAV: whatever fails stops the detection, so that a
    // WAV file is never converted as raw samples, header and all.
    const std::int64_t data_bytes = find_data(rf64);
    if (data_bytes < 0) return OpenResult::refused(Refusal::unsupported_wav_format);
    const std::int64_t width = stored_bytes(format);
    const OpenResult counted = set_sample_count(data_bytes / width);
    if (!counted.ok()) return counted;
    if (width > 2) {
        staging = allocate_array<unsigned char>(staging_samples * width);
        if (staging == nullptr) return OpenResult::refused(Refusal::no_memory);
    }
    return OpenResult::opened();
}

std::int64_t WavSource::find_data(bool rf64) {
    std::int64_t position = 12;  // bytes of the file behind us
    bool have_format = false;
    std::uint64_t ds64_data_size = 0;  // RF64: the data size from "ds64"
    bool have_ds64 = false;
    unsigned char header[8];
    // Writers put a handful of chunks before "data"; the bound keeps a hostile file of
    // gigabytes of empty chunks from being walked 8 bytes at a time.
    constexpr int max_chunks = 65536;
    for (int chunks = 0;
         chunks < max_chunks && std::fread(header, 1, sizeof header, file) == sizeof header;
         ++chunks) {
        position += 8;
        const std::int64_t size = u32_le(header + 4);
        if (same_id(header, "data")) {
            if (!have_format) return -1;
            std::uint64_t data_size = static_cast<std::uint64_t>(size);
            // RF64 states 0xFFFFFFFF here and the real size in "ds64".
            if (rf64 && size == 0xFFFFFFFF) {
                if (!have_ds64) return -1;
                data_size = ds64_data_size;
            }
            // Writers that stream to a pipe cannot come back to fill in the size and leave a
            // placeholder (0x7FFFF000, 0x7FFFFFFF, 0xFFFFFFFF): the data ends with the file.
            const std::int64_t left = std::max<std::int64_t>(0, file_size - position);
            return data_size < static_cast<std::uint64_t>(left)
                       ? static_cast<std::int64_t>(data_size)
                       : left;
        }
        std::int64_t skip = size + (size & 1);  // an odd-sized chunk is followed by a pad byte
        if (rf64 && same_id(header, "ds64")) {
            // The RIFF size, the data size and the sample count, 64 bits each, then a table
            // of other chunks' sizes that nothing here needs.
            constexpr std::int64_t used = 16;
            unsigned char body[used];
            if (size < used || std::fread(body, 1, sizeof body, file) != sizeof body) return -1;
            ds64_data_size = u64_le(body + 8);
            have_ds64 = true;
            position += used;
            skip -= used;
        }
        if (same_id(header, "fmt ")) {
            // 16 bytes for plain PCM, 18 with the extension size, 40 for the extensible form;
            // the first 26 reach the sub-format tag.
            constexpr std::int64_t used_size = 26;
            if (size < 16) return -1;
            unsigned char body[used_size] = {};
            const std::int64_t used = std::min(size, used_size);
            if (std::fread(body, 1, static_cast<std::size_t>(used), file) !=
                    static_cast<std::size_t>(used) ||
                !take_format(body, used)) {
                return -1;
            }
            have_format = true;
            position += used;
            skip -= used;
        }
        // Any other chunk ("LIST", "fact", "JUNK", "bext", ...) is skipped wherever it stands.
        // One that runs past the end leaves no room for "data".
        if (skip > file_size - position) return -1;
        if (skip > 0 && ::fseeko(file, static_cast<off_t>(skip), SEEK_CUR) != 0) return -1;
        position += skip;
    }
    return -1;  // the end, or too many chunks, came before "data"
}

bool WavSource::take_format(const unsigned char* body, std::int64_t size) {
    constexpr std::uint32_t integer_pcm = 1;
    constexpr std::uint32_t ieee_float = 3;
    constexpr std::uint32_t extensible = 0xFFFE;  // the real tag opens the sub-format GUID
    std::uint32_t tag = u16_le(body);
    if (tag == extensible) {
        if (size < 26) return false;
        tag = u16_le(body + 24);
    }
    const std::uint32_t bits = u16_le(body + 14);
    // The layout, whatever the samples: a format not read here may still be read elsewhere.
    channels = static_cast<std::int32_t>(u16_le(body + 2));
    sample_rate = u32_le(body + 4);
    if (tag == integer_pcm && bits == 8) {
        format = SampleFormat::unsigned8;
    } else if (tag == integer_pcm && bits == 16) {
        format = SampleFormat::signed16;
    } else if (tag == integer_pcm && bits == 24) {
        format = SampleFormat::signed24;
    } else if (tag == integer_pcm && bits == 32) {
        format = SampleFormat::signed32;
    } else if (tag == ieee_float && bits == 32) {
        format = SampleFormat::float32;
    } else if (tag == ieee_float && bits == 64) {
        format = SampleFormat::float64;
    } else {
        sample_format_not_read = true;
        return false;
    }
    // Everything wider than 8 bits is delivered, and budgeted, as 16-bit samples.
    is_16bit = format == SampleFormat::unsigned8 ? 0 : 1;
    return true;
}

}  // namespace vellox
