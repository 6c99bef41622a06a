// Choosing the console stream by comparing the output with standard output.

#include "frontend/console.h"

#include <unistd.h>  // STDOUT_FILENO

#include <cstring>  // std::strcmp

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

}  // namespace vellox
