#pragma once
// SndfileSource: the formats libsndfile reads (FLAC, Ogg Vorbis and Opus, MP3, AIFF, AU, CAF,
// W64, the WAV encodings the WAV reader leaves out, ...), delivered as 16-bit samples the way
// the WAV reader makes them. Only the programs link libsndfile; a build without it has this
// source all the same, and it refuses every file as needs_sndfile.

#include <cstdint>  // std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "sources/staged_source.h"

namespace vellox {

class SndfileSource : public StagedSource {
public:
    explicit SndfileSource(const char* file_name);
    ~SndfileSource() override;  // closes libsndfile's handle, then the file

    // True when this build reads files through libsndfile.
    static bool available();

    // Opens the file through libsndfile: unsupported_format when it cannot read it,
    // input_too_long for more than 2^31 - 1 samples, failed when a read of the file failed.
    // When the format does not tell its length, or only estimates it (an MP3 whose first frame
    // states no frame count), the file is decoded once to count its frames.
    OpenResult open() override;

    // A short upper-case name of the container: "FLAC", "OGG", "MP3", "AIFF", "WAV", ...
    const char* type_name() const override { return kind_name; }

    // read hands out the decoded frames in file order, channels interleaved: integer samples
    // keep their top 16 bits, real ones (float data and what the lossy codecs decode to)
    // become round-half-away-from-zero(x * 32768), saturated. When the decoder ends before the
    // count the file announced, zeros stand in for the frames it did not deliver.

    // Once the decoder has ended: the announced frames it did not deliver.
    std::int64_t frames_missing() const override { return missing_frames; }

private:
    struct Decoder;  // libsndfile's handle and the state of its file callbacks

    // Decodes the next frames into staged; false when the decoder has ended.
    bool refill() override;

    // Decodes the whole file, counting its frames, and opens it again at its start; -1 when it
    // holds more than 2^31 - 1 samples, -2 when it cannot be opened again.
    std::int64_t count_frames();

    // True when the file is an MP3 whose first frame states the stream's frame count.
    bool mpeg_frame_count_stated() const;

    std::unique_ptr<Decoder> decoder;
    std::unique_ptr<std::int32_t[]> integers;  // staging_frames frames of integer samples
    std::unique_ptr<double[]> reals;           // staging_frames frames of real samples
    std::int32_t staging_frames = 0;           // frames decoded per call
    std::int64_t announced_frames = 0;         // the frame count total_samples stands for
    std::int64_t decoded_frames = 0;           // frames the decoder delivered so far
    std::int64_t missing_frames = 0;           // see frames_missing
    bool real_samples = false;                 // read as doubles: float data and lossy codecs
    bool decoder_ended = false;
    const char* kind_name = "SNDFILE";  // see type_name
};

}  // namespace vellox
