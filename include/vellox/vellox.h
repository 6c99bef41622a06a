/* libvellox: encode 16-bit samples into ACM files and decode ACM files, in memory or through
 * callbacks. C99; usable from C++. Opaque handles, no global state: each encoder and decoder is
 * used by one thread at a time, different ones by any number of threads.
 *
 * The encoder writes exactly the bytes the vellox program writes for the same samples and
 * settings; the decoder hands out exactly the samples the program reads from an ACM input. */
#ifndef VELLOX_VELLOX_H
#define VELLOX_VELLOX_H

#include <stddef.h> /* size_t */
#include <stdint.h> /* int16_t, uint32_t, uint64_t */

#if defined(_WIN32) && defined(VELLOX_SHARED_BUILD)
#define VELLOX_API __declspec(dllexport)
#elif defined(__GNUC__)
#define VELLOX_API __attribute__((visibility("default")))
#else
#define VELLOX_API
#endif

/* Marks the calls whose status must be looked at: ignoring it draws a compiler warning. */
#if defined(__GNUC__) || defined(__clang__)
#define VELLOX_NODISCARD __attribute__((warn_unused_result))
#else
#define VELLOX_NODISCARD
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define VELLOX_VERSION_MAJOR 2
#define VELLOX_VERSION_MINOR 0
#define VELLOX_VERSION_PATCH 0
/* The version as one number, 10000 * major + 100 * minor + patch, for comparisons. */
#define VELLOX_VERSION_NUMBER \
    (VELLOX_VERSION_MAJOR * 10000 + VELLOX_VERSION_MINOR * 100 + VELLOX_VERSION_PATCH)

/* The version of the library actually linked, "X.Y.Z". */
VELLOX_API const char* vellox_version(void);

typedef enum vellox_status {
    VELLOX_OK = 0,
    VELLOX_ERROR_ARGUMENT = 1,          /* a null pointer where an object is needed, or a
                                           settings size below the 2.0 struct's */
    VELLOX_ERROR_LEVELS = 2,            /* levels outside 0 .. 15 */
    VELLOX_ERROR_SUBBLOCKS = 3,         /* subblocks outside 1 .. 4095 */
    VELLOX_ERROR_FILTER = 4,            /* filter not 'D', 'O' or 'C' */
    VELLOX_ERROR_FILTER_LENGTH = 5,     /* filter_length outside 3 .. 806 ('D') or 3 .. 402 ('O') */
    VELLOX_ERROR_TAPS = 6,              /* 'C': no taps, a count outside 1 .. 1048576, or a tap
                                           that is not a finite number */
    VELLOX_ERROR_PERCENTS = 7,          /* percents neither above 1 and at most 100, nor -1 */
    VELLOX_ERROR_SAMPLE_COUNT = 8,      /* more than 2^31 - 1 samples */
    VELLOX_ERROR_MEMORY = 9,            /* memory could not be had */
    VELLOX_ERROR_WRITE = 10,            /* the write callback failed */
    VELLOX_ERROR_READ = 11,             /* the read callback failed */
    VELLOX_ERROR_TOO_MANY_SAMPLES = 12, /* more samples fed than the count announced */
    VELLOX_ERROR_TOO_FEW_SAMPLES = 13,  /* finished before the announced count was fed */
    VELLOX_ERROR_NOT_ACM = 14,          /* not an ACM stream: shorter than its 14-byte header, a
                                           wrong magic number, or blocks of 0 rows */
    VELLOX_ERROR_STATE = 15,            /* called after a failure, after finish, or too early */
    VELLOX_ERROR_FORMAT = 16            /* channels outside 1 .. 65535, or sample_rate outside
                                           1 .. 65535 (the header's fields are 16 bits wide) */
} vellox_status;

/* A short English text for status (never NULL; "unknown status" for values not listed). */
VELLOX_API const char* vellox_status_text(vellox_status status);

/* ---- Encoding ---- */

/* The settings of an encoder. The struct only ever grows at its end, and the library reads only
 * the fields that fit in size, so a program compiled against this header keeps working with
 * every later 2.x library: fill it with vellox_settings_init, then change what you need. */
