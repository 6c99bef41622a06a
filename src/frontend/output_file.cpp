// The ACM output file: temporary file, checked close, rename, and clean-up on failure or
// interruption.

#include "frontend/output_file.h"

#include <fcntl.h>     // open flags, AT_FDCWD, AT_EACCESS, AT_SYMLINK_FOLLOW
#include <limits.h>    // PATH_MAX
#include <signal.h>    // sigaction, sigprocmask, SIGINT, SIGTERM, SIGHUP, SIGPIPE
#include <sys/stat.h>  // stat, fchmod, umask
#include <time.h>      // clock_gettime
#include <unistd.h>    // close, unlink, faccessat, fchown, linkat, readlink

#include <cerrno>   // errno
#include <csignal>  // std::sig_atomic_t
#include <cstdint>  // std::uint64_t
#include <cstdio>   // std::fdopen, std::fclose, std::rename, std::snprintf
#include <cstdlib>  // mkstemp, realpath, free
#include <cstring>  // std::strlen, std::memcpy

#include "frontend/errors.h"
#include "frontend/messages.h"

namespace vellox {

namespace {

// The temporary file of the conversion in progress, for the signal handler. A fixed array
// because the handler may not allocate.
char interrupted_path[4096];
volatile std::sig_atomic_t interrupted_path_set = 0;

extern "C" void remove_temporary_and_die(int signal_number) {
    if (interrupted_path_set != 0) unlink(interrupted_path);
    // Then die of the signal itself, so that the caller sees it: a shell loop stops at the
    // first Ctrl-C (and shows 128 + the signal's number).
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t this_signal;
    sigemptyset(&this_signal);
    sigaddset(&this_signal, signal_number);
    sigprocmask(SIG_UNBLOCK, &this_signal, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
}

// The signals that end a conversion early, and what they did before it was watched. SIGPIPE
// comes when the reader of the console output goes away ("vellox ... | head -n 2").
constexpr int watched_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int watched_count = sizeof watched_signals / sizeof watched_signals[0];
struct sigaction previous_actions[watched_count];
bool watching = false;

void watch_for_interrupts(const std::string& path) {
    if (path.size() >= sizeof interrupted_path) return;  // too long to remember: not removed
    std::memcpy(interrupted_path, path.c_str(), path.size() + 1);
    interrupted_path_set = 1;
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_die;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < watched_count; ++i) {
        sigaction(watched_signals[i], nullptr, &previous_actions[i]);
        // A signal the caller ignores stays ignored: "nohup" must keep a hang-up from ending
        // the conversion.
        if (previous_actions[i].sa_handler != SIG_IGN) {
            sigaction(watched_signals[i], &action, nullptr);
        }
    }
    watching = true;
}

void stop_watching() {
    interrupted_path_set = 0;
    if (!watching) return;
    for (int i = 0; i < watched_count; ++i)
        sigaction(watched_signals[i], &previous_actions[i], nullptr);
    watching = false;
}

// Keeps the watched signals from ending the process while the output changes names, and lets
// them through again when it goes.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int signal_number : watched_signals) sigaddset(&blocked, signal_number);
        sigprocmask(SIG_BLOCK, &blocked, &previous);
    }
    ~SignalBlock() {
        const int error_number = errno;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = error_number;
    }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t previous;
};

// False once the tests asked for named temporary files only.
bool unnamed_allowed = true;

// Where the output goes: the file name finally names, symbolic links followed, also when the
// last one leads nowhere yet (as a shell's ">" does, the file it points to is created).
// *status receives the file's status and *exists is true when it exists. False with errno set
// when name cannot be looked up.
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
    struct stat input_status {};
    if (exists && input_to_keep >= 0 && ::fstat(input_to_keep, &input_status) == 0 &&
        input_status.st_dev == status.st_dev && input_status.st_ino == status.st_ino) {
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
        const std::string base =
            slash == std::string::npos ? final_path : final_path.substr(slash + 1);
        // The temporary name is 8 bytes longer than the base it takes: a target whose name is
        // near the 255-byte limit lends only its start.
        constexpr std::size_t longest_base = 200;
        std::string pattern = directory + "." + base.substr(0, longest_base) + ".XXXXXX";
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
    const std::size_t slash = final_path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    constexpr std::size_t longest_base = 200;
    std::string name = directory + "." + base.substr(0, longest_base) + ".XXXXXX";
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
    struct stat output_status {};
    struct stat input_status {};
    // "vellox song.wav - >> song.wav" would append ACM data to the sound it reads.
    if (input_to_keep >= 0 && ::fstat(STDOUT_FILENO, &output_status) == 0 &&
        ::fstat(input_to_keep, &input_status) == 0 && S_ISREG(output_status.st_mode) &&
        input_status.st_dev == output_status.st_dev &&
        input_status.st_ino == output_status.st_ino) {
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

void use_named_temporary_files() { unnamed_allowed = false; }

}  // namespace vellox
