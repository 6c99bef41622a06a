// Same-file checks and the resolution of output names.

#include "frontend/file_identity.h"

#include <limits.h>  // PATH_MAX
#include <unistd.h>  // readlink, STDOUT_FILENO

#include <cerrno>   // errno, ENOENT, ENAMETOOLONG, ELOOP
#include <cstdlib>  // realpath, free
#include <cstring>  // std::strcmp

namespace vellox {

FileMatch match_open_file(const char* name, int descriptor) {
    struct stat named {};
    struct stat open_file {};
    const bool found = std::strcmp(name, "-") == 0 ? ::fstat(STDOUT_FILENO, &named) == 0
                                                   : ::stat(name, &named) == 0;
    if (!found || ::fstat(descriptor, &open_file) != 0 || named.st_dev != open_file.st_dev ||
        named.st_ino != open_file.st_ino) {
        return FileMatch::different;
    }
    return S_ISREG(named.st_mode) ? FileMatch::same_regular : FileMatch::same;
}

bool resolve_target(const char* name, std::string* path, struct stat* status, bool* exists) {
    *path = name;
    *exists = ::stat(name, status) == 0;
    struct stat link_status {};
    if (*exists) {
        if (lstat(name, &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
            // A link to a pipe ("/dev/stdout") resolves to no path: then the name itself.
            if (char* resolved = realpath(name, nullptr)) {
                *path = resolved;
                std::free(resolved);
            }
        }
        return true;
    }
    if (errno != ENOENT) return false;
    // A dangling link, followed by hand to the name that does not exist yet.
    constexpr int most_links = 40;  // as many as the system follows
    for (int links = 0; links < most_links; ++links) {
        if (lstat(path->c_str(), &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return true;
        char content[PATH_MAX];
        const ssize_t length = readlink(path->c_str(), content, sizeof content);
        if (length <= 0 || length == static_cast<ssize_t>(sizeof content)) {
            if (length >= 0) errno = length == 0 ? ENOENT : ENAMETOOLONG;
            return false;
        }
        std::string next(content, static_cast<std::size_t>(length));
        const std::size_t slash = path->rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next = path->substr(0, slash + 1) + next;
        *path = next;
    }
    errno = ELOOP;
    return false;
}

}  // namespace vellox
