// The libsndfile reader: the file handed to libsndfile through callbacks over the source's own
// stream (libsndfile never opens a name, so a pipe or device cannot reach it), the format's
// name, the frame count, and the samples made 16-bit. Without libsndfile: a refusal.

// File sizes and positions are 64-bit even where off_t would default to 32 bits.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "sources/sndfile_source.h"

#if VELLOX_HAVE_SNDFILE
#include <fcntl.h>  // ::open, ::fcntl, O_*
#include <sndfile.h>
#include <sys/types.h>  // off_t
#include <unistd.h>     // ::pread, ::dup2, ::close

#include <algorithm>  // std::max
#include <cerrno>     // errno, EIO
#include <cstdio>     // std::fread, std::ferror, fseeko, ftello

#include "common/alloc.h"
#include "sources/little_endian.h"
#include "sources/mpeg_audio.h"
#include "sources/sample_conversion.h"
#endif

namespace vellox {

#if VELLOX_HAVE_SNDFILE

namespace {

constexpr std::int64_t max_samples = 2147483647;  // the largest signed 32-bit count
constexpr std::int32_t staging_samples = 8192;    // values decoded per call, in whole frames

// The name of each container libsndfile reports, for the report line. RF64 and the extensible
// form are called WAV, as the WAV reader calls them; MPEG streams are named by their layer.
struct FormatName {
    int major;
    const char* name;
};
constexpr FormatName format_names[] = {
    {SF_FORMAT_WAV, "WAV"},     {SF_FORMAT_WAVEX, "WAV"},   {SF_FORMAT_RF64, "WAV"},
    {SF_FORMAT_AIFF, "AIFF"},   {SF_FORMAT_AU, "AU"},       {SF_FORMAT_RAW, "RAW"},
    {SF_FORMAT_PAF, "PAF"},     {SF_FORMAT_SVX, "SVX"},     {SF_FORMAT_NIST, "NIST"},
    {SF_FORMAT_VOC, "VOC"},     {SF_FORMAT_IRCAM, "IRCAM"}, {SF_FORMAT_W64, "W64"},
    {SF_FORMAT_MAT4, "MAT4"},   {SF_FORMAT_MAT5, "MAT5"},   {SF_FORMAT_PVF, "PVF"},
    {SF_FORMAT_XI, "XI"},       {SF_FORMAT_HTK, "HTK"},     {SF_FORMAT_SDS, "SDS"},
    {SF_FORMAT_AVR, "AVR"},     {SF_FORMAT_SD2, "SD2"},     {SF_FORMAT_FLAC, "FLAC"},
    {SF_FORMAT_CAF, "CAF"},     {SF_FORMAT_WVE, "WVE"},     {SF_FORMAT_OGG, "OGG"},
    {SF_FORMAT_MPC2K, "MPC2K"}, {SF_FORMAT_MPEG, "MP3"},
};

const char* format_name(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_MPEG) {
        const int layer = format & SF_FORMAT_SUBMASK;
        if (layer == SF_FORMAT_MPEG_LAYER_I) return "MP1";
        if (layer == SF_FORMAT_MPEG_LAYER_II) return "MP2";
    }
    for (const FormatName& entry : format_names) {
        if (entry.major == major) return entry.name;
    }
    return "SNDFILE";
}

// True for the encodings that decode to real numbers: float data, and what Vorbis, Opus and
// MPEG decode to. They are read as doubles, exactly as decoded: libsndfile neither scales nor
// clips them. Everything else is read as integers, left-aligned in 32 bits.
bool decodes_to_reals(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III:
            return true;
        default:
            return false;
    }
}

}  // namespace

