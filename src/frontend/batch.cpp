// The batch: the plan, then the jobs, each with two pipes (its console and error lines, and
// its job channel), watched with poll together with the pipe the stopping signals write to.

#include "frontend/batch.h"

#include <fcntl.h>     // fcntl, pipe2, O_CLOEXEC
#include <poll.h>      // poll
#include <spawn.h>     // posix_spawn, posix_spawnp
#include <sys/stat.h>  // stat
#include <sys/wait.h>  // waitpid
#include <unistd.h>    // read, write, close, isatty, access

#include <cerrno>   // errno
#include <csignal>  // kill, sigprocmask
#include <cstdint>  // std::int64_t
#include <cstring>  // std::strerror, std::strncmp, std::strlen
#include <memory>   // std::unique_ptr
#include <string>   // std::string
#include <vector>   // std::vector

#include "common/alloc.h"
#include "frontend/batch_console.h"
#include "frontend/batch_plan.h"
#include "frontend/batch_stop.h"
#include "frontend/errors.h"
#include "frontend/job_channel.h"
#include "frontend/messages.h"
#include "frontend/signal_cleanup.h"

extern char** environ;

namespace vellox {

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

constexpr std::size_t text_capacity = 16384;  // bytes of a job's lines kept; the rest is dropped
constexpr std::size_t line_capacity = 128;    // bytes of a channel line; longer ones are dropped
constexpr int progress_interval = 100;        // milliseconds between redraws on a terminal

void close_descriptor(int& descriptor) {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
}

// One job: the child converting one file, and what it has said so far.
struct Job {
    pid_t pid = -1;                 // -1: the slot is free
    std::size_t file = 0;           // its file in the plan
    int text = -1;                  // read end of its standard output and error; -1: closed
    int channel = -1;               // read end of its job channel; -1: closed
    JobReport report;               // from the channel
    std::size_t text_size = 0;      // bytes in text_kept
    bool text_cut = false;          // more came than text_kept holds
    std::size_t line_size = 0;      // bytes in line
    bool line_cut = false;          // the line being read is too long: dropped
    char line[line_capacity];       // the channel's line being read
    char text_kept[text_capacity];  // what it printed
};

struct BatchRun {
    const BatchSettings* settings = nullptr;  // borrowed
    std::vector<BatchFile>* files = nullptr;  // borrowed
    BatchConsole* console = nullptr;          // borrowed
    const char* program_name = nullptr;       // borrowed: argv[0]
    bool through_proc = false;                // the jobs run /proc/self/exe, else program_name
    std::string channel_setting;              // "VELLOX_JOB_CHANNEL=3"
    std::vector<char*> environment;           // the jobs', null-terminated
    sigset_t job_mask;                        // the signal mask the jobs start with
    std::unique_ptr<Job[]> jobs;
    std::size_t job_count = 0;  // slots in jobs
    std::size_t running = 0;    // slots in use
    int stop_reader = -1;       // read end of the stop pipe (see catch_stop_signals)
    bool stopped = false;       // the stop signal was sent to every job
};

// The job's environment: this process's, without a channel setting of its own, with the job's.
void make_environment(BatchRun& run) {
    run.channel_setting =
        std::string(job_channel_variable) + "=" + std::to_string(job_channel_number);
    const std::size_t length = std::strlen(job_channel_variable);
    for (char** setting = environ; *setting != nullptr; ++setting) {
        if (std::strncmp(*setting, job_channel_variable, length) == 0 &&
            (*setting)[length] == '=') {
            continue;
        }
        run.environment.push_back(*setting);
    }
    run.environment.push_back(run.channel_setting.data());
    run.environment.push_back(nullptr);
}

// A name as the two-name form takes it: one that begins with "-" would be taken for an option.
std::string job_name(const std::string& name) { return name[0] == '-' ? "./" + name : name; }

// Starts the job for file index in job; false when it cannot be started, after reporting the
// file as failed.
bool start_job(BatchRun& run, Job& job, std::size_t index) {
    const BatchFile& file = (*run.files)[index];
    const BatchSettings& settings = *run.settings;
    const std::string input = job_name(file.input);
    const std::string output = job_name(file.output);
    std::vector<char*> words{const_cast<char*>(run.program_name)};
    if (settings.type_word != nullptr) words.push_back(const_cast<char*>(settings.type_word));
    words.push_back(const_cast<char*>(input.c_str()));
    words.push_back(const_cast<char*>(output.c_str()));
    for (const char* option : settings.options) words.push_back(const_cast<char*>(option));
    words.push_back(const_cast<char*>("--quiet"));
    words.push_back(nullptr);

    int text[2] = {-1, -1};
    int channel[2] = {-1, -1};
    int error_number = 0;
    const char* failed_name = nullptr;  // what the failure's message names; null: nothing
    pid_t pid = -1;
    if (!make_job_pipe(text) || !make_job_pipe(channel)) {
        error_number = errno;
    } else {
        failed_name = run.through_proc ? "/proc/self/exe" : run.program_name;
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, text[1], 1);
        posix_spawn_file_actions_adddup2(&actions, text[1], 2);
        posix_spawn_file_actions_adddup2(&actions, channel[1], job_channel_number);
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setsigmask(&attributes, &run.job_mask);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        error_number = run.through_proc ? posix_spawn(&pid, failed_name, &actions, &attributes,
                                                      words.data(), run.environment.data())
                                        : posix_spawnp(&pid, failed_name, &actions, &attributes,
                                                       words.data(), run.environment.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    close_descriptor(text[1]);
    close_descriptor(channel[1]);
    if (error_number != 0) {
        close_descriptor(text[0]);
        close_descriptor(channel[0]);
        std::string reason = std::string("Error: ") + std::strerror(error_number);
        if (failed_name != nullptr) reason += std::string(": '") + failed_name + "'";
        reason += '\n';
        run.console->failed(file, 0, reason.data(), reason.size());
        return false;
    }
    job.pid = pid;
    job.file = index;
    job.text = text[0];
    job.channel = channel[0];
    job.report = JobReport{};
    job.text_size = 0;
    job.text_cut = false;
    job.line_size = 0;
    job.line_cut = false;
    ++run.running;
    return true;
}

// Takes what the job printed; the end closes its pipe.
void read_text(Job& job) {
    char scrap[4096];
    const bool room = job.text_size < text_capacity;
    const ssize_t got =
        room ? ::read(job.text, job.text_kept + job.text_size, text_capacity - job.text_size)
             : ::read(job.text, scrap, sizeof scrap);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
        close_descriptor(job.text);
    } else if (room) {
        job.text_size += static_cast<std::size_t>(got);
    } else {
        job.text_cut = true;
    }
}

// Takes the job channel's lines; the end closes its pipe.
void read_channel(Job& job) {
    char bytes[512];
    const ssize_t got = ::read(job.channel, bytes, sizeof bytes);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
        close_descriptor(job.channel);
        return;
    }
    for (ssize_t k = 0; k < got; ++k) {
        if (bytes[k] == '\n') {
            job.line[job.line_size] = '\0';
            if (!job.line_cut) read_job_line(job.line, job.report);
            job.line_size = 0;
            job.line_cut = false;
        } else if (job.line_size + 1 < line_capacity) {
            job.line[job.line_size++] = bytes[k];
        } else {
            job.line_cut = true;
        }
    }
}

