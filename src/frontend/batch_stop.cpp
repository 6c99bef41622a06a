// The batch's stopping signals: the handler notes the first and writes one byte to a pipe
// that the batch's poll watches.

#include "frontend/batch_stop.h"

#include <fcntl.h>   // fcntl, pipe2, O_CLOEXEC, O_NONBLOCK
#include <unistd.h>  // read, write, close

#include <cerrno>   // errno
#include <csignal>  // sigaction, std::sig_atomic_t

#include "frontend/signal_cleanup.h"

namespace vellox {

namespace {

volatile std::sig_atomic_t stop_signal = 0;  // the first stopping signal; 0: none yet
int stop_pipe = -1;                          // write end: wakes the loop

extern "C" void note_stop(int signal_number) {
    const int error_number = errno;
    if (stop_signal == 0) stop_signal = signal_number;
    if (::write(stop_pipe, "", 1) < 0) {
        // Full: the loop is woken already.
    }
    errno = error_number;
}

}  // namespace

bool make_job_pipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    for (int k = 0; k < 2; ++k) {
        if (ends[k] > job_channel_number) continue;
        const int moved = fcntl(ends[k], F_DUPFD_CLOEXEC, job_channel_number + 1);
        if (moved < 0) {
            const int error_number = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            ends[0] = ends[1] = -1;
            errno = error_number;
            return false;
        }
        ::close(ends[k]);
        ends[k] = moved;
    }
    return true;
}

bool catch_stop_signals(int* reader) {
    int ends[2];
    if (!make_job_pipe(ends)) return false;
    *reader = ends[0];
    stop_pipe = ends[1];
    fcntl(stop_pipe, F_SETFL, O_NONBLOCK);
    fcntl(*reader, F_SETFL, O_NONBLOCK);
    // Under an ignored SIGCHLD (inherited) the system would reap the jobs itself and leave no
    // exit status to wait for.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(SIGCHLD, &default_action, nullptr);
    struct sigaction action {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : interrupting_signals) {
        struct sigaction previous {};
        sigaction(signal_number, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
    }
    return true;
}

int stop_signal_caught() { return stop_signal; }

void drain_stop_pipe(int reader) {
    char drained[64];
    while (::read(reader, drained, sizeof drained) > 0) {
    }
}

}  // namespace vellox
