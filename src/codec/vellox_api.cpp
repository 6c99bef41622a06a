// The C API: argument checks, the settings, and the status texts, over the library's Encoder
// and AcmDecoder, which keep each handle's sticky failure and speak the same statuses.

#include <cmath>    // std::isfinite
#include <cstddef>  // offsetof
#include <cstdint>  // INT32_MAX
#include <cstdlib>  // std::malloc, std::realloc, std::free
#include <cstring>  // std::memcpy
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
    "called after a failure, after finish, or too early",
    "channels and sample_rate must be between 1 and 65535",
};
static_assert(sizeof status_texts / sizeof status_texts[0] == VELLOX_ERROR_FORMAT + 1,
              "one text for every status");

// The end of the last field of the 2.0 struct: the least size a caller may give. Later fields
// that do not fit in a caller's size keep their defaults.
constexpr std::size_t settings_size_2_0 = offsetof(vellox_settings, sample_rate) + sizeof(uint32_t);

void set_defaults(vellox_settings& settings) {
    settings.size = sizeof(vellox_settings);
    settings.levels = 7;
    settings.subblocks = 16;
    settings.filter = 'D';
    settings.filter_length = 11;
    settings.taps = nullptr;
    settings.tap_count = 0;
    settings.percents = 50.0;
    settings.input_is_16bit = 1;
    settings.high_quality = 0;
    settings.channels = 2;
    settings.sample_rate = 22050;
}

// The caller's settings as this library's struct: the fields that fit in the caller's size,
// the defaults for the rest. VELLOX_ERROR_ARGUMENT for a size below the 2.0 struct.
vellox_status take_settings(const vellox_settings* given, vellox_settings& settings) {
    if (given == nullptr || given->size < settings_size_2_0) return VELLOX_ERROR_ARGUMENT;
    set_defaults(settings);
    // Fields are only ever added at the end, each whole: the bytes the caller has are the
    // fields it knows.
    std::memcpy(&settings, given, given->size < sizeof settings ? given->size : sizeof settings);
    return VELLOX_OK;
}

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
    if (settings.channels < 1 || settings.channels > 65535 || settings.sample_rate < 1 ||
        settings.sample_rate > 65535) {
        return VELLOX_ERROR_FORMAT;
    }
    return VELLOX_OK;
}

// The bytes of vellox_encode_memory, in memory from malloc so that vellox_free frees them.
struct GrowingBuffer {
    unsigned char* bytes = nullptr;  // capacity bytes, the first used of them written
    size_t used = 0;                 // bytes written
    size_t capacity = 0;             // bytes allocated

    static int append(void* user, const unsigned char* data, size_t size) {
        auto& buffer = *static_cast<GrowingBuffer*>(user);
        if (size > buffer.capacity - buffer.used) {
            // Doubling keeps the copies to a constant share of the bytes written.
            size_t wanted = buffer.capacity < 65536 ? 65536 : buffer.capacity;
            while (wanted - buffer.used < size) {
                if (wanted > SIZE_MAX / 2) return 1;
                wanted *= 2;
            }
            if (!vellox::allocation_allowed()) return 1;
            void* larger = std::realloc(buffer.bytes, wanted);
            if (larger == nullptr) return 1;
            buffer.bytes = static_cast<unsigned char*>(larger);
            buffer.capacity = wanted;
        }
        std::memcpy(buffer.bytes + buffer.used, data, size);
        buffer.used += size;
        return 0;
    }
};

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

void vellox_settings_init_size(vellox_settings* settings, size_t size) {
    if (settings == nullptr || size < settings_size_2_0) return;
    vellox_settings defaults;
    set_defaults(defaults);
    // Only what the caller's struct holds is written.
    std::memcpy(settings, &defaults, size < sizeof defaults ? size : sizeof defaults);
    settings->size = size;
}

// The function behind the header's macro of the same name, for callers that cannot use the
// macro: it fills the 2.0 fields, which every caller's struct holds.
void(vellox_settings_init)(vellox_settings* settings) {
    vellox_settings_init_size(settings, settings_size_2_0);
}

vellox_status vellox_encoder_create(const vellox_settings* given, uint32_t sample_count,
                                    vellox_write_fn write, void* user, vellox_encoder** encoder) {
    if (encoder == nullptr) return VELLOX_ERROR_ARGUMENT;
    *encoder = nullptr;
    if (given == nullptr || write == nullptr) return VELLOX_ERROR_ARGUMENT;
    vellox_settings taken;
    const vellox_status took = take_settings(given, taken);
    if (took != VELLOX_OK) return took;
    const vellox_settings* settings = &taken;
    const vellox_status checked = check_settings(*settings);
    if (checked != VELLOX_OK) return checked;
    if (sample_count > static_cast<std::uint32_t>(INT32_MAX)) return VELLOX_ERROR_SAMPLE_COUNT;

    vellox::EncoderSettings encoding;
    encoding.levels = settings->levels;
    encoding.subblocks = settings->subblocks;
    encoding.filter_kind = static_cast<char>(settings->filter & ~0x20);  // upper case
    encoding.filter_length = settings->filter_length;
    encoding.high_quality = settings->high_quality != 0;
    encoding.channels = static_cast<std::uint16_t>(settings->channels);
    encoding.sample_rate = static_cast<std::uint16_t>(settings->sample_rate);
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
    const vellox_status status = made->encoder.init();
    if (status == VELLOX_OK) *encoder = made.release();
    return status;
}

