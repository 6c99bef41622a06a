#pragma once
// Which file a name stands for: the one comparison of device and inode behind every same-file
// check of the programs, and where an output name leads when symbolic links are followed.

#include <sys/stat.h>  // struct stat

#include <string>  // std::string

namespace vellox {

// How the file a name stands for relates to an open file.
enum class FileMatch {
    different,     // another file, or one of the two cannot be looked up
    same,          // the same file, one that is not regular (a device, a pipe, a socket)
    same_regular,  // the same regular file: writing the one overwrites the other
};

// How the file name names ("-": the file standard output is), links followed, relates to the
// file open as descriptor.
[[nodiscard]] FileMatch match_open_file(const char* name, int descriptor);

// Where output to name goes: the file name finally names, symbolic links followed, also when
// the last one leads nowhere yet (as a shell's ">" does, the file it points to is created).
// *status receives the file's status and *exists is true when it exists. False with errno set
// when name cannot be looked up.
[[nodiscard]] bool resolve_target(const char* name, std::string* path, struct stat* status,
                                  bool* exists);

}  // namespace vellox
