/* Encodes two seconds of a mono 44.1 kHz square wave to memory with -hq at -q 25, decodes the
 * file back and prints its size and the largest error. Needs nothing but libvellox: no libm. */
#include <stdio.h>
#include <vellox/vellox.h>

int main(void) {
    static int16_t samples[88200];
    for (int i = 0; i < 88200; ++i) samples[i] = (int16_t)((i / 50) % 2 == 0 ? 6000 : -6000);

    vellox_settings settings;
    vellox_settings_init(&settings);
    settings.percents = 25;
    settings.high_quality = 1;
    settings.channels = 1;
    settings.sample_rate = 44100;
    unsigned char* acm = NULL;
    size_t acm_size = 0;
    vellox_status status = vellox_encode_memory(&settings, samples, 88200, &acm, &acm_size);
    if (status != VELLOX_OK) {
        fprintf(stderr, "encode: %s\n", vellox_status_text(status));
        return 1;
    }

    int16_t* decoded = NULL;
    size_t count = 0;
    status = vellox_decode_memory(acm, acm_size, &decoded, &count, NULL);
    vellox_free(acm);
    if (status != VELLOX_OK) {
        fprintf(stderr, "decode: %s\n", vellox_status_text(status));
        return 1;
    }
    long peak = 0;
    for (size_t i = 0; i < count; ++i) {
        long error = (long)decoded[i] - samples[i];
        if (error < 0) error = -error;
        if (error > peak && i >= 1000) peak = error; /* past the filters' start-up */
    }
    vellox_free(decoded);
    printf("%zu bytes for %zu samples; peak error after the start-up: %ld\n", acm_size, count,
           peak);
    return 0;
}
