// BitWriter: bit order, zero bytes held back and never written at the end, byte counts, and
// write failures.

#include "acm/bit_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "acm/byte_stream.h"
#include "common/test_files.h"
#include "common/test_seed.h"
#include "frontend/file_byte_sink.h"

namespace vellox {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A BitWriter on a sink in memory.
class WriterOnFile {
public:
    WriterOnFile() : writer(sink) {}

    // Every byte the sink took.
    Bytes contents() const { return Bytes(sink.data(), sink.data() + sink.size()); }

    MemorySink sink;
    BitWriter writer;
};

// A sink that takes limit bytes in all and fails every write that would go past them, taking
// what still fits.
class LimitedSink final : public ByteSink {
public:
    explicit LimitedSink(std::size_t limit) : room(limit) {}
    std::size_t write(const std::uint8_t* /*bytes*/, std::size_t size) override {
        const std::size_t taken = size < room ? size : room;
        room -= taken;
        total += taken;
        return taken;
    }
    std::size_t room;       // bytes it still takes
    std::size_t total = 0;  // bytes it took
};

// The stream a sequence of puts defines: the bits in order, 8 to a byte from the least
// significant bit, without the zero bytes at its end (a zero partial byte included).
class StreamModel {
public:
    void put_bits(std::uint64_t value, int n) {
        for (int i = 0; i < n; ++i) bits.push_back(((value >> i) & 1) != 0);
    }
    Bytes file_bytes() const { return test::stream_file_bytes(bits); }
    std::int64_t bit_count() const { return static_cast<std::int64_t>(bits.size()); }

private:
    std::vector<bool> bits;
};

TEST(BitWriter, HoldsZeroBytesUntilANonZeroByteFollows) {
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    out.writer.put_bits(0, 16);
    EXPECT_EQ(out.writer.bytes_written(), 0);
    out.writer.put_bits(1, 1);
    out.writer.finish_bits();
    EXPECT_EQ(out.contents(), (Bytes{0x00, 0x00, 0x01}));
    EXPECT_EQ(out.writer.bytes_written(), 3);
    EXPECT_EQ(out.writer.bits_written(), 17);
    EXPECT_EQ(out.writer.status(), VELLOX_OK);
}

TEST(BitWriter, AllZeroStreamWritesNothing) {
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    for (int i = 0; i < 1000; ++i) out.writer.put_bits(0, 1 + i % 32);
    out.writer.finish_bits();
    EXPECT_TRUE(out.contents().empty());
    EXPECT_EQ(out.writer.bytes_written(), 0);
}

TEST(BitWriter, NineHeldZeroBytesAreWrittenBeforeTheNextByte) {
    {
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        for (int i = 0; i < 9; ++i) out.writer.put_bits(0, 8);
        out.writer.finish_bits();
        EXPECT_EQ(out.writer.held_zero_bytes(), 9);
        EXPECT_EQ(out.writer.bytes_written(), 0);
    }
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    for (int i = 0; i < 9; ++i) out.writer.put_bits(0, 8);
    out.writer.put_bits(0x7F, 8);
    out.writer.finish_bits();
    Bytes expected(9, 0);
    expected.push_back(0x7F);
    EXPECT_EQ(out.contents(), expected);
    EXPECT_EQ(out.writer.bytes_written(), 10);
    EXPECT_EQ(out.writer.held_zero_bytes(), 0);
}

TEST(BitWriter, ZeroBytesAfterTheLastNonZeroByteAreNeverWritten) {
    {
        // 5A 00 00 from one put: only 5A reaches the file; the zeros wait.
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        out.writer.put_bits(0x5A, 24);
        out.writer.finish_bits();
        EXPECT_EQ(out.contents(), Bytes{0x5A});
        EXPECT_EQ(out.writer.held_zero_bytes(), 2);
        EXPECT_EQ(out.writer.bytes_written(), 1);
    }
    {
        // The same held zeros are written once a non-zero byte follows.
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        out.writer.put_bits(0x5A, 24);
        out.writer.put_bits(0x01, 8);
        out.writer.finish_bits();
        EXPECT_EQ(out.contents(), (Bytes{0x5A, 0x00, 0x00, 0x01}));
    }
    {
        // A last partial byte of zeros is not written, nor the zero byte held before it.
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        out.writer.put_bits(0xFF, 8);
        out.writer.put_bits(0, 8);
        out.writer.put_bits(0, 3);
        out.writer.finish_bits();
        EXPECT_EQ(out.contents(), Bytes{0xFF});
        EXPECT_EQ(out.writer.held_zero_bytes(), 1);
    }
}

TEST(BitWriter, FullWidthPutsAreWrittenLowestByteFirst) {
    {
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        out.writer.put_bits(0x00120034, 32);
        out.writer.finish_bits();
        EXPECT_EQ(out.contents(), (Bytes{0x34, 0x00, 0x12}));
        EXPECT_EQ(out.writer.held_zero_bytes(), 1);
    }
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    out.writer.put_bits(0x00120034, 32);
    out.writer.put_bits(5, 3);  // a partial byte between full-width puts
    out.writer.put_bits(0x89ABCDEF, 32);
    out.writer.finish_bits();
    EXPECT_EQ(out.contents(), (Bytes{0x34, 0x00, 0x12, 0x00, 0x7D, 0x6F, 0x5E, 0x4D, 0x04}));
    EXPECT_EQ(out.writer.bytes_written(), 9);

    WriterOnFile wide;
    ASSERT_EQ(wide.writer.init(), VELLOX_OK);
    wide.writer.put_bits(0x0123456789ABCDEF, 64);  // a whole word at once
    wide.writer.put_bits(1, 1);
    wide.writer.put_bits(0x8000000000000001, 64);  // a word across two
    wide.writer.finish_bits();
    EXPECT_EQ(wide.contents(), (Bytes{0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01, 0x03, 0, 0, 0,
                                      0, 0, 0, 0, 0x01}));
    EXPECT_EQ(wide.writer.bits_written(), 129);
}

TEST(BitWriter, IgnoresValueBitsAboveTheWidth) {
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    out.writer.put_bits(0xFFFFFFFF, 3);
    out.writer.put_bits(0xFFFFFFF0, 5);
    out.writer.put_bits(0xFFFFFF00, 31);
    out.writer.finish_bits();
    EXPECT_EQ(out.contents(), (Bytes{0x87, 0x00, 0xFF, 0xFF, 0x7F}));
}

TEST(BitWriter, FinishingTwiceWritesNothingMore) {
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    out.writer.put_bits(0x3, 2);
    out.writer.finish_bits();
    out.writer.finish_bits();
    EXPECT_EQ(out.contents(), Bytes{0x03});
    EXPECT_EQ(out.writer.bytes_written(), 1);
}

// Zero runs longer than the output buffer, and held runs across buffer hand-overs.
TEST(BitWriter, LongZeroRunsCrossTheOutputBuffer) {
    WriterOnFile out;
    ASSERT_EQ(out.writer.init(), VELLOX_OK);
    StreamModel model;
    const auto put = [&](std::uint32_t value, int n) {
        out.writer.put_bits(value, n);
        model.put_bits(value, n);
    };
    put(0xA5, 8);
    for (std::int64_t i = 0; i < BitWriter::buffer_size / 2 + 3; ++i) put(0, 24);
    put(1, 7);
    for (std::int64_t i = 0; i < BitWriter::buffer_size / 4 - 2; ++i) put(0x01000000, 32);
    for (std::int64_t i = 0; i < BitWriter::buffer_size; ++i) put(0, 16);
    put(0x80, 8);
    for (int i = 0; i < 100; ++i) put(0, 32);
    out.writer.finish_bits();
    const Bytes expected = model.file_bytes();
    EXPECT_EQ(out.contents(), expected);
    EXPECT_EQ(out.writer.bytes_written(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(out.writer.bits_written(), model.bit_count());
}

// Seeded random puts of every width, dense and zero-heavy, against the bit model.
TEST(BitWriter, RandomPutsMatchTheBitModel) {
    const std::uint32_t first_seed = test::test_seed(1);
    for (std::uint32_t run = 1; run <= 12; ++run) {
        const std::uint32_t seed = first_seed + run - 1;
        SCOPED_TRACE(test::seed_note(seed));
        std::mt19937 random(seed);
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        StreamModel model;
        const int puts = run <= 4 ? 300 : 60000;
        const std::uint32_t zero_share = run % 4;  // of 4: how often a put is 0
        for (int i = 0; i < puts; ++i) {
            // Mostly the widths the packer uses, sometimes up to whole words.
            const int n = 1 + static_cast<int>(random() % (i % 8 == 0 ? 64 : 32));
            auto value = (std::uint64_t{random()} << 32) | random();
            if (random() % 4 < zero_share) value = 0;
            out.writer.put_bits(value, n);
            model.put_bits(value, n);
        }
        out.writer.finish_bits();
        const Bytes expected = model.file_bytes();
        EXPECT_EQ(out.contents(), expected);
        EXPECT_EQ(out.writer.bytes_written(), static_cast<std::int64_t>(expected.size()));
        EXPECT_EQ(out.writer.bits_written(), model.bit_count());
    }
}

// Bursts of puts (of 0 to 32 bits) between plain puts write the same stream as plain puts,
// and count their bits.
TEST(BitWriter, BurstsMatchTheBitModel) {
    const std::uint32_t first_seed = test::test_seed(1);
    for (std::uint32_t run = 1; run <= 6; ++run) {
        const std::uint32_t seed = first_seed + run - 1;
        SCOPED_TRACE(test::seed_note(seed));
        std::mt19937 random(seed);
        WriterOnFile out;
        ASSERT_EQ(out.writer.init(), VELLOX_OK);
        StreamModel model;
        for (int round = 0; round < 3000; ++round) {
            if (random() % 3 == 0) {
                const int n = 1 + static_cast<int>(random() % 64);
                const auto value = (std::uint64_t{random()} << 32) | random();
                out.writer.put_bits(value, n);
                model.put_bits(value, n);
                continue;
            }
            BitWriter::Burst burst(out.writer);
            const int puts = static_cast<int>(random() % 40);
            for (int i = 0; i < puts; ++i) {
                const int n = static_cast<int>(random() % 33);
                std::uint32_t value = n == 0 ? 0 : static_cast<std::uint32_t>(random() >> (32 - n));
                if (random() % 4 < run % 4) value = 0;
                burst.put(value, n);
                model.put_bits(value, n);
            }
            burst.finish();
            EXPECT_EQ(out.writer.bits_written(), model.bit_count());
        }
        out.writer.finish_bits();
        const Bytes expected = model.file_bytes();
        EXPECT_EQ(out.contents(), expected);
        EXPECT_EQ(out.writer.bytes_written(), static_cast<std::int64_t>(expected.size()));
    }
}

TEST(BitWriter, FailedWriteAtTheEndIsReported) {
    LimitedSink full(0);
    BitWriter writer(full);
    ASSERT_EQ(writer.init(), VELLOX_OK);
    writer.put_bits(0x1234, 16);  // small enough to wait in the buffer
    EXPECT_EQ(writer.status(), VELLOX_OK);
    writer.finish_bits();
    EXPECT_EQ(writer.status(), VELLOX_ERROR_WRITE);
    EXPECT_EQ(writer.bytes_written(), 0);
}

TEST(BitWriter, FailedWriteIsStickyAndCountsWhatTheSinkTook) {
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1000}, std::size_t{70000}}) {
        SCOPED_TRACE(limit);
        LimitedSink sink(limit);
        BitWriter writer(sink);
        ASSERT_EQ(writer.init(), VELLOX_OK);
        for (std::int64_t i = 0; i < BitWriter::buffer_size; ++i) writer.put_bits(0xFFFFFFFF, 32);
        EXPECT_EQ(writer.status(), VELLOX_ERROR_WRITE);
        EXPECT_EQ(writer.bytes_written(), static_cast<std::int64_t>(sink.total));
        EXPECT_EQ(sink.total, limit);
        for (std::int64_t i = 0; i < BitWriter::buffer_size; ++i) writer.put_bits(0xFFFFFFFF, 32);
        writer.finish_bits();
        EXPECT_EQ(writer.status(), VELLOX_ERROR_WRITE);
        EXPECT_EQ(writer.bytes_written(), static_cast<std::int64_t>(limit));
        EXPECT_EQ(sink.total, limit);
    }
}

