// Arithmetic the visualisers share: reading a wave element and turning the
// floating-point results of their formulas into pixel numbers.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// The signed sum of the two channels of one wave element (-65536 to 65534):
// the low half is the first channel, the high half the second.
inline int ChannelSum(std::uint32_t frame)
{
    return static_cast<std::int16_t>(frame & 0xFFFFu) + static_cast<std::int16_t>(frame >> 16);
}

// Truncation toward zero, as Pascal's Trunc. The fields that scale the
// pictures are public and unchecked, so a result beyond the 32-bit range
// saturates (and NaN gives 0) rather than being undefined.
inline std::int32_t TruncToInt(double value)
{
    if (value > -2147483649.0 && value < 2147483648.0) return static_cast<std::int32_t>(value);
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// A pixel coordinate or height worked out in 64 bits, saturated to 32.
inline std::int32_t ClampToInt(std::int64_t value)
{
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value < kLow ? kLow : value > kHigh ? kHigh : value);
}
