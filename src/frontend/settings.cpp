// The command line. (Not written yet.)

#include "frontend/settings.h"

namespace vellox {

ParseOutcome parse_command_line(int /*argc*/, const char* const* /*argv*/,
                                ConversionSettings& /*settings*/) {
    return ParseOutcome::show_usage;
}

void print_usage() {}

}  // namespace vellox
