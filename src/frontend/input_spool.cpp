// The input spool: what cannot be measured beforehand is copied to an unnamed temporary file.

#include "frontend/input_spool.h"

#include <fcntl.h>     // ::open, O_*
#include <poll.h>      // ::poll
#include <signal.h>    // sigprocmask
#include <sys/stat.h>  // ::stat, ::fstat, S_IS*
#include <unistd.h>    // ::read, ::write, ::lseek, ::close, ::unlink

#include <algorithm>  // std::min
#include <cerrno>     // errno
#include <cstdint>    // std::int64_t
#include <cstdlib>    // std::getenv, mkstemp
#include <cstring>    // std::strcmp
#include <memory>     // std::unique_ptr
#include <string>     // std::string

#include "common/alloc.h"
#include "frontend/errors.h"
#include "frontend/messages.h"

namespace vellox {

namespace {

constexpr std::int64_t copy_piece = 65536;  // bytes per read; what a pipe holds at most
constexpr std::int64_t max_samples = 2147483647;

// The most bytes an input of type can hold and still be converted: 2^31 - 1 samples, of one
// byte (raw 8-bit), two and an odd byte (raw 16-bit), or up to eight (64-bit float WAV) with
// room for the chunks around them. More is refused instead of filling the disk (/dev/zero).
std::int64_t longest_input(SoundType type) {
    switch (type) {
        case SoundType::raw8:
            return max_samples;
        case SoundType::raw16:
            return 2 * max_samples + 1;
        default:
            return 8 * max_samples + (std::int64_t{1} << 20);
    }
}

// The folder for temporary files: TMPDIR when it is set, else /tmp.
const char* temporary_folder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// A new file in folder, open for reading and writing, that has no name; -1 with errno set
// when none can be made.
int create_unnamed_file(const char* folder) {
#ifdef O_TMPFILE
    const int unnamed = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0) return unnamed;
        // Old kernels and some file systems do not have it; a named file removed at once does
        // the same, and a real fault (no folder, no permission) fails there again.
#endif
    std::string pattern = std::string(folder) + "/vellox-spool-XXXXXX";
    // No signal may end the process between the creation and the removal of the name.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    int named = mkstemp(pattern.data());
    if (named >= 0 &&
        (::unlink(pattern.c_str()) != 0 || ::fcntl(named, F_SETFD, FD_CLOEXEC) != 0)) {
        const int error_number = errno;
        ::unlink(pattern.c_str());
        ::close(named);
        named = -1;
        errno = error_number;
    }
    const int error_number = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = error_number;
    return named;
}

// Writes all size bytes; false with errno set when a write fails.
bool write_all(int to, const char* bytes, std::int64_t size) {
    while (size > 0) {
        const ssize_t written = ::write(to, bytes, static_cast<std::size_t>(size));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

// Copies from into to up to the end of from, then puts to back at its start. Prints why it
// failed: the input's name for a read error, the folder's for a write error.
bool copy_to_spool(int from, int to, const char* input_name, const char* folder,
                   std::int64_t longest) {
    const std::unique_ptr<char[]> buffer = allocate_array<char>(copy_piece);
    if (buffer == nullptr) {
        print_error(message_text(Message::cannot_allocate_memory), nullptr);
        return false;
    }
    std::int64_t copied = 0;
    for (;;) {
        // One byte more than the longest input tells that the input is too long.
        const std::int64_t wanted = std::min(copy_piece, longest + 1 - copied);
        const ssize_t got = ::read(from, buffer.get(), static_cast<std::size_t>(wanted));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Standard input may come non-blocking from whoever started us: wait for it.
                pollfd ready{from, POLLIN, 0};
                if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
            }
            print_system_error(input_name);
            return false;
        }
        copied += got;
        if (copied > longest) {
            print_error(message_text(Message::input_too_long), input_name);
            return false;
        }
        if (!write_all(to, buffer.get(), got)) {
            print_system_error(folder);
            return false;
        }
    }
    if (::lseek(to, 0, SEEK_SET) != 0) {
        print_system_error(folder);
        return false;
    }
    return true;
}

}  // namespace

InputSpool::~InputSpool() {
    if (owned) ::close(read_descriptor);
}

bool InputSpool::open(const char* input_name, SoundType type) {
    int from = -1;
    bool close_from = false;
    if (std::strcmp(input_name, "-") == 0) {
        struct stat info {};
        if (::fstat(0, &info) != 0) {
            print_system_error(input_name);
            return false;
        }
        // "vellox - out.acm < in.wav": the file is read where it is, all of it, as from its
        // name; one that was partly read already is copied from where it stands.
        if ((S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) && ::lseek(0, 0, SEEK_CUR) == 0) {
            read_descriptor = 0;
            return true;
        }
        from = 0;
    } else {
        // Only what has no size is copied; anything else, a missing file included, is for
        // the sources to open and report.
        struct stat info {};
        if (::stat(input_name, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
            return true;
        }
        // A named pipe waits here for its writer, as any reader of it does.
        from = ::open(input_name, O_RDONLY | O_CLOEXEC);
        if (from < 0) {
            print_system_error(input_name);
            return false;
        }
        close_from = true;
    }

    const char* folder = temporary_folder();
    const int spool = create_unnamed_file(folder);
    bool copied = false;
    if (spool < 0) {
        print_system_error(folder);
    } else {
        read_descriptor = spool;
        owned = true;
        copied = copy_to_spool(from, spool, input_name, folder, longest_input(type));
    }
    if (close_from) ::close(from);
    return copied;
}

}  // namespace vellox
