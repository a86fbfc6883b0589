// The raster layer the visualisers draw with: an off-screen bitmap with the
// pixel rules of the classic Windows drawing interface, and the block copy
// that puts a finished picture onto a drawing surface.
//
// Pixel rules, the same for every drawing call:
// - Colours are 0x00BBGGRR values (red in the low byte); pixels hold them as
//   they are, one 32-bit word each.
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

#include <array>
#include <cstdint>
#include <vector>

using TColor = std::uint32_t;
using DWORD = std::uint32_t;

namespace raster_detail {

// (2^40 / 2n) + 1 for the short lines a trace is made of, worked out when the
// program is built: a 64-bit division costs more than drawing a short line.
inline constexpr int kTabledLengths = 512;
inline constexpr auto kReciprocals = [] {
    std::array<std::uint64_t, kTabledLengths> table{};
    for (std::uint64_t n = 1; n < kTabledLengths; ++n)
        table[n] = (std::uint64_t{1} << 40) / (2 * n) + 1;
    return table;
}();

}  // namespace raster_detail

class TBitmap;

// Pixels whose rows start on a cache line and are a whole number of cache
// lines long, so that copies and clears of whole pieces of a picture never
// straddle two lines. Bitmaps keep theirs so, and so do the surfaces a window
// shows them on.
class TAlignedPixels {
public:
    TAlignedPixels(int width, int height, std::uint32_t fill);
    TAlignedPixels(const TAlignedPixels&) = delete;
    TAlignedPixels& operator=(const TAlignedPixels&) = delete;

    std::uint32_t* Bits() const { return bits_; }
    int Stride() const { return stride_; }  // pixels from one row to the next

private:
    int stride_;
    std::vector<std::uint32_t> storage_;
    std::uint32_t* bits_;  // the first pixel, on a cache line's start
};

// Anything with pixels that a block copy can land on. The owner of the
// pixels fills in the fields; Changed, when set, is called after a block copy
// has landed (a window uses it to show the new picture), once for each box of
// pixels that may have changed: once for the whole block, or, when a bitmap
// copies only what it has drawn since (below), once for each run of pieces.
//
// A surface that shows on a screen may keep its pixels in the screen's own
// order, 0xFFRRGGBB (ScreenOrder): block copies between surfaces of the two
// orders convert the colours as they land, so the picture reaches the
// screen without a pass of its own, and such a copy calls Changed only when
// a pixel changed.
//
// Stamp is set by every block copy that lands on the surface. A bitmap that
// copies itself onto the same surface again, at the same place, copies only
// what it has drawn since, as long as the stamp is the one it left: an owner
// that changes the pixels in any other way sets Stamp to 0.
struct TDrawSurface {
    std::uint32_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    int Stride = 0;  // pixels from the start of one row to the next
    bool ScreenOrder = false;
    void (*Changed)(void* user, int x, int y, int width, int height) = nullptr;
    void* User = nullptr;
    std::uint64_t Stamp = 0;
    TBitmap* Bitmap = nullptr;  // set by the bitmap these pixels belong to
};
using HDC = TDrawSurface*;

constexpr DWORD SRCCOPY = 0x00CC0020;

// Copies the width x height block at (sourceX, sourceY) of source to (x, y)
// of dest, clipped to both surfaces. Only SRCCOPY is known; any other
// operation, or a missing surface, copies nothing and returns false.
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

    // The bitmap as a drawing surface, for BitBlt in either direction. Its
    // pixels change only through the drawing calls and BitBlt, which keep
    // track of what they change; they are not to be written through Bits.
    HDC Handle() { return &surface_; }

    TColor PenColor = 0x000000;
    TColor BrushColor = 0xFFFFFF;

    void MoveTo(int x, int y);
    void LineTo(int x, int y);  // inline: a trace is hundreds of short lines
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
    const std::uint32_t* Bits() const { return pixels_.Bits(); }
    int Stride() const { return pixels_.Stride(); }

