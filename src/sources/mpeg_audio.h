#pragma once
// MPEG audio streams as detection and the libsndfile reader see them: the four-byte frame
// header, two frames in a row at the start of a file, an ID3v2 tag in front of the stream, and
// the first frame in which an encoder states the stream's frame count (Xing, Info or VBRI).

#include <cstddef>  // std::size_t
#include <cstdint>  // std::int32_t, std::int64_t

namespace vellox {

// The length in bytes of the frame whose 4-byte header begins at header, or 0 when those bytes
// are no valid header (no sync, a reserved version, layer, rate or emphasis, a free or bad
// bit rate).
[[nodiscard]] std::int32_t mpeg_frame_length(const unsigned char* header);

// True when the size bytes begin with a valid frame header and a second one where that frame
// ends, of the same version, layer and rate: what raw samples almost never look like.
[[nodiscard]] bool begins_with_mpeg_frames(const unsigned char* bytes, std::size_t size);

// The bytes of the ID3v2 tag at the start of the size bytes (header, body and footer), or 0
// when they do not begin with one.
[[nodiscard]] std::int64_t id3v2_tag_size(const unsigned char* bytes, std::size_t size);

// True when the size bytes begin with a layer III frame that states the stream's frame count:
// a Xing or Info frame with its frame field, or a VBRI frame. Without one a decoder can only
// estimate the length from the file size.
[[nodiscard]] bool mpeg_states_frame_count(const unsigned char* bytes, std::size_t size);

}  // namespace vellox
