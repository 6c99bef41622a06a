#pragma once
// What a batch does with each input, decided for all of them before any is converted: the
// output's name, and whether the input is converted, skipped (its output exists) or refused
// (its output is another input's, or it is an output itself).

#include <cstdint>  // std::int64_t
#include <string>   // std::string
#include <vector>   // std::vector

#include "frontend/messages.h"

namespace vellox {

enum class FilePlan {
    convert,
    skipped,  // the output exists and "-f" was not given
    refused,  // a failure found beforehand
};

struct BatchFile {
    const char* input = nullptr;          // borrowed: the name as given
    std::string output;                   // the output's name
    std::int64_t input_bytes = 0;         // the input's size, for the time left; 0: unknown
    FilePlan plan = FilePlan::convert;    // what is done with it
    Message reason = Message::same_file;  // why it is skipped or refused
    std::string reason_name;              // the file the reason names
};

// The output of input: its name with the extension (".acm") in place of its own (the part of
// its last component from a "." that is not the component's first character on), or added
// when it has none; in output_dir (null: beside the input).
[[nodiscard]] std::string batch_output_name(const char* input, const char* output_dir,
                                            const char* extension);

// One BatchFile for each input, in their order, its output named and its plan decided: an
// input that is some file's output, its own included ("Input and output are the same file"),
// and the second of two inputs with the same output are refused; an output that exists (a
// link that leads nowhere included) is skipped unless force.
[[nodiscard]] std::vector<BatchFile> plan_batch(const std::vector<const char*>& inputs,
                                                const char* output_dir, const char* extension,
                                                bool force);

}  // namespace vellox
