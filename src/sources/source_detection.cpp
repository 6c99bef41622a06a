// The factory of sound sources and automatic detection.

#include "sources/source_detection.h"

#include <unistd.h>  // ::pread

#include <cstring>  // std::memcmp
#include <utility>  // std::move

#include "acm/acm_format.h"
#include "common/alloc.h"
#include "sources/acm_source.h"
#include "sources/little_endian.h"
#include "sources/mpeg_audio.h"
#include "sources/raw_pcm_source.h"
#include "sources/sndfile_source.h"
#include "sources/wav_source.h"

namespace vellox {

namespace {

// The kinds with a header of their own, in the order automatic detection tries them; what none
// of them recognises is looked at for another format's signature, and is otherwise read as raw
// 16-bit samples.
constexpr SoundType detected_types[] = {SoundType::wav, SoundType::acm};

// What detection does with a file that neither the WAV nor the ACM reader takes, by how it
// begins.
enum class Foreign {
    none,        // raw 16-bit samples
    unreadable,  // a format nothing here reads: refused
    // A format libsndfile reads: refused when it cannot read the file after all, and without
    // libsndfile in the build.
    sndfile,
    // A signature that raw samples were once taken for, and MPEG frames: raw samples again when
    // libsndfile cannot read the file. Without libsndfile signatures stay raw samples, while
    // MPEG frames are refused: an MP3 file is no noise to encode.
    sndfile_or_raw,
    mpeg_frames,
};

// The formats a sound file given by mistake most likely has, and those libsndfile reads that
// have a signature of their own. WAV, RF64 and usable ACM files never come here, as their own
// readers take them first; formats without a signature that raw samples could not have (MAT4,
// HTK, SDS, IRCAM, MPC2K, SD2) are not looked for.
struct Signature {
    const char* bytes;
    std::size_t length;
    Foreign kind;
};
constexpr Signature signatures[] = {
    {"RIFF", 4, Foreign::unreadable},  // RIFF with a form other than WAVE (AVI, RMID, ...)
    {"RF64", 4, Foreign::unreadable},
    {"wvpk", 4, Foreign::unreadable},
    {"MThd", 4, Foreign::unreadable},
    {"RIFX", 4, Foreign::sndfile},  // big-endian WAV
    {"FORM", 4, Foreign::sndfile},  // AIFF, AIFC, 8SVX, 16SV
    {"fLaC", 4, Foreign::sndfile},
    {"OggS", 4, Foreign::sndfile},  // Vorbis, Opus, FLAC
    {"ID3", 3, Foreign::sndfile},   // MP3 with a tag in front
    {"caff", 4, Foreign::sndfile},
    {".snd", 4, Foreign::sndfile},         // AU
    {"riff", 4, Foreign::sndfile_or_raw},  // W64
    {"dns.", 4, Foreign::sndfile_or_raw},  // little-endian AU
    {"NIST", 4, Foreign::sndfile_or_raw},
    {"Creative", 8, Foreign::sndfile_or_raw},  // VOC
    {"fap ", 4, Foreign::sndfile_or_raw},      // PAF, both byte orders
    {" paf", 4, Foreign::sndfile_or_raw},
    {"MATLAB 5", 8, Foreign::sndfile_or_raw},
    {"PVF1", 4, Foreign::sndfile_or_raw},
    {"Extended Ins", 12, Foreign::sndfile_or_raw},  // XI
    {"ALawSoundFil", 12, Foreign::sndfile_or_raw},  // WVE
    {"2BIT", 4, Foreign::sndfile_or_raw},           // AVR
};

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

// Opens source on descriptor; the source is dropped unless it opened.
OpenedSource open_source(std::unique_ptr<SoundSource> source, int descriptor) {
    OpenedSource opened{std::move(source), OpenResult::refused(Refusal::no_memory)};
    // Under detection this stops too: going on could read a WAV or ACM file as raw samples,
    // header and all.
    if (opened.source == nullptr) return opened;
    opened.source->read_from_descriptor(descriptor);
    opened.result = opened.source->open();
    if (!opened.result.ok()) opened.source.reset();
    return opened;
}

OpenedSource open_as(SoundType type, const char* file_name, int descriptor) {
    return open_source(make_source(type, file_name), descriptor);
}

// True when a refusal of libsndfile's means that it does not read the file (or is not there),
// so that the caller's own answer stands.
bool sndfile_declined(const OpenedSource& opened) {
    return opened.result.outcome == OpenResult::Outcome::refused &&
           (opened.result.reason == Refusal::unsupported_format ||
            opened.result.reason == Refusal::needs_sndfile);
}

// The WAV reader; a RIFF/WAVE or RF64 file it refuses as unsupported (mu-law, A-law, ADPCM,
// GSM, ...) goes to libsndfile before it is refused.
OpenedSource open_wav(const char* file_name, int descriptor) {
    std::unique_ptr<WavSource> wav = make_object<WavSource>(file_name);
    if (wav == nullptr) return {nullptr, OpenResult::refused(Refusal::no_memory)};
    wav->read_from_descriptor(descriptor);
    const OpenResult result = wav->open();
    if (result.ok()) return {std::move(wav), result};
    if (result.outcome != OpenResult::Outcome::refused ||
        result.reason != Refusal::unsupported_wav_format) {
        return {nullptr, result};
    }
    const bool sample_format = wav->refused_sample_format();
    wav.reset();
    OpenedSource foreign = open_source(make_object<SndfileSource>(file_name), descriptor);
    if (!sndfile_declined(foreign)) return foreign;
    // Without libsndfile a sample format that it may read is refused for that reason; a file
    // whose chunks are malformed stays an unsupported WAV file.
    if (sample_format && foreign.result.reason == Refusal::needs_sndfile) return foreign;
    return {nullptr, result};
}

// How the file open as descriptor begins. The read position stays.
Foreign foreign_kind(int descriptor) {
    // Two MPEG frame headers in a row need room for the longest frame (2881 bytes).
    unsigned char head[4096] = {};
    // pread leaves both the file position and the stream's buffer alone.
    const ssize_t got = ::pread(descriptor, head, sizeof head, 0);
    if (got <= 0) return Foreign::none;
    const auto size = static_cast<std::size_t>(got);
    for (const Signature& signature : signatures) {
        if (size >= signature.length && std::memcmp(head, signature.bytes, signature.length) == 0) {
            return signature.kind;
        }
    }
    // The ACM magic in front of a header that is too short or has no rows per block.
    if (size >= 4 && u32_le(head) == acm_magic) return Foreign::unreadable;
    return begins_with_mpeg_frames(head, size) ? Foreign::mpeg_frames : Foreign::none;
}

// What none of the readers with a header took: another format, or raw 16-bit samples.
OpenedSource open_headerless(const char* file_name, int descriptor) {
    OpenedSource raw = open_as(SoundType::raw16, file_name, descriptor);
    if (!raw.result.ok()) return raw;
    const Foreign kind = foreign_kind(raw.source->descriptor());
    if (kind == Foreign::none) return raw;
    if (kind == Foreign::unreadable)
        return {nullptr, OpenResult::refused(Refusal::unsupported_format)};
    // Both would read the same file position: only one source is open at a time.
    raw.source.reset();
    OpenedSource foreign = open_source(make_object<SndfileSource>(file_name), descriptor);
    if (!sndfile_declined(foreign)) return foreign;
    const bool raw_again =
        kind == Foreign::sndfile_or_raw ||
        (kind == Foreign::mpeg_frames && foreign.result.reason == Refusal::unsupported_format);
    if (raw_again) return open_as(SoundType::raw16, file_name, descriptor);
    return foreign;
}

}  // namespace

OpenedSource open_sound_source(const char* file_name, SoundType type, int descriptor) {
    if (type == SoundType::wav) return open_wav(file_name, descriptor);
    if (type != SoundType::automatic) return open_as(type, file_name, descriptor);
    for (const SoundType kind : detected_types) {
        OpenedSource opened = kind == SoundType::wav ? open_wav(file_name, descriptor)
                                                     : open_as(kind, file_name, descriptor);
        if (!opened.result.not_this_kind()) return opened;
    }
    return open_headerless(file_name, descriptor);
}

}  // namespace vellox
