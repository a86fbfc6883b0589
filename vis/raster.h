// The raster layer the visualisers draw with: an off-screen bitmap with the
// pixel rules of the classic Windows drawing interface, and the block copy
// that puts a finished picture onto a drawing surface.
//
// Pixel rules, the same for every drawing call:
// - Colours are 0x00BBGGRR values (red in the low byte). Pixels hold them in
//   the screen's order, 0xFFRRGGBB, as Qt's RGB32 images do, so a picture
//   goes to the screen as it is: a colour is converted once per drawing call
//   and in GetPixel, never per pixel or per frame.
// - The pen is one pixel wide and solid. A line runs from the current
//   position up to but not including its end point, which then becomes the
//   current position (also when the line lies wholly outside the bitmap).
// - Lines are Bresenham lines, 8-connected, one pixel per step along the
//   major axis (x when |dx| >= |dy|). At step k (0 <= k < n, n the major
//   length, m the minor length) the minor coordinate is offset from the start
//   by round(k * m / n), an exact half rounding away from the start. So the
//   diagonal from (0, 0) to (3, 3) lights (0, 0), (1, 1), (2, 2); the line
//   from (0, 0) to (4, 1) lights (0, 0), (1, 0), (2, 1), (3, 1); and the same
//   line drawn backwards lights (4, 1), (3, 1), (2, 0), (1, 0).
// - A rectangle (left, top)-(right, bottom) covers the columns left to
//   right - 1 and the rows top to bottom - 1 (right and bottom edges
//   excluded; swapped corners are put in order first). Its outermost pixels
//   take the pen colour, the inside the brush colour; an empty one draws
//   nothing.
// - Everything outside the bitmap is clipped; no coordinate, however large,
//   writes outside it or costs more than the pixels it lights.
//
// Nothing here allocates after a bitmap has been created, and nothing is
// thread-safe: a bitmap belongs to the thread that draws on it.
#pragma once

#include <cstdint>
#include <vector>

using TColor = std::uint32_t;
using DWORD = std::uint32_t;

// A colour as a pixel holds it, and back.
constexpr std::uint32_t PixelOf(TColor color)
{
    return 0xFF000000u | (color & 0xFFu) << 16 | (color & 0xFF00u) | (color >> 16 & 0xFFu);
}
constexpr TColor ColorOf(std::uint32_t pixel)
{
    return (pixel & 0xFFu) << 16 | (pixel & 0xFF00u) | (pixel >> 16 & 0xFFu);
}

// Anything with pixels (in the screen's order) that a block copy can land
// on. The owner of the pixels fills in the fields. Changed, when set, is
// called after a block copy that changed a pixel, once, with a box around
// every pixel it changed; a copy that changed nothing calls nothing.
struct TDrawSurface {
    std::uint32_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    int Stride = 0;  // pixels from the start of one row to the next
    void (*Changed)(void* user, int x, int y, int width, int height) = nullptr;
    void* User = nullptr;
};
using HDC = TDrawSurface*;

constexpr DWORD SRCCOPY = 0x00CC0020;

// Copies the width x height block at (sourceX, sourceY) of source to (x, y)
// of dest, clipped to both surfaces, a row at a time. Only SRCCOPY is known;
// any other operation, or a missing surface, copies nothing and returns
// false.
bool BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop);

class TBitmap {
public:
    // A bitmap of width x height pixels (negative sizes count as 0), all
    // black, with a black pen and a white brush at (0, 0).
    TBitmap(int width, int height);
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }

    // The bitmap as a drawing surface, for BitBlt in either direction.
    HDC Handle() { return &surface_; }

    TColor PenColor = 0x000000;
    TColor BrushColor = 0xFFFFFF;

    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    // LineTo through each of count points in turn.
    void PolylineTo(const int* xs, const int* ys, int count);
    void Rectangle(int left, int top, int right, int bottom);
    void SetPixel(int x, int y, TColor color);

    int PenX() const { return penX_; }
    int PenY() const { return penY_; }

    // The colour at (x, y), or CLR_INVALID outside the bitmap.
    static constexpr TColor CLR_INVALID = 0xFFFFFFFF;
    TColor GetPixel(int x, int y) const;
    // The pixels, row by row, Stride() pixels apart.
    const std::uint32_t* Bits() const { return pixels_.data(); }
    int Stride() const { return width_; }

private:
    void DrawLine(int x0, int y0, int x1, int y1, std::uint32_t pixel);
    // Columns x0 to x1 - 1 of rows y0 to y1 - 1, already inside the bitmap.
    void Fill(int x0, int y0, int x1, int y1, std::uint32_t pixel);

    int width_;
    int height_;
    std::vector<std::uint32_t> pixels_;
    TDrawSurface surface_;
    int penX_ = 0;
    int penY_ = 0;
};
