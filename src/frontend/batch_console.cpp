// The batch's console: each file's lines built whole and written at once, the progress line
// drawn with a carriage return and taken away with the terminal's erase-line code.

#include "frontend/batch_console.h"

#include <sys/ioctl.h>  // ioctl, TIOCGWINSZ
#include <time.h>       // clock_gettime

#include <cstdio>   // std::fwrite, std::snprintf
#include <cstring>  // std::memchr

#include "frontend/console.h"

namespace vellox {

namespace {

constexpr const char* erase_line = "\r\033[K";
constexpr double redraw_interval = 0.1;  // seconds

double monotonic_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Every line of text (the last one also without its newline) headed by "<input>: ".
void append_lines(std::string& block, const char* input, const char* text, std::size_t size) {
    while (size > 0) {
        const auto* newline = static_cast<const char*>(std::memchr(text, '\n', size));
        const std::size_t length =
            newline == nullptr ? size : static_cast<std::size_t>(newline - text) + 1;
        block += input;
        block += ": ";
        block.append(text, length);
        if (newline == nullptr) block += '\n';
        text += length;
        size -= length;
    }
}

// "<input>: <kind>: <message>: '<name>'", in the manner of the error lines.
std::string reason_line(const BatchFile& file, const char* kind) {
    return std::string(file.input) + ": " + kind + ": " + message_text(file.reason) + ": '" +
           file.reason_name + "'\n";
}

// "m:ss", or "h:mm:ss" from an hour on; "-:--" when seconds is not known yet.
std::string duration_text(double seconds) {
    if (!(seconds >= 0 && seconds < 1e7)) return "-:--";
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

BatchConsole::BatchConsole(std::FILE* output, bool on_terminal, bool quiet_asked,
                           std::int64_t file_count, std::int64_t bytes)
    : stream(output),
      terminal(on_terminal),
      quiet(quiet_asked),
      files(file_count),
      bytes_to_convert(bytes),
      started(monotonic_seconds()) {}

void BatchConsole::converted(const BatchFile& file, std::uint64_t bytes, std::int64_t samples,
                             const char* text, std::size_t size) {
    ++converted_files;
    finished_samples += samples;
    finished_bytes += file.input_bytes;
    std::string block;
    if (!terminal && !quiet) {
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, ": %llu bytes, %.3f bits per sample\n",
                      static_cast<unsigned long long>(bytes),
                      bits_per_sample(static_cast<std::int64_t>(bytes), samples));
        block = std::string(file.input) + " -> " + file.output + numbers;
    }
    append_lines(block, file.input, text, size);
    write_block(block);
}

void BatchConsole::failed(const BatchFile& file, std::int64_t samples, const char* text,
                          std::size_t size) {
    ++failed_files;
    finished_samples += samples;
    finished_bytes += file.input_bytes;
    std::string block;
    append_lines(block, file.input, text, size);
    write_block(block);
}

void BatchConsole::planned(const BatchFile& file) {
    if (file.plan == FilePlan::refused) {
        ++failed_files;
        write_block(reason_line(file, "Error"));
    } else {
        ++skipped_files;
        if (!terminal && !quiet) write_block(reason_line(file, "Skipped"));
    }
}

void BatchConsole::show_progress(std::int64_t samples, double bytes, bool now) {
    running_samples = samples;
    running_bytes = bytes;
    if (!terminal || quiet) return;
    const double time = monotonic_seconds();
    if (!now && drawn >= 0 && time - drawn < redraw_interval) return;
    drawn = time;
    const double elapsed = time - started;
    const double done_samples = static_cast<double>(finished_samples + running_samples);
    const double done_bytes = static_cast<double>(finished_bytes) + running_bytes;
    const double rate = elapsed > 0 ? done_samples / elapsed : 0;
    const double left =
        done_bytes > 0 && elapsed >= 0.5
            ? elapsed * (static_cast<double>(bytes_to_convert) - done_bytes) / done_bytes
            : -1;
    char line[160];
    int length = std::snprintf(
        line, sizeof line, "%lld/%lld files, %lld failed, %lld skipped, %.1f M samples/s, %s left",
        static_cast<long long>(converted_files + failed_files + skipped_files),
        static_cast<long long>(files), static_cast<long long>(failed_files),
        static_cast<long long>(skipped_files), rate / 1e6, duration_text(left).c_str());
    // A line wider than the terminal would wrap, and the carriage return would not go back to
    // its start.
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && length >= size.ws_col) {
        length = size.ws_col - 1;
    }
    std::fprintf(stream, "\r%.*s\033[K", length, line);
    std::fflush(stream);
}

void BatchConsole::clear_progress() {
    if (drawn < 0) return;
    std::fputs(erase_line, stream);
    std::fflush(stream);
    drawn = -1;
}

void BatchConsole::print_summary() {
    clear_progress();
    if (quiet) return;
    std::fprintf(stream, "%lld converted, %lld failed, %lld skipped\n",
                 static_cast<long long>(converted_files), static_cast<long long>(failed_files),
                 static_cast<long long>(skipped_files));
    std::fflush(stream);
}

void BatchConsole::write_block(const std::string& block) {
    if (block.empty()) return;
    clear_progress();
    std::fwrite(block.data(), 1, block.size(), stream);
    std::fflush(stream);
}

}  // namespace vellox