// Reaps the job whose pipes are both closed and reports its file; nothing while stopping.
void finish_job(BatchRun& run, Job& job) {
    int status = 0;
    pid_t reaped = -1;
    while ((reaped = waitpid(job.pid, &status, 0)) < 0 && errno == EINTR) {
    }
    const int wait_error = errno;
    const bool ended = reaped == job.pid;
    job.pid = -1;
    --run.running;
    if (stop_signal_caught() != 0) return;
    const BatchFile& file = (*run.files)[job.file];
    const JobReport& report = job.report;
    if (ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        std::uint64_t bytes = report.bytes;
        std::int64_t samples = report.samples;
        if (!report.written) {
            // Converted all the same: the exit status says the output is complete.
            struct stat output {};
            bytes = ::stat(file.output.c_str(), &output) == 0
                        ? static_cast<std::uint64_t>(output.st_size)
                        : 0;
            samples = report.total;
        }
        run.console->converted(file, bytes, samples, job.text_kept, job.text_size);
        return;
    }
    std::string text(job.text_kept, job.text_size);
    if (!text.empty() && text.back() != '\n') text += '\n';
    if (job.text_cut) text += "...\n";
    char reason[128] = "";
    if (!ended) {
        std::snprintf(reason, sizeof reason, "%s", std::strerror(wait_error));
    } else if (WIFSIGNALED(status)) {
        std::snprintf(reason, sizeof reason, message_text(Message::job_signalled), WTERMSIG(status),
                      strsignal(WTERMSIG(status)));
    } else if (text.empty()) {
        std::snprintf(reason, sizeof reason, message_text(Message::job_exit_status),
                      WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    if (reason[0] != '\0') text += std::string("Error: ") + reason + "\n";
    run.console->failed(file, report.done, text.data(), text.size());
}

// How far the running jobs are: input samples read, and the input bytes they stand for.
void running_progress(const BatchRun& run, std::int64_t* samples, double* bytes) {
    *samples = 0;
    *bytes = 0;
    for (std::size_t k = 0; k < run.job_count; ++k) {
        const Job& job = run.jobs[k];
        if (job.pid < 0) continue;
        *samples += job.report.done;
        if (job.report.total > 0) {
            *bytes += static_cast<double>((*run.files)[job.file].input_bytes) *
                      static_cast<double>(job.report.done) / static_cast<double>(job.report.total);
        }
    }
}

// Runs every file planned for conversion, up to job_count at once, until all are done or a
// stopping signal came and every job has ended.
void run_jobs(BatchRun& run) {
    std::vector<BatchFile>& files = *run.files;
    const std::unique_ptr<pollfd[]> watched =
        allocate_array<pollfd>(static_cast<std::int64_t>(2 * run.job_count + 1));
    const std::unique_ptr<Job*[]> owners =
        allocate_array<Job*>(static_cast<std::int64_t>(2 * run.job_count + 1));
    if (watched == nullptr || owners == nullptr) {
        print_error(message_text(Message::cannot_allocate_memory), nullptr);
        return;
    }
    std::size_t next = 0;
    for (;;) {
        while (stop_signal_caught() == 0 && run.running < run.job_count && next < files.size()) {
            if (files[next].plan != FilePlan::convert) {
                ++next;
                continue;
            }
            std::size_t free_slot = 0;
            while (run.jobs[free_slot].pid >= 0) ++free_slot;
            (void)start_job(run, run.jobs[free_slot], next++);
        }
        if (stop_signal_caught() != 0 && !run.stopped) {
            // A terminal's Ctrl-C reached every job already; a signal sent to this process
            // alone reaches them here. Each removes its temporary file and dies.
            for (std::size_t k = 0; k < run.job_count; ++k) {
                if (run.jobs[k].pid >= 0) kill(run.jobs[k].pid, stop_signal_caught());
            }
            run.stopped = true;
        }
        if (run.running == 0) break;

        nfds_t count = 0;
        watched[count++] = pollfd{run.stop_reader, POLLIN, 0};
        for (std::size_t k = 0; k < run.job_count; ++k) {
            Job& job = run.jobs[k];
            if (job.pid < 0) continue;
            for (const int descriptor : {job.text, job.channel}) {
                if (descriptor < 0) continue;
                owners[count] = &job;
                watched[count++] = pollfd{descriptor, POLLIN, 0};
            }
        }
        const int timeout = run.console->shows_progress() ? progress_interval : -1;
        if (poll(watched.get(), count, timeout) < 0 && errno != EINTR) break;
        if (watched[0].revents != 0) drain_stop_pipe(run.stop_reader);
        bool finished = false;
        for (nfds_t k = 1; k < count; ++k) {
            if (watched[k].revents == 0) continue;
            Job& job = *owners[k];
            if (watched[k].fd == job.text) {
                read_text(job);
            } else {
                read_channel(job);
            }
            if (job.text < 0 && job.channel < 0 && job.pid >= 0) {
                finish_job(run, job);
                finished = true;
            }
        }
        std::int64_t samples = 0;
        double bytes = 0;
        running_progress(run, &samples, &bytes);
        run.console->show_progress(samples, bytes, finished);
    }
}

}  // namespace

int run_batch(int argc, const char* const* argv, const BatchProgram& program) {
    BatchSettings settings;
    const BatchParse parsed = parse_batch_command_line(argc, argv, program.options, settings);
    std::FILE* console = stderr;
    if (!settings.quiet) program.print_banner(console);
    switch (parsed) {
        case BatchParse::accepted:
            break;
        case BatchParse::show_usage:
            program.print_usage(console);
            return exit_usage;
        case BatchParse::jobs_range:
            std::fputs(message_text(Message::jobs_range), console);
            return exit_usage;
    }
    const int checked = program.check_options(settings, console);
    if (checked != exit_success) return checked;
    if (settings.output_dir != nullptr) {
        struct stat folder {};
        const bool found = ::stat(settings.output_dir, &folder) == 0;
        if (!found || !S_ISDIR(folder.st_mode)) {
            if (found) errno = ENOTDIR;
            print_system_error(settings.output_dir);
            return exit_failure;
        }
    }

    std::vector<BatchFile> files =
        plan_batch(settings.files, settings.output_dir, program.extension, settings.force);
    std::int64_t to_convert = 0;
    std::int64_t bytes = 0;
    for (const BatchFile& file : files) {
        if (file.plan != FilePlan::convert) continue;
        ++to_convert;
        bytes += file.input_bytes;
    }
    BatchConsole batch_console(stderr, isatty(STDERR_FILENO) != 0, settings.quiet,
                               static_cast<std::int64_t>(files.size()), bytes);
    for (const BatchFile& file : files) {
        if (file.plan != FilePlan::convert) batch_console.planned(file);
    }

    BatchRun run;
    run.settings = &settings;
    run.files = &files;
    run.console = &batch_console;
    run.program_name = argv[0];
    run.through_proc = access("/proc/self/exe", X_OK) == 0;
    run.job_count =
        static_cast<std::size_t>(to_convert < settings.jobs ? to_convert : settings.jobs);
    if (run.job_count > 0) {
        run.jobs = allocate_array<Job>(static_cast<std::int64_t>(run.job_count));
        if (run.jobs == nullptr) {
            print_error(message_text(Message::cannot_allocate_memory), nullptr);
            return exit_failure;
        }
        if (!catch_stop_signals(&run.stop_reader)) {
            print_system_error(nullptr);
            return exit_failure;
        }
        sigprocmask(SIG_SETMASK, nullptr, &run.job_mask);
        make_environment(run);
        batch_console.show_progress(0, 0, true);
        run_jobs(run);
        if (stop_signal_caught() != 0) {
            batch_console.clear_progress();
            die_by_signal(stop_signal_caught());
        }
    }
    batch_console.print_summary();
    return batch_console.failures() > 0 ? exit_failure : exit_success;
}

}  // namespace vellox
