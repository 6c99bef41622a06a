#pragma once
// The batch's stopping signals: caught while jobs run, they only note the first one and wake
// the loop through a pipe, which sends it on to every job.

namespace vellox {

// The job channel's descriptor in a job.
constexpr int job_channel_number = 3;

// A pipe whose ends are both above the descriptors a job gets (0 to 3) and closed in every job
// but where they are given on purpose; false with errno set.
bool make_job_pipe(int ends[2]);

// Catches the stopping signals that were not ignored (a signal ignored stays ignored, in the
// jobs too: "nohup" keeps working) and puts in *reader the pipe end that becomes readable when
// one comes. False with errno set when the pipe cannot be made.
bool catch_stop_signals(int* reader);

// The first stopping signal caught; 0: none yet.
int stop_signal_caught();

// Empties the pipe of catch_stop_signals, so that poll waits again.
void drain_stop_pipe(int reader);

}  // namespace vellox
