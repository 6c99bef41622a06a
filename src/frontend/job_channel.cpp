// The job channel: the descriptor taken from the environment once, lines written whole.

#include "frontend/job_channel.h"

#include <fcntl.h>     // fcntl, F_GETFD
#include <sys/stat.h>  // fstat, S_ISFIFO
#include <unistd.h>    // write

#include <cerrno>   // errno, EINTR
#include <cstdio>   // std::snprintf
#include <cstdlib>  // std::getenv, std::strtol, std::strtoll, std::strtoull
#include <cstring>  // std::strncmp

namespace vellox {

namespace {

constexpr std::int64_t progress_step = std::int64_t{1} << 20;  // samples between two lines

// The channel's descriptor, or -1: only a number above the standard descriptors that names
// an open pipe counts.
int channel() {
    static const int descriptor = [] {
        const char* value = std::getenv(job_channel_variable);
        if (value == nullptr || value[0] == '\0') return -1;
        char* end = nullptr;
        const long number = std::strtol(value, &end, 10);
        struct stat status {};
        if (*end != '\0' || number < 3 || number > 65535 ||
            fcntl(static_cast<int>(number), F_GETFD) == -1 ||
            fstat(static_cast<int>(number), &status) != 0 || !S_ISFIFO(status.st_mode)) {
            return -1;
        }
        return static_cast<int>(number);
    }();
    return descriptor;
}

// One line, in one write: a pipe takes up to PIPE_BUF bytes at once. A batch that went away
// ends the job by SIGPIPE, as any reader that goes away does.
void send(const char* line, int length) {
    const int errno_before = errno;
    while (::write(channel(), line, static_cast<std::size_t>(length)) < 0 && errno == EINTR) {
    }
    errno = errno_before;
}

std::int64_t last_sent = -1;  // the done count of the last progress line

}  // namespace

void report_job_progress(std::int64_t done, std::int64_t total) {
    if (channel() < 0) return;
    if (last_sent >= 0 && done - last_sent < progress_step && done != total) return;
    if (done == last_sent) return;
    last_sent = done;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "at %lld %lld\n",
                                     static_cast<long long>(done), static_cast<long long>(total));
    send(line, length);
}

void report_job_written(std::uint64_t bytes, std::int64_t samples) {
    if (channel() < 0) return;
    char line[64];
    const int length =
        std::snprintf(line, sizeof line, "written %llu %lld\n",
                      static_cast<unsigned long long>(bytes), static_cast<long long>(samples));
    send(line, length);
}

void read_job_line(const char* line, JobReport& report) {
    char* end = nullptr;
    if (std::strncmp(line, "at ", 3) == 0) {
        const long long done = std::strtoll(line + 3, &end, 10);
        const long long total = std::strtoll(end, &end, 10);
        if (*end != '\0' || done < 0 || total < done) return;
        report.done = done;
        report.total = total;
    } else if (std::strncmp(line, "written ", 8) == 0) {
        const unsigned long long bytes = std::strtoull(line + 8, &end, 10);
        const long long samples = std::strtoll(end, &end, 10);
        if (*end != '\0' || samples < 0) return;
        report.written = true;
        report.bytes = bytes;
        report.samples = samples;
    }
}

}  // namespace vellox
