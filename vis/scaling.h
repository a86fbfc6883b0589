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

// How far a scope's point is deflected by wave element k (an element
// outside the buffer reads as silence): TruncToInt(ChannelSum / 131070 x gain).
template <typename Wave>
std::int32_t Deflection(const Wave& data, std::int64_t k, std::int32_t gain)
{
    const int sum = k >= 0 && k < static_cast<std::int64_t>(data.size())
                        ? ChannelSum(data[static_cast<std::size_t>(k)])
                        : 0;
    return TruncToInt(sum / 131070.0 * gain);
}

// Where a point at base + deflection from the origin lands along one axis,
// factor the sine or cosine of its angle.
inline std::int32_t PointOffset(std::int32_t deflection, std::int32_t base, double factor,
                                std::int64_t origin)
{
    const double radius = static_cast<double>(std::int64_t{deflection} + base);
    return ClampToInt(origin + TruncToInt(radius * factor));
}
