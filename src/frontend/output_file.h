#pragma once
// OutputFile: the ACM output, written so that a failure never costs the user a file. A
// regular (or new) target is written to a temporary file beside it and put in its place only
// after everything was written, flushed and closed without error; anything else (a device, a
// FIFO, standard output as "-") is written in place. Where the system allows, the temporary
// file has no name until then, so that not even a killed process leaves it behind. Messages
// always name the target as the user gave it.

#include <cstdio>  // std::FILE
#include <string>  // std::string

namespace vellox {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards whatever was not committed

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file that will become target_name. When input_to_keep is the descriptor of
    // the open input (-1: none) and target_name names the same file, prints "Error: Input and
    // output are the same file: '<target_name>'" and returns false; on any other failure
    // prints "Error: <system text>: '<target_name>'" and returns false. Nothing is created or
    // changed on failure.
    [[nodiscard]] bool open(const char* target_name, int input_to_keep = -1);

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
    [[nodiscard]] bool open_standard_output(int input_to_keep);

    // Gives the unnamed file open as descriptor the name final_path, replacing the target
    // when it exists; false with errno set.
    [[nodiscard]] bool name_unnamed_file(int descriptor);

    std::FILE* file = nullptr;     // owned
    const char* target = nullptr;  // borrowed: the name the user gave
    std::string final_path;        // where the file goes: the target, symbolic links resolved
    std::string temporary_path;    // the named temporary file; empty when unnamed or in place
    bool unnamed = false;          // the file being written has no name until commit
    bool replacing = false;        // final_path existed at open
};

// Test builds: with named on, temporary files get a name from the start, as where the system
// offers no other way, so that the tests also cover that way.
void use_named_temporary_files(bool named = true);

}  // namespace vellox
