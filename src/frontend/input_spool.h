#pragma once
// InputSpool: standard input ("-") and pipes or character devices named as the input, copied
// to an unnamed temporary file first, because the sample count must be known before the
// header is written. The copy has no name, so no way out of the process leaves it behind.

#include "sources/source_detection.h"  // SoundType

namespace vellox {

class InputSpool {
public:
    InputSpool() = default;
    ~InputSpool();  // closes the copy, which then disappears

    InputSpool(const InputSpool&) = delete;
    InputSpool& operator=(const InputSpool&) = delete;

    // For "-", and for a FIFO or character device named input_name: copies everything it
    // delivers into a file in TMPDIR (else /tmp) that has no name. Standard input that is a
    // file nothing has been read from yet is read in place instead. Any other name is left to
    // the sources. False after printing why the copy failed: a read error (with input_name),
    // a temporary file that cannot be made or written (with the folder's name), or more bytes
    // than any input of type that can be converted ("Input file is too long").
    [[nodiscard]] bool open(const char* input_name, SoundType type);

    // What the sources read instead of opening the input's name; -1: they open the name.
    int descriptor() const { return read_descriptor; }

private:
    int read_descriptor = -1;  // the copy or standard input, or -1
    bool owned = false;        // read_descriptor is the copy, closed by the destructor
};

}  // namespace vellox
