#pragma once
// The progress of one run: a "#" on the console for every chunk (none with --quiet), and, when
// the run is one job of a batch, the input samples read on the batch's channel.

#include <cstdint>  // std::int64_t
#include <cstdio>   // std::FILE

namespace vellox {

class ProgressMarks {
public:
    // marks_to: where the marks go, null for none; sample_count: the input's.
    ProgressMarks(std::FILE* marks_to, std::int64_t sample_count)
        : console(marks_to), total(sample_count) {}

    // One chunk more; done: the input samples read so far (at most total).
    void mark(std::int64_t done);

    // The mark after the last chunk, with the newline.
    void finish();

private:
    std::FILE* console;  // borrowed; null: no marks
    std::int64_t total;  // input samples
};

}  // namespace vellox
