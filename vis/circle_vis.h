// The circular scope: 255 frames of the latest sound laid around a centre at
// equal angle steps, each frame's channel sum added to a base radius; drawn
// as a closed ring, as spokes or as dots.
#pragma once

#include <cstdint>
#include <memory>

#include "CommonTypes.h"
#include "raster.h"

class TCircleScope {
public:
    TCircleScope(int width, int height);

    TBitmap BackBuffer;
    TBitmap BackgroundImage;
    TColor FillColor = 0x000000;
    // Distance from the centre of a point whose channel sum is 0.
    std::int32_t BaseRadius = 30;
    // Both channels at full scale move a point by about Gain / 2 pixels.
    std::int32_t Gain = 30;
    TColor TraceColor = 0xFFFFFF;
    // 0 closed ring, 1 spokes, 2 dots; anything else no figure.
    std::int32_t RenderMode = 0;
    std::int32_t Stride = 2;
    bool ClearEachFrame = true;
    bool UseBackgroundImage = false;

    // Draws the figure around the centre (X, Y), angle 0 straight down and
    // growing toward the right, and copies the frame to surface's (0, 0).
    // Allocates nothing.
    void RenderFrame(HDC surface, const TWaveBuffer& data, int X, int Y);
};

// The main window's circular scope; created with the window, lives to the end.
extern std::unique_ptr<TCircleScope> CircleView;
