#pragma once
// Standard input, output and error that the caller closed ("vellox a.wav b.acm >&-") are
// opened on /dev/null first: otherwise the first file opened takes the number of one of them,
// and the console text ends up in the ACM file.

namespace vellox {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. False when one cannot be
// opened: then nothing may run, and nothing can be printed either.
[[nodiscard]] bool open_closed_standard_descriptors();

}  // namespace vellox
