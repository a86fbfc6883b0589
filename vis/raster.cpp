#include "raster.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include <immintrin.h>

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

std::uint64_t Reciprocal(std::uint64_t n)
{
    return n < raster_detail::kTabledLengths ? raster_detail::kReciprocals[n]
                                             : (std::uint64_t{1} << 40) / (2 * n) + 1;
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

// count pixels of one colour from to on.
inline void Fill(std::uint32_t* to, std::size_t count, TColor color)
{
    // A colour of four equal bytes (black, the usual background) fills
    // twice as fast as a byte fill.
    if (color == (color & 0xFF) * 0x01010101u)
        std::memset(to, static_cast<int>(color & 0xFF), count * sizeof(std::uint32_t));
    else
        std::fill(to, to + count, color);
}

std::uint64_t NextStamp()
{
    static std::atomic<std::uint64_t> stamps{0};
    return stamps.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

TAlignedPixels::TAlignedPixels(int width, int height, std::uint32_t fill)
    : stride_((std::max(width, 0) + 15) / 16 * 16),
      storage_(
          static_cast<std::size_t>(stride_) * static_cast<std::size_t>(std::max(height, 0)) + 15,
          fill)
{
    const auto misalignment = reinterpret_cast<std::uintptr_t>(storage_.data()) % 64;
    bits_ = storage_.data() + (misalignment == 0 ? 0 : (64 - misalignment) / 4);
}

TBitmap::TBitmap(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(width_, height_, 0),
      piecesAcross_((width_ + (1 << kPieceWidthShift) - 1) >> kPieceWidthShift),
      piecesDown_((height_ + (1 << kPieceHeightShift) - 1) >> kPieceHeightShift),
      wordsPerRow_((piecesAcross_ + 63) / 64),
      batchedTraces_(wordsPerRow_ == 1 && std::int64_t{pixels_.Stride()} * height_ <= INT32_MAX),
      drawn_(static_cast<std::size_t>(wordsPerRow_) * static_cast<std::size_t>(piecesDown_), 0),
      copyDue_(drawn_.size(), 0)
{
    surface_.Bits = pixels_.Bits();
    surface_.Width = width_;
    surface_.Height = height_;
    surface_.Stride = pixels_.Stride();
    surface_.Bitmap = this;
}

namespace {

// Bits first to last of a word.
inline std::uint64_t BitRange(int first, int last)
{
    return (~std::uint64_t{0} << first) & (~std::uint64_t{0} >> (63 - last));
}

// The runs of set bits in word, lowest first: action(first, end).
template <typename Action>
inline void ForEachRun(std::uint64_t word, Action action)
{
    while (word != 0) {
        const int first = __builtin_ctzll(word);
        const std::uint64_t shifted = ~(word >> first);
        const int length = shifted == 0 ? 64 - first : __builtin_ctzll(shifted);
        action(first, first + length);
        word &= length + first >= 64 ? 0 : ~std::uint64_t{0} << (first + length);
    }
}

}  // namespace

inline void TBitmap::Mark(int left, int top, int right, int bottom)
{
    const int firstColumn = left >> kPieceWidthShift, lastColumn = right >> kPieceWidthShift;
    const int firstRow = top >> kPieceHeightShift, lastRow = bottom >> kPieceHeightShift;
    if (wordsPerRow_ == 1) {
        const std::uint64_t bits = BitRange(firstColumn, lastColumn);
        for (int row = firstRow; row <= lastRow; ++row)
            drawn_[static_cast<std::size_t>(row)] |= bits;
        return;
    }
    for (int row = firstRow; row <= lastRow; ++row)
        for (int word = firstColumn >> 6; word <= lastColumn >> 6; ++word) {
            const std::uint64_t bits = BitRange(word == firstColumn >> 6 ? firstColumn & 63 : 0,
                                                word == lastColumn >> 6 ? lastColumn & 63 : 63);
            const auto at = static_cast<std::size_t>(row) * static_cast<std::size_t>(wordsPerRow_) +
                            static_cast<std::size_t>(word);
            drawn_[at] |= bits;
        }
}

inline void TBitmap::MarkClipped(std::int64_t left, std::int64_t top, std::int64_t right,
                                 std::int64_t bottom)
{
    left = std::max<std::int64_t>(left, 0);
    top = std::max<std::int64_t>(top, 0);
    right = std::min<std::int64_t>(right, width_ - 1);
    bottom = std::min<std::int64_t>(bottom, height_ - 1);
    if (left > right || top > bottom) return;
    Mark(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
         static_cast<int>(bottom));
}

// Marks the pieces a line shorter than 4096 pixels may light: the box of the
// whole line when it is short, else the box of each run of 16 steps along
// it, so that a line across the picture marks the pieces it passes rather
// than its whole box.
void TBitmap::MarkLine(int x0, int y0, int x1, int y1, int firstStep, int lastStep)
{
    const int dx = x1 - x0, dy = y1 - y0;
    const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const bool xMajor = adx >= ady;
    const int n = xMajor ? adx : ady;
    constexpr int kRun = 16;
    if (lastStep < 0) lastStep = n - 1;
    if (n <= kRun) {
        MarkClipped(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1));
        return;
    }
    const auto m = static_cast<std::uint64_t>(xMajor ? ady : adx);
    const std::uint64_t reciprocal = Reciprocal(static_cast<std::uint64_t>(n));
    const int majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int major0 = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
    auto minorAt = [&](int k) {
        const std::uint64_t numerator =
            2 * static_cast<std::uint64_t>(k) * m + static_cast<std::uint64_t>(n);
        return minor0 + minorSign * static_cast<int>((numerator * reciprocal) >> 40);
    };
    for (int first = firstStep; first <= lastStep; first += kRun) {
        const int last = std::min(first + kRun - 1, lastStep);
        const int a0 = major0 + majorSign * first, a1 = major0 + majorSign * last;
        const int b0 = minorAt(first), b1 = minorAt(last);
        if (xMajor)
            MarkClipped(std::min(a0, a1), std::min(b0, b1), std::max(a0, a1), std::max(b0, b1));
        else
            MarkClipped(std::min(b0, b1), std::min(a0, a1), std::max(b0, b1), std::max(a0, a1));
    }
}

template <typename Take, typename Action>
void TBitmap::ForEachPieceRun(Take take, Action action)
{
    for (int row = 0; row < piecesDown_; ++row) {
        const int top = row << kPieceHeightShift;
        const int bottom = std::min(top + (1 << kPieceHeightShift), height_);
        for (int word = 0; word < wordsPerRow_; ++word) {
            ForEachRun(
                take(static_cast<std::size_t>(row * wordsPerRow_ + word)), [&](int first, int end) {
                    const int left = (word * 64 + first) << kPieceWidthShift;
                    const int right = std::min((word * 64 + end) << kPieceWidthShift, width_);
                    action(left, right, top, bottom);
                });
        }
    }
}

// The whole bitmap in one colour. Cleared with the same colour as last
// time, only the pieces drawn on since are filled. (Built twice, the second
// time for processors with 32-byte vectors, which fill a piece's row with two
// stores rather than four; the loader picks the one the processor can run.)
__attribute__((target_clones("avx2", "default"))) void TBitmap::Clear(TColor color)
{
    if (color != fill_) {
        Fill(pixels_.Bits(),
             static_cast<std::size_t>(pixels_.Stride()) * static_cast<std::size_t>(height_), color);
        fill_ = color;
        std::fill(drawn_.begin(), drawn_.end(), 0);
        for (int row = 0; row < piecesDown_; ++row)
            for (int word = 0; word < wordsPerRow_; ++word)
                copyDue_[static_cast<std::size_t>(row * wordsPerRow_ + word)] =
                    BitRange(0, std::min(63, piecesAcross_ - 1 - word * 64));
        return;
    }
    ForEachPieceRun(
        [&](std::size_t at) {
            const std::uint64_t drawn = drawn_[at];
            drawn_[at] = 0;
            copyDue_[at] |= drawn;
            return drawn;
        },
        [&](int left, int right, int top, int bottom) {
            // Whole pieces, each row of one a cache line: the last piece of
            // a row runs on into the rows' padding, which nothing shows.
            const int end = (right + (1 << kPieceWidthShift) - 1) & -(1 << kPieceWidthShift);
            using Words8 = std::uint32_t __attribute__((vector_size(32)));
            const Words8 block = {color, color, color, color, color, color, color, color};
            std::uint32_t* row =
                pixels_.Bits() + static_cast<std::ptrdiff_t>(top) * pixels_.Stride();
            // These pieces are copied again at the frame's end, most likely
            // where the last copy went: their pixels there are fetched now,
            // while the frame is drawn.
            const std::uint32_t* to =
                lastCopy_.bits == nullptr
                    ? nullptr
                    : lastCopy_.bits +
                          static_cast<std::ptrdiff_t>(lastCopy_.y + top) * lastCopy_.stride +
                          lastCopy_.x;
            const auto fill = [&](std::uint32_t* at) {
                std::memcpy(at, &block, sizeof block);
                std::memcpy(at + 8, &block, sizeof block);
            };
            for (int y = top; y < bottom; ++y, row += pixels_.Stride()) {
                if (to == nullptr) {
                    for (int x = left; x < end; x += 16)
                        fill(row + x);
                    continue;
                }
                for (int x = left; x < end; x += 16) {
                    fill(row + x);
                    __builtin_prefetch(to + x, 1);
                }
                __builtin_prefetch(to + right - 1, 1);
                to += lastCopy_.stride;
            }
        });
}

// Built twice too: with 32-byte vectors, a batch is worked out eight lines at
// a time.
__attribute__((target_clones("avx2", "default"))) void TBitmap::DrawTrace(const int* xs,
                                                                          const int* ys, int count)
{
    const ShortLineTarget target = ShortLines();
    const auto width = static_cast<unsigned>(width_), height = static_cast<unsigned>(height_);
    const int stride = pixels_.Stride();
    // The first line starts at the pen; the others at the point before.
    PolylineTo(xs, ys, 1);
    constexpr int kBatch = 64;
    // What each line of a batch needs, in 32 bits so that the loop below
    // works on several lines at once: its major length (0 when it is not
    // a short line inside the bitmap), twice its minor length, the steps
    // from one pixel to the next along the two axes, where its first pixel
    // lies, and the rows and columns of pieces of its two ends and of the
    // row halfway (at most 17 rows, at most two pieces across).
    struct Lines {
        alignas(64) std::int32_t length[kBatch], twoMinor[kBatch], majorStep[kBatch],
            minorStep[kBatch], start[kBatch], rows[3][kBatch], columns[2][kBatch];
    } lines;
    for (int first = 1; first < count; first += kBatch) {
        const int batch = std::min(kBatch, count - first);
        const int* const x1s = xs + first;
        const int* const y1s = ys + first;
        const int* const x0s = x1s - 1;
        const int* const y0s = y1s - 1;
        for (int i = 0; i < batch; ++i) {
            const int x0 = x0s[i], y0 = y0s[i], x1 = x1s[i], y1 = y1s[i];
            // In unsigned arithmetic, which wraps: points far apart fail.
            const auto dxu = static_cast<unsigned>(x1) - static_cast<unsigned>(x0);
            const auto dyu = static_cast<unsigned>(y1) - static_cast<unsigned>(y0);
            const bool drawable =
                (static_cast<unsigned>(x0) < width) & (static_cast<unsigned>(x1) < width) &
                (static_cast<unsigned>(y0) < height) & (static_cast<unsigned>(y1) < height) &
                (dxu + kShortLine <= 2 * kShortLine) & (dyu + kShortLine <= 2 * kShortLine);
            // The rest is used only for lines that are: for the others it
            // is worked out from nothing, so that it cannot overflow.
            const unsigned keep = 0u - static_cast<unsigned>(drawable);
            const int dx = static_cast<int>(dxu & keep), dy = static_cast<int>(dyu & keep);
            const int sx0 = static_cast<int>(static_cast<unsigned>(x0) & keep);
            const int sy0 = static_cast<int>(static_cast<unsigned>(y0) & keep);
            const ShortLineSteps steps(dx, dy, stride);
            lines.length[i] = steps.length & -static_cast<int>(drawable);
            lines.twoMinor[i] = steps.twoMinor;
            lines.majorStep[i] = steps.majorStep;
            lines.minorStep[i] = steps.minorStep;
            lines.start[i] = sy0 * stride + sx0;
            lines.rows[0][i] = sy0 >> kPieceHeightShift;
            lines.rows[1][i] = (sy0 + dy) >> kPieceHeightShift;
            lines.rows[2][i] = ((sy0 + (sy0 + dy)) >> 1) >> kPieceHeightShift;
            lines.columns[0][i] = sx0 >> kPieceWidthShift;
            lines.columns[1][i] = (sx0 + dx) >> kPieceWidthShift;
        }
        for (int i = 0; i < batch; ++i) {
            const int n = lines.length[i];
            if (n == 0) {
                // Not a short line inside the bitmap (or one of length 0,
                // which lights nothing and which this draws as nothing).
                const int x0 = x0s[i], y0 = y0s[i], x1 = x1s[i], y1 = y1s[i];
                if (x0 != x1 || y0 != y1) DrawLine(x0, y0, x1, y1);
                continue;
            }
            LightShortLine(target, target.bits + lines.start[i], n,
                           static_cast<std::uint64_t>(lines.twoMinor[i]), lines.majorStep[i],
                           lines.minorStep[i]);
            MarkPieces(target, lines.columns[0][i], lines.columns[1][i], lines.rows[0][i],
                       lines.rows[1][i], lines.rows[2][i]);
        }
    }
    penX_ = xs[count - 1];
    penY_ = ys[count - 1];
}

void TBitmap::MoveTo(int x, int y)
{
    penX_ = x;
    penY_ = y;
}

void TBitmap::DrawLine(int x0, int y0, int x1, int y1)
{
    // Wholly to one side of the bitmap (the spectrum's bands beyond its
    // right edge, a loud ring's points off the picture): nothing to light.
    if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= width_ && x1 >= width_) ||
        (y0 >= height_ && y1 >= height_))
        return;
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

    // Far ends are rare: the pieces are marked as if the line crossed them all.
    MarkClipped(0, 0, width_ - 1, height_ - 1);
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
        pixels_.Bits()[static_cast<std::size_t>(y * pixels_.Stride() + x)] = color;
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
    const std::ptrdiff_t yStep =
        dy < 0 ? -std::ptrdiff_t{pixels_.Stride()} : std::ptrdiff_t{pixels_.Stride()};
    const bool xMajor = adx >= ady;
    const std::uint64_t n = static_cast<std::uint64_t>(xMajor ? adx : ady);
    const std::uint64_t m = static_cast<std::uint64_t>(xMajor ? ady : adx);
    const std::ptrdiff_t majorStep = xMajor ? xStep : yStep;
    const std::ptrdiff_t minorStep = xMajor ? yStep : xStep;
    std::uint32_t* start = pixels_.Bits() + static_cast<std::ptrdiff_t>(y0) * pixels_.Stride() + x0;
    const TColor color = PenColor;
    if (n == 0) return;

    if (n < 4096) {
        MarkLine(x0, y0, x1, y1);
        const std::uint64_t reciprocal = Reciprocal(n);
        std::uint64_t numerator = n;  // 2km + n
        std::uint32_t* pixel = start;
        for (std::uint64_t k = 0; k < n; ++k, numerator += 2 * m, pixel += majorStep) {
            const auto offset = static_cast<std::ptrdiff_t>((numerator * reciprocal) >> 40);
            pixel[offset * minorStep] = color;
        }
        return;
    }

    Mark(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1));
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
    // Only the steps whose major coordinate falls inside the bitmap.
    const int major0 = xMajor ? x0 : y0;
    std::int64_t first, last;
    if (!VisibleSteps(major0, majorSign, static_cast<std::uint64_t>(n), xMajor ? width_ : height_,
                      first, last))
        return;
    MarkLine(x0, y0, x1, y1, static_cast<int>(first), static_cast<int>(last));
    std::uint64_t numerator =
        static_cast<std::uint64_t>(2 * first) * m + static_cast<std::uint64_t>(n);  // 2km + n
    int major = major0 + majorSign * static_cast<int>(first);
    for (int k = static_cast<int>(first); k <= last; ++k, numerator += 2 * m, major += majorSign) {
        const int minor = minor0 + minorSign * static_cast<int>((numerator * reciprocal) >> 40);
        const int x = xMajor ? major : minor, y = xMajor ? minor : major;
        if (static_cast<unsigned>(x) < width && static_cast<unsigned>(y) < height)
            pixels_
                .Bits()[static_cast<std::size_t>(y) * static_cast<std::size_t>(pixels_.Stride()) +
                        static_cast<unsigned>(x)] = color;
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

    if (pen == brush && x0 == 0 && x1 == width_ && y0 == 0 && y1 == height_) {
        Clear(pen);  // a frame's clear
        return;
    }
    Mark(x0, y0, x1 - 1, y1 - 1);
    if (pen == brush && x0 == 0 && x1 == width_) {
        // Whole rows are one run of pixels.
        Fill(pixels_.Bits() + static_cast<std::ptrdiff_t>(y0) * pixels_.Stride(),
             static_cast<std::size_t>(y1 - y0) * static_cast<std::size_t>(pixels_.Stride()), pen);
        return;
    }
    if (pen == brush && x1 - x0 <= 4) {
        // A narrow bar (the spectrum draws 86 of them a frame): plain stores.
        std::uint32_t* column =
            pixels_.Bits() + static_cast<std::ptrdiff_t>(y0) * pixels_.Stride() + x0;
        const int rows = y1 - y0;
        switch (x1 - x0) {
            case 1:
                for (int y = 0; y < rows; ++y, column += pixels_.Stride())
                    column[0] = pen;
                break;
            case 2:
                for (int y = 0; y < rows; ++y, column += pixels_.Stride())
                    column[0] = column[1] = pen;
                break;
            default:
                for (int y = 0; y < rows; ++y, column += pixels_.Stride())
                    for (int x = 0; x < x1 - x0; ++x)
                        column[x] = pen;
                break;
        }
        return;
    }
    for (int y = y0; y < y1; ++y) {
        std::uint32_t* row = pixels_.Bits() + static_cast<std::ptrdiff_t>(y) * pixels_.Stride();
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
    Mark(x, y, x, y);
    pixels_.Bits()[static_cast<std::size_t>(y) * pixels_.Stride() + x] = color;
}

TColor TBitmap::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    return pixels_.Bits()[static_cast<std::size_t>(y) * pixels_.Stride() + x];
}