typedef struct vellox_settings {
    size_t size;        /* sizeof(vellox_settings) as the caller was compiled: set by
                           vellox_settings_init; 0 or less than the 2.0 struct is refused */
    int levels;         /* transform levels, 0 .. 15 (2^levels sub-bands); default 7 */
    int subblocks;      /* rows per block, 1 .. 4095; default 16 */
    char filter;        /* 'D' (default), 'O', or 'C' for the caller's taps */
    int filter_length;  /* one-sided taps of 'D' (3 .. 806) and 'O' (3 .. 402); default 11 */
    const double* taps; /* 'C': tap_count one-sided magnitudes, outer end first (signs are
                           ignored, no scaling); borrowed until the encoder is made */
    int tap_count;      /* 'C': 1 .. 1048576 */
    double percents;    /* size target in percent of the input's sample data, above 1 and at
                           most 100; -1: no target (every block exact); default 50 */
    int input_is_16bit; /* 1 (default): the size target counts 16 bits per input sample; 0: 8 */
    int high_quality;   /* 1: the program's -hq: the coefficients the decoder maps back onto
                           the samples (the exact inverse of its synthesis), rounding, and steps
                           chosen over a look-ahead of up to 4 MiB of blocks, for a lower error
                           at the same size target, in files every reader decodes; with
                           percents -1 every block exact, only the coefficients' rounding left.
                           0 (default): the standard mode */
    /* ---- 2.0 ---- */
    int channels;         /* the header's channel count, 1 .. 65535; default 2. Only written
                             into the header: the samples are one interleaved stream */
    uint32_t sample_rate; /* the header's sample rate in Hz, 1 .. 65535; default 22050. Only
                             written into the header */
} vellox_settings;

/* Sets settings->size to size and every field that fits in size to the program's defaults;
 * does nothing when settings is NULL or size is below the 2.0 struct. vellox_settings_init
 * calls it with the size of the struct this header declares. */
VELLOX_API void vellox_settings_init_size(vellox_settings* settings, size_t size);

/* Fills settings with the program's defaults (levels 7, subblocks 16, filter 'D' of 11 taps,
 * percents 50, 16-bit input, the standard mode, 2 channels at 22050 Hz). Also exported as a
 * function, for callers that cannot use the macro, which fills the 2.0 fields. */
VELLOX_API void vellox_settings_init(vellox_settings* settings);
#define vellox_settings_init(settings) \
    vellox_settings_init_size((settings), sizeof(vellox_settings))

/* Receives the encoded bytes in order; returns 0 when all size bytes were taken. */
typedef int (*vellox_write_fn)(void* user, const unsigned char* bytes, size_t size);

typedef struct vellox_encoder vellox_encoder;

/* Makes an encoder for sample_count interleaved 16-bit samples (at most 2^31 - 1) and writes
 * the 14-byte header through write. On success *encoder is the new encoder; on failure it is
 * NULL and nothing needs destroying. user is handed back to write unchanged. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_encoder_create(const vellox_settings* settings,
                                                                uint32_t sample_count,
                                                                vellox_write_fn write, void* user,
                                                                vellox_encoder** encoder);

/* Encodes count more samples (any count, 0 included). More samples in all than announced give
 * VELLOX_ERROR_TOO_MANY_SAMPLES and encode none of them. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_encoder_feed(vellox_encoder* encoder,
                                                              const int16_t* samples, size_t count);

/* Ends the stream: writes the last blocks and bits. *bytes_written (may be NULL) receives the
 * size of the whole file, header included. Fewer samples fed than announced give
 * VELLOX_ERROR_TOO_FEW_SAMPLES and write nothing more. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_encoder_finish(vellox_encoder* encoder,
                                                                uint64_t* bytes_written);

/* Transform coefficients that did not fit 16 bits so far: their number, and the one of largest
 * magnitude (0 when none). Either pointer may be NULL. */
VELLOX_API void vellox_encoder_clipping(const vellox_encoder* encoder, uint64_t* count,
                                        int64_t* extreme);

/* Frees the encoder (NULL is allowed). Writes nothing: a stream not finished stays cut. */
VELLOX_API void vellox_encoder_destroy(vellox_encoder* encoder);

/* ---- Decoding ---- */

