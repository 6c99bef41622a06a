#pragma once
// The batch form of both programs: every input converted by a job of its own, a child process
// of this very executable given the two-name form with "--quiet" and the batch's options, so
// that each output has exactly the bytes of a run of its own; up to "-j" jobs at once.

#include <cstdio>  // std::FILE

#include "frontend/batch_settings.h"

namespace vellox {

// What the batch needs to know of the program it runs.
struct BatchProgram {
    const char* extension = nullptr;  // of the outputs, ".acm"
    ProgramOptions options;           // the two-name form's options
    void (*print_banner)(std::FILE* console) = nullptr;
    void (*print_usage)(std::FILE* console) = nullptr;  // the batch's usage text
    // Checks the options of every job once, before any file is touched, printing on console
    // what is wrong: 0 when they can be used, else the exit status.
    int (*check_options)(const BatchSettings& settings, std::FILE* console) = nullptr;
};

// Runs the batch for the process's arguments, whose first word is "--batch"; returns the exit
// status: 0 when every file was converted or skipped, 1 when any failed or could not be
// started, 2 for a malformed command line or a value out of range. Ended by SIGINT, SIGTERM,
// SIGHUP or SIGPIPE, it stops every job and dies by that signal.
[[nodiscard]] int run_batch(int argc, const char* const* argv, const BatchProgram& program);

}  // namespace vellox
