// The per-block bit budget the driver hands to the packer, and what each call of the encoder
// answers: the reason of a failed step, and calls out of turn.

#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acm/byte_stream.h"
#include "common/alloc.h"

namespace vellox {
namespace {

TEST(DeriveBitBudget, ScalesTheAverageInputBitsOfABlock) {
    // Defaults: 2048 values a block, 4096 16-bit samples at 50 percent.
    EXPECT_EQ(derive_bit_budget(50.0, true, 4096, 2048), 16384);
    // The last, partial block counts whole: 16 * 4097 / 3 * 0.5.
    EXPECT_EQ(derive_bit_budget(50.0, true, 4097, 2048), 10925);
    EXPECT_EQ(derive_bit_budget(50.0, false, 4096, 2048), 8192);
    EXPECT_EQ(derive_bit_budget(100.0, true, 1, 2048), 16);
    // 16 * 3 / 1 * 33 * 0.01 is 15.84: truncated.
    EXPECT_EQ(derive_bit_budget(33.0, true, 3, 16), 15);
    // The largest block at 100 percent still fits the 32-bit budget.
    EXPECT_EQ(derive_bit_budget(100.0, true, 134184960, 134184960), 2146959360);
}

TEST(DeriveBitBudget, NoTargetOrNoInputMeansNoLimit) {
    EXPECT_EQ(derive_bit_budget(-1.0, true, 4096, 2048), -1);
    EXPECT_EQ(derive_bit_budget(50.0, true, 0, 2048), -1);
}

// A sink that takes nothing, and one that takes everything without keeping it (nor allocating).
class FullSink final : public ByteSink {
public:
    std::size_t write(const std::uint8_t* /*bytes*/, std::size_t /*size*/) override { return 0; }
};
class EndlessSink final : public ByteSink {
public:
    std::size_t write(const std::uint8_t* /*bytes*/, std::size_t size) override { return size; }
};

TEST(Encoder, EachStepAnswersWithItsReason) {
    MemorySink sink;
    // A filter no design makes is not a memory failure, and nothing is written for it.
    EncoderSettings one_tap;
    one_tap.filter_kind = 'O';
    one_tap.filter_length = 1;
    Encoder refused(one_tap, 10, sink);
    EXPECT_EQ(refused.init(), VELLOX_ERROR_FILTER_LENGTH);
    EXPECT_EQ(refused.status(), VELLOX_ERROR_FILTER_LENGTH);
    EncoderSettings no_taps;
    no_taps.filter_kind = 'C';
    EXPECT_EQ(Encoder(no_taps, 10, sink).init(), VELLOX_ERROR_TAPS);
    EXPECT_EQ(sink.size(), 0U);

    // The steps' memory failures: the bank's, the packer's and the buffers' allocations.
    const EncoderSettings defaults;
    EndlessSink endless;
    const std::int64_t before = allocation_count();
    EXPECT_EQ(Encoder(defaults, 10, endless).init(), VELLOX_OK);
    const std::int64_t allocations = allocation_count() - before;
    for (std::int64_t n = 1; n <= allocations; ++n) {
        fail_allocation_number(n);
        Encoder encoder(defaults, 10, endless);
        EXPECT_EQ(encoder.init(), VELLOX_ERROR_MEMORY) << n;
        fail_allocation_number(0);
        EXPECT_EQ(encoder.feed(nullptr, 0), VELLOX_ERROR_STATE);
    }

    FullSink full;
    Encoder unwritten(defaults, 10, full);
    EXPECT_EQ(unwritten.make_filter_bank(), VELLOX_OK);
    EXPECT_EQ(unwritten.write_header(), VELLOX_ERROR_WRITE);
    EXPECT_EQ(unwritten.status(), VELLOX_ERROR_WRITE);
}

TEST(Encoder, CallsOutOfTurnChangeNothing) {
    MemorySink sink;
    Encoder encoder(EncoderSettings{}, 10, sink);
    const std::vector<std::int16_t> samples(100000, 300);
    EXPECT_EQ(encoder.feed(samples.data(), 5), VELLOX_ERROR_STATE);  // before init
    ASSERT_EQ(encoder.init(), VELLOX_OK);
    EXPECT_EQ(encoder.feed(samples.data(), 5), VELLOX_OK);
    EXPECT_EQ(encoder.finish(), VELLOX_ERROR_TOO_FEW_SAMPLES);
    EXPECT_EQ(encoder.feed(samples.data(), 10 + encoder.delay()), VELLOX_ERROR_TOO_MANY_SAMPLES);
    EXPECT_EQ(encoder.status(), VELLOX_OK);
    EXPECT_EQ(encoder.feed(samples.data(), 5), VELLOX_OK);
    EXPECT_EQ(encoder.finish(), VELLOX_OK);
    EXPECT_TRUE(encoder.finished());
    EXPECT_EQ(encoder.finish(), VELLOX_ERROR_STATE);
    EXPECT_EQ(encoder.feed(samples.data(), 0), VELLOX_ERROR_STATE);
    EXPECT_EQ(encoder.bytes_written(), static_cast<std::int64_t>(sink.size()));
}

}  // namespace
}  // namespace vellox
