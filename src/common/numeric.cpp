// Real to integer conversion.

#include "common/numeric.h"

#include <cmath>  // std::isnan

namespace vellox {

std::int32_t truncate_to_int32(double value) {
    if (std::isnan(value)) return 0;
    // 2^31 and -2^31 - 1 are exact doubles; everything strictly between them truncates
    // into the 32-bit range.
    if (value >= 2147483648.0) return INT32_MAX;
    if (value <= -2147483649.0) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace vellox
