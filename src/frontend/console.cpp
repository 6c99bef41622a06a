// Choosing the console stream by comparing the output with standard output, and checking that
// the console could be written.

#include "frontend/console.h"

#include <unistd.h>  // STDOUT_FILENO

#include <cerrno>   // errno, EIO
#include <cstring>  // std::strcmp

#include "frontend/errors.h"
#include "frontend/file_identity.h"

namespace vellox {

bool names_standard_output(const char* name) {
    if (name == nullptr) return false;
    if (std::strcmp(name, "-") == 0) return true;
    // A closed standard output, or an output that does not exist yet, is not the same file.
    return match_open_file(name, STDOUT_FILENO) != FileMatch::different;
}

std::FILE* console_stream(const char* output_name) {
    return names_standard_output(output_name) ? stderr : stdout;
}

int finish_console(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    // A failed write earlier leaves the error flag but not its errno behind; every run ends
    // with lines not flushed yet, though, whose flush fails the same way.
    const int error_number = !flushed && errno != 0 ? errno : EIO;
    const bool output_failed = !flushed || std::ferror(stdout) != 0;
    if (output_failed) {
        errno = error_number;
        print_system_error("standard output");
    }
    if ((output_failed || std::ferror(stderr) != 0) && status == 0) return 1;
    return status;
}

}  // namespace vellox
