// The factory of sound sources and automatic detection.

#include "sources/source_detection.h"

#include <unistd.h>  // ::pread

#include <cstring>  // std::memcmp, std::strlen

#include "acm/acm_format.h"
#include "common/alloc.h"
#include "sources/acm_source.h"
#include "sources/little_endian.h"
#include "sources/raw_pcm_source.h"
#include "sources/wav_source.h"

namespace vellox {

namespace {

// The kinds with a header, in the order automatic detection tries them; what none of them
// recognises is read as raw 16-bit samples.
constexpr SoundType detected_types[] = {SoundType::wav, SoundType::acm};

// A source of type (not automatic) for file_name, not opened yet; null when it cannot be had.
std::unique_ptr<SoundSource> make_source(SoundType type, const char* file_name) {
    switch (type) {
        case SoundType::raw8:
            return make_object<RawPcmSource>(file_name, false);
        case SoundType::wav:
            return make_object<WavSource>(file_name);
        case SoundType::acm:
            return make_object<AcmSource>(file_name);
        default:
            return make_object<RawPcmSource>(file_name, true);
    }
}

OpenedSource open_as(SoundType type, const char* file_name, int descriptor) {
    OpenedSource opened{make_source(type, file_name), OpenResult::refused(Refusal::no_memory)};
    // Under detection this stops too: going on could read a WAV or ACM file as raw samples,
    // header and all.
    if (opened.source == nullptr) return opened;
    opened.source->read_from_descriptor(descriptor);
    opened.result = opened.source->open();
    if (!opened.result.ok()) opened.source.reset();
    return opened;
}

// True when the file open as descriptor begins like a sound or container format that is not
// read here (FLAC, Ogg, AIFF, RIFF other than WAVE, an ACM header that cannot be used, ...),
// so that automatic detection does not turn it into noise. The read position stays.
bool begins_like_another_format(int descriptor) {
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
    const ssize_t got = ::pread(descriptor, head, sizeof head, 0);
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

}  // namespace

OpenedSource open_sound_source(const char* file_name, SoundType type, int descriptor) {
    if (type != SoundType::automatic) return open_as(type, file_name, descriptor);
    for (const SoundType kind : detected_types) {
        OpenedSource opened = open_as(kind, file_name, descriptor);
        if (!opened.result.not_this_kind()) return opened;
    }
    OpenedSource raw = open_as(SoundType::raw16, file_name, descriptor);
    if (raw.result.ok() && begins_like_another_format(raw.source->descriptor())) {
        return {nullptr, OpenResult::refused(Refusal::unsupported_format)};
    }
    return raw;
}

}  // namespace vellox