private:
    friend bool BitBlt(HDC, int, int, int, int, HDC, int, int, DWORD);

    void DrawLine(int x0, int y0, int x1, int y1);
    // What drawing a short line needs, in locals: the compiler cannot tell
    // that a pixel store leaves the bitmap's fields alone, and would read
    // them again for every line of a trace.
    struct ShortLineTarget {
        std::uint32_t* bits;
        std::ptrdiff_t stride;
        TColor color;
        std::uint64_t* drawn;
    };
    ShortLineTarget ShortLines()
    {
        return {pixels_.Bits(), pixels_.Stride(), PenColor, drawn_.data()};
    }
    static void DrawShortLine(const ShortLineTarget& target, int x0, int y0, int x1, int y1);
    // A short line's major length, twice its minor length, and the steps
    // from one pixel to the next along the two axes.
    struct ShortLineSteps {
        ShortLineSteps(int dx, int dy, int stride);
        int length, twoMinor, majorStep, minorStep;
    };
    // Its n steps from the pixel of its start, 2m its minor length doubled;
    // and the marking of its pieces: at most 17 rows, so those of its two
    // ends and of the row halfway, in the columns of its two ends.
    static void LightShortLine(const ShortLineTarget& target, std::uint32_t* pixel, int n,
                               std::uint64_t twoM, std::ptrdiff_t majorStep,
                               std::ptrdiff_t minorStep);
    static void MarkPieces(const ShortLineTarget& target, int column0, int column1, int row0,
                           int row1, int middleRow);
    void DrawInsideLine(int x0, int y0, int x1, int y1);
    // A polyline of many lines (a trace) on a bitmap of one word of pieces
    // to a row: what its lines need is worked out for a batch of them at
    // once, several lines at a time, and then each is drawn.
    static constexpr int kBatchedTrace = 16;
    void DrawTrace(const int* xs, const int* ys, int count);
    void DrawNearLine(int x0, int y0, int x1, int y1);

    // The bitmap is kept in pieces of 16 x 8 pixels, one bit each. A piece
    // not marked drawn holds only the colour of the last clear of the whole
    // bitmap (fill_); a piece may differ from what the last copy of the whole
    // bitmap put on its surface only when it is marked drawn or copy-due
    // (cleared since that copy). So the clear of a frame touches
    // only the pieces the last frame drew on, and the copy of a frame only
    // those either frame drew on: a trace lights a few per cent of a picture.
    static constexpr int kPieceWidthShift = 4;
    static constexpr int kPieceHeightShift = 3;
    // No longer than a piece is wide, nor than two pieces are high.
    static constexpr int kShortLine = 16;
    void Mark(int left, int top, int right, int bottom);  // inclusive, inside the bitmap
    void MarkClipped(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom);
    // Steps firstStep to lastStep of the line (all of them by default).
    void MarkLine(int x0, int y0, int x1, int y1, int firstStep = 0, int lastStep = -1);
    // action(left, right, top, bottom) for each run of pieces, along each row
    // of them, whose bits take(index of a word of them) gives.
    template <typename Take, typename Action>
    void ForEachPieceRun(Take take, Action action);
    void Clear(TColor color);
    bool CopyDuePieces(HDC dest, int x, int y);

    int width_;
    int height_;
    TAlignedPixels pixels_;
    TDrawSurface surface_;
    int penX_ = 0;
    int penY_ = 0;

    int piecesAcross_;
    int piecesDown_;
    int wordsPerRow_;  // 64 pieces to a word
    // One word to a row, and every pixel's place in 32 bits, as DrawTrace
    // needs.
    bool batchedTraces_;
    std::vector<std::uint64_t> drawn_;
    std::vector<std::uint64_t> copyDue_;
    TColor fill_ = 0;
    // Where the last copy of the whole bitmap went.
    struct LastCopy {
        const TDrawSurface* surface = nullptr;
        const std::uint32_t* bits = nullptr;
        int stride = 0, x = 0, y = 0;
        bool screenOrder = false;
        std::uint64_t stamp = 0;
    };
    LastCopy lastCopy_;
};

inline void TBitmap::LineTo(int x, int y)
{
    PolylineTo(&x, &y, 1);
}

