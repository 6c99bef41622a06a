// The ACM source: the file as the decoder's byte source, and the decoder's failures as the
// results of opening it.

#include "sources/acm_source.h"

#include <algorithm>  // std::fill

namespace vellox {

AcmSource::AcmSource(const char* name) : SoundSource(name) {}

AcmSource::~AcmSource() = default;

OpenResult AcmSource::open() {
    const OpenResult file_opened = open_file();
    if (!file_opened.ok()) return file_opened;
    bytes.attach(file);
    switch (decoder.open()) {
        case VELLOX_OK:
            total_samples = decoder.sample_count();
            remaining_samples = total_samples;
            opened = true;
            return OpenResult::opened();
        case VELLOX_ERROR_READ:
            read_errno = bytes.error();
            return OpenResult::failed(read_errno);
        case VELLOX_ERROR_SAMPLE_COUNT:
            return OpenResult::refused(Refusal::input_too_long);
        case VELLOX_ERROR_MEMORY:
            // The file is an ACM file: when its memory cannot be had, detection must not go on
            // and read it as raw samples.
            return OpenResult::refused(Refusal::no_memory);
        default:
            return OpenResult::refused(Refusal::not_an_acm_file);
    }
}

std::int32_t AcmSource::read(std::int16_t* buffer, std::int32_t count) {
    if (!opened) {
        std::fill(buffer, buffer + count, std::int16_t{0});
        return 0;
    }
    const std::int32_t done = decoder.read(buffer, count);
    remaining_samples = decoder.remaining_samples();
    if (read_errno == 0 && decoder.status() != VELLOX_OK) read_errno = bytes.error();
    return done;
}

std::int64_t AcmSource::failed_blocks() const { return decoder.failed_blocks(); }

std::int64_t AcmSource::samples_not_decoded() const { return decoder.samples_not_decoded(); }

}  // namespace vellox
