// Choosing the console stream by comparing the output with standard output.

#include "frontend/console.h"

#include <sys/stat.h>  // stat, fstat
#include <unistd.h>    // STDOUT_FILENO

#include <cstring>  // std::strcmp

namespace vellox {

bool names_standard_output(const char* name) {
    if (name == nullptr) return false;
    if (std::strcmp(name, "-") == 0) return true;
    struct stat output {};
    struct stat standard_output {};
    // A closed standard output, or an output that does not exist yet, is not the same file.
    return fstat(STDOUT_FILENO, &standard_output) == 0 && ::stat(name, &output) == 0 &&
           output.st_dev == standard_output.st_dev && output.st_ino == standard_output.st_ino;
}

std::FILE* console_stream(const char* output_name) {
    return names_standard_output(output_name) ? stderr : stdout;
}

}  // namespace vellox
