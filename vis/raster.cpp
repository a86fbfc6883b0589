#include "raster.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The minor-axis offset of step k of a line with major length n and minor
// length m: round(k * m / n), an exact half rounding up. k < n <= 2^32 and
// m <= n, so k * m fits in 64 bits.
struct LineStepper {
    std::uint64_t n, m;
    std::uint64_t q = 0, r = 0;  // k * m = q * n + r

    void Seek(std::uint64_t k)
    {
        const std::uint64_t product = k * m;
        q = product / n;
        r = product % n;
    }
    void Step()
    {
        r += m;
        if (r >= n) {
            ++q;
            r -= n;
        }
    }
    std::uint64_t Offset() const { return q + (2 * r >= n ? 1 : 0); }
    std::uint64_t OffsetAt(std::uint64_t k) const
    {
        const std::uint64_t product = k * m;
        return product / n + (2 * (product % n) >= n ? 1 : 0);
    }
};

// (2^40 / 2n) + 1 for the short lines a trace is made of, worked out when the
// program is built: a 64-bit division costs more than drawing a short line.
constexpr int kTabledLengths = 512;
constexpr auto kReciprocals = [] {
    std::array<std::uint64_t, kTabledLengths> table{};
    for (std::uint64_t n = 1; n < kTabledLengths; ++n)
        table[n] = (std::uint64_t{1} << 40) / (2 * n) + 1;
    return table;
}();

std::uint64_t Reciprocal(std::uint64_t n)
{
    return n < kTabledLengths ? kReciprocals[n] : (std::uint64_t{1} << 40) / (2 * n) + 1;
}

// The steps k in [0, n) for which start + sign * k lies in [0, limit).
bool VisibleSteps(std::int64_t start, int sign, std::uint64_t n, std::int64_t limit,
                  std::int64_t& first, std::int64_t& last)
{
    const std::int64_t steps = static_cast<std::int64_t>(n);
    if (sign > 0) {
        first = std::max<std::int64_t>(0, -start);
        last = std::min<std::int64_t>(steps - 1, limit - 1 - start);
    } else {
        first = std::max<std::int64_t>(0, start - (limit - 1));
        last = std::min<std::int64_t>(steps - 1, start);
    }
    return first <= last;
}

}  // namespace

TBitmap::TBitmap(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0)
{
    surface_.Bits = pixels_.data();
    surface_.Width = width_;
    surface_.Height = height_;
    surface_.Stride = width_;
}

void TBitmap::MoveTo(int x, int y)
{
    penX_ = x;
    penY_ = y;
}

void TBitmap::LineTo(int x, int y)
{
    DrawLine(penX_, penY_, x, y);
    penX_ = x;
    penY_ = y;
}

