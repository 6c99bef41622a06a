#pragma once
// The passes over the input that "--fit" and "--limit" make before the conversion: the
// encoder's analysis alone, to find the gain at which every coefficient fits 16 bits, or the
// limiter's ceiling at which nothing is clipped any more.

#include <cstdint>  // std::uint32_t
#include <memory>   // std::unique_ptr

#include "codec/encoder.h"             // EncoderSettings
#include "sources/converted_source.h"  // ConvertedSource
#include "sources/source_detection.h"  // SoundSource, SoundType

namespace vellox {

class InputLevel;

// How the input's level is set for the conversion.
struct LevelPlan {
    double gain_db = 0.0;  // the fixed gain: "--gain" and what "--fit" adds
    double fit_db = 0.0;   // what "--fit" added, 0 or less
    bool limit = false;    // "--limit"
    double ceiling = 1.0;  // the limiter's ceiling, of the 16-bit range
};

// Where the input comes from, to read it again from its start, and the conversion made again
// over it ("--downmix", "--resample").
struct InputPlace {
    const char* name;  // borrowed
    SoundType type;
    int descriptor;          // the spooled copy or standard input, -1 for the name
    bool converted = false;  // the signal is a ConvertedSource over the input
    bool downmix = false;    // its settings
    std::uint32_t rate = 0;
};

// Fills plan for gain_db ("--gain"), fit and limit. The passes read the signal (converted when
// converted is not null, else source) to its end and each time replace both by the input
// opened and converted again, so that it is at its start when this returns. False after
// printing why: a read error, an input that cannot be opened again or has changed, memory.
[[nodiscard]] bool plan_level(const EncoderSettings& settings, const InputPlace& input,
                              double gain_db, bool fit, bool limit,
                              std::unique_ptr<SoundSource>& source,
                              std::unique_ptr<ConvertedSource>& converted, LevelPlan& plan);

// The notes of "--fit" and "--limit" after the report, on standard error: the gain "--fit"
// applied when it is below 0, and what the limiter lowered (level, for the samples of the
// input) when it lowered anything.
void print_level_notes(const LevelPlan& plan, const InputLevel& level, std::int64_t samples);

// True when print_level_notes prints anything.
[[nodiscard]] bool level_notes_due(const LevelPlan& plan, const InputLevel& level);

}  // namespace vellox
