#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vantrel {

// Float to 32-bit integer, truncating toward zero. Out-of-range values and NaN have no defined
// conversion in C++: they give `fallback` instead.
inline int32_t TruncateToInt32(float value, int32_t fallback) {
    if (!std::isfinite(value))
        return fallback;
    // 2^31 is exactly representable; every float below it and above -2^31 - 1 truncates safely.
    if (value >= 2147483648.0f || value <= -2147483904.0f)
        return fallback;
    return static_cast<int32_t>(value);
}

}  // namespace vantrel
