#pragma once
// The one interface over every input kind: a stream of signed 16-bit samples with a known
// count, read in chunks and padded with zeros past its end; the raw PCM and WAV readers; and
// the factory that picks the kind, by name or by looking at the file.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
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
    // recognition stay silent.
    [[nodiscard]] virtual bool open(bool report) = 0;

    // The kind's name for the report line.
    virtual const char* type_name() const = 0;

    // Fills all count places of buffer; returns how many came from the file, the rest are 0.
    virtual std::int32_t read(std::int16_t* buffer, std::int32_t count) = 0;

    // One sample through read, or 0 when none was read.
    std::int16_t read_sample();

    // Blocks of the input that could not be decoded so far (only ACM input has blocks).
    virtual std::int64_t failed_blocks() const { return 0; }

    // errno of the first failed read of the file, 0 when every read went well.
    int read_error() const { return read_errno; }

    // True after a failed open that recognised the file as this kind but refused it (an
    // unsupported WAV file, an input too long): automatic detection stops there.
    bool was_refused() const { return refused; }

    std::int32_t total_samples = 0;      // samples delivered in all; 0 until opened
    std::int32_t remaining_samples = 0;  // samples not yet delivered (ACM: not yet decoded)
    int is_16bit = 1;                    // 1: the stored samples are 16-bit, 0: 8-bit

protected:
    std::FILE* file = nullptr;  // owned; opened "rb" by open
    std::string file_name;      // own copy, for opening and for messages
    int read_errno = 0;         // see read_error
    bool refused = false;       // see was_refused
};

// An opened source for type, owned by the caller, or nullptr after printing why not.
[[nodiscard]] std::unique_ptr<SoundSource> open_sound_source(const char* file_name,
                                                             SoundType type);

}  // namespace vellox