void TBitmap::DrawLine(int x0, int y0, int x1, int y1)
{
    if (x0 >= 0 && y0 >= 0 && x0 < width_ && y0 < height_ && x1 >= 0 && y1 >= 0 && x1 < width_ &&
        y1 < height_) {
        DrawInsideLine(x0, y0, x1, y1);
        return;
    }
    constexpr int kNear = 2048;
    if (x0 >= -kNear && y0 >= -kNear && x1 >= -kNear && y1 >= -kNear && x0 < kNear && y0 < kNear &&
        x1 < kNear && y1 < kNear) {
        DrawNearLine(x0, y0, x1, y1);
        return;
    }

    const std::int64_t dx = std::int64_t{x1} - x0;
    const std::int64_t dy = std::int64_t{y1} - y0;
    const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    const std::int64_t major0 = xMajor ? x0 : y0;
    const std::int64_t minor0 = xMajor ? y0 : x0;
    const std::int64_t dMajor = xMajor ? dx : dy;
    const std::int64_t dMinor = xMajor ? dy : dx;
    if (dMajor == 0) return;  // a line of length zero lights nothing

    LineStepper line{static_cast<std::uint64_t>(dMajor < 0 ? -dMajor : dMajor),
                     static_cast<std::uint64_t>(dMinor < 0 ? -dMinor : dMinor)};
    const int majorSign = dMajor > 0 ? 1 : -1;
    const int minorSign = dMinor >= 0 ? 1 : -1;
    const std::int64_t majorLimit = xMajor ? width_ : height_;
    const std::int64_t minorLimit = xMajor ? height_ : width_;

    std::int64_t first, last;
    if (!VisibleSteps(major0, majorSign, line.n, majorLimit, first, last)) return;

    // The minor offset never decreases along the line, so the steps whose
    // minor coordinate is inside the bitmap form one run.
    std::int64_t lowOffset, highOffset;
    if (minorSign > 0) {
        lowOffset = -minor0;
        highOffset = minorLimit - 1 - minor0;
    } else {
        lowOffset = minor0 - (minorLimit - 1);
        highOffset = minor0;
    }
    if (highOffset < 0) return;
    if (line.m == 0) {
        if (lowOffset > 0) return;
    } else if (line.n < (std::uint64_t{1} << 28)) {
        // offset(k) >= low  <=>  2km + n >= 2n low;  offset(k) <= high  <=>
        // 2km + n < 2n (high + 1). Small enough to solve for k in 64 bits.
        const auto n = static_cast<std::int64_t>(line.n), m = static_cast<std::int64_t>(line.m);
        auto ceilDiv = [](std::int64_t a, std::int64_t b) {
            return a >= 0 ? (a + b - 1) / b : -(-a / b);
        };
        first = std::max(first, ceilDiv(2 * n * lowOffset - n, 2 * m));
        last = std::min(last, ceilDiv(2 * n * (highOffset + 1) - n, 2 * m) - 1);
    } else {
        // Lines longer than 2^28 pixels: find the ends of the run by bisection.
        auto offsetAt = [&](std::int64_t k) {
            return static_cast<std::int64_t>(line.OffsetAt(static_cast<std::uint64_t>(k)));
        };
        if (first <= last && offsetAt(first) < lowOffset) {
            std::int64_t lo = first, hi = last + 1;  // first step with offset >= lowOffset
            while (lo < hi) {
                const std::int64_t mid = lo + (hi - lo) / 2;
                if (offsetAt(mid) < lowOffset)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            first = lo;
        }
        if (first <= last && offsetAt(last) > highOffset) {
            std::int64_t lo = first - 1, hi = last;  // last step with offset <= highOffset
            while (lo < hi) {
                const std::int64_t mid = hi - (hi - lo) / 2;
                if (offsetAt(mid) > highOffset)
                    hi = mid - 1;
                else
                    lo = mid;
            }
            last = lo;
        }
    }
    if (first > last) return;

    line.Seek(static_cast<std::uint64_t>(first));
    const TColor color = PenColor;
    for (std::int64_t k = first; k <= last; ++k, line.Step()) {
        const std::int64_t major = major0 + majorSign * k;
        const std::int64_t minor = minor0 + minorSign * static_cast<std::int64_t>(line.Offset());
        const std::int64_t x = xMajor ? major : minor;
        const std::int64_t y = xMajor ? minor : major;
        pixels_[static_cast<std::size_t>(y * width_ + x)] = color;
    }
}

// The same rule for a line whose both ends lie inside the bitmap, so that
// every pixel it lights does too: no clipping. The minor offset of step k is
// the whole part of (2km + n) / 2n; dividing by multiplying with a rounded-up
// reciprocal keeps the steps independent of one another, which measured twice
// as fast as carrying a remainder from step to step. The reciprocal is exact
// while (2km + n) x 2n < 2^40, which n < 4096 ensures; longer lines step.
void TBitmap::DrawInsideLine(int x0, int y0, int x1, int y1)
{
    const int dx = x1 - x0, dy = y1 - y0;
    const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const std::ptrdiff_t xStep = dx < 0 ? -1 : 1;
    const std::ptrdiff_t yStep = dy < 0 ? -std::ptrdiff_t{width_} : std::ptrdiff_t{width_};
    const bool xMajor = adx >= ady;
    const std::uint64_t n = static_cast<std::uint64_t>(xMajor ? adx : ady);
    const std::uint64_t m = static_cast<std::uint64_t>(xMajor ? ady : adx);
    const std::ptrdiff_t majorStep = xMajor ? xStep : yStep;
    const std::ptrdiff_t minorStep = xMajor ? yStep : xStep;
    std::uint32_t* start = pixels_.data() + static_cast<std::ptrdiff_t>(y0) * width_ + x0;
    const TColor color = PenColor;
    if (n == 0) return;

    if (n < 4096) {
        const std::uint64_t reciprocal = Reciprocal(n);
        std::uint64_t numerator = n;  // 2km + n
        std::uint32_t* pixel = start;
        for (std::uint64_t k = 0; k < n; ++k, numerator += 2 * m, pixel += majorStep) {
            const auto offset = static_cast<std::ptrdiff_t>((numerator * reciprocal) >> 40);
            pixel[offset * minorStep] = color;
        }
        return;
    }

    const auto twoN = static_cast<std::int64_t>(2 * n), twoM = static_cast<std::int64_t>(2 * m);
    std::int64_t s = static_cast<std::int64_t>(n);  // (2km + n) mod 2n
    std::uint32_t* pixel = start;
    for (std::uint64_t k = 0; k < n; ++k) {
        *pixel = color;
        s += twoM;
        const std::int64_t wrap = -static_cast<std::int64_t>(s >= twoN);  // all ones or zero
        s -= twoN & wrap;
        pixel += majorStep + (minorStep & wrap);
    }
}

// A line that is shorter than 4096 pixels and starts and ends near the
// bitmap (a loud trace swinging past the edge): every step is worked out as
// inside and tested against the bitmap, which is cheaper here than clipping.
void TBitmap::DrawNearLine(int x0, int y0, int x1, int y1)
{
    const int dx = x1 - x0, dy = y1 - y0;
    const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const bool xMajor = adx >= ady;
    const int n = xMajor ? adx : ady;
    if (n == 0) return;
    const std::uint64_t m = static_cast<std::uint64_t>(xMajor ? ady : adx);
    const int majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const std::uint64_t reciprocal = Reciprocal(static_cast<std::uint64_t>(n));
    const auto width = static_cast<unsigned>(width_), height = static_cast<unsigned>(height_);
    const int minor0 = xMajor ? y0 : x0;
    const TColor color = PenColor;
    std::uint64_t numerator = static_cast<std::uint64_t>(n);  // 2km + n
    int major = xMajor ? x0 : y0;
    for (int k = 0; k < n; ++k, numerator += 2 * m, major += majorSign) {
        const int minor = minor0 + minorSign * static_cast<int>((numerator * reciprocal) >> 40);
        const int x = xMajor ? major : minor, y = xMajor ? minor : major;
        if (static_cast<unsigned>(x) < width && static_cast<unsigned>(y) < height)
            pixels_[static_cast<std::size_t>(y) * width + static_cast<unsigned>(x)] = color;
    }
}

void TBitmap::Rectangle(int left, int top, int right, int bottom)
{
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (left == right || top == bottom) return;

    // The visible part; the outline is where the unclipped edges fall.
    const int x0 = std::max(left, 0), x1 = std::min(right, width_);
    const int y0 = std::max(top, 0), y1 = std::min(bottom, height_);
    if (x0 >= x1 || y0 >= y1) return;
    const std::int64_t lastRow = std::int64_t{bottom} - 1;
    const std::int64_t lastColumn = std::int64_t{right} - 1;
    const TColor pen = PenColor, brush = BrushColor;

    if (pen == brush && x0 == 0 && x1 == width_) {
        // Whole rows (a clear) are one run of pixels; a colour of four equal
        // bytes (black, the usual background) clears twice as fast as a byte fill.
        std::uint32_t* first = pixels_.data() + static_cast<std::ptrdiff_t>(y0) * width_;
        const std::size_t count =
            static_cast<std::size_t>(y1 - y0) * static_cast<std::size_t>(width_);
        if (pen == (pen & 0xFF) * 0x01010101u)
            std::memset(first, static_cast<int>(pen & 0xFF), count * sizeof(std::uint32_t));
        else
            std::fill(first, first + count, pen);
        return;
    }
    if (pen == brush && x1 - x0 <= 4) {
        // A narrow bar (the spectrum draws 86 of them a frame): plain stores.
        std::uint32_t* column = pixels_.data() + static_cast<std::ptrdiff_t>(y0) * width_ + x0;
        const int rows = y1 - y0;
        switch (x1 - x0) {
            case 1:
                for (int y = 0; y < rows; ++y, column += width_)
                    column[0] = pen;
                break;
            case 2:
                for (int y = 0; y < rows; ++y, column += width_)
                    column[0] = column[1] = pen;
                break;
            default:
                for (int y = 0; y < rows; ++y, column += width_)
                    for (int x = 0; x < x1 - x0; ++x)
                        column[x] = pen;
                break;
        }
        return;
    }
    for (int y = y0; y < y1; ++y) {
        std::uint32_t* row = pixels_.data() + static_cast<std::ptrdiff_t>(y) * width_;
        const bool edgeRow = y == top || y == lastRow;
        std::fill(row + x0, row + x1, edgeRow ? pen : brush);
        if (edgeRow || pen == brush) continue;
        if (left >= x0) row[left] = pen;
        if (lastColumn < x1) row[lastColumn] = pen;
    }
}

void TBitmap::SetPixel(int x, int y, TColor color)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<std::size_t>(y) * width_ + x] = color;
}

