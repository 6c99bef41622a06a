// The output file: temporary file, checked close, rename or link into place, and clean-up on
// failure.

#include "frontend/output_file.h"

#include <fcntl.h>     // open flags, AT_FDCWD, AT_EACCESS, AT_SYMLINK_FOLLOW
#include <sys/stat.h>  // stat, fchmod, umask
#include <time.h>      // clock_gettime
#include <unistd.h>    // close, unlink, faccessat, fchown, linkat, STDOUT_FILENO

#include <cerrno>   // errno
#include <csignal>  // std::signal, SIGXFSZ
#include <cstdint>  // std::uint64_t
#include <cstdio>   // std::fdopen, std::fclose, std::rename, std::snprintf
#include <cstdlib>  // mkstemp
#include <cstring>  // std::strcmp

#include "frontend/errors.h"
#include "frontend/file_identity.h"
#include "frontend/messages.h"
#include "frontend/signal_cleanup.h"

namespace vellox {

namespace {

// False once the tests asked for named temporary files only.
bool unnamed_allowed = true;

// name with its run of six X at the end replaced by letters that differ from call to call.
void fill_unique_letters(std::string& name, unsigned attempt) {
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t state = static_cast<std::uint64_t>(now.tv_nsec) ^
                          static_cast<std::uint64_t>(now.tv_sec) << 30 ^
                          static_cast<std::uint64_t>(getpid()) << 8 ^ attempt;
    for (std::size_t i = name.size() - 6; i < name.size(); ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        name[i] = letters[(state >> 33) % (sizeof letters - 1)];
    }
}

// A name for a temporary file beside path: ".<base>.XXXXXX", the X to be replaced. It is 8 bytes
// longer than the base it takes: a target whose name is near the 255-byte limit lends only its
// start.
std::string temporary_pattern(const std::string& path) {
    constexpr std::size_t longest_base = 200;
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return directory + "." + base.substr(0, longest_base) + ".XXXXXX";
}

// The name that makes the unnamed file open as descriptor reachable for linkat.
std::string descriptor_path(int descriptor) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", descriptor);
    return path;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const char* target_name, int input_to_keep) {
    target = target_name;
    // A file size limit then fails the write with EFBIG, which is reported, instead of killing
    // the process with the file half-written.
    std::signal(SIGXFSZ, SIG_IGN);
    if (std::strcmp(target_name, "-") == 0) return open_standard_output(input_to_keep);
    struct stat status {};
    bool exists = false;
    if (!resolve_target(target_name, &final_path, &status, &exists)) {
        print_system_error(target);
        return false;
    }

    // "vellox song.wav song.wav" would replace the user's sound with ACM data.
    if (exists && input_to_keep >= 0 &&
        match_open_file(target_name, input_to_keep) != FileMatch::different) {
        print_error(message_text(Message::same_file), target);
        return false;
    }

    if (exists && !S_ISREG(status.st_mode)) {
        // A device, a FIFO or a directory: written (or refused) in place, never replaced.
        file = std::fopen(final_path.c_str(), "wb");
        if (file == nullptr) {
            print_system_error(target);
            return false;
        }
        return true;
    }

    // A file we may not write is not ours to replace, though the folder would let the rename
    // through.
    if (exists && faccessat(AT_FDCWD, final_path.c_str(), W_OK, AT_EACCESS) != 0) {
        print_system_error(target);
        return false;
    }

    // A new file gets what a plain create gives (0666 less the umask); a replaced one keeps
    // its mode.
    mode_t mode = 0;
    if (exists) {
        mode = status.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    const std::size_t slash = final_path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    int descriptor = -1;
#ifdef O_TMPFILE
    if (unnamed_allowed) {
        descriptor = ::open(directory.empty() ? "." : directory.c_str(),
                            O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        // The file gets its name through /proc at commit; without /proc it needs one now.
        if (descriptor >= 0 && access(descriptor_path(descriptor).c_str(), F_OK) != 0) {
            close(descriptor);
            descriptor = -1;
        }
    }
    // Old kernels and some file systems do not have it (EOPNOTSUPP, EISDIR, ...); a real
    // fault (no folder, no permission) fails again below and is reported.
#endif
    unnamed = descriptor >= 0;
    if (!unnamed) {
        std::string pattern = temporary_pattern(final_path);
        descriptor = mkstemp(pattern.data());
        if (descriptor < 0) {
            print_system_error(target);
            return false;
        }
        temporary_path = pattern;
        watch_for_interrupts(temporary_path);
    }
    replacing = exists;
    // A replaced file also keeps its owner where we may give it (as root); the owner goes
    // first, since a change of owner clears the set-user-ID bits.
    if (exists && fchown(descriptor, status.st_uid, status.st_gid) != 0) {
        // Only root may give a file away: anyone else's replacement is theirs, as a new file is.
    }
    if (fchmod(descriptor, mode) != 0 || (file = fdopen(descriptor, "wb")) == nullptr) {
        print_system_error(target);
        close(descriptor);
        discard();
        return false;
    }
    return true;
}

bool OutputFile::name_unnamed_file(int descriptor) {
    const std::string source = descriptor_path(descriptor);
    // No signal may end the process between the link and the rename.
    const SignalBlock block;
    if (!replacing) {
        if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, final_path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST) return false;  // else made meanwhile: replaced as below
    }
    // linkat never replaces a file: the file takes a name of its own beside the target first
    // and is renamed over it.
    std::string name = temporary_pattern(final_path);
    constexpr unsigned attempts = 100;
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        fill_unique_letters(name, attempt);
        if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        if (std::rename(name.c_str(), final_path.c_str()) == 0) return true;
        const int error_number = errno;
        unlink(name.c_str());
        errno = error_number;
        return false;
    }
    errno = EEXIST;
    return false;
}

bool OutputFile::commit() {
    if (file == nullptr) return false;
    int error_number = 0;  // the first failure's
    const auto failed = [&error_number] {
        if (error_number == 0) error_number = errno != 0 ? errno : EIO;
    };
    // The unnamed file lives on in a second descriptor after the stream is closed, until it
    // has its name.
    const int kept = unnamed ? fcntl(fileno(file), F_DUPFD_CLOEXEC, 0) : -1;
    if (unnamed && kept < 0) failed();
    // A write that failed in an earlier flush leaves only the stream's error flag behind.
    if (std::ferror(file) != 0) {
        errno = 0;
        failed();
    }
    if (std::fflush(file) != 0) failed();
    if (std::fclose(file) != 0) failed();
    file = nullptr;
    if (error_number == 0 && unnamed) {
        if (!name_unnamed_file(kept)) failed();
    } else if (error_number == 0 && !temporary_path.empty()) {
        if (std::rename(temporary_path.c_str(), final_path.c_str()) != 0) failed();
    }
    if (kept >= 0) close(kept);
    if (error_number == 0) {
        unnamed = false;
        temporary_path.clear();
        stop_watching();
        return true;
    }
    print_write_error(error_number);
    discard();
    return false;
}

void OutputFile::discard() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    unnamed = false;  // a file without a name is gone with its descriptor
    if (!temporary_path.empty()) {
        unlink(temporary_path.c_str());
        temporary_path.clear();
        stop_watching();
    }
}

// "-": standard output, written as it is (it is never replaced), through a stream of its own on
// a copy of the descriptor, so that closing it checks the last writes and leaves standard
// output open.
bool OutputFile::open_standard_output(int input_to_keep) {
    // "vellox song.wav - >> song.wav" would append ACM data to the sound it reads.
    if (input_to_keep >= 0 && match_open_file("-", input_to_keep) == FileMatch::same_regular) {
        print_error(message_text(Message::same_file), target);
        return false;
    }
    const int descriptor = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0 || (file = fdopen(descriptor, "wb")) == nullptr) {
        print_system_error(target);
        if (descriptor >= 0) close(descriptor);
        return false;
    }
    return true;
}

void OutputFile::print_write_error(int error_number) const {
    errno = error_number;
    print_system_error(target);
}

void use_named_temporary_files(bool named) { unnamed_allowed = !named; }

}  // namespace vellox