struct SndfileSource::Decoder {
    Decoder() = default;
    ~Decoder() {
        close();
        if (null_descriptor >= 0) ::close(null_descriptor);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Opens the file from its start through libsndfile; false when it does not read it.
    bool open() {
        SF_VIRTUAL_IO io{&Decoder::length, &Decoder::seek, &Decoder::read_bytes,
                         &Decoder::write_bytes, &Decoder::tell};
        info = SF_INFO{};
        if (::fseeko(file, 0, SEEK_SET) != 0) return false;
        const Quiet quiet(*this, true);
        handle = sf_open_virtual(&io, SFM_READ, &info, this);
        return handle != nullptr;
    }

    void close() {
        if (handle == nullptr) return;
        const Quiet quiet(*this, quiet_decoding);
        sf_close(handle);
        handle = nullptr;
    }

    // Up to frames frames into integer_frames or real_frames; 0 at the end or on a failure.
    std::int64_t decode(std::int32_t* integer_frames, double* real_frames, std::int32_t frames) {
        if (handle == nullptr) return 0;
        const Quiet quiet(*this, quiet_decoding);
        const sf_count_t got = integer_frames != nullptr
                                   ? sf_readf_int(handle, integer_frames, frames)
                                   : sf_readf_double(handle, real_frames, frames);
        return got > 0 ? static_cast<std::int64_t>(got) : 0;
    }

    // Standard error sent to /dev/null while it lives: the MP3 decoder under libsndfile prints
    // its own complaints about damaged streams there, and the console text is the program's.
    class Quiet {
    public:
        Quiet(Decoder& decoder, bool wanted) {
            if (!wanted) return;
            if (decoder.null_descriptor < 0) {
                decoder.null_descriptor = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            }
            if (decoder.null_descriptor < 0) return;
            saved = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
            if (saved >= 0 && ::dup2(decoder.null_descriptor, 2) < 0) {
                ::close(saved);
                saved = -1;
            }
        }
        ~Quiet() {
            if (saved < 0) return;
            ::dup2(saved, 2);
            ::close(saved);
        }
        Quiet(const Quiet&) = delete;
        Quiet& operator=(const Quiet&) = delete;

    private:
        int saved = -1;  // standard error as it was, while it points to /dev/null
    };

    // libsndfile's file callbacks; user is the Decoder.
    static sf_count_t length(void* user) { return static_cast<Decoder*>(user)->file_size; }
    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        std::FILE* stream = static_cast<Decoder*>(user)->file;
        if (::fseeko(stream, static_cast<off_t>(offset), whence) != 0) return -1;
        return static_cast<sf_count_t>(::ftello(stream));
    }
    static sf_count_t read_bytes(void* bytes, sf_count_t count, void* user) {
        auto* decoder = static_cast<Decoder*>(user);
        if (count <= 0) return 0;
        errno = 0;
        const std::size_t got =
            std::fread(bytes, 1, static_cast<std::size_t>(count), decoder->file);
        if (got < static_cast<std::size_t>(count) && std::ferror(decoder->file) != 0 &&
            decoder->error_number == 0) {
            decoder->error_number = errno != 0 ? errno : EIO;
        }
        return static_cast<sf_count_t>(got);
    }
    static sf_count_t write_bytes(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* user) {
        return static_cast<sf_count_t>(::ftello(static_cast<Decoder*>(user)->file));
    }

    std::FILE* file = nullptr;  // borrowed: the source's stream
    std::int64_t file_size = 0;
    int error_number = 0;  // errno of the first failed read
    SNDFILE* handle = nullptr;
    SF_INFO info{};
    bool quiet_decoding = false;  // an MP3 stream: standard error is quiet while decoding
    int null_descriptor = -1;     // /dev/null, once needed
};

SndfileSource::SndfileSource(const char* name) : StagedSource(name) {}

SndfileSource::~SndfileSource() { decoder.reset(); }

bool SndfileSource::available() { return true; }

