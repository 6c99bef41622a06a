#pragma once
// The three filter designs ("-fd", "-fo", "-fc") and the shared finishing step that turns
// one-sided magnitudes into the low-pass and high-pass filters.

namespace vellox {}  // namespace vellox
