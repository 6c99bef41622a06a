#pragma once
// The filter report: the designed filter pair, written where report_stream points. Nothing
// sets report_stream in the program; a test or a debugging session may.

#include <cstdio>  // std::FILE

namespace vellox {

class AnalysisFilterBank;

extern std::FILE* report_stream;  // null: no report

// Writes the full length, one half of each filter and their DC gains on stream; nothing when
// stream is null.
void print_filters(std::FILE* stream, const AnalysisFilterBank& bank);

}  // namespace vellox
