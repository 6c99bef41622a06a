#pragma once
// Every fixed text the programs print as an error, a warning or a range message, in one table.
// The library never prints: it returns a status, and the programs choose the words.

namespace vellox {

enum class Message {
    cannot_open_input,       // the driver's line after an input that cannot be opened
    cannot_open_output,      // the driver's line after an output that cannot be opened
    cannot_create_coder,     // the filter bank could not be made
    cannot_create_packer,    // the block packer could not be made
    cannot_allocate_memory,  // any other memory
    not_a_wav_file,
    unsupported_wav_format,
    not_an_acm_file,
    input_too_long,      // more than 2^31 - 1 samples
    unsupported_format,  // another sound or container format under automatic detection
    same_file,           // the output names the input
    bad_tap_count,       // the count of a "-fc" file
    bad_numeric_format,  // a tap of a "-fc" file
    levels_range,
    filter_length_range,     // below 3
    fd_filter_length_range,  // "-fd" past its longest finite design
    fo_filter_length_range,  // "-fo" past its longest finite design
    subblocks_range,
    percents_range,
    gain_range,                // "--gain"
    clipped_coefficients,      // format: count, extreme value
    fade_out,                  // follows clipped_coefficients
    damaged_input,             // format: samples not decoded, the sample count
    left_to_pack,              // format: count
    channels_range,            // velloxdec "-c"
    rate_range,                // velloxdec "-r"
    cannot_open_original,      // velloxdec's line after a "--compare" file that cannot be opened
    frame_completed,           // format: zero samples that complete the WAV file's last frame
    sample_counts_differ,      // format: the original's sample count, the decoded one
    header_layout_replaced,    // velloxdec; format: the header's channels and rate
    header_channels_range,     // vellox "-c"
    header_rate_range,         // vellox "-r"
    trailing_bytes,            // velloxdec; format: bytes that follow the last block
    fitting_gain,              // format: the gain in dB; follows fade_out
    fit_applied,               // format: the gain in dB that "--fit" applied
    limit_applied,             // format: percent of the input lowered, the most it was, in dB
    input_changed,             // the input read again for "--fit" or "--limit" is not the same
    needs_sndfile,             // a format read through libsndfile, in a build without it
    frames_missing,            // format: frames the decoder did not deliver, frames announced
    original_frames_missing,   // velloxdec "--compare"; format as frames_missing
    resample_range,            // "--resample"
    resample_needs_rate,       // "--resample" above what the header's rate field holds
    resample_needs_soxr,       // "--resample" in a build without libsoxr
    layout_unknown,            // "--resample" or "--downmix" with raw or ACM input
    input_rate_not_resampled,  // format: the input's rate
    input_rate_too_high,       // "--downmix" alone; format: the input's rate
    too_many_channels,         // "--resample" without "--downmix"; format: the input's channels
    rate_note,                 // format: the signal's rate, the header's rate twice
    jobs_range,                // the batch's "-j"
    output_exists,             // the batch's reason for a file it skips
    same_output,               // the batch's second input with the output of an earlier one
    input_is_an_output,        // the batch's input that another input's output is
    job_signalled,             // the batch's job ended by a signal; format: its number and name
    job_exit_status,           // the batch's job failed without a word; format: its exit status
};

// The text of message: a plain line, or a printf format where the comment above says so.
[[nodiscard]] const char* message_text(Message message);

}  // namespace vellox
