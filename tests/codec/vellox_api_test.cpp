// The C API: the encoder writes the program's bytes whatever the chunk sizes, the decoder hands
// out the program's samples, every misuse gets its status, and the header compiles as C.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_support.h"
#include "common/test_seed.h"
#include "sources/acm_source.h"
#include "vellox/vellox.h"

extern "C" int vellox_c99_round_trip(void);  // c_api_c99.c, compiled as C

namespace vellox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

int append(void* user, const unsigned char* bytes, std::size_t size) {
    auto* file = static_cast<Bytes*>(user);
    file->insert(file->end(), bytes, bytes + size);
    return 0;
}

// The file the API writes for samples, fed chunk samples at a time.
Bytes encode(const vellox_settings& settings, const Samples& samples, std::size_t chunk) {
    Bytes file;
    vellox_encoder* encoder = nullptr;
    EXPECT_EQ(vellox_encoder_create(&settings, static_cast<std::uint32_t>(samples.size()), append,
                                    &file, &encoder),
              VELLOX_OK);
    if (encoder == nullptr) return {};
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        const std::size_t n = std::min(chunk, samples.size() - at);
        EXPECT_EQ(vellox_encoder_feed(encoder, samples.data() + at, n), VELLOX_OK);
    }
    std::uint64_t written = 0;
    EXPECT_EQ(vellox_encoder_finish(encoder, &written), VELLOX_OK);
    EXPECT_EQ(written, file.size());
    vellox_encoder_destroy(encoder);
    return file;
}

// The file the program writes for the same samples as raw input.
Bytes program_output(const cli::ScratchFolder& folder, const std::string& type,
                     const std::string& raw, const std::vector<std::string>& options) {
    cli::write_file(folder / "in.raw", raw);
    std::vector<std::string> args = {type, folder / "in.raw", folder / "out.acm"};
    args.insert(args.end(), options.begin(), options.end());
    const cli::RunResult result = cli::run_vellox(args, folder);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string bytes = cli::read_file(folder / "out.acm");
    return Bytes(bytes.begin(), bytes.end());
}

TEST(VelloxApi, EncoderWritesTheProgramsBytesInAnyChunks) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    cli::ScratchFolder folder;
    Samples mix = cli::sine(70001, 12000, 41.7);
    const Samples hiss = cli::noise(mix.size(), 2500, base + 3);
    for (std::size_t i = 0; i < mix.size(); ++i)
        mix[i] = static_cast<std::int16_t>(mix[i] + hiss[i]);
    const std::string raw = cli::raw16(mix);

    struct Case {
        std::vector<std::string> options;
        int levels, subblocks;
        char filter;
        int filter_length;
        double percents;
        int high_quality;
    };
    const Case cases[] = {
        {{}, 7, 16, 'D', 11, 50.0, 0},
        {{"-l", "0", "-q0"}, 0, 16, 'D', 11, -1.0, 0},
        {{"-l", "3", "-s", "5", "-fo", "7", "-q", "18.75"}, 3, 5, 'O', 7, 18.75, 0},
        {{"-l", "12", "-s", "1", "-q", "100"}, 12, 1, 'D', 11, 100.0, 0},
        {{"-q", "25", "-hq"}, 7, 16, 'D', 11, 25.0, 1},
        {{"-q0", "-hq", "-l", "3"}, 3, 16, 'D', 11, -1.0, 1},
        {{"-hq", "-l", "10", "-s", "2", "-fo", "30"}, 10, 2, 'O', 30, 50.0, 1},
    };
    for (const Case& c : cases) {
        vellox_settings settings;
        vellox_settings_init(&settings);
        settings.levels = c.levels;
        settings.subblocks = c.subblocks;
        settings.filter = c.filter;
        settings.filter_length = c.filter_length;
        settings.percents = c.percents;
        settings.high_quality = c.high_quality;
        const Bytes expected = program_output(folder, "-16", raw, c.options);
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{777}, std::size_t{65536}}) {
            SCOPED_TRACE(testing::Message() << "levels " << c.levels << " chunk " << chunk);
            EXPECT_EQ(encode(settings, mix, chunk), expected);
        }
    }

    // 8-bit input: the samples the program makes of the bytes, and the budget of 8 bits.
    std::string bytes8;
    Samples widened;
    for (int i = 0; i < 9000; ++i) {
        const auto b = static_cast<std::uint8_t>((i * 7 + i / 50) % 256);
        bytes8.push_back(static_cast<char>(b));
        widened.push_back(static_cast<std::int16_t>((b - 128) * 256));
    }
    vellox_settings settings;
    vellox_settings_init(&settings);
    settings.input_is_16bit = 0;
    EXPECT_EQ(encode(settings, widened, 777), program_output(folder, "-8", bytes8, {}));

    // Caller's taps, as the program reads them from a "-fc" file.
    cli::write_file(folder / "taps.txt", "4 0.02 -0.1 0.25 0.7\n");
    const double taps[] = {0.02, -0.1, 0.25, 0.7};
    vellox_settings_init(&settings);
    settings.filter = 'C';
    settings.taps = taps;
    settings.tap_count = 4;
    settings.levels = 4;
    EXPECT_EQ(encode(settings, mix, 65536),
              program_output(folder, "-16", raw, {"-fc", folder / "taps.txt", "-l", "4"}));
}

