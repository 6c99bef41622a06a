#pragma once
// Running the real executable for command-line tests: a scratch folder per test, files in and
// out, and a child process whose stdout, stderr and exit status are kept.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vellox::cli {

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// 16-bit little-endian samples as raw bytes.
inline std::string raw16(const std::vector<std::int16_t>& samples) {
    std::string bytes;
    for (std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

// A sine of the given amplitude and period, count samples long.
inline std::vector<std::int16_t> sine(std::size_t count, double amplitude, double period) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2.0 * M_PI * static_cast<double>(i) / period)));
    }
    return samples;
}

// Seeded noise in -amplitude .. amplitude.
inline std::vector<std::int16_t> noise(std::size_t count, int amplitude, std::uint32_t seed) {
    std::vector<std::int16_t> samples(count);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = static_cast<std::int16_t>(
            static_cast<int>((state >> 8) % (2u * static_cast<unsigned>(amplitude) + 1)) -
            amplitude);
    }
    return samples;
}

inline bool file_exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// The names in a folder, "." and ".." left out.
inline std::set<std::string> list_folder(const std::string& path) {
    std::set<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(dir);
    }
    return names;
}

// A folder that lives as long as the object.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/vellox-test-XXXXXX";
        made_ = mkdtemp(pattern) != nullptr;
        if (made_) {
            path_ = pattern;
        } else {
            // A folder that does not exist: the test fails, and no shared folder is removed.
            std::perror("mkdtemp");
            path_ = "/nonexistent/vellox-test";
        }
    }
    ~ScratchFolder() {
        if (!made_) return;
        const std::string command =
            "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) std::perror("rm");
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    bool made_ = false;  // path_ is a folder of our own
};

struct RunOptions {
    std::optional<rlim_t> file_size_limit;       // RLIMIT_FSIZE, with SIGXFSZ ignored
    std::optional<rlim_t> address_space_limit;   // RLIMIT_AS
    std::string working_directory;               // empty: this process's
    std::string executable = VELLOX_EXECUTABLE;  // the program to run
    std::vector<std::string> environment;        // NAME=value settings added for the child
    std::optional<uid_t> user;                   // run as this user (and group), from root
    std::optional<mode_t> umask;                 // the child's file mode creation mask
    int standard_input = -1;                     // the child's standard input; -1: this process's
    int standard_output = -1;  // the child's standard output; -1: a file read into RunResult::out
    int standard_error = -1;   // the child's standard error; -1: a file read into RunResult::err
    std::vector<int> closed;   // standard descriptors (0, 1, 2) the child starts without
};

struct RunResult {
    int exit_code = -1;  // -1 when the process ended by a signal
    int signal = 0;      // the signal that ended it, 0 when it exited
    std::string out;     // standard output
    std::string err;     // standard error
};

// Starts the executable with args; its output goes to files in folder.
class Child {
public:
    Child(const std::vector<std::string>& args, const ScratchFolder& folder,
          const RunOptions& options = {})
        : out_path_(folder / ".stdout"), err_path_(folder / ".stderr") {
        std::vector<std::string> words{options.executable};
        words.insert(words.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            if (options.standard_input >= 0) dup2(options.standard_input, 0);
            if (options.standard_output >= 0) dup2(options.standard_output, 1);
            if (options.standard_error >= 0) dup2(options.standard_error, 2);
            for (const int descriptor : options.closed) close(descriptor);
            if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0)
                _exit(126);
            if (options.file_size_limit) {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{*options.file_size_limit, *options.file_size_limit};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (options.address_space_limit) {
                const rlimit limit{*options.address_space_limit, *options.address_space_limit};
                setrlimit(RLIMIT_AS, &limit);
            }
            if (options.user && (setgroups(0, nullptr) != 0 || setgid(*options.user) != 0 ||
                                 setuid(*options.user) != 0)) {
                _exit(126);
            }
            if (options.umask) ::umask(*options.umask);
            for (const std::string& setting : options.environment) {
                const std::size_t equals = setting.find('=');
                setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
            }
            std::vector<char*> argv;
            for (std::string& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    pid_t pid() const { return pid_; }
    std::string output_so_far() const { return read_file(out_path_); }
    std::string error_so_far() const { return read_file(err_path_); }

    RunResult wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        RunResult result;
        if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        result.out = read_file(out_path_);
        result.err = read_file(err_path_);
        unlink(out_path_.c_str());
        unlink(err_path_.c_str());
        return result;
    }

private:
    std::string out_path_;
    std::string err_path_;
    pid_t pid_ = -1;
};

// Waits until the child's standard output (with from_error, its standard error) holds text;
// false when it ended first, or after two minutes.
inline bool wait_for_output(const Child& child, const std::string& text, bool from_error = false) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < give_up) {
        const std::string so_far = from_error ? child.error_so_far() : child.output_so_far();
        if (so_far.find(text) != std::string::npos) return true;
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT) !=
                0 ||
            info.si_pid != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Ends a child that a failed assertion left running, so that it does not convert on for
// minutes into a folder that is gone: by SIGKILL, or by signal_number (a batch passes SIGTERM
// on to its jobs).
class Reaper {
public:
    explicit Reaper(const Child& child, int signal_number = SIGKILL)
        : child_pid(child.pid()), signal(signal_number) {}
    ~Reaper() {
        if (child_pid > 0 && waitpid(child_pid, nullptr, WNOHANG) == 0) {
            kill(child_pid, signal);
            waitpid(child_pid, nullptr, 0);
        }
    }
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

private:
    pid_t child_pid;
    int signal;
};

// True when the user nobody may run the program (a checkout under a private home folder
// does not let it).
inline bool nobody_can_run(const std::string& program) {
    const pid_t pid = fork();
    if (pid == 0) {
        const bool allowed = setgroups(0, nullptr) == 0 && setgid(65534) == 0 &&
                             setuid(65534) == 0 && access(program.c_str(), X_OK) == 0;
        _exit(allowed ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Options that run the program without root's right to read and write everything: as the
// user nobody when the tests run as root (the folder is opened to everyone for it), as the
// user itself otherwise. Empty when that cannot be done here.
inline std::optional<RunOptions> unprivileged(const ScratchFolder& folder) {
    RunOptions options;
    if (geteuid() == 0) {
        if (!nobody_can_run(options.executable)) return std::nullopt;
        chmod(folder.path().c_str(), 0777);
        options.user = 65534;
    }
    return options;
}

inline RunResult run_vellox(const std::vector<std::string>& args, const ScratchFolder& folder,
                            const RunOptions& options = {}) {
    Child child(args, folder, options);
    return child.wait();
}

constexpr const char* banner = "vellox converter v1.0 beta  (c) 2026 vellox contributors\n";

}  // namespace vellox::cli
