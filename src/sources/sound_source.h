#pragma once
// The one interface over every input kind: a stream of signed 16-bit samples with a known
// count, read in chunks and padded with zeros past its end; the raw PCM and WAV readers; and
// the factory that picks the kind, by name or by looking at the file.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint32_t
#include <cstdio>   // std::FILE
#include <memory>   // std::unique_ptr
#include <string>   // std::string

namespace vellox {

// The input kinds the command line can name; automatic lets the factory detect it.
enum class SoundType { automatic, raw8, raw16, wav, acm };

class SoundSource {
public:
    // Stores a copy of file_name; opens nothing.
    explicit SoundSource(const char* file_name);
    virtual ~SoundSource();  // closes the file when it is open

    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    // open with report on: every failure prints its message.
    [[nodiscard]] bool open_and_report() { return open(true); }

    // Opens the file and reads the kind's header. With report off, failures of the kind's own
    // recognition stay silent; a file that cannot be opened or read at all is always reported.
    [[nodiscard]] virtual bool open(bool report) = 0;

    // Makes open read descriptor (borrowed; open takes a duplicate) instead of opening
    // file_name, which then only names the input in messages ("-" for standard input).
    void read_from_descriptor(int descriptor) { given_descriptor = descriptor; }

    // The descriptor of the opened file; -1 before open.
    int descriptor() const;

    // True for the ACM kind: an input that may be re-encoded onto itself.
    virtual bool is_acm() const { return false; }

    // The kind's name for the report line.
    virtual const char* type_name() const = 0;

    // Fills all count places of buffer; returns how many came from the file, the rest are 0.
    virtual std::int32_t read(std::int16_t* buffer, std::int32_t count) = 0;

    // One sample through read, or 0 when none was read.
    std::int16_t read_sample();

    // Of the first total_samples values handed out so far, those that could not be decoded
    // from the file (only ACM input can lose any).
    virtual std::int64_t samples_not_decoded() const { return 0; }

    // errno of the first failed read of the file, 0 when every read went well.
    int read_error() const { return read_errno; }

    // True after a failed open that recognised the file as this kind but refused it (an
    // unsupported WAV file, an input too long), or found an input that no kind can read (a
    // missing or unreadable file, a directory, a pipe): automatic detection stops there.
    bool was_refused() const { return refused; }

    std::int32_t total_samples = 0;      // samples delivered in all; 0 until opened
    std::int32_t remaining_samples = 0;  // samples not yet delivered (ACM: not yet decoded)
    int is_16bit = 1;                    // 1: the stored samples are 16-bit, 0: 8-bit

protected:
    // Opens file_name (or the given descriptor) for reading as file and sets file_size. Only
    // regular files and block devices are taken: a directory fails with EISDIR's text, a pipe,
    // socket or character device with ESPIPE's (its length is not known beforehand). Every
    // failure prints the system's text with file_name and sets refused: no other kind could
    // read the file either. A pipe without a writer does not block.
    [[nodiscard]] bool open_file();

    // Prints the system's text for errno with file_name, sets refused and returns false.
    bool refuse_unreadable();

    std::FILE* file = nullptr;   // owned; opened "rb" by open
    std::string file_name;       // own copy, for opening and for messages
    int given_descriptor = -1;   // borrowed; read instead of file_name when not -1
    std::int64_t file_size = 0;  // bytes in the file when it was opened
    int read_errno = 0;          // see read_error
    bool refused = false;        // see was_refused
};

// Headerless PCM: 8-bit unsigned or 16-bit signed little-endian samples. Also the reader under
// WavSource, which may set a wider sample format for the data chunk.
class RawPcmSource : public SoundSource {
public:
    RawPcmSource(const char* file_name, bool sixteen_bit);

    // Refuses, with "Input file is too long", a file of more than 2^31 - 1 samples.
    [[nodiscard]] bool open(bool report) override;
    const char* type_name() const override { return is_16bit != 0 ? "RAW16" : "RAW8"; }
    std::int32_t read(std::int16_t* buffer, std::int32_t count) override;

    // True when the opened file begins like a sound or container format that is not read
    // here (FLAC, Ogg, AIFF, RIFF other than WAVE, an ACM header that cannot be used, ...), so
    // that automatic detection does not turn it into noise. The read position stays.
    [[nodiscard]] bool begins_like_another_format() const;

protected:
    // How the stored samples look. The wide ones are read through staging and reduced to 16 bits.
    enum class SampleFormat { unsigned8, signed16, signed24, signed32, float32, float64 };

    // Samples that staging holds (the wide formats take at most 8 bytes each).
    static constexpr std::int32_t staging_samples = 4096;

    // Bytes of one stored sample.
    static std::int32_t stored_bytes(SampleFormat sample_format);

    // Reads and converts up to n samples of a wide format; returns how many were read.
    std::int32_t read_staged(std::int16_t* buffer, std::int32_t n);

    // Stores the size on success; prints "Input file is too long" and refuses the file when
    // samples does not fit the 32-bit count.
    [[nodiscard]] bool set_sample_count(std::int64_t samples);

    SampleFormat format = SampleFormat::signed16;  // how the stored samples look
    std::unique_ptr<unsigned char[]> staging;  // staging_samples stored samples; wide formats only
};

// A RIFF/WAVE file with integer PCM (8, 16, 24 or 32 bits) or IEEE float (32 or 64 bits)
// samples, delivered as 16-bit samples from the "data" chunk on. Also its 64-bit form RF64,
// whose "ds64" chunk holds the data size the 32-bit field cannot.
class WavSource : public RawPcmSource {
public:
    explicit WavSource(const char* file_name);

    // Prints "Not a WAV file" only when report is on; "Unsupported WAV format" always, and then
    // refuses the file.
    [[nodiscard]] bool open(bool report) override;
    const char* type_name() const override { return "WAV"; }

    // The layout "fmt " gives, 0 until opened: what a player of the file reads. The samples
    // are delivered as one interleaved stream whatever it says.
    std::int32_t channels = 0;
    std::uint32_t sample_rate = 0;

private:
    // Walks the chunks up to the start of the "data" body, setting format and is_16bit from
    // "fmt " on the way (and, for RF64, taking the data size from "ds64"); returns the sample
    // data's length in bytes, capped at the end of the file, or -1 when the file is
    // unsupported or malformed.
    std::int64_t find_data(bool rf64);

    // Takes format and is_16bit from a "fmt " body of size bytes (at least 16, the first 26 of
    // them here); false for a format not read.
    [[nodiscard]] bool take_format(const unsigned char* body, std::int64_t size);
};

// An opened source for type, owned by the caller, or nullptr after printing why not. When
// descriptor is not -1, that open file (borrowed) is read and file_name only names it.
[[nodiscard]] std::unique_ptr<SoundSource> open_sound_source(const char* file_name, SoundType type,
                                                             int descriptor = -1);

}  // namespace vellox
