#pragma once
// OutputFile: the ACM output, written so that a failure never costs the user a file. A
// regular (or new) target is written to a temporary file beside it and renamed over it only
// after everything was written, flushed and closed without error; anything else (a device, a
// FIFO) is written in place. Messages always name the target as the user gave it.

#include <cstdio>  // std::FILE
#include <string>  // std::string

namespace vellox {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards whatever was not committed

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file that will become target_name. On failure prints
    // "Error: <system text>: '<target_name>'" and returns false.
    [[nodiscard]] bool open(const char* target_name);

    // The stream to write to; null until open succeeded and after commit or discard.
    std::FILE* stream() const { return file; }

    // Flushes and closes the stream and puts the file in place of the target. On failure
    // prints the system's text with the target's name, removes the temporary file and returns
    // false.
    [[nodiscard]] bool commit();

    // Closes the stream and removes the temporary file; the target stays as it was.
    void discard();

    // Prints the system's text for error_number with the target's name.
    void print_write_error(int error_number) const;

private:
    std::FILE* file = nullptr;     // owned
    const char* target = nullptr;  // borrowed: the name the user gave
    std::string final_path;        // where the file goes: the target, symbolic links resolved
    std::string temporary_path;    // the file being written; empty when writing in place
};

}  // namespace vellox
