#pragma once
// The programs' sound inputs: a source opened through the factory, and the line that says why
// one could not be opened.

#include <memory>  // std::unique_ptr

#include "sources/open_result.h"
#include "sources/source_detection.h"

namespace vellox {

// Prints the line for a source that did not open: "Error: <system text>: '<file_name>'" for a
// failure, "Error: <refusal's text>: '<file_name>'" for a refusal ("Error: Cannot allocate
// memory" without the name).
void print_open_failure(const OpenResult& result, const char* file_name);

// open_sound_source; on failure prints why and returns null.
[[nodiscard]] std::unique_ptr<SoundSource> open_input_source(const char* file_name, SoundType type,
                                                             int descriptor = -1);

}  // namespace vellox
