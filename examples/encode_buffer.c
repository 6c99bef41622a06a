/* Encodes one second of a 440 Hz tone to tone.acm with the default settings. */
#include <math.h>
#include <stdio.h>
#include <vellox/vellox.h>

static int write_to_file(void* file, const unsigned char* bytes, size_t size) {
    return fwrite(bytes, 1, size, (FILE*)file) == size ? 0 : 1;
}

int main(void) {
    static int16_t samples[22050];
    for (int i = 0; i < 22050; ++i)
        samples[i] = (int16_t)(8000 * sin(i * 2 * 3.14159265 * 440 / 22050));

    vellox_settings settings;
    vellox_settings_init(&settings); /* levels 7, subblocks 16, half the input's size */
    FILE* file = fopen("tone.acm", "wb");
    if (file == NULL) return 1;
    vellox_encoder* encoder = NULL;
    vellox_status status = vellox_encoder_create(&settings, 22050, write_to_file, file, &encoder);
    if (status == VELLOX_OK) status = vellox_encoder_feed(encoder, samples, 22050);
    uint64_t size = 0;
    if (status == VELLOX_OK) status = vellox_encoder_finish(encoder, &size);
    vellox_encoder_destroy(encoder);
    if (fclose(file) != 0 && status == VELLOX_OK) status = VELLOX_ERROR_WRITE;
    if (status != VELLOX_OK) {
        fprintf(stderr, "tone.acm: %s\n", vellox_status_text(status));
        return 1;
    }
    printf("tone.acm: %llu bytes (vellox %s)\n", (unsigned long long)size, vellox_version());
    return 0;
}
