#pragma once
// SoundSource: the one interface over every input kind, a stream of signed 16-bit samples
// with a known count, read in chunks and padded with zeros past its end; and the opening of
// the file that every kind shares.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t, std::uint32_t
#include <cstdio>   // std::FILE
#include <string>   // std::string

#include "sources/open_result.h"

namespace vellox {

class SoundSource {
public:
    // Stores a copy of file_name; opens nothing.
    explicit SoundSource(const char* file_name);
    virtual ~SoundSource();  // closes the file when it is open

    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    // Opens the file and reads the kind's header.
    virtual OpenResult open() = 0;

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

    // Frames (one sample of every channel) that the file announced but that its decoder did not
    // deliver, so far: a cut or damaged file read through libsndfile. Zeros stand in for them.
    virtual std::int64_t frames_missing() const { return 0; }

    // errno of the first failed read of the file, 0 when every read went well.
    int read_error() const { return read_errno; }

    std::int32_t total_samples = 0;      // samples delivered in all; 0 until opened
    std::int32_t remaining_samples = 0;  // samples not yet delivered (ACM: not yet decoded)
    int is_16bit = 1;                    // 1: the stored samples are 16-bit, 0: 8-bit
    // The layout the file states, 0 when it states none (raw and ACM input) or states 0: the
    // samples of one frame are channels values in a row.
    std::int32_t channels = 0;
    std::uint32_t sample_rate = 0;  // Hz

protected:
    // Opens file_name (or the given descriptor) for reading as file and sets file_size. Only
    // regular files and block devices are taken: a directory fails with EISDIR, a pipe,
    // socket or character device with ESPIPE (its length is not known beforehand). No other
    // kind could read a file that fails here. A pipe without a writer does not block.
    OpenResult open_file();

    std::FILE* file = nullptr;   // owned; opened "rb" by open
    std::string file_name;       // own copy, for opening
    int given_descriptor = -1;   // borrowed; read instead of file_name when not -1
    std::int64_t file_size = 0;  // bytes in the file when it was opened
    int read_errno = 0;          // see read_error
};

}  // namespace vellox
