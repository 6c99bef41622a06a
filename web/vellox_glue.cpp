// The C functions the page's module adds to the library's API: vellox's own WAV and "-fc"
// readers over files the JavaScript puts in the module's memory file system, velloxdec's
// quality measures and WAV header, the report lines both programs print, and the layout of the
// settings struct. Each only calls the programs' code, so the page reads, measures and words
// its results exactly as they do.

#include <cerrno>   // errno
#include <cstddef>  // offsetof, std::size_t
#include <cstdint>  // std::int16_t, std::int32_t, std::uint8_t, std::uint64_t
#include <cstdio>   // std::FILE, fmemopen, std::fprintf, std::fclose
#include <cstring>  // std::strerror
#include <memory>   // std::unique_ptr

#include "common/alloc.h"
#include "frontend/filter_file.h"
#include "frontend/messages.h"
#include "frontend/quality_compare.h"
#include "frontend/wav_writer.h"
#include "sources/open_result.h"
#include "sources/wav_source.h"
#include "vellox/vellox.h"

namespace vellox {

namespace {

// What vellox prints for a WAV file it could not open, without the "Error: " and the name.
const char* open_failure_text(const OpenResult& result) {
    if (result.outcome == OpenResult::Outcome::failed) return std::strerror(result.error_number);
    switch (result.reason) {
        case Refusal::not_a_wav_file:
            return message_text(Message::not_a_wav_file);
        case Refusal::unsupported_wav_format:
            return message_text(Message::unsupported_wav_format);
        case Refusal::input_too_long:
            return message_text(Message::input_too_long);
        default:
            return message_text(Message::cannot_allocate_memory);
    }
}

// Opens a stream that writes into text (capacity bytes, always ended by a zero byte); the
// caller closes it. Null when capacity is 0 or the stream cannot be had.
std::FILE* open_text(char* text, std::size_t capacity) {
    if (capacity == 0) return nullptr;
    text[0] = '\0';
    return fmemopen(text, capacity, "w");
}

}  // namespace

extern "C" {

// sizeof(vellox_settings), then the offset of each field the JavaScript sets, in the order
// of the struct.
const std::int32_t* vellox_web_settings_layout() {
    static const std::int32_t layout[] = {
        sizeof(vellox_settings),
        offsetof(vellox_settings, levels),
        offsetof(vellox_settings, subblocks),
        offsetof(vellox_settings, filter),
        offsetof(vellox_settings, filter_length),
        offsetof(vellox_settings, taps),
        offsetof(vellox_settings, tap_count),
        offsetof(vellox_settings, percents),
        offsetof(vellox_settings, input_is_16bit),
        offsetof(vellox_settings, high_quality),
        offsetof(vellox_settings, channels),
        offsetof(vellox_settings, sample_rate),
    };
    return layout;
}

// vellox's WAV reader over the file at path. On success the source, and info receives its
// sample count, channels, sample rate and whether the samples are 16-bit (1) or 8-bit (0).
// On failure null, and *error the words vellox prints for it.
WavSource* vellox_web_wav_open(const char* path, std::int32_t* info, const char** error) {
    std::unique_ptr<WavSource> source = make_object<WavSource>(path);
    if (source == nullptr) {
        *error = message_text(Message::cannot_allocate_memory);
        return nullptr;
    }
    const OpenResult result = source->open();
    if (!result.ok()) {
        *error = open_failure_text(result);
        return nullptr;
    }
    info[0] = source->total_samples;
    info[1] = source->channels;
    info[2] = static_cast<std::int32_t>(source->sample_rate);
    info[3] = source->is_16bit;
    return source.release();
}

// The next count samples of source into samples (zeros past its end); returns how many came
// from the file, or -1 with *error the system's text when the file could not be read.
std::int32_t vellox_web_wav_read(WavSource* source, std::int16_t* samples, std::int32_t count,
                                 const char** error) {
    const std::int32_t got = source->read(samples, count);
    if (source->read_error() == 0) return got;
    *error = std::strerror(source->read_error());
    return -1;
}

void vellox_web_wav_close(WavSource* source) { delete source; }

// The taps of the "-fc" file at path, count of them in *count (free them with
// vellox_web_filter_taps_free), or null with *error the text of what is wrong with the file.
double* vellox_web_filter_taps(const char* path, std::int32_t* count, const char** error) {
    std::unique_ptr<double[]> taps;
    switch (read_filter_file(path, count, &taps)) {
        case FilterFileResult::ok:
            *error = nullptr;
            return taps.release();
        case FilterFileResult::bad_count:
            *error = message_text(Message::bad_tap_count);
            break;
        case FilterFileResult::bad_value:
            *error = message_text(Message::bad_numeric_format);
            break;
        case FilterFileResult::unusable_count:
            *error = vellox_status_text(VELLOX_ERROR_TAPS);
            break;
        case FilterFileResult::cannot_open:
            *error = std::strerror(errno);
            break;
    }
    return nullptr;
}

void vellox_web_filter_taps_free(double* taps) { delete[] taps; }

QualityMeter* vellox_web_meter_create() { return make_object<QualityMeter>().release(); }

void vellox_web_meter_add(QualityMeter* meter, const std::int16_t* original,
                          const std::int16_t* decoded, std::int32_t count) {
    meter->add(original, decoded, count);
}

// The measures so far: values receives the SNR, the segmental SNR, the frames it counts, the
// peak error and the samples compared; text (capacity bytes) velloxdec's report lines.
void vellox_web_meter_report(const QualityMeter* meter, double* values, char* text,
                             std::size_t capacity) {
    const QualityReport report = meter->report();
    values[0] = report.snr;
    values[1] = report.segmental_snr;
    values[2] = static_cast<double>(report.segmental_frames);
    values[3] = report.peak_error;
    values[4] = static_cast<double>(report.compared);
    std::FILE* stream = open_text(text, capacity);
    if (stream == nullptr) return;
    print_quality(stream, report);
    std::fclose(stream);
}

void vellox_web_meter_destroy(QualityMeter* meter) { delete meter; }

// velloxdec's WAV header for samples samples (a whole number of frames) into header (room for
// 80 bytes); returns its size.
std::int32_t vellox_web_wav_header(std::int32_t channels, std::int32_t rate, double samples,
                                   std::uint8_t* header) {
    WavFormat format;
    format.channels = channels;
    format.rate = rate;
    return static_cast<std::int32_t>(
        make_wav_header(format, static_cast<std::uint64_t>(samples), header));
}

// The lines vellox prints after writing an ACM file of size bytes from samples samples:
// the size, the compression rate and, when coefficients were clipped, the warning.
void vellox_web_encode_report(double size, std::int32_t samples, std::int32_t is_16bit,
                              double clipped, double extreme, char* text, std::size_t capacity) {
    std::FILE* stream = open_text(text, capacity);
    if (stream == nullptr) return;
    std::fprintf(stream, "Output file size: %lld\n", static_cast<long long>(size));
    const double rate = samples == 0 ? 0.0 : size * 8.0 / static_cast<double>(samples);
    const double bits_per_input_sample = is_16bit != 0 ? 16.0 : 8.0;
    std::fprintf(stream, "Compression rate: %6.3f bits per sample (%6.2f%% of original file)\n",
                 rate, rate / bits_per_input_sample * 100.0);
    if (clipped > 0) {
        std::fprintf(stream, message_text(Message::clipped_coefficients),
                     static_cast<long>(clipped), static_cast<long>(extreme));
        std::fputs(message_text(Message::fade_out), stream);
    }
    std::fclose(stream);
}

}  // extern "C"

}  // namespace vellox