TColor TBitmap::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    return pixels_[static_cast<std::size_t>(y) * width_ + x];
}

namespace {

// One row between the two pixel orders; true when a pixel of it changed.
// The rows of two surfaces never overlap, which lets the compiler do several
// pixels at a time.
bool SwapRedBlueEach(std::uint32_t* __restrict to, const std::uint32_t* __restrict from,
                     std::size_t count, std::uint32_t alpha)
{
    std::uint32_t differences = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = from[i];
        const std::uint32_t converted =
            alpha | (colour & 0xFFu) << 16 | (colour & 0xFF00u) | (colour >> 16 & 0xFFu);
        differences |= to[i] ^ converted;
        to[i] = converted;
    }
    return differences != 0;
}

// The same with one byte shuffle for eight pixels, on processors that have
// it: three times as fast as the plain loop, which matters at three pictures
// a hundred times a second.
using Bytes32 = std::uint8_t __attribute__((vector_size(32)));
using Words32 = std::uint32_t __attribute__((vector_size(32)));

__attribute__((target("avx2"))) bool SwapRedBlueShuffled(std::uint32_t* __restrict to,
                                                         const std::uint32_t* __restrict from,
                                                         std::size_t count, std::uint32_t alpha)
{
    constexpr Bytes32 kOrder = {2,  1,  0,  3,  6,  5,  4,  7,  10, 9,  8,  11, 14, 13, 12, 15,
                                18, 17, 16, 19, 22, 21, 20, 23, 26, 25, 24, 27, 30, 29, 28, 31};
    const Words32 opaque = {alpha, alpha, alpha, alpha, alpha, alpha, alpha, alpha};
    Words32 differences{};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        Bytes32 pixels;
        std::memcpy(&pixels, from + i, sizeof pixels);
        const Words32 converted =
            reinterpret_cast<Words32>(__builtin_shuffle(pixels, kOrder)) | opaque;
        Words32 old;
        std::memcpy(&old, to + i, sizeof old);
        differences |= old ^ converted;
        std::memcpy(to + i, &converted, sizeof converted);
    }
    bool changed = SwapRedBlueEach(to + i, from + i, count - i, alpha);
    for (int lane = 0; lane < 8; ++lane)
        changed |= differences[lane] != 0;
    return changed;
}

