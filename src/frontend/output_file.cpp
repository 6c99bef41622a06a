// The ACM output file: temporary file, checked close, rename, and clean-up on failure or
// interruption.

#include "frontend/output_file.h"

#include <fcntl.h>     // open flags, AT_FDCWD, AT_EACCESS
#include <signal.h>    // sigaction, SIGINT, SIGTERM, SIGHUP, SIGPIPE
#include <sys/stat.h>  // stat, fchmod, umask
#include <unistd.h>    // close, unlink, faccessat, fchown

#include <cerrno>   // errno
#include <csignal>  // std::sig_atomic_t
#include <cstdio>   // std::fdopen, std::fclose, std::rename
#include <cstdlib>  // mkstemp, realpath, free
#include <cstring>  // std::strlen, std::memcpy

#include "frontend/errors.h"

namespace vellox {

namespace {

// The temporary file of the conversion in progress, for the signal handler. A fixed array
// because the handler may not allocate.
char interrupted_path[4096];
volatile std::sig_atomic_t interrupted_path_set = 0;

extern "C" void remove_temporary_and_exit(int signal_number) {
    if (interrupted_path_set != 0) unlink(interrupted_path);
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
    action.sa_handler = remove_temporary_and_exit;
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

// The file a symbolic link finally names, or the name itself when it is no link or the
// link leads nowhere.
std::string resolve_links(const char* name) {
    struct stat link_status {};
    if (lstat(name, &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return name;
    char* resolved = realpath(name, nullptr);
    if (resolved == nullptr) return name;
    std::string path(resolved);
    std::free(resolved);
    return path;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const char* target_name) {
    target = target_name;
    // A file size limit then fails the write with EFBIG, which is reported, instead of killing
    // the process with the file half-written.
    std::signal(SIGXFSZ, SIG_IGN);
    final_path = resolve_links(target_name);

    struct stat status {};
    const bool exists = ::stat(final_path.c_str(), &status) == 0;
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
    const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    // The temporary name is 8 bytes longer than the base it takes: a target whose name is
    // near the 255-byte limit lends only its start.
    constexpr std::size_t longest_base = 200;
    std::string pattern = directory + "." + base.substr(0, longest_base) + ".XXXXXX";
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
        print_system_error(target);
        return false;
    }
    temporary_path = pattern;
    watch_for_interrupts(temporary_path);
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

bool OutputFile::commit() {
    if (file == nullptr) return false;
    const bool flushed = std::fflush(file) == 0;
    int error_number = errno;
    const bool closed = std::fclose(file) == 0;
    if (flushed && !closed) error_number = errno;
    file = nullptr;
    if (flushed && closed && !temporary_path.empty()) {
        if (std::rename(temporary_path.c_str(), final_path.c_str()) == 0) {
            temporary_path.clear();
            stop_watching();
            return true;
        }
        error_number = errno;
    } else if (flushed && closed) {
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
    if (!temporary_path.empty()) {
        unlink(temporary_path.c_str());
        temporary_path.clear();
        stop_watching();
    }
}

void OutputFile::print_write_error(int error_number) const {
    errno = error_number;
    print_system_error(target);
}

}  // namespace vellox
