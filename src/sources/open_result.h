#pragma once
// OpenResult: what opening a sound source came to. The sources print nothing: the program
// turns a result into its line (frontend/input_source.h).

namespace vellox {

// Why a source refused its file. The first two only say that the file is not of the source's
// kind: automatic detection then tries the next kind, and nothing is printed for them unless
// the user named the kind.
enum class Refusal {
    not_a_wav_file,
    not_an_acm_file,
    unsupported_wav_format,  // a WAV or RF64 file whose sample format or layout is not read
    unsupported_format,      // automatic detection: another sound or container format
    input_too_long,          // more than 2^31 - 1 samples
    no_memory,               // the source's buffers, or the source itself
    needs_sndfile,           // a format read through libsndfile, which this build lacks
};

struct [[nodiscard]] OpenResult {
    enum class Outcome {
        opened,
        refused,  // the file was looked at and refused: see reason
        failed,   // the file could not be opened or read: see error_number
    };

    static OpenResult opened() { return {Outcome::opened, Refusal::no_memory, 0}; }
    static OpenResult refused(Refusal why) { return {Outcome::refused, why, 0}; }
    // number: errno of the call that failed.
    static OpenResult failed(int number) { return {Outcome::failed, Refusal::no_memory, number}; }

    bool ok() const { return outcome == Outcome::opened; }

    // True when the file is not of the kind tried, so that another kind may read it.
    bool not_this_kind() const {
        return outcome == Outcome::refused &&
               (reason == Refusal::not_a_wav_file || reason == Refusal::not_an_acm_file);
    }

    bool operator==(const OpenResult& other) const {
        return outcome == other.outcome &&
               (outcome != Outcome::refused || reason == other.reason) &&
               error_number == other.error_number;
    }

    Outcome outcome;
    Refusal reason;    // refused only
    int error_number;  // failed only: errno of the failed call; 0 otherwise
};

}  // namespace vellox
