#pragma once
// The filter report: the designed filter pair as text. The programs never print it; a test or
// a debugging session may.

#include <cstdio>  // std::FILE

namespace vellox {

class AnalysisFilterBank;

// Writes the full length, one half of each filter and their DC gains on stream; nothing when
// stream is null.
void print_filters(std::FILE* stream, const AnalysisFilterBank& bank);

}  // namespace vellox