vellox_status vellox_encoder_feed(vellox_encoder* encoder, const int16_t* samples, size_t count) {
    if (encoder == nullptr || (samples == nullptr && count > 0)) return VELLOX_ERROR_ARGUMENT;
    vellox::Encoder& coder = encoder->encoder;
    if (coder.status() != VELLOX_OK || coder.finished()) return VELLOX_ERROR_STATE;
    // Only the announced samples: the values after them that drain the bank are finish's.
    const auto fed = static_cast<std::uint64_t>(coder.values_fed());
    if (count > encoder->sample_count - fed) return VELLOX_ERROR_TOO_MANY_SAMPLES;
    if (count == 0) return VELLOX_OK;
    return coder.feed(samples, static_cast<std::int64_t>(count));
}

vellox_status vellox_encoder_finish(vellox_encoder* encoder, uint64_t* bytes_written) {
    if (encoder == nullptr) return VELLOX_ERROR_ARGUMENT;
    const vellox_status status = encoder->encoder.finish();
    if (status != VELLOX_OK) return status;
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

int vellox_decoder_channels(const vellox_decoder* decoder) {
    return decoder != nullptr ? decoder->decoder.header().channels : 0;
}

uint32_t vellox_decoder_sample_rate(const vellox_decoder* decoder) {
    return decoder != nullptr ? decoder->decoder.header().sample_rate : 0;
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
    return decoder->decoder.status();
}

uint64_t vellox_decoder_samples_not_decoded(const vellox_decoder* decoder) {
    return decoder != nullptr ? static_cast<std::uint64_t>(decoder->decoder.samples_not_decoded())
                              : 0;
}

vellox_status vellox_decoder_trailing_bytes(vellox_decoder* decoder, uint64_t* bytes) {
    if (bytes != nullptr) *bytes = 0;
    if (decoder == nullptr || bytes == nullptr) return VELLOX_ERROR_ARGUMENT;
    if (decoder->delivered < decoder->decoder.header().sample_count) return VELLOX_ERROR_STATE;
    std::int64_t trailing = 0;
    const vellox_status status = decoder->decoder.trailing_bytes(&trailing);
    *bytes = static_cast<std::uint64_t>(trailing);
    return status;
}

void vellox_decoder_destroy(vellox_decoder* decoder) { delete decoder; }

vellox_status vellox_encode_memory(const vellox_settings* settings, const int16_t* samples,
                                   size_t count, unsigned char** bytes, size_t* size) {
    if (bytes != nullptr) *bytes = nullptr;
    if (size != nullptr) *size = 0;
    if (bytes == nullptr || size == nullptr || (samples == nullptr && count > 0))
        return VELLOX_ERROR_ARGUMENT;
    if (count > static_cast<size_t>(INT32_MAX)) return VELLOX_ERROR_SAMPLE_COUNT;
    GrowingBuffer buffer;
    vellox_encoder* encoder = nullptr;
    vellox_status status = vellox_encoder_create(settings, static_cast<uint32_t>(count),
                                                 GrowingBuffer::append, &buffer, &encoder);
    if (status == VELLOX_OK) status = vellox_encoder_feed(encoder, samples, count);
    if (status == VELLOX_OK) status = vellox_encoder_finish(encoder, nullptr);
    vellox_encoder_destroy(encoder);
    // The only write that can fail here is the buffer's own growth.
    if (status == VELLOX_ERROR_WRITE) status = VELLOX_ERROR_MEMORY;
    if (status != VELLOX_OK) {
        std::free(buffer.bytes);
        return status;
    }
    *bytes = buffer.bytes;
    *size = buffer.used;
    return VELLOX_OK;
}

vellox_status vellox_decode_memory(const void* data, size_t size, int16_t** samples, size_t* count,
                                   uint64_t* samples_not_decoded) {
    if (samples != nullptr) *samples = nullptr;
    if (count != nullptr) *count = 0;
    if (samples_not_decoded != nullptr) *samples_not_decoded = 0;
    if (samples == nullptr || count == nullptr) return VELLOX_ERROR_ARGUMENT;
    vellox_decoder* decoder = nullptr;
    vellox_status status = vellox_decoder_open_memory(data, size, &decoder);
    if (status != VELLOX_OK) return status;
    const size_t total = vellox_decoder_sample_count(decoder);
    int16_t* decoded = nullptr;
    if (total > 0) {
        decoded = static_cast<int16_t*>(std::malloc(total * sizeof(int16_t)));
        if (decoded == nullptr || !vellox::allocation_allowed()) status = VELLOX_ERROR_MEMORY;
    }
    size_t got = 0;
    if (status == VELLOX_OK) status = vellox_decoder_read(decoder, decoded, total, &got);
    const uint64_t lost = vellox_decoder_samples_not_decoded(decoder);
    vellox_decoder_destroy(decoder);
    if (status != VELLOX_OK) {
        std::free(decoded);
        return status;
    }
    *samples = decoded;
    *count = got;
    if (samples_not_decoded != nullptr) *samples_not_decoded = lost;
    return VELLOX_OK;
}

void vellox_free(void* pointer) { std::free(pointer); }

}  // extern "C"
