// Sound sources: the base, the raw PCM and WAV readers, and the factory with its detection.

// File sizes and positions are 64-bit even where off_t would default to 32 bits.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "sources/sound_source.h"

#include <fcntl.h>      // ::open, ::fcntl, O_*
#include <sys/stat.h>   // ::fstat, S_IS*
#include <sys/types.h>  // off_t
#include <unistd.h>     // ::close, ::pread

#include <algorithm>  // std::min, std::max, std::fill
#include <cassert>    // assert
#include <cerrno>     // errno, EISDIR, ESPIPE, EIO
#include <cmath>      // std::isnan, std::round
#include <cstring>    // std::memcpy

#include "acm/acm_format.h"
#include "common/alloc.h"
#include "frontend/errors.h"
#include "frontend/messages.h"
#include "sources/acm_source.h"

namespace vellox {

static_assert(sizeof(off_t) >= 8, "file sizes beyond 4 GiB must be representable");

namespace {

constexpr std::int64_t max_samples = 2147483647;  // the largest signed 32-bit count

std::uint32_t u16_le(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8;
}

std::uint32_t u32_le(const unsigned char* bytes) { return u16_le(bytes) | u16_le(bytes + 2) << 16; }

std::uint64_t u64_le(const unsigned char* bytes) {
    return u32_le(bytes) | static_cast<std::uint64_t>(u32_le(bytes + 4)) << 32;
}

bool same_id(const unsigned char* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

// The signed 16-bit sample stored as the bytes low, high.
std::int16_t int16_from_bytes(unsigned char low, unsigned char high) {
    std::int32_t value = low | high << 8;
    if (value >= 32768) value -= 65536;
    return static_cast<std::int16_t>(value);
}

// A real sample, full scale at +-1.0, as a 16-bit sample: x * 32768 rounded half away from
// zero and saturated. NaN carries no level at all and becomes silence.
std::int16_t int16_from_real(double x) {
    const double scaled = x * 32768.0;
    if (std::isnan(scaled)) return 0;
    const double rounded = std::round(scaled);
    if (rounded >= 32767.0) return 32767;
    if (rounded <= -32768.0) return -32768;
    return static_cast<std::int16_t>(rounded);
}

}  // namespace

// ---- SoundSource ----

SoundSource::SoundSource(const char* name) : file_name(name) {}

SoundSource::~SoundSource() {
    if (file != nullptr) std::fclose(file);
}

std::int16_t SoundSource::read_sample() {
    std::int16_t sample = 0;
    return read(&sample, 1) == 1 ? sample : 0;
}

int SoundSource::descriptor() const { return file != nullptr ? ::fileno(file) : -1; }

bool SoundSource::refuse_unreadable() {
    print_system_error(file_name.c_str());
    refused = true;
    return false;
}

bool SoundSource::open_file() {
    const bool by_name = given_descriptor < 0;
    // Opened without blocking, so that a pipe nobody writes to fails below instead of waiting
    // for a writer; the flag is cleared again before any read. A given descriptor is
    // duplicated, so that the source can close its own file like any other.
    const int descriptor = by_name ? ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                                   : ::fcntl(given_descriptor, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) return refuse_unreadable();
    struct stat info {};
    bool usable = ::fstat(descriptor, &info) == 0;
    if (usable && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        // The driver needs the sample count before the first read: only what has a size is read.
        errno = S_ISDIR(info.st_mode) ? EISDIR : ESPIPE;
        usable = false;
    }
    if (usable && by_name) {
        const int flags = ::fcntl(descriptor, F_GETFL);
        usable = flags >= 0 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (usable) {
        file = ::fdopen(descriptor, "rb");
        usable = file != nullptr;
    }
    if (!usable) {
        const int error_number = errno;
        ::close(descriptor);
        errno = error_number;
        return refuse_unreadable();
    }
    off_t size = -1;
    if (::fseeko(file, 0, SEEK_END) != 0 || (size = ::ftello(file)) < 0 ||
        ::fseeko(file, 0, SEEK_SET) != 0) {
        return refuse_unreadable();
    }
    file_size = static_cast<std::int64_t>(size);
    return true;
}

// ---- RawPcmSource ----

RawPcmSource::RawPcmSource(const char* name, bool sixteen_bit) : SoundSource(name) {
    if (!sixteen_bit) {
        is_16bit = 0;
        format = SampleFormat::unsigned8;
    }
}

bool RawPcmSource::open(bool /*report*/) {
    if (!open_file()) return false;
    // An odd last byte of 16-bit data is dropped.
    return set_sample_count(is_16bit != 0 ? file_size >> 1 : file_size);
}

bool RawPcmSource::begins_like_another_format() const {
    // The formats a sound file given by mistake most likely has; WAV, RF64 and usable ACM
    // files never come here, as their own kinds take them first.
    static constexpr const char* signatures[] = {
        "RIFF",                  // RIFF with a form other than WAVE (AVI, RMID, ...)
        "RF64", "RIFX", "FORM",  // the last: AIFF and AIFC
        "fLaC", "OggS", "ID3",   // the last: MP3 with a tag in front
        "caff", ".snd", "wvpk", "MThd",
    };
    unsigned char head[4] = {};
    // pread leaves both the file position and the stream's buffer alone.
    const ssize_t got = ::pread(::fileno(file), head, sizeof head, 0);
    if (got <= 0) return false;
    for (const char* signature : signatures) {
        const std::size_t length = std::strlen(signature);
        if (static_cast<std::size_t>(got) >= length && std::memcmp(head, signature, length) == 0) {
            return true;
        }
    }
    // The ACM magic in front of a header that is too short or has no rows per block.
    return got == sizeof head && u32_le(head) == acm_magic;
}

std::int32_t RawPcmSource::stored_bytes(SampleFormat sample_format) {
    constexpr std::int32_t widths[] = {1, 2, 3, 4, 4, 8};  // in SampleFormat order
    return widths[static_cast<int>(sample_format)];
}

bool RawPcmSource::set_sample_count(std::int64_t samples) {
    if (samples > max_samples) {
        print_error(message_text(Message::input_too_long), file_name.c_str());
        refused = true;
        return false;
    }
    total_samples = static_cast<std::int32_t>(samples);
    remaining_samples = total_samples;
    return true;
}

std::int32_t RawPcmSource::read(std::int16_t* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int32_t n = std::min(count, remaining_samples);
    std::int32_t got = 0;
    if (n > 0) {
        const auto items = static_cast<std::size_t>(n);
        switch (format) {
            case SampleFormat::unsigned8: {
                got = static_cast<std::int32_t>(std::fread(buffer, 1, items, file));
                // Widened in place from the last byte to the first: sample i takes bytes 2i and
                // 2i + 1, which byte i and the bytes before it never need again.
                const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer);
                for (std::int32_t i = got; i-- > 0;) {
                    buffer[i] = static_cast<std::int16_t>((bytes[i] - 128) * 256);
                }
                break;
            }
            case SampleFormat::signed16:
                got = static_cast<std::int32_t>(std::fread(buffer, 2, items, file));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                for (std::int32_t i = 0; i < got; ++i) {
                    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer + i);
                    buffer[i] = int16_from_bytes(bytes[0], bytes[1]);
                }
#endif
                break;
            default:
                got = read_staged(buffer, n);
                break;
        }
        if (got < n && read_errno == 0 && std::ferror(file) != 0) {
            read_errno = errno != 0 ? errno : EIO;
        }
    }
    std::fill(buffer + got, buffer + count, static_cast<std::int16_t>(0));
    remaining_samples -= got;
    return got;
}

std::int32_t RawPcmSource::read_staged(std::int16_t* buffer, std::int32_t n) {
    assert(staging != nullptr);
    const auto width = static_cast<std::size_t>(stored_bytes(format));
    std::int32_t done = 0;
    while (done < n) {
        const std::int32_t piece = std::min(n - done, staging_samples);
        const auto items = static_cast<std::int32_t>(
            std::fread(staging.get(), width, static_cast<std::size_t>(piece), file));
        const unsigned char* in = staging.get();
        std::int16_t* out = buffer + done;
        switch (format) {
            case SampleFormat::signed24:  // the top 16 of 24 bits: the upper two bytes
                for (std::int32_t i = 0; i < items; ++i, in += 3) {
                    out[i] = int16_from_bytes(in[1], in[2]);
                }
                break;
            case SampleFormat::signed32:  // the top 16 of 32 bits
                for (std::int32_t i = 0; i < items; ++i, in += 4) {
                    out[i] = int16_from_bytes(in[2], in[3]);
                }
                break;
            case SampleFormat::float32:
                for (std::int32_t i = 0; i < items; ++i, in += 4) {
                    const std::uint32_t bits = u32_le(in);
                    float value = 0;
                    std::memcpy(&value, &bits, sizeof value);
                    out[i] = int16_from_real(static_cast<double>(value));
                }
                break;
            case SampleFormat::float64:
                for (std::int32_t i = 0; i < items; ++i, in += 8) {
                    const std::uint64_t bits =
                        u32_le(in) | static_cast<std::uint64_t>(u32_le(in + 4)) << 32;
                    double value = 0;
                    std::memcpy(&value, &bits, sizeof value);
                    out[i] = int16_from_real(value);
                }
                break;
            default:
                break;
        }
        done += items;
        if (items < piece) break;
    }
    return done;
}

// ---- WavSource ----

WavSource::WavSource(const char* name) : RawPcmSource(name, true) {}

bool WavSource::open(bool report) {
    if (!open_file()) return false;
    unsigned char head[12];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (got != sizeof head && std::ferror(file) != 0) return refuse_unreadable();
    const bool rf64 = same_id(head, "RF64");
    if (got != sizeof head || !(same_id(head, "RIFF") || rf64) || !same_id(head + 8, "WAVE")) {
        if (report) print_error(message_text(Message::not_a_wav_file), file_name.c_str());
        return false;
    }
    // From here on the file is taken as WAV: whatever fails stops the detection, so that a
    // WAV file is never converted as raw samples, header and all.
    const std::int64_t data_bytes = find_data(rf64);
    if (data_bytes < 0) {
        print_error(message_text(Message::unsupported_wav_format), file_name.c_str());
        refused = true;
        return false;
    }
    const std::int64_t width = stored_bytes(format);
    if (!set_sample_count(data_bytes / width)) return false;
    if (width > 2) {
        staging = allocate_array<unsigned char>(staging_samples * width);
        if (staging == nullptr) {
            print_error(message_text(Message::cannot_allocate_memory), nullptr);
            refused = true;
            return false;
        }
    }
    return true;
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
        return false;
    }
    // Everything wider than 8 bits is delivered, and budgeted, as 16-bit samples.
    is_16bit = format == SampleFormat::unsigned8 ? 0 : 1;
    channels = static_cast<std::int32_t>(u16_le(body + 2));
    sample_rate = u32_le(body + 4);
    return true;
}

