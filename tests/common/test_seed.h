#pragma once
// The seed of a seeded test: VELLOX_TEST_SEED when it is set, so that a failure seen once can
// be run again with the seed it printed, or other seeds tried; the test's own otherwise.

#include <cstdint>  // std::uint32_t
#include <cstdlib>  // std::getenv, std::strtoul

namespace vellox::test {

inline std::uint32_t test_seed(std::uint32_t default_seed) {
    const char* text = std::getenv("VELLOX_TEST_SEED");
    if (text == nullptr || text[0] == '\0') return default_seed;
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0));
}

}  // namespace vellox::test