inline void TBitmap::PolylineTo(const int* xs, const int* ys, int count)
{
    if (count >= kBatchedTrace && batchedTraces_) {
        DrawTrace(xs, ys, count);
        return;
    }
    const ShortLineTarget target = ShortLines();
    const auto width = static_cast<unsigned>(width_), height = static_cast<unsigned>(height_);
    const bool shortLines = wordsPerRow_ == 1;
    int x0 = penX_, y0 = penY_;
    for (int i = 0; i < count; ++i) {
        const int x = xs[i], y = ys[i];
        if (static_cast<unsigned>(x0) < width && static_cast<unsigned>(x) < width &&
            static_cast<unsigned>(y0) < height && static_cast<unsigned>(y) < height && shortLines &&
            static_cast<unsigned>(x - x0 + kShortLine) <= 2 * kShortLine &&
            static_cast<unsigned>(y - y0 + kShortLine) <= 2 * kShortLine)
            DrawShortLine(target, x0, y0, x, y);  // both ends inside: no overflow above
        else
            DrawLine(x0, y0, x, y);
        x0 = x;
        y0 = y;
    }
    penX_ = x0;
    penY_ = y0;
}

// Most of a trace: a line no longer than kShortLine with both ends inside
// the bitmap. The same rule as DrawInsideLine, with less to work out; its
// pixels lie in the box of its ends, at most two pieces across.
inline void TBitmap::DrawShortLine(const ShortLineTarget& target, int x0, int y0, int x1, int y1)
{
    const ShortLineSteps steps(x1 - x0, y1 - y0, static_cast<int>(target.stride));
    LightShortLine(target, target.bits + y0 * target.stride + x0, steps.length,
                   static_cast<std::uint64_t>(steps.twoMinor), steps.majorStep, steps.minorStep);
    MarkPieces(target, x0 >> kPieceWidthShift, x1 >> kPieceWidthShift, y0 >> kPieceHeightShift,
               y1 >> kPieceHeightShift, ((y0 + y1) >> 1) >> kPieceHeightShift);
}

// Worked out without branches: the directions of a trace's lines are as
// good as random, and every wrong guess of the processor costs more than the
// few pixels such a line lights. In 32 bits, so that a batch of lines is
// worked out several at a time.
inline TBitmap::ShortLineSteps::ShortLineSteps(int dx, int dy, int stride)
{
    const int signX = dx >> 31, signY = dy >> 31;  // 0 or -1
    const int adx = (dx ^ signX) - signX, ady = (dy ^ signY) - signY;
    const int xStep = signX | 1;
    const int yStep = (stride ^ signY) - signY;
    const int xMajor = -static_cast<int>(adx >= ady);  // all ones or zero
    length = ady ^ ((adx ^ ady) & xMajor);
    twoMinor = 2 * (adx + ady - length);
    majorStep = yStep ^ ((xStep ^ yStep) & xMajor);
    minorStep = xStep + yStep - majorStep;
}

inline void TBitmap::LightShortLine(const ShortLineTarget& target, std::uint32_t* pixel, int n,
                                    std::uint64_t twoM, std::ptrdiff_t majorStep,
                                    std::ptrdiff_t minorStep)
{
    const std::uint64_t reciprocal = raster_detail::kReciprocals[static_cast<std::size_t>(n)];
    const TColor color = target.color;
    std::uint64_t numerator = static_cast<std::uint64_t>(n);  // 2km + n
    for (int k = 0; k < n; ++k, numerator += twoM, pixel += majorStep) {
        const auto offset = static_cast<std::ptrdiff_t>((numerator * reciprocal) >> 40);
        pixel[offset * minorStep] = color;
    }
}

inline void TBitmap::MarkPieces(const ShortLineTarget& target, int column0, int column1, int row0,
                                int row1, int middleRow)
{
    const std::uint64_t bits = std::uint64_t{1} << column0 | std::uint64_t{1} << column1;
    target.drawn[row0] |= bits;
    target.drawn[row1] |= bits;
    target.drawn[middleRow] |= bits;
}