// Every sample of an ACM file through the API, count at a time.
Samples decode(const Bytes& file, std::size_t count, std::uint64_t* not_decoded = nullptr) {
    vellox_decoder* decoder = nullptr;
    EXPECT_EQ(vellox_decoder_open_memory(file.data(), file.size(), &decoder), VELLOX_OK);
    if (decoder == nullptr) return {};
    Samples samples;
    Samples buffer(count);
    for (;;) {
        std::size_t got = 0;
        EXPECT_EQ(vellox_decoder_read(decoder, buffer.data(), count, &got), VELLOX_OK);
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
        if (got < count) break;
    }
    if (not_decoded != nullptr) *not_decoded = vellox_decoder_samples_not_decoded(decoder);
    vellox_decoder_destroy(decoder);
    return samples;
}

// What the program's ACM input hands out of the file: the first sample-count values.
Samples program_input(const cli::ScratchFolder& folder, const Bytes& file) {
    cli::write_file(folder / "in.acm", std::string(file.begin(), file.end()));
    AcmSource source((folder / "in.acm").c_str());
    EXPECT_TRUE(source.open().ok());
    Samples samples(static_cast<std::size_t>(source.total_samples));
    Samples chunk(65536);
    for (std::size_t at = 0; at < samples.size(); at += chunk.size()) {
        (void)source.read(chunk.data(), 65536);
        std::copy_n(chunk.begin(), std::min(chunk.size(), samples.size() - at),
                    samples.begin() + static_cast<long>(at));
    }
    return samples;
}

// In the high-quality mode the filter bank's blocks set the size: with a bank slower than the
// inverse (9000 one-sided taps at 1 level) the coded blocks wait for theirs, and the bytes
// still do not depend on the chunks; the file stays within the standard mode's size.
TEST(VelloxApi, HighQualityBlocksWaitForASlowerFilterBank) {
    std::vector<double> taps(9000, 1e-9);
    taps.back() = 1.0;  // the centre: both filters about the identity
    vellox_settings settings;
    vellox_settings_init(&settings);
    settings.levels = 1;
    settings.filter = 'C';
    settings.taps = taps.data();
    settings.tap_count = static_cast<int>(taps.size());
    settings.percents = 30.0;
    Samples mix = cli::sine(20001, 9000, 37.3);
    const Samples hiss = cli::noise(mix.size(), 3000, 8);
    for (std::size_t i = 0; i < mix.size(); ++i)
        mix[i] = static_cast<std::int16_t>(mix[i] + hiss[i]);
    const Bytes standard = encode(settings, mix, 65536);
    settings.high_quality = 1;
    const Bytes high = encode(settings, mix, 65536);
    EXPECT_LE(high.size(), standard.size() + standard.size() / 256 + 2);
    EXPECT_NE(high, standard);
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{777}}) {
        EXPECT_EQ(encode(settings, mix, chunk), high) << chunk;
    }
}

