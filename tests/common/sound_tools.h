#pragma once
// The sound tools that make the test files of the formats read through libsndfile (flac, sox,
// oggenc, opusenc, lame, ...): whether one is installed, and running one quietly.

#include <cstdlib>  // std::system
#include <string>

namespace vellox::test {

// True when the program name is on the PATH.
inline bool have_tool(const std::string& name) {
    return std::system(("command -v '" + name + "' > /dev/null 2>&1").c_str()) == 0;
}

// Runs command through the shell with its output thrown away; true when it exited with 0.
inline bool run_tool(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// The shell word for text, in single quotes.
inline std::string quoted(const std::string& text) {
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

}  // namespace vellox::test
