// The C API: argument checks, the sticky failure of each handle, and the status texts, over
// the library's Encoder and AcmDecoder.

#include <cmath>    // std::isfinite
#include <cstdint>  // INT32_MAX
#include <memory>   // std::unique_ptr
#include <new>      // std::nothrow

#include "acm/byte_stream.h"
#include "analysis/filter_design.h"
#include "codec/acm_decoder.h"
#include "codec/encoder.h"
#include "common/alloc.h"
#include "vellox/vellox.h"

struct vellox_encoder {
    vellox_encoder(const vellox::EncoderSettings& settings, std::uint32_t count,
                   vellox_write_fn write, void* user)
        : sink(write, user),
          encoder(settings, static_cast<std::int32_t>(count), sink),
          sample_count(count) {}

    vellox::CallbackSink sink;
    vellox::Encoder encoder;
    std::uint32_t sample_count;  // samples announced
    std::uint64_t fed = 0;       // samples fed
    bool failed = false;         // a write failed: every later call is refused
    bool finished = false;       // finish succeeded
};

struct vellox_decoder {
    explicit vellox_decoder(std::unique_ptr<vellox::ByteSource> bytes)
        : source(std::move(bytes)), decoder(*source) {}

    std::unique_ptr<vellox::ByteSource> source;
    vellox::AcmDecoder decoder;
    std::uint64_t delivered = 0;  // samples handed out
};

namespace {

#define VELLOX_STRING(x) #x
#define VELLOX_VERSION_STRING(major, minor, patch) \
    VELLOX_STRING(major) "." VELLOX_STRING(minor) "." VELLOX_STRING(patch)

constexpr const char* version_string =
    VELLOX_VERSION_STRING(VELLOX_VERSION_MAJOR, VELLOX_VERSION_MINOR, VELLOX_VERSION_PATCH);

// In the order of vellox_status.
constexpr const char* status_texts[] = {
    "success",
    "a required pointer is null",
    "levels must be between 0 and 15",
    "subblocks must be between 1 and 4095",
    "the filter must be 'D', 'O' or 'C'",
    "filter_length must be between 3 and 806 for 'D', 3 and 402 for 'O'",
    "the taps must be 1 to 1048576 finite numbers",
    "percents must be above 1 and at most 100, or -1",
    "the sample count must be at most 2147483647",
    "out of memory",
    "the write function failed",
    "the read function failed",
    "more samples fed than announced",
    "finished before all announced samples were fed",
    "not an ACM stream",
    "called after a failure or after finish",
};
static_assert(sizeof status_texts / sizeof status_texts[0] == VELLOX_ERROR_STATE + 1,
              "one text for every status");

vellox_status check_settings(const vellox_settings& settings) {
    if (settings.levels < 0 || settings.levels > 15) return VELLOX_ERROR_LEVELS;
    if (settings.subblocks < 1 || settings.subblocks > 4095) return VELLOX_ERROR_SUBBLOCKS;
    switch (settings.filter) {
        case 'D':
        case 'd':
            if (settings.filter_length < 3 || settings.filter_length > vellox::max_fd_filter_length)
                return VELLOX_ERROR_FILTER_LENGTH;
            break;
        case 'O':
        case 'o':
            if (settings.filter_length < 3 || settings.filter_length > vellox::max_fo_filter_length)
                return VELLOX_ERROR_FILTER_LENGTH;
            break;
        case 'C':
        case 'c':
            if (settings.taps == nullptr || settings.tap_count < 1 ||
                settings.tap_count > vellox::max_filter_length) {
                return VELLOX_ERROR_TAPS;
            }
            for (int i = 0; i < settings.tap_count; ++i) {
                if (!std::isfinite(settings.taps[i])) return VELLOX_ERROR_TAPS;
            }
            break;
        default:
            return VELLOX_ERROR_FILTER;
    }
    const double percents = settings.percents;
    if (!((percents > 1.0 && percents <= 100.0) || percents == -1.0)) {
        return VELLOX_ERROR_PERCENTS;
    }
    return VELLOX_OK;
}

vellox_status open_decoder(std::unique_ptr<vellox::ByteSource> source, vellox_decoder** decoder) {
    *decoder = nullptr;
    if (!source) return VELLOX_ERROR_MEMORY;
    std::unique_ptr<vellox_decoder> made(new (std::nothrow) vellox_decoder(std::move(source)));
    if (!made) return VELLOX_ERROR_MEMORY;
    const vellox_status status = made->decoder.open();
    if (status == VELLOX_OK) *decoder = made.release();
    return status;
}

}  // namespace

