#pragma once
// AcmBlockUnpacker: reads one packed block at a time from an ACM stream and rebuilds its
// coefficients.

namespace vellox {}  // namespace vellox