namespace {

// One pixel in the other order: red and blue change places.
inline std::uint32_t SwappedRedBlue(std::uint32_t colour, std::uint32_t alpha)
{
    return alpha | (colour & 0xFFu) << 16 | (colour & 0xFF00u) | (colour >> 16 & 0xFFu);
}

// A block of rows between the two pixel orders; true when a pixel of it
// changed. The rows of two surfaces never overlap, which lets the compiler
// do several pixels at a time.
bool SwapRedBlueEach(std::uint32_t* __restrict to, std::ptrdiff_t toStride,
                     const std::uint32_t* __restrict from, std::ptrdiff_t fromStride,
                     std::size_t count, std::int64_t rows, std::uint32_t alpha)
{
    std::uint32_t differences = 0;
    for (std::int64_t row = 0; row < rows; ++row, to += toStride, from += fromStride) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t converted = SwappedRedBlue(from[i], alpha);
            differences |= to[i] ^ converted;
            to[i] = converted;
        }
    }
    return differences != 0;
}

// The same with one byte shuffle for eight pixels, on processors that have
// it: three times as fast as the plain loop, which matters at three pictures
// a hundred times a second.
using Words32 = std::uint32_t __attribute__((vector_size(32)));

__attribute__((target("avx2"))) bool SwapRedBlueShuffled(
    std::uint32_t* __restrict to, std::ptrdiff_t toStride, const std::uint32_t* __restrict from,
    std::ptrdiff_t fromStride, std::size_t count, std::int64_t rows, std::uint32_t alpha)
{
    // Red and blue change places within each pixel, whose top byte becomes 0
    // (an index with its high bit set) to take the top byte of alpha. The
    // indices count within each half of 16 bytes.
    constexpr char kZero = -128;
    const __m256i order =
        _mm256_setr_epi8(2, 1, 0, kZero, 6, 5, 4, kZero, 10, 9, 8, kZero, 14, 13, 12, kZero, 2, 1,
                         0, kZero, 6, 5, 4, kZero, 10, 9, 8, kZero, 14, 13, 12, kZero);
    const Words32 opaque = {alpha, alpha, alpha, alpha, alpha, alpha, alpha, alpha};
    Words32 differences{};
    std::uint32_t rest = 0;
    auto convert = [&](std::size_t i) __attribute__((target("avx2")))
    {
        __m256i pixels;
        std::memcpy(&pixels, from + i, sizeof pixels);
        const Words32 converted =
            reinterpret_cast<Words32>(_mm256_shuffle_epi8(pixels, order)) | opaque;
        Words32 old;
        std::memcpy(&old, to + i, sizeof old);
        differences |= old ^ converted;
        std::memcpy(to + i, &converted, sizeof converted);
    };
    // Runs of a bitmap's pieces, sixteen pixels wide: a piece at a time,
    // down its rows, so that the loop the processor must guess the end of
    // is the one over pieces, not the one along each row.
    for (; count >= 16; count -= 16, to += 16, from += 16) {
        std::uint32_t* const start = to;
        const std::uint32_t* const source = from;
        for (std::int64_t row = 0; row < rows; ++row, to += toStride, from += fromStride) {
            convert(0);
            convert(8);
        }
        to = start;
        from = source;
    }
    for (std::int64_t row = 0; row < rows; ++row, to += toStride, from += fromStride) {
        std::size_t i = 0;
        for (; i + 8 <= count; i += 8)
            convert(i);
        for (; i < count; ++i) {
            const std::uint32_t converted = SwappedRedBlue(from[i], alpha);
            rest |= to[i] ^ converted;
            to[i] = converted;
        }
    }
    for (int lane = 0; lane < 8; ++lane)
        rest |= differences[lane];
    return rest != 0;
}