// A file size limit for this process while the object lives, with SIGXFSZ ignored so that a
// write past the limit fails with EFBIG instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous);
        previous_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{std::min(bytes, previous.rlim_max), previous.rlim_max};
        set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previous_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool set = false;

private:
    rlimit previous{};
    void (*previous_handler)(int) = SIG_DFL;
};

TEST(BitWriter, ByteCountAfterAFailedWriteIsWhatTheFileTook) {
    // The limit cuts the first buffer hand-over short: the file takes part of it, then the
    // write fails. The count must be what the file holds, however much more was put.
    constexpr rlim_t limit = 10000;
    const test::TextFile scratch("");
    std::int64_t counted = -1;
    int error = 0;
    {
        const FileSizeLimit size_limit(limit);
        ASSERT_TRUE(size_limit.set);
        std::FILE* file = std::fopen(scratch.path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        {
            FileByteSink sink;  // the program's sink: the output file
            sink.attach(file);
            BitWriter writer(sink);
            ASSERT_EQ(writer.init(), VELLOX_OK);
            for (std::int64_t i = 0; i < BitWriter::buffer_size / 2 + 1; ++i) {
                writer.put_bits(0x87654321, 32);
            }
            writer.finish_bits();
            EXPECT_EQ(writer.status(), VELLOX_ERROR_WRITE);
            counted = writer.bytes_written();
            error = sink.error();
        }
        std::clearerr(file);
        std::fclose(file);
    }
    EXPECT_EQ(error, EFBIG);
    struct stat status {};
    ASSERT_EQ(stat(scratch.path.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, static_cast<off_t>(limit));
    EXPECT_EQ(counted, static_cast<std::int64_t>(status.st_size));
}

}  // namespace
}  // namespace vellox
