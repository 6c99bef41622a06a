#pragma once
// The batch form of each program: its outputs' extension, its options, its usage text and the
// check of the options made once before any file is touched.

namespace vellox {

// "vellox --batch [options] FILE...": every FILE into an ACM file; returns the exit status.
[[nodiscard]] int run_encoder_batch(int argc, const char* const* argv);

// "velloxdec --batch [options] FILE...": every FILE into a WAV file; returns the exit status.
[[nodiscard]] int run_decoder_batch(int argc, const char* const* argv);

}  // namespace vellox
