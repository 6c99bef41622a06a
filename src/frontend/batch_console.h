#pragma once
// What a batch prints, all of it on standard error: on a terminal one progress line redrawn in
// place, otherwise one line per finished file in the order they finish; the warnings and the
// failures of each file, every line headed by its name, a file's lines together; and a
// summary at the end.

#include <cstdint>  // std::int64_t, std::uint64_t
#include <cstdio>   // std::FILE
#include <string>   // std::string

#include "frontend/batch_plan.h"

namespace vellox {

class BatchConsole {
public:
    // output: where everything goes; on_terminal: output is a terminal; quiet_asked: only
    // warnings and failures; file_count: inputs in the batch; bytes: the input bytes of those
    // to be converted.
    BatchConsole(std::FILE* output, bool on_terminal, bool quiet_asked, std::int64_t file_count,
                 std::int64_t bytes);

    // A file converted into an output of bytes from samples input samples; text is what its
    // job printed (warnings), size bytes of it.
    void converted(const BatchFile& file, std::uint64_t bytes, std::int64_t samples,
                   const char* text, std::size_t size);

    // A file that failed after samples were read; text is the reason, as its job printed it.
    void failed(const BatchFile& file, std::int64_t samples, const char* text, std::size_t size);

    // A file skipped or refused by the plan.
    void planned(const BatchFile& file);

    // On a terminal, redraws the progress line when at least a tenth of a second has passed
    // since it was drawn last, or always when now is set; running_samples and running_bytes
    // are how far the jobs still running are, in input samples and in input bytes.
    void show_progress(std::int64_t running_samples, double running_bytes, bool now = false);

    // Takes the progress line away.
    void clear_progress();

    // "<converted> converted, <failed> failed, <skipped> skipped", unless quiet.
    void print_summary();

    [[nodiscard]] std::int64_t failures() const { return failed_files; }

    // True when a progress line is drawn.
    [[nodiscard]] bool shows_progress() const { return terminal && !quiet; }

private:
    // Writes block whole, the progress line taken away first (the caller draws it again).
    void write_block(const std::string& block);

    std::FILE* stream;   // borrowed
    bool terminal;       // a progress line instead of the lines of converted files
    bool quiet;          // no progress, no lines of converted or skipped files, no summary
    std::int64_t files;  // in the batch
    std::int64_t bytes_to_convert;     // input bytes of the files planned for conversion
    std::int64_t converted_files = 0;  // so far
    std::int64_t failed_files = 0;
    std::int64_t skipped_files = 0;
    std::int64_t finished_samples = 0;  // input samples of the files finished
    std::int64_t finished_bytes = 0;    // input bytes of the files finished
    double started = 0;                 // seconds on the monotonic clock
    double drawn = -1;                  // when the progress line was drawn last; -1: not shown
    std::int64_t running_samples = 0;   // of the jobs running, as last told
    double running_bytes = 0;           // likewise
};

}  // namespace vellox
