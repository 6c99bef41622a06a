// Reciprocal: the multiplication gives the truncated quotient for every dividend the
// quantizers hand it, at the divisors where an error would show first.

#include "acm/reciprocal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vellox {
namespace {

TEST(Reciprocal, DividesExactlyWhereTheQuantizersDivide) {
    std::vector<std::int32_t> divisors;
    for (std::int32_t d = 2; d <= 600; ++d) divisors.push_back(d);
    for (std::int32_t power = 16; power < (1 << 17); power *= 2) {
        divisors.insert(divisors.end(), {power - 1, power, power + 1});
    }
    divisors.insert(divisors.end(), {32769, 49151, 65535, 65550, 131071});
    for (const std::int32_t d : divisors) {
        const Reciprocal reciprocal(d);
        // Every magnitude, and at the -hq steps a magnitude plus half the step.
        const std::uint32_t largest =
            d <= 32769 ? 32768 + static_cast<std::uint32_t>(d / 2) : 32768;
        for (std::uint32_t a = 0; a <= largest; ++a) {
            if (reciprocal.divide(a) != a / static_cast<std::uint32_t>(d)) {
                FAIL() << a << " / " << d << " gave " << reciprocal.divide(a);
            }
        }
    }
}

}  // namespace
}  // namespace vellox
