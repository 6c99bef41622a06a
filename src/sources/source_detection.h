#pragma once
// The factory of sound sources: the kind the user named, or the kind found by looking at the
// file. Automatic detection tries each kind with a header in turn (WAV, ACM), then libsndfile
// for a file that begins like one of its formats (or with two MPEG audio frames), and takes
// what none of them recognises as raw 16-bit samples, unless it begins like a format that is
// not read here.

#include <memory>  // std::unique_ptr

#include "sources/open_result.h"
#include "sources/sound_source.h"

namespace vellox {

// The input kinds the command line can name; automatic lets the factory detect it.
enum class SoundType { automatic, raw8, raw16, wav, acm };

// An opened source, or why there is none.
struct OpenedSource {
    std::unique_ptr<SoundSource> source;  // owned; null unless result.ok()
    OpenResult result;
};

// Opens file_name as type. When descriptor is not -1, that open file (borrowed) is read and
// file_name only names it. Under automatic detection a file that a kind refuses for more than
// not being its kind, or that cannot be read, ends the detection with that result. The WAV
// kind, named or detected, offers a file that it refuses as unsupported to libsndfile first.
[[nodiscard]] OpenedSource open_sound_source(const char* file_name, SoundType type,
                                             int descriptor = -1);

}  // namespace vellox
