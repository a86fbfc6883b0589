#include "raster.h"

#include <algorithm>
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

// The steps k in [0, n) for which start + sign * k lies in [0, limit).
bool VisibleSteps(std::int64_t start, int sign, std::uint64_t n, std::int64_t limit,
                  std::int64_t& first, std::int64_t& last)
{
    const auto steps = static_cast<std::int64_t>(n);
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
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), PixelOf(0))
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
    DrawLine(penX_, penY_, x, y, PixelOf(PenColor));
    penX_ = x;
    penY_ = y;
}

void TBitmap::PolylineTo(const int* xs, const int* ys, int count)
{
    const std::uint32_t pixel = PixelOf(PenColor);
    for (int i = 0; i < count; ++i) {
        DrawLine(penX_, penY_, xs[i], ys[i], pixel);
        penX_ = xs[i];
        penY_ = ys[i];
    }
}

void TBitmap::DrawLine(int x0, int y0, int x1, int y1, std::uint32_t pixel)
{
    const std::int64_t dx = std::int64_t{x1} - x0;
    const std::int64_t dy = std::int64_t{y1} - y0;
    const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    const std::int64_t major0 = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
    const std::int64_t dMajor = xMajor ? dx : dy, dMinor = xMajor ? dy : dx;
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
    // minor coordinate is inside the bitmap form one run: its ends are found
    // by bisection, a few divisions whatever the line's length. A line with
    // both ends inside (most of a trace) needs none of it.
    const std::int64_t lowOffset = minorSign > 0 ? -minor0 : minor0 - (minorLimit - 1);
    const std::int64_t highOffset = minorSign > 0 ? minorLimit - 1 - minor0 : minor0;
    if (highOffset < 0) return;
    const auto offsetAt = [&](std::int64_t k) {
        return static_cast<std::int64_t>(line.OffsetAt(static_cast<std::uint64_t>(k)));
    };
    const bool inside = x0 >= 0 && x0 < width_ && x1 >= 0 && x1 < width_ && y0 >= 0 && y0 < height_ &&
                        y1 >= 0 && y1 < height_;
    if (!inside && offsetAt(first) < lowOffset) {
        std::int64_t lo = first, hi = last + 1;  // the first step at or past lowOffset
        while (lo < hi) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            (offsetAt(mid) < lowOffset ? lo = mid + 1 : hi = mid);
        }
        first = lo;
    }
    if (!inside && first <= last && offsetAt(last) > highOffset) {
        std::int64_t lo = first - 1, hi = last;  // the last step at or before highOffset
        while (lo < hi) {
            const std::int64_t mid = hi - (hi - lo) / 2;
            (offsetAt(mid) > highOffset ? hi = mid - 1 : lo = mid);
        }
        last = lo;
    }
    if (first > last) return;

    // The run's pixels, one step at a time.
    const std::ptrdiff_t majorStep = xMajor ? majorSign : std::ptrdiff_t{majorSign} * width_;
    const std::ptrdiff_t minorStep = xMajor ? std::ptrdiff_t{minorSign} * width_ : minorSign;
    if (first > 0) line.Seek(static_cast<std::uint64_t>(first));
    auto offset = static_cast<std::int64_t>(line.Offset());
    const std::int64_t major = major0 + majorSign * first, minor = minor0 + minorSign * offset;
    std::uint32_t* at = pixels_.data() + (xMajor ? minor * width_ + major : major * width_ + minor);
    for (std::int64_t k = first;; ++k) {
        *at = pixel;
        if (k == last) break;
        line.Step();
        const auto next = static_cast<std::int64_t>(line.Offset());
        at += majorStep + (next != offset ? minorStep : 0);
        offset = next;
    }
}

void TBitmap::Fill(int x0, int y0, int x1, int y1, std::uint32_t pixel)
{
    for (int y = y0; y < y1; ++y) {
        std::uint32_t* row = pixels_.data() + static_cast<std::ptrdiff_t>(y) * width_;
        std::fill(row + x0, row + x1, pixel);
    }
}

void TBitmap::Rectangle(int left, int top, int right, int bottom)
{
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    // The visible part; the outline is where the unclipped edges fall.
    const int x0 = std::max(left, 0), x1 = std::min(right, width_);
    const int y0 = std::max(top, 0), y1 = std::min(bottom, height_);
    if (x0 >= x1 || y0 >= y1) return;
    const std::uint32_t pen = PixelOf(PenColor), brush = PixelOf(BrushColor);
    Fill(x0, y0, x1, y1, brush);
    if (pen == brush) return;
    if (top >= y0) Fill(x0, top, x1, top + 1, pen);
    if (std::int64_t{bottom} - 1 < y1) Fill(x0, bottom - 1, x1, bottom, pen);
    if (left >= x0) Fill(left, y0, left + 1, y1, pen);
    if (std::int64_t{right} - 1 < x1) Fill(right - 1, y0, right, y1, pen);
}

void TBitmap::SetPixel(int x, int y, TColor color)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)] =
        PixelOf(color);
}

TColor TBitmap::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    return ColorOf(
        pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)]);
}

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
    if (w <= 0 || h <= 0 || dest->Bits == nullptr || source->Bits == nullptr) return true;

    // Row by row; a row that is already there is left alone, so the owner
    // hears only of the rows that changed.
    const auto bytes = static_cast<std::size_t>(w) * sizeof(std::uint32_t);
    std::int64_t firstChanged = h, lastChanged = -1;
    // A block moved down within one surface goes from its last row up.
    const bool upwards = dest->Bits == source->Bits && dy > sy;
    for (std::int64_t i = 0; i < h; ++i) {
        const std::int64_t row = upwards ? h - 1 - i : i;
        std::uint32_t* to = dest->Bits + (dy + row) * dest->Stride + dx;
        const std::uint32_t* from = source->Bits + (sy + row) * source->Stride + sx;
        if (std::memcmp(to, from, bytes) == 0) continue;
        std::memmove(to, from, bytes);  // the same surface may be both
        firstChanged = std::min(firstChanged, row);
        lastChanged = std::max(lastChanged, row);
    }
    if (lastChanged >= 0 && dest->Changed != nullptr)
        dest->Changed(dest->User, static_cast<int>(dx), static_cast<int>(dy + firstChanged),
                      static_cast<int>(w), static_cast<int>(lastChanged - firstChanged + 1));
    return true;
}