extern "C" {

const char* vellox_version(void) { return version_string; }

const char* vellox_status_text(vellox_status status) {
    const auto index = static_cast<unsigned>(status);
    return index < sizeof status_texts / sizeof status_texts[0] ? status_texts[index]
                                                                : "unknown status";
}

void vellox_settings_init(vellox_settings* settings) {
    if (settings == nullptr) return;
    settings->levels = 7;
    settings->subblocks = 16;
    settings->filter = 'D';
    settings->filter_length = 11;
    settings->taps = nullptr;
    settings->tap_count = 0;
    settings->percents = 50.0;
    settings->input_is_16bit = 1;
    settings->high_quality = 0;
}

vellox_status vellox_encoder_create(const vellox_settings* settings, uint32_t sample_count,
                                    vellox_write_fn write, void* user, vellox_encoder** encoder) {
    if (encoder == nullptr) return VELLOX_ERROR_ARGUMENT;
    *encoder = nullptr;
    if (settings == nullptr || write == nullptr) return VELLOX_ERROR_ARGUMENT;
    const vellox_status checked = check_settings(*settings);
    if (checked != VELLOX_OK) return checked;
    if (sample_count > static_cast<std::uint32_t>(INT32_MAX)) return VELLOX_ERROR_SAMPLE_COUNT;

    vellox::EncoderSettings encoding;
    encoding.levels = settings->levels;
    encoding.subblocks = settings->subblocks;
    encoding.filter_kind = static_cast<char>(settings->filter & ~0x20);  // upper case
    encoding.filter_length = settings->filter_length;
    encoding.high_quality = settings->high_quality != 0;
    if (encoding.filter_kind == 'C') {
        encoding.taps = settings->taps;
        encoding.tap_count = settings->tap_count;
    }
    const auto samples = static_cast<std::int32_t>(sample_count);
    encoding.bit_budget =
        vellox::derive_bit_budget(settings->percents, settings->input_is_16bit != 0, samples,
                                  settings->subblocks << settings->levels);

    std::unique_ptr<vellox_encoder> made(new (std::nothrow)
                                             vellox_encoder(encoding, sample_count, write, user));
    if (!made) return VELLOX_ERROR_MEMORY;
    switch (made->encoder.init()) {
        case vellox::EncoderInit::ok:
            *encoder = made.release();
            return VELLOX_OK;
        case vellox::EncoderInit::header_failed:
            return VELLOX_ERROR_WRITE;
        default:
            return VELLOX_ERROR_MEMORY;
    }
}

vellox_status vellox_encoder_feed(vellox_encoder* encoder, const int16_t* samples, size_t count) {
    if (encoder == nullptr || (samples == nullptr && count > 0)) return VELLOX_ERROR_ARGUMENT;
    if (encoder->failed || encoder->finished) return VELLOX_ERROR_STATE;
    if (count > encoder->sample_count - encoder->fed) return VELLOX_ERROR_TOO_MANY_SAMPLES;
    if (count == 0) return VELLOX_OK;
    if (!encoder->encoder.feed(samples, static_cast<std::int64_t>(count))) {
        encoder->failed = true;
        return VELLOX_ERROR_WRITE;
    }
    encoder->fed += count;
    return VELLOX_OK;
}

vellox_status vellox_encoder_finish(vellox_encoder* encoder, uint64_t* bytes_written) {
    if (encoder == nullptr) return VELLOX_ERROR_ARGUMENT;
    if (encoder->failed || encoder->finished) return VELLOX_ERROR_STATE;
    if (encoder->fed < encoder->sample_count) return VELLOX_ERROR_TOO_FEW_SAMPLES;
    if (!encoder->encoder.finish()) {
        encoder->failed = true;
        return VELLOX_ERROR_WRITE;
    }
    encoder->finished = true;
    if (bytes_written != nullptr) {
        *bytes_written = static_cast<std::uint64_t>(encoder->encoder.bytes_written());
    }
    return VELLOX_OK;
}

void vellox_encoder_clipping(const vellox_encoder* encoder, uint64_t* count, int64_t* extreme) {
    const vellox::ClipStatistics none;
    const vellox::ClipStatistics& clips = encoder != nullptr ? encoder->encoder.clips() : none;
    if (count != nullptr) *count = static_cast<std::uint64_t>(clips.count);
    if (extreme != nullptr) *extreme = clips.extreme();
}

void vellox_encoder_destroy(vellox_encoder* encoder) { delete encoder; }

vellox_status vellox_decoder_open_memory(const void* data, size_t size, vellox_decoder** decoder) {
    if (decoder == nullptr) return VELLOX_ERROR_ARGUMENT;
    *decoder = nullptr;
    if (data == nullptr && size > 0) return VELLOX_ERROR_ARGUMENT;
    return open_decoder(vellox::make_object<vellox::MemorySource>(data, size), decoder);
}

vellox_status vellox_decoder_open_callback(vellox_read_fn read, void* user,
                                           vellox_decoder** decoder) {
    if (decoder == nullptr) return VELLOX_ERROR_ARGUMENT;
    *decoder = nullptr;
    if (read == nullptr) return VELLOX_ERROR_ARGUMENT;
    return open_decoder(vellox::make_object<vellox::CallbackSource>(read, user), decoder);
}

uint32_t vellox_decoder_sample_count(const vellox_decoder* decoder) {
    return decoder != nullptr ? decoder->decoder.header().sample_count : 0;
}

int vellox_decoder_levels(const vellox_decoder* decoder) {
    return decoder != nullptr ? decoder->decoder.header().levels() : 0;
}

int vellox_decoder_subblocks(const vellox_decoder* decoder) {
    return decoder != nullptr ? decoder->decoder.header().subblocks() : 0;
}

vellox_status vellox_decoder_read(vellox_decoder* decoder, int16_t* samples, size_t count,
                                  size_t* got) {
    if (got != nullptr) *got = 0;
    if (decoder == nullptr || (samples == nullptr && count > 0)) return VELLOX_ERROR_ARGUMENT;
    const std::uint64_t left = decoder->decoder.header().sample_count - decoder->delivered;
    const auto n = static_cast<std::int32_t>(count < left ? count : left);  // below 2^31
    if (n > 0) (void)decoder->decoder.read(samples, n);
    decoder->delivered += static_cast<std::uint64_t>(n);
    if (got != nullptr) *got = static_cast<size_t>(n);
    return decoder->decoder.read_error() ? VELLOX_ERROR_READ : VELLOX_OK;
}

uint64_t vellox_decoder_samples_not_decoded(const vellox_decoder* decoder) {
    return decoder != nullptr ? static_cast<std::uint64_t>(decoder->decoder.samples_not_decoded())
                              : 0;
}

void vellox_decoder_destroy(vellox_decoder* decoder) { delete decoder; }

}  // extern "C"
