// The scopes' point arithmetic, done several points at a time, must give
// exactly what the formulas give one point at a time, whatever the public
// fields hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "scaling.h"
#include "trace_points.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

std::int32_t OneDeflection(const TWaveBuffer& data, std::int64_t k, std::int32_t gain)
{
    const int sum = (k >= 0 && k < static_cast<std::int64_t>(data.size()))
                        ? ChannelSum(data[static_cast<std::size_t>(k)])
                        : 0;
    return TruncToInt(sum / 131070.0 * gain);
}

TEST(TracePoints, DeflectionsAreTheFormulaForEveryStrideAndGain)
{
    std::mt19937 random(7);
    TWaveBuffer data{};
    for (int n = 0; n < 512; ++n)
        data[static_cast<std::size_t>(n)] = static_cast<std::uint32_t>(random());
    data[3] = 0x80008000u;  // both channels at their lowest: -65536
    data[4] = 0x7FFF7FFFu;  // both at their highest: 65534
    for (const std::int64_t stride : {0, 1, 2, 3, 8, 9, -1, 1000000})
        for (const std::int32_t gain : {0, 1, 100, 250, -7, kMax, kMin})
            for (const int count : {257, 255, 3}) {
                std::vector<std::int32_t> out(static_cast<std::size_t>(count));
                Deflections(data, stride, gain, 1, count, out.data());
                for (int i = 0; i < count; ++i)
                    ASSERT_EQ(out[static_cast<std::size_t>(i)],
                              OneDeflection(data, (1 + i) * stride, gain))
                        << "stride " << stride << " gain " << gain << " point " << i;
            }
}

TEST(TracePoints, OffsetsAreTheFormulaUpToTheEdgesOfTheRange)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<std::int32_t> any(kMin, kMax);
    std::vector<std::int32_t> deflections(254);
    std::vector<double> factors(254);
    for (std::size_t i = 0; i < deflections.size(); ++i) {
        deflections[i] = i % 3 == 0 ? any(random) : static_cast<std::int32_t>(random() % 600) - 300;
        // The ring's sines and cosines, and factors far beyond them.
        factors[i] = i % 5 == 0 ? (static_cast<double>(any(random)) / 1000.0)
                                : std::sin(static_cast<double>(i) * 0.0245);
    }
    factors[7] = 0.0;
    factors[8] = -0.0;
    for (const std::int32_t base : {0, 50, -20, kMax, kMin})
        for (const std::int64_t origin : std::initializer_list<std::int64_t>{
                 59, 0, -100, kMax, kMin, std::int64_t{1} << 53, -(std::int64_t{1} << 60)})
            for (const int count : {254, 3}) {
                std::vector<int> out(static_cast<std::size_t>(count));
                Offsets(deflections.data(), base, factors.data(), origin, count, out.data());
                for (std::size_t i = 0; i < out.size(); ++i) {
                    const double radius = static_cast<double>(std::int64_t{deflections[i]} + base);
                    ASSERT_EQ(out[i], ClampToInt(origin + TruncToInt(radius * factors[i])))
                        << "base " << base << " origin " << origin << " point " << i;
                }
            }
}

}  // namespace
