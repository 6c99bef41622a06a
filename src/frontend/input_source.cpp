// Opening the programs' sound inputs, and the refusals' texts.

#include "frontend/input_source.h"

#include <cerrno>   // errno
#include <utility>  // std::move

#include "frontend/errors.h"
#include "frontend/messages.h"

namespace vellox {

namespace {

Message refusal_message(Refusal reason) {
    switch (reason) {
        case Refusal::not_a_wav_file:
            return Message::not_a_wav_file;
        case Refusal::not_an_acm_file:
            return Message::not_an_acm_file;
        case Refusal::unsupported_wav_format:
            return Message::unsupported_wav_format;
        case Refusal::unsupported_format:
            return Message::unsupported_format;
        case Refusal::input_too_long:
            return Message::input_too_long;
        case Refusal::needs_sndfile:
            return Message::needs_sndfile;
        case Refusal::no_memory:
            break;
    }
    return Message::cannot_allocate_memory;
}

}  // namespace

void print_open_failure(const OpenResult& result, const char* file_name) {
    if (result.outcome == OpenResult::Outcome::failed) {
        errno = result.error_number;
        print_system_error(file_name);
    } else if (result.outcome == OpenResult::Outcome::refused) {
        print_error(message_text(refusal_message(result.reason)),
                    result.reason == Refusal::no_memory ? nullptr : file_name);
    }
}

std::unique_ptr<SoundSource> open_input_source(const char* file_name, SoundType type,
                                               int descriptor) {
    OpenedSource opened = open_sound_source(file_name, type, descriptor);
    if (!opened.result.ok()) print_open_failure(opened.result, file_name);
    return std::move(opened.source);
}

}  // namespace vellox