bool SwapRedBlue(std::uint32_t* to, std::ptrdiff_t toStride, const std::uint32_t* from,
                 std::ptrdiff_t fromStride, std::size_t count, std::int64_t rows,
                 std::uint32_t alpha)
{
    static const bool shuffle = __builtin_cpu_supports("avx2");
    return shuffle ? SwapRedBlueShuffled(to, toStride, from, fromStride, count, rows, alpha)
                   : SwapRedBlueEach(to, toStride, from, fromStride, count, rows, alpha);
}

}  // namespace

// Copies the pieces drawn on or cleared since the last copy of the whole
// bitmap onto dest at (x, y), where that copy went, and tells dest of each
// run of them that changed; true when one did.
bool TBitmap::CopyDuePieces(HDC dest, int x, int y)
{
    const bool convert = dest->ScreenOrder != surface_.ScreenOrder;
    const std::uint32_t alpha = dest->ScreenOrder ? 0xFF000000u : 0;
    bool changed = false;
    ForEachPieceRun(
        [&](std::size_t at) {
            // Drawn on since the last clear, or cleared since the last copy.
            const std::uint64_t due = copyDue_[at] | drawn_[at];
            copyDue_[at] = 0;
            return due;
        },
        [&](int left, int right, int top, int bottom) {
            const auto count = static_cast<std::size_t>(right - left);
            std::uint32_t* to =
                dest->Bits + static_cast<std::ptrdiff_t>(y + top) * dest->Stride + x + left;
            const std::uint32_t* from =
                pixels_.Bits() + static_cast<std::ptrdiff_t>(top) * pixels_.Stride() + left;
            if (convert) {
                if (!SwapRedBlue(to, dest->Stride, from, pixels_.Stride(), count, bottom - top,
                                 alpha))
                    return;
            } else {
                for (int line = top; line < bottom;
                     ++line, to += dest->Stride, from += pixels_.Stride())
                    std::memmove(to, from, count * sizeof(std::uint32_t));
            }
            changed = true;
            if (dest->Changed != nullptr)
                dest->Changed(dest->User, x + left, y + top, right - left, bottom - top);
        });
    return changed;
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

    // The whole of a bitmap onto a surface that is not a bitmap: when it
    // lands where the last such copy did, on pixels nobody has touched
    // since, only the pieces drawn on since need to go.
    TBitmap* const bitmap = source->Bitmap;
    const bool whole = bitmap != nullptr && dest->Bitmap == nullptr && sx == 0 && sy == 0 &&
                       w == source->Width && h == source->Height;
    if (whole) {
        auto& last = bitmap->lastCopy_;
        if (last.surface == dest && last.bits == dest->Bits && last.stride == dest->Stride &&
            last.screenOrder == dest->ScreenOrder && last.x == dx && last.y == dy &&
            last.stamp != 0 && last.stamp == dest->Stamp) {
            bitmap->CopyDuePieces(dest, static_cast<int>(dx), static_cast<int>(dy));
            dest->Stamp = last.stamp = NextStamp();
            return true;
        }
    }

    bool changed = true;
    if (dest->ScreenOrder != source->ScreenOrder) {
        // Red and blue change places; the screen's pixels are opaque. A
        // screen that already shows this picture (the sound data has not
        // moved since the last tick) is spared a repaint.
        const std::uint32_t alpha = dest->ScreenOrder ? 0xFF000000u : 0;
        changed = SwapRedBlue(dest->Bits + dy * dest->Stride + dx, dest->Stride,
                              source->Bits + sy * source->Stride + sx, source->Stride,
                              static_cast<std::size_t>(w), h, alpha);
    } else if (w == dest->Width && w == source->Width && dest->Stride == w && source->Stride == w) {
        // Whole rows of both: one block.
        std::memmove(dest->Bits + dy * w, source->Bits + sy * w,
                     static_cast<std::size_t>(w * h) * sizeof(std::uint32_t));
    } else {
        for (std::int64_t row = 0; row < h; ++row) {
            const std::uint32_t* from = source->Bits + (sy + row) * source->Stride + sx;
            std::uint32_t* to = dest->Bits + (dy + row) * dest->Stride + dx;
            std::memmove(to, from, static_cast<std::size_t>(w) * sizeof(std::uint32_t));
        }
    }

    dest->Stamp = NextStamp();
    if (dest->Bitmap != nullptr)
        dest->Bitmap->Mark(static_cast<int>(dx), static_cast<int>(dy), static_cast<int>(dx + w - 1),
                           static_cast<int>(dy + h - 1));
    if (whole) {
        std::fill(bitmap->copyDue_.begin(), bitmap->copyDue_.end(), 0);
        bitmap->lastCopy_ = {dest,
                             dest->Bits,
                             dest->Stride,
                             static_cast<int>(dx),
                             static_cast<int>(dy),
                             dest->ScreenOrder,
                             dest->Stamp};
    }
    if (changed && dest->Changed != nullptr)
        dest->Changed(dest->User, static_cast<int>(dx), static_cast<int>(dy), static_cast<int>(w),
                      static_cast<int>(h));
    return true;
}
