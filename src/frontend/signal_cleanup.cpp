// The signal handler that removes the temporary output file, and the signal block.

#include "frontend/signal_cleanup.h"

#include <unistd.h>  // unlink, _exit

#include <cerrno>   // errno
#include <csignal>  // std::sig_atomic_t
#include <cstring>  // std::memcpy

namespace vellox {

namespace {

// The temporary file of the conversion in progress, for the signal handler. A fixed array
// because the handler may not allocate.
char interrupted_path[4096];
volatile std::sig_atomic_t interrupted_path_set = 0;

extern "C" void remove_temporary_and_die(int signal_number) {
    if (interrupted_path_set != 0) unlink(interrupted_path);
    die_by_signal(signal_number);
}

// What the watched signals did before.
constexpr int watched_count = sizeof interrupting_signals / sizeof interrupting_signals[0];
struct sigaction previous_actions[watched_count];
bool watching = false;

}  // namespace

void die_by_signal(int signal_number) {
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

void watch_for_interrupts(const std::string& path) {
    if (path.size() >= sizeof interrupted_path) return;  // too long to remember: not removed
    std::memcpy(interrupted_path, path.c_str(), path.size() + 1);
    interrupted_path_set = 1;
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_die;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < watched_count; ++i) {
        sigaction(interrupting_signals[i], nullptr, &previous_actions[i]);
        // A signal the caller ignores stays ignored: "nohup" must keep a hang-up from ending
        // the conversion.
        if (previous_actions[i].sa_handler != SIG_IGN) {
            sigaction(interrupting_signals[i], &action, nullptr);
        }
    }
    watching = true;
}

void stop_watching() {
    interrupted_path_set = 0;
    if (!watching) return;
    for (int i = 0; i < watched_count; ++i)
        sigaction(interrupting_signals[i], &previous_actions[i], nullptr);
    watching = false;
}

SignalBlock::SignalBlock() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal_number : interrupting_signals) sigaddset(&blocked, signal_number);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
}

SignalBlock::~SignalBlock() {
    const int error_number = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = error_number;
}

}  // namespace vellox
