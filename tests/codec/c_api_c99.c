/* The public header compiled as C99: a round trip through the encoder and the decoder, with
 * levels 0 and no size target, which must give every sample back. */

#include <stdlib.h>
#include <string.h>

#include "vellox/vellox.h"

struct buffer {
    unsigned char* bytes;
    size_t size;
    size_t capacity;
};

static int append(void* user, const unsigned char* bytes, size_t size) {
    struct buffer* b = (struct buffer*)user;
    if (b->size + size > b->capacity) return 1;
    memcpy(b->bytes + b->size, bytes, size);
    b->size += size;
    return 0;
}

int vellox_c99_round_trip(void);

int vellox_c99_round_trip(void) {
    enum { count = 5000 };
    static int16_t samples[count];
    static int16_t decoded[count + 1];
    static unsigned char bytes[4 * count];
    struct buffer file = {bytes, 0, sizeof bytes};
    vellox_settings settings;
    vellox_encoder* encoder = NULL;
    vellox_decoder* decoder = NULL;
    uint64_t written = 0;
    size_t got = 0;
    int i;
    for (i = 0; i < count; ++i) samples[i] = (int16_t)((i * 37) % 2000 - 1000);
    vellox_settings_init(&settings);
    settings.levels = 0;
    settings.percents = -1;
    if (vellox_encoder_create(&settings, count, append, &file, &encoder) != VELLOX_OK) return 1;
    if (vellox_encoder_feed(encoder, samples, count) != VELLOX_OK) return 2;
    if (vellox_encoder_finish(encoder, &written) != VELLOX_OK || written != file.size) return 3;
    vellox_encoder_destroy(encoder);
    if (vellox_decoder_open_memory(file.bytes, file.size, &decoder) != VELLOX_OK) return 4;
    if (vellox_decoder_read(decoder, decoded, count + 1, &got) != VELLOX_OK || got != count) {
        return 5;
    }
    vellox_decoder_destroy(decoder);
    return memcmp(samples, decoded, sizeof samples) == 0 ? 0 : 6;
}
