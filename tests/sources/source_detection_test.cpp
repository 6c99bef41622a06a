// Automatic detection and the named kinds: which source takes a file, the refusals that end the
// detection, given descriptors and failed allocations.

#include "sources/source_detection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "sources/sndfile_source.h"
#include "sources/sound_files.h"

namespace vellox {
namespace {

using namespace source_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using SourceDetectionTest = SoundFileTest;

TEST_F(SourceDetectionTest, DetectsOrTakesTheNamedType) {
    const std::string wav_path = write("a.wav", wav16({1, -2, 300}));
    auto source = open(wav_path, SoundType::automatic);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "WAV");
    EXPECT_EQ(source->total_samples, 3);
    EXPECT_EQ(read_all(*source), (std::vector<int>{1, -2, 300}));
    EXPECT_EQ(errors, "");

    // The explicit 16-bit type reads a WAV file as raw data, header included.
    source = open(wav_path, SoundType::raw16);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "RAW16");
    EXPECT_EQ(source->total_samples, 25);
    EXPECT_EQ(source->read_sample(), 0x4952);  // "RI"

    // Neither WAV nor ACM: raw 16-bit, the odd last byte never delivered.
    const std::string raw_path = write("a.raw", "\x01\x02\x03\x04\x05\x06\x07");
    source = open(raw_path, SoundType::automatic);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "RAW16");
    EXPECT_EQ(errors, "");
    std::int16_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(source->read(buffer, 4), 3);
    EXPECT_EQ(buffer[2], 0x0605);
    EXPECT_EQ(buffer[3], 0);

    source = open(raw_path, SoundType::wav);
    EXPECT_EQ(source, nullptr);
    EXPECT_EQ(errors, "Error: Not a WAV file: '" + raw_path + "'\n");

    source = open(write("b.raw", "\x00\x80\xFF"s), SoundType::raw8);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->type_name(), "RAW8");
    EXPECT_EQ(source->is_16bit, 0);
    EXPECT_EQ(read_all(*source), (std::vector<int>{-32768, 0, 32512}));
}

TEST_F(SourceDetectionTest, ReportsFilesThatCannotBeRead) {
    const std::string missing = dir + "/missing.raw";
    const std::string pipe = dir + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* text;
    } cases[] = {
        {missing, "No such file or directory"}, {dir, "Is a directory"}, {pipe, "Illegal seek"}};
    // The reason is printed once, also under the automatic type; a pipe never blocks.
    for (const auto& c : cases) {
        for (SoundType type : {SoundType::raw8, SoundType::raw16, SoundType::wav, SoundType::acm,
                               SoundType::automatic}) {
            EXPECT_EQ(open(c.path, type), nullptr);
            EXPECT_EQ(errors, "Error: " + std::string(c.text) + ": '" + c.path + "'\n");
        }
    }
}

// Automatic detection reads whatever it does not recognise as raw samples; files in another
// sound or container format are refused instead of becoming noise. Explicit types read them.
TEST_F(SourceDetectionTest, AutomaticDetectionRefusesOtherSoundFormats) {
    const std::string acm_magic = "\x97\x28\x03\x01"s;
    const std::string refused[] = {
        "RIFX" + le(100, 4) + "WAVE" + std::string(20, '\0'),
        "FORM" + le(100, 4) + "AIFF",
        "FORM" + le(100, 4) + "AIFC",
        "fLaC\x00\x00\x00\x22"s,
        "OggS\x00\x02"s,
        "ID3\x04\x00\x00"s,
        "caff\x00\x01",
        ".snd\x00\x00\x00\x18"s,
        "wvpk" + le(100, 4),
        "MThd" + le(6, 4),
        "RIFF" + le(100, 4) + "AVI " + std::string(20, '\0'),
        "RIFF" + le(4, 4),  // cut before its form type
        "RF64" + le(~0u, 4) + "AVI ",
        acm_magic + le(1000, 4) + le(2, 2) + le(22050, 2),             // shorter than the header
        acm_magic + le(1000, 4) + le(2, 2) + le(22050, 2) + le(3, 2),  // no rows per block
        acm_magic,
    };
    for (const std::string& bytes : refused) {
        const std::string path = write("a.snd", bytes);
        EXPECT_EQ(open(path, SoundType::automatic), nullptr) << bytes;
        // The first eight are formats of libsndfile, which a build without it names.
        const bool named = !SndfileSource::available() && &bytes - refused < 8;
        EXPECT_EQ(errors, "Error: "s +
                              (named ? "Reading this format needs libsndfile, which this "
                                       "build lacks"
                                     : "Unsupported sound file format") +
                              ": '" + path + "'\n");
        auto source = open(path, SoundType::raw16);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->total_samples, static_cast<std::int32_t>(bytes.size() / 2));
        EXPECT_NE(open(path, SoundType::raw8), nullptr);
    }
    // Near misses stay raw samples.
    for (const std::string& bytes : {"ID"s, "fLa"s, "riff"s, "\x97\x28\x03"s, "\0ID3"s}) {
        auto source = open(write("a.raw", bytes), SoundType::automatic);
        ASSERT_NE(source, nullptr) << bytes;
        EXPECT_STREQ(source->type_name(), "RAW16");
        EXPECT_EQ(errors, "");
    }
}

// Standard input and spooled pipes reach the sources as descriptors; messages name the input
// as the user gave it.
TEST_F(SourceDetectionTest, ReadsAGivenDescriptorUnderTheGivenName) {
    const int wav_file = ::open(write("a.wav", wav16({5, -5})).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(wav_file, 0);
    for (int round = 0; round < 2; ++round) {  // the descriptor stays usable for the next
        auto source = open_input_source("-", SoundType::automatic, wav_file);
        ASSERT_NE(source, nullptr);
        EXPECT_STREQ(source->type_name(), "WAV");
        EXPECT_EQ(read_all(*source), (std::vector<int>{5, -5}));
        EXPECT_NE(source->descriptor(), wav_file);
    }
    CaptureStderr();
    EXPECT_EQ(open_input_source("-", SoundType::acm, wav_file), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "Error: Not an ACM file: '-'\n");
    ::close(wav_file);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    CaptureStderr();
    EXPECT_EQ(open_input_source("-", SoundType::automatic, ends[0]), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "Error: Illegal seek: '-'\n");
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(SourceDetectionTest, ReportsFailedAllocations) {
    const std::string raw_path = write("a.raw", "abcd");
    // The WAV candidate: detection stops, or a WAV file would be read as raw samples.
    fail_allocation_number(1);
    EXPECT_EQ(open(raw_path, SoundType::automatic), nullptr);
    EXPECT_EQ(errors, "Error: Cannot allocate memory\n");

    fail_allocation_number(1);
    EXPECT_EQ(open(raw_path, SoundType::raw16), nullptr);
    EXPECT_EQ(errors, "Error: Cannot allocate memory\n");

    fail_allocation_number(2);  // the staging buffer of a 24-bit file: not read as raw
    const std::string wav_path =
        write("a.wav", wav(chunk("fmt ", fmt_body(1, 24)) + chunk("data", "abc")));
    EXPECT_EQ(open(wav_path, SoundType::automatic), nullptr);
    EXPECT_EQ(errors, "Error: Cannot allocate memory\n");
}

}  // namespace
}  // namespace vellox
