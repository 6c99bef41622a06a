#pragma once
// Reciprocal: the quantizers' division of a magnitude by a block's step, as a multiplication
// that the compiler can vectorise, exact for every dividend and step they use.

#include <cassert>  // assert
#include <cstdint>  // std::int32_t, std::uint32_t, std::uint64_t

namespace vellox {

// Truncating division by a divisor of 2 .. 2^17 - 1 (a step of 1 divides nothing, and callers
// leave it out). With factor = floor(2^32 / divisor) + 1 = (2^32 + e) / divisor, 0 < e <=
// divisor, the product a * factor / 2^32 exceeds a / divisor by a * e / (divisor * 2^32) <
// a / 2^32, which stays below the 1 / divisor that separates a / divisor from the next integer
// as long as a * divisor < 2^32, which holds for every magnitude (at most 2^15) at every
// divisor, and for a magnitude plus half the divisor at divisors up to 32769.
class Reciprocal {
public:
    explicit Reciprocal(std::int32_t divisor)
        : factor(static_cast<std::uint32_t>(
              (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(divisor) + 1)) {
        assert(divisor >= 2 && divisor < (1 << 17));
    }

    // a / divisor, rounded toward zero; a * divisor < 2^32.
    std::uint32_t divide(std::uint32_t a) const {
        return static_cast<std::uint32_t>((std::uint64_t{a} * factor) >> 32);
    }

private:
    std::uint32_t factor;  // floor(2^32 / divisor) + 1, below 2^31 + 1
};

}  // namespace vellox
