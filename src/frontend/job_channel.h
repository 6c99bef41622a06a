#pragma once
// The channel from one job of a batch to the batch: a pipe whose descriptor the batch names in
// the job's environment, carrying short text lines that say how far the job is and, once its
// output is in place, how large it came out. A run without it (every run the user starts)
// writes nothing there.

#include <cstdint>  // std::int64_t, std::uint64_t

namespace vellox {

// The environment variable that holds the channel's descriptor number.
constexpr const char* job_channel_variable = "VELLOX_JOB_CHANNEL";

// Input samples read so far of total; sent when at least 2^20 more were read than last sent,
// and when done reaches total.
void report_job_progress(std::int64_t done, std::int64_t total);

// The output is in place: bytes long, made from samples input samples.
void report_job_written(std::uint64_t bytes, std::int64_t samples);

// What the batch has heard from one job.
struct JobReport {
    std::int64_t done = 0;     // input samples read
    std::int64_t total = 0;    // the input's sample count; 0 until the first progress line
    bool written = false;      // the output is in place
    std::uint64_t bytes = 0;   // the output's size, once written
    std::int64_t samples = 0;  // input samples the output was made from, once written
};

// Takes one line of the channel (without its newline) into report; lines it does not know
// are passed over.
void read_job_line(const char* line, JobReport& report);

}  // namespace vellox
