#pragma once
// Clean-up on interruption: the signals that end a conversion early (SIGINT, SIGTERM, SIGHUP,
// SIGPIPE) first remove the named temporary file of the output, and can be held off while the
// output changes names.

#include <signal.h>  // sigset_t, SIGINT, SIGTERM, SIGHUP, SIGPIPE

#include <string>  // std::string

namespace vellox {

// The signals that end a conversion early. SIGPIPE comes when the reader of the console output
// goes away ("vellox ... | head -n 2").
inline constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Ends the process by signal_number, as its default action does, so that the caller sees it: a
// shell loop stops at the first Ctrl-C (and shows 128 + the signal's number). Safe in a signal
// handler.
[[noreturn]] void die_by_signal(int signal_number);

// From now on until stop_watching, each watched signal removes the file at path and then ends
// the process as the signal itself would. A signal the caller ignores stays ignored. A path
// too long to remember is not removed.
void watch_for_interrupts(const std::string& path);

// The watched signals do again what they did before watch_for_interrupts.
void stop_watching();

// Keeps the watched signals from ending the process while it lives, and lets them through
// again when it goes.
class SignalBlock {
public:
    SignalBlock();
    ~SignalBlock();  // keeps errno
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t previous;  // the mask before
};

}  // namespace vellox