TEST(VelloxApi, DecoderHandsOutTheProgramsSamples) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    cli::ScratchFolder folder;
    vellox_settings settings;
    vellox_settings_init(&settings);
    settings.levels = 5;
    settings.subblocks = 40;  // 1280 values a block
    const Samples samples = cli::noise(150000, 9000, base + 17);
    const Bytes intact = encode(settings, samples, 65536);

    // Damage: garbage in the middle (undecodable blocks, a stream out of step) and a cut end.
    Bytes damaged = intact;
    for (std::size_t i = 0; i < 100; ++i) damaged[damaged.size() / 2 + i] = 0xFF;
    Bytes cut(intact.begin(), intact.begin() + static_cast<long>(intact.size() * 2 / 3));

    for (const Bytes* file : std::initializer_list<const Bytes*>{&intact, &damaged, &cut}) {
        const Samples expected = program_input(folder, *file);
        std::uint64_t lost_whole = 0;
        std::uint64_t lost_pieces = 0;
        EXPECT_EQ(decode(*file, 65536, &lost_whole), expected);
        EXPECT_EQ(decode(*file, 1001, &lost_pieces), expected);
        EXPECT_EQ(lost_whole, lost_pieces);
        if (file == &intact) {
            EXPECT_EQ(lost_whole, 0U);
        } else {
            EXPECT_GT(lost_whole, 0U);
        }
        // A cut file loses the blocks whose first bit is past its end: about a third.
        if (file == &cut) {
            EXPECT_LT(lost_whole, samples.size() / 3 + 1280);
        }
    }
}

TEST(VelloxApi, DecoderReadsThroughACallback) {
    vellox_settings settings;
    vellox_settings_init(&settings);
    const Samples samples = cli::sine(30000, 20000, 101.0);
    const Bytes file = encode(settings, samples, 4096);
    struct Reader {
        const Bytes* file;
        std::size_t at;
        bool fail;
    };
    const auto read = [](void* user, unsigned char* bytes, std::size_t size, std::size_t* got) {
        auto* reader = static_cast<Reader*>(user);
        if (reader->fail && reader->at > 100) return 1;
        // A few bytes at a time, as a pipe gives them.
        const std::size_t n = std::min({size, reader->file->size() - reader->at, std::size_t{7}});
        std::memcpy(bytes, reader->file->data() + reader->at, n);
        reader->at += n;
        *got = n;
        return 0;
    };
    // A read function may give fewer bytes than asked: the decoder asks again until a read
    // gives none.
    Reader reader{&file, 0, false};
    vellox_decoder* decoder = nullptr;
    ASSERT_EQ(vellox_decoder_open_callback(read, &reader, &decoder), VELLOX_OK);
    EXPECT_EQ(vellox_decoder_sample_count(decoder), 30000U);
    EXPECT_EQ(vellox_decoder_levels(decoder), 7);
    EXPECT_EQ(vellox_decoder_subblocks(decoder), 16);
    Samples got_samples(30000);
    std::size_t got = 0;
    EXPECT_EQ(vellox_decoder_read(decoder, got_samples.data(), 30000, &got), VELLOX_OK);
    EXPECT_EQ(got, 30000U);
    EXPECT_EQ(got_samples, decode(file, 65536));
    vellox_decoder_destroy(decoder);

    // Bytes behind the last block are found by reading on to the end, once every sample was
    // read; the file as written has none.
    const Bytes longer = [&file] {
        Bytes bytes = file;
        bytes.insert(bytes.end(), {0, 1, 0});
        return bytes;
    }();
    for (const Bytes* bytes : {&file, &longer}) {
        Reader whole{bytes, 0, false};
        ASSERT_EQ(vellox_decoder_open_callback(read, &whole, &decoder), VELLOX_OK);
        std::uint64_t trailing = 99;
        EXPECT_EQ(vellox_decoder_read(decoder, got_samples.data(), 29999, &got), VELLOX_OK);
        EXPECT_EQ(vellox_decoder_trailing_bytes(decoder, &trailing), VELLOX_ERROR_STATE);
        EXPECT_EQ(trailing, 0U);
        EXPECT_EQ(vellox_decoder_read(decoder, got_samples.data(), 1, &got), VELLOX_OK);
        EXPECT_EQ(vellox_decoder_trailing_bytes(decoder, &trailing), VELLOX_OK);
        EXPECT_EQ(trailing, bytes->size() - file.size());
        EXPECT_EQ(whole.at, bytes->size());
        EXPECT_EQ(vellox_decoder_trailing_bytes(decoder, nullptr), VELLOX_ERROR_ARGUMENT);
        vellox_decoder_destroy(decoder);
    }

    Reader failing{&file, 0, true};
    ASSERT_EQ(vellox_decoder_open_callback(read, &failing, &decoder), VELLOX_OK);
    EXPECT_EQ(vellox_decoder_read(decoder, got_samples.data(), 30000, &got), VELLOX_ERROR_READ);
    EXPECT_EQ(got, 30000U);
    EXPECT_EQ(vellox_decoder_read(decoder, got_samples.data(), 10, &got), VELLOX_ERROR_READ);
    std::uint64_t trailing = 0;
    EXPECT_EQ(vellox_decoder_trailing_bytes(decoder, &trailing), VELLOX_ERROR_READ);
    vellox_decoder_destroy(decoder);
    EXPECT_EQ(vellox_decoder_trailing_bytes(nullptr, &trailing), VELLOX_ERROR_ARGUMENT);
}

