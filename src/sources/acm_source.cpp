// The ACM source: the file as the decoder's byte source, and the decoder's failures as the
// program's messages.

#include "sources/acm_source.h"

#include <algorithm>  // std::fill
#include <cerrno>     // errno

#include "frontend/errors.h"
#include "frontend/messages.h"

namespace vellox {

AcmSource::AcmSource(const char* name) : SoundSource(name) {}

AcmSource::~AcmSource() = default;

bool AcmSource::open(bool report) {
    if (!open_file()) return false;
    bytes.attach(file);
    switch (decoder.open()) {
        case VELLOX_OK:
            total_samples = decoder.sample_count();
            remaining_samples = total_samples;
            opened = true;
            return true;
        case VELLOX_ERROR_READ:
            read_errno = bytes.error();
            errno = read_errno;
            return refuse_unreadable();
        case VELLOX_ERROR_SAMPLE_COUNT:
            print_error(message_text(Message::input_too_long), file_name.c_str());
            refused = true;
            return false;
        case VELLOX_ERROR_MEMORY:
            // The file is an ACM file: when its memory cannot be had, detection must not go on
            // and read it as raw samples.
            print_error(message_text(Message::cannot_allocate_memory), nullptr);
            refused = true;
            return false;
        default:
            if (report) print_error(message_text(Message::not_an_acm_file), file_name.c_str());
            return false;
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