/* Reads up to size bytes into bytes and sets *got, which may be less than size (as a pipe
 * gives them); 0 bytes means the end of the stream. Returns 0, or anything else for a read
 * error. */
typedef int (*vellox_read_fn)(void* user, unsigned char* bytes, size_t size, size_t* got);

typedef struct vellox_decoder vellox_decoder;

/* A decoder over size bytes at data, which must stay in place until the decoder is destroyed.
 * Reads the header: VELLOX_ERROR_NOT_ACM when it is not one. On failure *decoder is NULL. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_decoder_open_memory(const void* data, size_t size,
                                                                     vellox_decoder** decoder);

/* A decoder over the caller's read function, so the file need not be held in memory. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_decoder_open_callback(vellox_read_fn read,
                                                                       void* user,
                                                                       vellox_decoder** decoder);

/* The header's sample count, levels and subblocks. */
VELLOX_API uint32_t vellox_decoder_sample_count(const vellox_decoder* decoder);
VELLOX_API int vellox_decoder_levels(const vellox_decoder* decoder);
VELLOX_API int vellox_decoder_subblocks(const vellox_decoder* decoder);

/* The header's channel count and sample rate, as stored (0 .. 65535 each: a damaged file may
 * hold any value). */
VELLOX_API int vellox_decoder_channels(const vellox_decoder* decoder);
VELLOX_API uint32_t vellox_decoder_sample_rate(const vellox_decoder* decoder);

/* Decodes up to count samples into samples; *got (may be NULL) receives how many, fewer than
 * count only at the end: sample_count samples in all. Damaged blocks decode as silence (see
 * vellox_decoder_samples_not_decoded). A read error gives VELLOX_ERROR_READ (the samples are
 * still delivered, the rest of the stream read as zero bytes), and so does every later read. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_decoder_read(vellox_decoder* decoder,
                                                              int16_t* samples, size_t count,
                                                              size_t* got);

/* Of the samples read so far, those that did not come from a block decoded from the stream:
 * blocks with an invalid column method, and blocks missing because the stream ends before
 * them. 0 for an intact stream. */
VELLOX_API uint64_t vellox_decoder_samples_not_decoded(const vellox_decoder* decoder);

/* Once every sample was read: *bytes receives how many bytes of the stream follow the end of its
 * last block. The encoder never writes any (it leaves the zero bytes at the end out, so that a
 * stream may also end before its last block does): they tell of damage that the decoded
 * samples may not show. Reads the rest of the stream to find its end, after damage the blocks
 * whose samples the damage pushed past the sample count first; nothing more is decoded
 * afterwards. VELLOX_ERROR_STATE (*bytes 0) before the last sample was read; VELLOX_ERROR_READ
 * when a read failed, the bytes then counted up to it. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_decoder_trailing_bytes(vellox_decoder* decoder,
                                                                        uint64_t* bytes);

/* Frees the decoder (NULL is allowed). */
VELLOX_API void vellox_decoder_destroy(vellox_decoder* decoder);

/* ---- One call each way, memory to memory ---- */

/* Encodes count interleaved samples (at most 2^31 - 1) with settings into one buffer: *bytes
 * receives the whole file (free it with vellox_free) and *size its length, the same bytes the
 * encoder above writes. On failure *bytes is NULL and *size 0. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_encode_memory(const vellox_settings* settings,
                                                               const int16_t* samples, size_t count,
                                                               unsigned char** bytes, size_t* size);

/* Decodes the ACM file of size bytes at data into one buffer: *samples receives the header's
 * sample count of samples (free them with vellox_free; NULL when the count is 0) and *count
 * their number, the samples the decoder above hands out; *samples_not_decoded (may be NULL)
 * what damage cost. On failure the out-pointers are NULL and 0. */
VELLOX_API VELLOX_NODISCARD vellox_status vellox_decode_memory(const void* data, size_t size,
                                                               int16_t** samples, size_t* count,
                                                               uint64_t* samples_not_decoded);

/* Frees what vellox_encode_memory and vellox_decode_memory handed out (NULL is allowed). */
VELLOX_API void vellox_free(void* pointer);

#ifdef __cplusplus
}
#endif

#endif /* VELLOX_VELLOX_H */