TEST(VelloxApi, EveryMisuseGetsItsStatus) {
    const std::uint32_t base = test::test_seed(0);
    SCOPED_TRACE(test::seed_note(base));
    vellox_settings good;
    vellox_settings_init(&good);
    Bytes file;
    vellox_encoder* encoder = reinterpret_cast<vellox_encoder*>(&file);  // must be reset
    EXPECT_EQ(vellox_encoder_create(nullptr, 10, append, &file, &encoder), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(encoder, nullptr);
    EXPECT_EQ(vellox_encoder_create(&good, 10, nullptr, &file, &encoder), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_encoder_create(&good, 10, append, &file, nullptr), VELLOX_ERROR_ARGUMENT);

    struct Bad {
        void (*change)(vellox_settings&);
        vellox_status status;
    };
    static const double nan_tap[] = {1.0, __builtin_nan("")};
    const Bad bad[] = {
        {[](vellox_settings& s) { s.levels = -1; }, VELLOX_ERROR_LEVELS},
        {[](vellox_settings& s) { s.levels = 16; }, VELLOX_ERROR_LEVELS},
        {[](vellox_settings& s) { s.subblocks = 0; }, VELLOX_ERROR_SUBBLOCKS},
        {[](vellox_settings& s) { s.subblocks = 4096; }, VELLOX_ERROR_SUBBLOCKS},
        {[](vellox_settings& s) { s.filter = 'X'; }, VELLOX_ERROR_FILTER},
        {[](vellox_settings& s) { s.filter_length = 2; }, VELLOX_ERROR_FILTER_LENGTH},
        {[](vellox_settings& s) { s.filter_length = 807; }, VELLOX_ERROR_FILTER_LENGTH},
        {[](vellox_settings& s) { s.filter = 'O', s.filter_length = 403; },
         VELLOX_ERROR_FILTER_LENGTH},
        {[](vellox_settings& s) { s.filter = 'C'; }, VELLOX_ERROR_TAPS},
        {[](vellox_settings& s) { s.filter = 'C', s.taps = nan_tap, s.tap_count = 2; },
         VELLOX_ERROR_TAPS},
        {[](vellox_settings& s) { s.filter = 'C', s.taps = nan_tap, s.tap_count = 0; },
         VELLOX_ERROR_TAPS},
        {[](vellox_settings& s) { s.percents = 1.0; }, VELLOX_ERROR_PERCENTS},
        {[](vellox_settings& s) { s.percents = 100.5; }, VELLOX_ERROR_PERCENTS},
        {[](vellox_settings& s) { s.percents = __builtin_nan(""); }, VELLOX_ERROR_PERCENTS},
    };
    for (const Bad& b : bad) {
        vellox_settings settings = good;
        b.change(settings);
        EXPECT_EQ(vellox_encoder_create(&settings, 10, append, &file, &encoder), b.status)
            << vellox_status_text(b.status);
        EXPECT_EQ(encoder, nullptr);
    }
    EXPECT_EQ(vellox_encoder_create(&good, 0x80000000u, append, &file, &encoder),
              VELLOX_ERROR_SAMPLE_COUNT);
    EXPECT_TRUE(file.empty());  // nothing written by any refused create

    // Too many samples are refused whole; too few cannot finish; after finish, nothing goes.
    ASSERT_EQ(vellox_encoder_create(&good, 10, append, &file, &encoder), VELLOX_OK);
    const Samples samples(11, 100);
    EXPECT_EQ(vellox_encoder_feed(nullptr, samples.data(), 1), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_encoder_feed(encoder, nullptr, 1), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_encoder_feed(encoder, nullptr, 0), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_feed(encoder, samples.data(), 11), VELLOX_ERROR_TOO_MANY_SAMPLES);
    EXPECT_EQ(vellox_encoder_feed(encoder, samples.data(), 9), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_feed(encoder, samples.data(), 2), VELLOX_ERROR_TOO_MANY_SAMPLES);
    EXPECT_EQ(vellox_encoder_finish(encoder, nullptr), VELLOX_ERROR_TOO_FEW_SAMPLES);
    EXPECT_EQ(file.size(), 14U);  // the header only
    EXPECT_EQ(vellox_encoder_feed(encoder, samples.data(), 1), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_finish(encoder, nullptr), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_feed(encoder, samples.data(), 0), VELLOX_ERROR_STATE);
    EXPECT_EQ(vellox_encoder_finish(encoder, nullptr), VELLOX_ERROR_STATE);
    EXPECT_EQ(vellox_encoder_finish(nullptr, nullptr), VELLOX_ERROR_ARGUMENT);
    vellox_encoder_destroy(encoder);
    vellox_encoder_destroy(nullptr);

    // A write function that fails: at the header, or later; every call after it is refused.
    struct Failing {
        std::size_t taken;  // bytes taken so far
        std::size_t limit;  // bytes it takes in all
    };
    const auto failing = [](void* user, const unsigned char*, std::size_t size) {
        auto* f = static_cast<Failing*>(user);
        if (f->taken + size > f->limit) return 1;
        f->taken += size;
        return 0;
    };
    Failing none{0, 0};
    EXPECT_EQ(vellox_encoder_create(&good, 10, failing, &none, &encoder), VELLOX_ERROR_WRITE);
    EXPECT_EQ(encoder, nullptr);
    const Samples noise = cli::noise(300000, 30000, base + 1);
    Failing header_only{0, 14};
    ASSERT_EQ(vellox_encoder_create(&good, 300000, failing, &header_only, &encoder), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_feed(encoder, noise.data(), noise.size()), VELLOX_ERROR_WRITE);
    EXPECT_EQ(vellox_encoder_feed(encoder, noise.data(), 0), VELLOX_ERROR_STATE);
    EXPECT_EQ(vellox_encoder_finish(encoder, nullptr), VELLOX_ERROR_STATE);
    vellox_encoder_destroy(encoder);
    Failing at_the_end{0, 14};
    ASSERT_EQ(vellox_encoder_create(&good, 100, failing, &at_the_end, &encoder), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_feed(encoder, noise.data(), 100), VELLOX_OK);
    EXPECT_EQ(vellox_encoder_finish(encoder, nullptr), VELLOX_ERROR_WRITE);
    vellox_encoder_destroy(encoder);

    // Decoders: arguments, and what is no ACM stream.
    vellox_decoder* decoder = nullptr;
    EXPECT_EQ(vellox_decoder_open_memory(nullptr, 10, &decoder), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_decoder_open_memory(file.data(), file.size(), nullptr), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_decoder_open_callback(nullptr, nullptr, &decoder), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_decoder_open_memory(file.data(), 13, &decoder), VELLOX_ERROR_NOT_ACM);
    EXPECT_EQ(decoder, nullptr);
    Bytes wrong = file;
    wrong[0] ^= 1;
    EXPECT_EQ(vellox_decoder_open_memory(wrong.data(), wrong.size(), &decoder),
              VELLOX_ERROR_NOT_ACM);
    Bytes no_rows = file;
    no_rows[12] &= 0x0F;
    no_rows[13] = 0;
    EXPECT_EQ(vellox_decoder_open_memory(no_rows.data(), no_rows.size(), &decoder),
              VELLOX_ERROR_NOT_ACM);
    Bytes too_long = file;
    too_long[7] = 0x80;
    EXPECT_EQ(vellox_decoder_open_memory(too_long.data(), too_long.size(), &decoder),
              VELLOX_ERROR_SAMPLE_COUNT);
    ASSERT_EQ(vellox_decoder_open_memory(file.data(), file.size(), &decoder), VELLOX_OK);
    std::size_t got = 1;
    EXPECT_EQ(vellox_decoder_read(decoder, nullptr, 5, &got), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(got, 0U);
    EXPECT_EQ(vellox_decoder_read(nullptr, nullptr, 0, nullptr), VELLOX_ERROR_ARGUMENT);
    vellox_decoder_destroy(decoder);
    vellox_decoder_destroy(nullptr);
    EXPECT_EQ(vellox_decoder_sample_count(nullptr), 0U);
    EXPECT_EQ(vellox_decoder_samples_not_decoded(nullptr), 0U);

    // Every status has its own text.
    for (int s = VELLOX_OK; s <= VELLOX_ERROR_STATE; ++s) {
        for (int t = VELLOX_OK; t < s; ++t) {
            EXPECT_STRNE(vellox_status_text(static_cast<vellox_status>(s)),
                         vellox_status_text(static_cast<vellox_status>(t)));
        }
    }
}

TEST(VelloxApi, VersionAndHeaderAsC) {
    EXPECT_EQ(std::string(vellox_version()), std::to_string(VELLOX_VERSION_MAJOR) + "." +
                                                 std::to_string(VELLOX_VERSION_MINOR) + "." +
                                                 std::to_string(VELLOX_VERSION_PATCH));
    EXPECT_EQ(vellox_c99_round_trip(), 0);
}

// ---- 2.0: settings that carry their size, the header's channels and rate, one call each way

TEST(VelloxApi, OneCallEachWayGivesTheStreamingBytesAndSamples) {
    cli::ScratchFolder folder;
    const Samples samples = cli::noise(70001, 9000, 29);
    const std::string raw = cli::raw16(samples);
    struct Case {
        std::vector<std::string> options;
        int levels;
        double percents;
        int high_quality, channels;
        std::uint32_t rate;
    };
    const Case cases[] = {
        {{}, 7, 50.0, 0, 2, 22050},
        {{"-l", "0", "-q0", "-c", "1", "-r", "44100"}, 0, -1.0, 0, 1, 44100},
        {{"-q", "25", "-hq", "-C", "65535", "-R", "65535"}, 7, 25.0, 1, 65535, 65535},
    };
    for (const Case& c : cases) {
        vellox_settings settings;
        vellox_settings_init(&settings);
        settings.levels = c.levels;
        settings.percents = c.percents;
        settings.high_quality = c.high_quality;
        settings.channels = c.channels;
        settings.sample_rate = c.rate;
        const Bytes expected = program_output(folder, "-16", raw, c.options);
        ASSERT_EQ(encode(settings, samples, 777), expected);
        unsigned char* bytes = nullptr;
        std::size_t size = 0;
        ASSERT_EQ(vellox_encode_memory(&settings, samples.data(), samples.size(), &bytes, &size),
                  VELLOX_OK);
        EXPECT_EQ(Bytes(bytes, bytes + size), expected);

        vellox_decoder* decoder = nullptr;
        ASSERT_EQ(vellox_decoder_open_memory(bytes, size, &decoder), VELLOX_OK);
        EXPECT_EQ(vellox_decoder_channels(decoder), c.channels);
        EXPECT_EQ(vellox_decoder_sample_rate(decoder), c.rate);
        vellox_decoder_destroy(decoder);

        // A cut file loses samples alike both ways.
        for (const std::size_t kept : {size, size / 2}) {
            std::int16_t* decoded = nullptr;
            std::size_t count = 0;
            std::uint64_t lost = 0;
            ASSERT_EQ(vellox_decode_memory(bytes, kept, &decoded, &count, &lost), VELLOX_OK);
            std::uint64_t streaming_lost = 0;
            EXPECT_EQ(Samples(decoded, decoded + count),
                      decode(Bytes(bytes, bytes + kept), 65536, &streaming_lost));
            EXPECT_EQ(lost, streaming_lost);
            EXPECT_EQ(kept == size, lost == 0);
            vellox_free(decoded);
        }
        vellox_free(bytes);
    }

    // No samples at all: a header alone, and nothing to hand out.
    vellox_settings settings;
    vellox_settings_init(&settings);
    unsigned char* bytes = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(vellox_encode_memory(&settings, nullptr, 0, &bytes, &size), VELLOX_OK);
    EXPECT_EQ(size, 14u);
    std::int16_t* decoded = reinterpret_cast<std::int16_t*>(&settings);
    std::size_t count = 1;
    EXPECT_EQ(vellox_decode_memory(bytes, size, &decoded, &count, nullptr), VELLOX_OK);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(count, 0u);
    vellox_free(bytes);
    vellox_free(nullptr);
}

TEST(VelloxApi, SettingsOfEverySizeAndTheNewMisuses) {
    const Samples samples = cli::noise(5000, 9000, 31);
    vellox_settings settings;
    vellox_settings_init(&settings);
    EXPECT_EQ(settings.size, sizeof(vellox_settings));
    EXPECT_EQ(settings.channels, 2);
    EXPECT_EQ(settings.sample_rate, 22050u);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&settings);
    std::size_t size = 99;
    auto encode_status = [&](const vellox_settings& given) {
        const vellox_status status =
            vellox_encode_memory(&given, samples.data(), samples.size(), &bytes, &size);
        if (status != VELLOX_OK) {
            EXPECT_EQ(bytes, nullptr);
            EXPECT_EQ(size, 0u);
        }
        vellox_free(bytes);
        return status;
    };
    ASSERT_EQ(encode_status(settings), VELLOX_OK);

    // A size the library does not know: too small, or a later header's larger struct whose
    // extra fields this library does not read.
    for (const std::size_t wrong : {std::size_t{0}, sizeof(std::size_t), sizeof settings - 8}) {
        vellox_settings small = settings;
        small.size = wrong;
        EXPECT_EQ(encode_status(small), VELLOX_ERROR_ARGUMENT) << wrong;
    }
    struct Later {
        vellox_settings known;
        double unknown[4];
    } later{};
    vellox_settings_init_size(&later.known, sizeof later);
    EXPECT_EQ(later.known.size, sizeof later);
    EXPECT_EQ(later.unknown[0], 0.0);  // nothing written past the fields this library knows
    later.unknown[0] = 123.0;
    EXPECT_EQ(encode_status(later.known), VELLOX_OK);
    // Nothing is written into a struct too small to hold the 2.0 fields.
    vellox_settings untouched{};
    vellox_settings_init_size(&untouched, 8);
    EXPECT_EQ(untouched.size, 0u);
    EXPECT_EQ(untouched.levels, 0);
    // The exported function behind the macro fills the 2.0 fields.
    vellox_settings by_function{};
    (vellox_settings_init)(&by_function);
    EXPECT_EQ(by_function.levels, 7);
    EXPECT_EQ(by_function.sample_rate, 22050u);
    EXPECT_GE(by_function.size, offsetof(vellox_settings, sample_rate) + sizeof(std::uint32_t));

    // The header's fields: 16 bits each, 0 not allowed.
    for (const auto& [channels, rate] : {std::pair<int, std::uint32_t>{0, 22050},
                                         {65536, 22050},
                                         {-1, 22050},
                                         {2, 0},
                                         {2, 65536},
                                         {2, 1000000}}) {
        vellox_settings wrong = settings;
        wrong.channels = channels;
        wrong.sample_rate = rate;
        EXPECT_EQ(encode_status(wrong), VELLOX_ERROR_FORMAT) << channels << " " << rate;
        vellox_encoder* encoder = nullptr;
        EXPECT_EQ(vellox_encoder_create(&wrong, 10, append, nullptr, &encoder),
                  VELLOX_ERROR_FORMAT);
        EXPECT_EQ(encoder, nullptr);
    }
    EXPECT_STRNE(vellox_status_text(VELLOX_ERROR_FORMAT), "unknown status");

    // Null out-pointers, and null samples with a count.
    std::size_t count = 5;
    EXPECT_EQ(vellox_encode_memory(&settings, samples.data(), 10, nullptr, &size),
              VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(vellox_encode_memory(&settings, samples.data(), 10, &bytes, nullptr),
              VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(vellox_encode_memory(&settings, nullptr, 10, &bytes, &size), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_encode_memory(nullptr, samples.data(), 10, &bytes, &size),
              VELLOX_ERROR_ARGUMENT);
    const std::uint8_t header[14] = {0x97, 0x28, 0x03, 0x01, 10, 0, 0, 0, 2, 0, 0x22, 0x56, 0x17};
    std::int16_t* decoded = nullptr;
    EXPECT_EQ(vellox_decode_memory(header, sizeof header, nullptr, &count, nullptr),
              VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(vellox_decode_memory(header, sizeof header, &decoded, nullptr, nullptr),
              VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(vellox_decode_memory(header, 13, &decoded, &count, nullptr), VELLOX_ERROR_NOT_ACM);
    EXPECT_EQ(vellox_decode_memory(nullptr, 14, &decoded, &count, nullptr), VELLOX_ERROR_ARGUMENT);
    EXPECT_EQ(vellox_decoder_channels(nullptr), 0);
    EXPECT_EQ(vellox_decoder_sample_rate(nullptr), 0u);
}

}  // namespace
}  // namespace vellox
