// The two error printers.

#include "frontend/errors.h"

#include <cerrno>   // errno
#include <cstdio>   // std::fprintf
#include <cstring>  // std::strerror

namespace vellox {

void print_error(const char* message, const char* name) {
    if (name == nullptr) {
        std::fprintf(stderr, "Error: %s\n", message);
    } else {
        std::fprintf(stderr, "Error: %s: '%s'\n", message, name);
    }
}

void print_system_error(const char* name) { print_error(std::strerror(errno), name); }

}  // namespace vellox
