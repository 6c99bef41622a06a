// AcmDecoder: what open refuses, the zeros of a damaged block up to the next multiple of the
// failure span, blocks missing past the end of a cut stream, and the count of what was lost.

#include "codec/acm_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acm/byte_stream.h"
#include "common/alloc.h"
#include "sources/acm_stream_builder.h"

namespace vellox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;
using acm_test::BitStreamBuilder;

// An ACM file of one value per block (levels 0, one row): each entry of values a block whose
// value it is, or 25 for a method without a decoder.
Bytes one_value_blocks(std::uint32_t sample_count, const std::vector<int>& values) {
    BitStreamBuilder s;
    for (const int v : values) {
        s.put_block_head(4, 1);
        if (v == 25) {
            s.put_method(25);
        } else {
            acm_test::put_column(s, 5, {v});
        }
    }
    return acm_test::acm_file_bytes(sample_count, 0, 1, s.bytes());
}

// A source whose every read fails.
class FailingSource final : public ByteSource {
public:
    bool read(std::uint8_t* /*bytes*/, std::size_t /*size*/, std::size_t* got) override {
        *got = 0;
        return false;
    }
};

vellox_status open_status(const Bytes& file) {
    MemorySource source(file.data(), file.size());
    AcmDecoder decoder(source);
    return decoder.open();
}

TEST(AcmDecoder, OpenRefusesWhatIsNoStreamOfThisFormat) {
    const Bytes file = one_value_blocks(3, {1, 2, 3});
    EXPECT_EQ(open_status(file), VELLOX_OK);
    EXPECT_EQ(open_status(Bytes(file.begin(), file.begin() + 13)), VELLOX_ERROR_NOT_ACM);
    Bytes wrong = file;
    wrong[3] = 2;
    EXPECT_EQ(open_status(wrong), VELLOX_ERROR_NOT_ACM);
    // No rows: the header is read and kept all the same.
    const Bytes no_rows = acm_test::acm_file_bytes(3, 7, 0, {});
    MemorySource source(no_rows.data(), no_rows.size());
    AcmDecoder decoder(source);
    EXPECT_EQ(decoder.open(), VELLOX_ERROR_NOT_ACM);
    EXPECT_EQ(decoder.header().levels(), 7);
    EXPECT_EQ(open_status(acm_test::acm_file_bytes(0x80000000u, 0, 1, {})),
              VELLOX_ERROR_SAMPLE_COUNT);
    FailingSource failing;
    AcmDecoder unreadable(failing);
    EXPECT_EQ(unreadable.open(), VELLOX_ERROR_READ);

    // Every allocation of open failing in turn.
    const std::int64_t before = allocation_count();
    EXPECT_EQ(open_status(file), VELLOX_OK);
    const std::int64_t allocations = allocation_count() - before;
    for (std::int64_t n = 1; n <= allocations; ++n) {
        fail_allocation_number(n);
        EXPECT_EQ(open_status(file), VELLOX_ERROR_MEMORY) << n;
        fail_allocation_number(0);
    }
}

TEST(AcmDecoder, DamagedBlockGivesZerosUpToTheNextSpan) {
    // The second block fails at its method code; the stream goes on behind it, and decoding
    // starts again at value 4, the next multiple of the span. Ten blocks decode in all, so the
    // stream runs three values past the count.
    const Bytes file = one_value_blocks(10, {3, 25, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    MemorySource source(file.data(), file.size());
    AcmDecoder decoder(source, 4);
    ASSERT_EQ(decoder.open(), VELLOX_OK);
    Samples got(20, -1);
    EXPECT_EQ(decoder.read(got.data(), 2), 2);
    EXPECT_EQ(decoder.read(got.data() + 2, 18), 11);
    EXPECT_EQ(got, (Samples{3, 0, 0, 0, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(decoder.failed_blocks(), 1);
    EXPECT_EQ(decoder.samples_not_decoded(), 3);
    EXPECT_EQ(decoder.remaining_samples(), 0);
    EXPECT_EQ(decoder.status(), VELLOX_OK);
}

TEST(AcmDecoder, BlocksPastTheEndOfACutStreamAreLost) {
    // Two blocks of 30 bits: the third begins at bit 60, in the last byte, and counts as
    // present (its missing bits read as 0); the fourth begins past the end and is lost.
    const Bytes file = one_value_blocks(4, {7, 8});
    MemorySource source(file.data(), file.size());
    AcmDecoder decoder(source);
    ASSERT_EQ(decoder.open(), VELLOX_OK);
    Samples got(6, -1);
    EXPECT_EQ(decoder.read(got.data(), 6), 4);
    EXPECT_EQ(got, (Samples{7, 8, 0, 0, 0, 0}));
    EXPECT_EQ(decoder.failed_blocks(), 0);
    EXPECT_EQ(decoder.samples_not_decoded(), 1);
}

}  // namespace
}  // namespace vellox