bool SwapRedBlue(std::uint32_t* __restrict to, const std::uint32_t* __restrict from,
                 std::size_t count, std::uint32_t alpha)
{
    static const bool shuffle = __builtin_cpu_supports("avx2");
    return shuffle ? SwapRedBlueShuffled(to, from, count, alpha)
                   : SwapRedBlueEach(to, from, count, alpha);
}

}  // namespace

bool BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop)
{
    if (dest == nullptr || source == nullptr || rop != SRCCOPY) return false;

    // Clip the block against the source, then against the destination, in
    // 64 bits so that no coordinate can overflow.
    std::int64_t sx = sourceX, sy = sourceY, dx = x, dy = y;
    std::int64_t w = width, h = height;
    auto clip = [&](std::int64_t& a, std::int64_t& b, std::int64_t& size, std::int64_t limit) {
        if (a < 0) {
            size += a;
            b -= a;
            a = 0;
        }
        size = std::min(size, limit - a);
    };
    clip(sx, dx, w, source->Width);
    clip(sy, dy, h, source->Height);
    clip(dx, sx, w, dest->Width);
    clip(dy, sy, h, dest->Height);

    if (w > 0 && h > 0 && dest->Bits != nullptr && source->Bits != nullptr &&
        dest->ScreenOrder != source->ScreenOrder) {
        // Red and blue change places; the screen's pixels are opaque.
        const std::uint32_t alpha = dest->ScreenOrder ? 0xFF000000u : 0;
        const auto count = static_cast<std::size_t>(w);
        bool changed = false;
        for (std::int64_t row = 0; row < h; ++row) {
            changed |= SwapRedBlue(dest->Bits + (dy + row) * dest->Stride + dx,
                                   source->Bits + (sy + row) * source->Stride + sx, count, alpha);
        }
        // A screen that already shows this picture (the sound data has not
        // moved since the last tick) is spared a repaint.
        if (changed && dest->Changed != nullptr) dest->Changed(dest->User);
        return true;
    } else if (w > 0 && h > 0 && dest->Bits != nullptr && source->Bits != nullptr) {
        if (w == dest->Width && w == source->Width && dest->Stride == w && source->Stride == w) {
            // Whole rows of both: one block (each visualiser's copy to its box).
            std::memmove(dest->Bits + dy * w, source->Bits + sy * w,
                         static_cast<std::size_t>(w * h) * sizeof(std::uint32_t));
            if (dest->Changed != nullptr) dest->Changed(dest->User);
            return true;
        }
        for (std::int64_t row = 0; row < h; ++row) {
            const std::uint32_t* from = source->Bits + (sy + row) * source->Stride + sx;
            std::uint32_t* to = dest->Bits + (dy + row) * dest->Stride + dx;
            std::memmove(to, from, static_cast<std::size_t>(w) * sizeof(std::uint32_t));
        }
    }
    if (dest->Changed != nullptr) dest->Changed(dest->User);
    return true;
}