// ---- the factory ----

namespace {

// The automatic candidates with a header, in the order they are tried.
std::unique_ptr<SoundSource> make_candidate(int index, const char* name) {
    if (index == 0) return make_object<WavSource>(name);
    return make_object<AcmSource>(name);
}

}  // namespace

std::unique_ptr<SoundSource> open_sound_source(const char* file_name, SoundType type,
                                               int descriptor) {
    if (type == SoundType::automatic) {
        for (int index = 0; index < 2; ++index) {
            std::unique_ptr<SoundSource> source = make_candidate(index, file_name);
            if (source == nullptr) {
                // Going on could read a WAV or ACM file as raw samples, header and all.
                print_error(message_text(Message::cannot_allocate_memory), nullptr);
                return nullptr;
            }
            source->read_from_descriptor(descriptor);
            if (source->open(false)) return source;
            if (source->was_refused()) return nullptr;
        }
        std::unique_ptr<RawPcmSource> raw = make_object<RawPcmSource>(file_name, true);
        if (raw == nullptr) {
            print_error(message_text(Message::cannot_allocate_memory), nullptr);
            return nullptr;
        }
        raw->read_from_descriptor(descriptor);
        if (!raw->open(false)) return nullptr;
        if (raw->begins_like_another_format()) {
            print_error(message_text(Message::unsupported_format), file_name);
            return nullptr;
        }
        return raw;
    }
    std::unique_ptr<SoundSource> source;
    switch (type) {
        case SoundType::raw8:
            source = make_object<RawPcmSource>(file_name, false);
            break;
        case SoundType::raw16:
            source = make_object<RawPcmSource>(file_name, true);
            break;
        case SoundType::wav:
            source = make_object<WavSource>(file_name);
            break;
        default:
            source = make_object<AcmSource>(file_name);
            break;
    }
    if (source == nullptr) {
        print_error(message_text(Message::cannot_allocate_memory), nullptr);
        return nullptr;
    }
    source->read_from_descriptor(descriptor);
    if (!source->open_and_report()) return nullptr;
    return source;
}

}  // namespace vellox
