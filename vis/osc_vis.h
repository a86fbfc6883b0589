// The oscilloscope: 257 points of the latest sound across its box, one per
// column, each the sum of a frame's two channels deflected from a centre line.
#pragma once

#include <cstdint>
#include <memory>

#include "CommonTypes.h"
#include "raster.h"

class TOcilloScope {
public:
    TOcilloScope(int width, int height);

    TBitmap BackBuffer;
    TBitmap BackgroundImage;
    TColor FillColor = 0x000000;
    // Both channels at full scale deflect a point by about Gain / 2 pixels.
    std::int32_t Gain = 50;
    TColor TraceColor = 0xFFFFFF;
    // 0 trace, 1 bars from the centre line, 2 dots; anything else no trace.
    std::int32_t RenderMode = 0;
    std::int32_t Stride = 1;
    bool ClearEachFrame = true;
    bool UseBackgroundImage = false;

    // Draws the frame off-screen, the first point at column X and the centre
    // line on row Y (a positive sum moves a point down), and copies it to
    // surface's (0, 0). Allocates nothing.
    void RenderFrame(HDC surface, const TWaveBuffer& data, int X, int Y);
};

// The main window's oscilloscope; created with the window, lives to the end.
extern std::unique_ptr<TOcilloScope> OscView;
