#pragma once
// The two error printers. The component that fails prints its own line, right after the
// failing call, so that errno still describes it.

namespace vellox {

// Prints "Error: <message>\n", or "Error: <message>: '<name>'\n" when name is not null, on
// standard error.
void print_error(const char* message, const char* name);

// print_error with the standard library's text for the current errno.
void print_system_error(const char* name);

}  // namespace vellox
