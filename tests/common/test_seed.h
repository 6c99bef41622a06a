#pragma once
// The seed of a seeded test. VELLOX_TEST_SEED, when set, replaces the test's own first seed,
// so that a failure can be replayed; every failure names the seed it came from.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>  // std::getenv, std::strtoul
#include <string>

namespace vellox::test {

// VELLOX_TEST_SEED when it is set, otherwise the test's own seed.
inline std::uint32_t test_seed(std::uint32_t own) {
    const char* text = std::getenv("VELLOX_TEST_SEED");
    if (text == nullptr || *text == '\0') return own;
    char* end = nullptr;
    const unsigned long seed = std::strtoul(text, &end, 0);
    if (*end != '\0' || seed > UINT32_MAX) {
        ADD_FAILURE() << "VELLOX_TEST_SEED is not a 32-bit number: " << text;
        return own;
    }
    return static_cast<std::uint32_t>(seed);
}

// What a failure prints, through SCOPED_TRACE(seed_note(seed)): the seed and how to replay
// it (a test that runs many seeds from the first takes that one first).
inline std::string seed_note(std::uint32_t seed) {
    return "seed " + std::to_string(seed) + " (replay: VELLOX_TEST_SEED=" + std::to_string(seed) +
           ")";
}

}  // namespace vellox::test