OpenResult SndfileSource::open() {
    const OpenResult file_opened = open_file();
    if (!file_opened.ok()) return file_opened;
    decoder = make_object<Decoder>();
    if (decoder == nullptr) return OpenResult::refused(Refusal::no_memory);
    decoder->file = file;
    decoder->file_size = file_size;
    const bool readable = decoder->open();
    if (decoder->error_number != 0) return OpenResult::failed(decoder->error_number);
    const SF_INFO& info = decoder->info;
    if (!readable || info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
        return OpenResult::refused(Refusal::unsupported_format);
    }
    const int format = info.format;
    const std::int32_t layout = info.channels;
    kind_name = format_name(format);
    real_samples = decodes_to_reals(format);
    const bool mpeg = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    decoder->quiet_decoding = mpeg;
    staging_frames = std::max(1, staging_samples / layout);
    const std::int64_t values = std::int64_t{staging_frames} * layout;
    staged = allocate_array<std::int16_t>(values);
    if (real_samples) {
        reals = allocate_array<double>(values);
    } else {
        integers = allocate_array<std::int32_t>(values);
    }
    if (staged == nullptr || (reals == nullptr && integers == nullptr)) {
        return OpenResult::refused(Refusal::no_memory);
    }
    std::int64_t frames = info.frames;
    if (frames == SF_COUNT_MAX || (mpeg && !mpeg_frame_count_stated())) {
        frames = count_frames();
        if (decoder->error_number != 0) return OpenResult::failed(decoder->error_number);
        if (frames == -1) return OpenResult::refused(Refusal::input_too_long);
        if (frames < 0) return OpenResult::refused(Refusal::unsupported_format);
    }
    if (frames > max_samples / layout) return OpenResult::refused(Refusal::input_too_long);
    announced_frames = frames;
    total_samples = static_cast<std::int32_t>(frames * layout);
    remaining_samples = total_samples;
    channels = layout;
    sample_rate = static_cast<std::uint32_t>(info.samplerate);
    return OpenResult::opened();
}

bool SndfileSource::mpeg_frame_count_stated() const {
    // The first frame stands behind the ID3v2 tag, where there is one.
    unsigned char head[4096];
    const int file_descriptor = descriptor();
    constexpr std::size_t tag_header = 10;
    const ssize_t tag_got = ::pread(file_descriptor, head, tag_header, 0);
    const std::int64_t start =
        tag_got == static_cast<ssize_t>(tag_header) ? id3v2_tag_size(head, tag_header) : 0;
    const ssize_t got = ::pread(file_descriptor, head, sizeof head, static_cast<off_t>(start));
    return got > 0 && mpeg_states_frame_count(head, static_cast<std::size_t>(got));
}

std::int64_t SndfileSource::count_frames() {
    const SF_INFO first = decoder->info;
    std::int64_t frames = 0;
    for (;;) {
        const std::int64_t got = decoder->decode(integers.get(), reals.get(), staging_frames);
        if (got == 0) break;
        frames += got;
        if (frames > max_samples / first.channels) return -1;
    }
    decoder->close();
    if (decoder->error_number != 0 || !decoder->open()) return -2;
    const SF_INFO& again = decoder->info;
    if (again.format != first.format || again.channels != first.channels ||
        again.samplerate != first.samplerate) {
        return -2;
    }
    return frames;
}

bool SndfileSource::refill() {
    if (decoder_ended) return false;
    const std::int64_t got = decoder->decode(integers.get(), reals.get(), staging_frames);
    if (read_errno == 0) read_errno = decoder->error_number;
    if (got == 0) {
        decoder_ended = true;
        missing_frames = std::max<std::int64_t>(0, announced_frames - decoded_frames);
        return false;
    }
    decoded_frames += got;
    const auto values = static_cast<std::int32_t>(got * channels);
    std::int16_t* out = staged.get();
    if (real_samples) {
        const double* in = reals.get();
        for (std::int32_t i = 0; i < values; ++i) out[i] = int16_from_real(in[i]);
    } else {
        // The top 16 bits: the two upper bytes of the left-aligned 32-bit sample.
        const std::int32_t* in = integers.get();
        for (std::int32_t i = 0; i < values; ++i) {
            const auto bits = static_cast<std::uint32_t>(in[i]);
            out[i] = int16_from_bytes(static_cast<unsigned char>((bits >> 16) & 0xFF),
                                      static_cast<unsigned char>(bits >> 24));
        }
    }
    staged_count = values;
    staged_next = 0;
    return true;
}

#else  // no libsndfile in this build

struct SndfileSource::Decoder {};

SndfileSource::SndfileSource(const char* name) : StagedSource(name) {}

SndfileSource::~SndfileSource() = default;

bool SndfileSource::available() { return false; }

OpenResult SndfileSource::open() { return OpenResult::refused(Refusal::needs_sndfile); }

bool SndfileSource::refill() { return false; }

#endif

}  // namespace vellox
