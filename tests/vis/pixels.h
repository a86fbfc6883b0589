// Helpers for looking at the pictures the visualisers leave in a bitmap.
#pragma once

#include <cstdint>
#include <set>
#include <utility>

#include "raster.h"

using Point = std::pair<int, int>;  // (x, y)

// Every pixel of bitmap that is not background, as a set of points.
inline std::set<Point> LitPixels(const TBitmap& bitmap, TColor background = 0)
{
    std::set<Point> lit;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.GetPixel(x, y) != background) lit.insert({x, y});
    return lit;
}

// A wave element with both channels at the given sample value.
inline std::uint32_t Frame(std::int16_t left, std::int16_t right)
{
    return static_cast<std::uint16_t>(left) |
           (std::uint32_t{static_cast<std::uint16_t>(right)} << 16);
}
