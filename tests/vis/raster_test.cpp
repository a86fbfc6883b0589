#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <vector>

#include "pixels.h"
#include "raster.h"

namespace {

constexpr TColor kRed = 0x0000FF;
constexpr TColor kBlue = 0xFF0000;

std::set<Point> Line(int x0, int y0, int x1, int y1, int width = 40, int height = 40)
{
    TBitmap bitmap(width, height);
    bitmap.PenColor = kRed;
    bitmap.MoveTo(x0, y0);
    bitmap.LineTo(x1, y1);
    return LitPixels(bitmap);
}

TEST(RasterLine, LightsTheDocumentedPixelsAndNotTheEndPoint)
{
    EXPECT_EQ(Line(0, 0, 3, 3), (std::set<Point>{{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_EQ(Line(3, 3, 0, 0), (std::set<Point>{{3, 3}, {2, 2}, {1, 1}}));
    EXPECT_EQ(Line(0, 0, 4, 1), (std::set<Point>{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(Line(4, 1, 0, 0), (std::set<Point>{{4, 1}, {3, 1}, {2, 0}, {1, 0}}));
    EXPECT_EQ(Line(2, 5, 2, 1), (std::set<Point>{{2, 5}, {2, 4}, {2, 3}, {2, 2}}));
    EXPECT_EQ(Line(1, 0, 0, 3), (std::set<Point>{{1, 0}, {1, 1}, {0, 2}}));
    EXPECT_TRUE(Line(7, 7, 7, 7).empty());
}

TEST(RasterLine, EveryLineIsConnectedAndHugsTheIdealLine)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(0, 39);
    for (int trial = 0; trial < 2000; ++trial) {
        const int x0 = coordinate(random), y0 = coordinate(random);
        const int x1 = coordinate(random), y1 = coordinate(random);
        const std::set<Point> lit = Line(x0, y0, x1, y1);
        const int dx = x1 - x0, dy = y1 - y0;
        const int n = std::max(std::abs(dx), std::abs(dy));
        SCOPED_TRACE(testing::Message() << x0 << "," << y0 << " -> " << x1 << "," << y1);
        ASSERT_EQ(static_cast<int>(lit.size()), n);  // one pixel per major step
        if (n == 0) continue;
        EXPECT_TRUE(lit.count({x0, y0}));
        EXPECT_FALSE(lit.count({x1, y1}));
        for (const auto& [x, y] : lit) {
            // Distance along the minor axis from the ideal line: at most 1/2.
            if (std::abs(dx) >= std::abs(dy)) {
                const double ideal = y0 + static_cast<double>(dy) * (x - x0) / dx;
                EXPECT_LE(std::abs(y - ideal), 0.5 + 1e-9);
            } else {
                const double ideal = x0 + static_cast<double>(dx) * (y - y0) / dy;
                EXPECT_LE(std::abs(x - ideal), 0.5 + 1e-9);
            }
            // 8-connected: each pixel but the last has a neighbour further on.
            bool hasNeighbour = false;
            for (const auto& [ox, oy] : lit)
                if ((ox != x || oy != y) && std::abs(ox - x) <= 1 && std::abs(oy - y) <= 1)
                    hasNeighbour = true;
            EXPECT_TRUE(hasNeighbour || n == 1);
        }
    }
}

TEST(RasterLine, ClippingCutsExactlyTheSameLine)
{
    // A line drawn on a small bitmap lights the pixels that the same line
    // lights inside that window of a large one, wherever its ends lie.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> coordinate(-60, 80);
    for (int trial = 0; trial < 2000; ++trial) {
        const int x0 = coordinate(random), y0 = coordinate(random);
        const int x1 = coordinate(random), y1 = coordinate(random);
        TBitmap small(20, 15), large(300, 300);
        small.PenColor = large.PenColor = kRed;
        small.MoveTo(x0, y0);
        small.LineTo(x1, y1);
        large.MoveTo(x0 + 100, y0 + 100);
        large.LineTo(x1 + 100, y1 + 100);
        std::set<Point> expected;
        for (const auto& [x, y] : LitPixels(large))
            if (x >= 100 && x < 120 && y >= 100 && y < 115) expected.insert({x - 100, y - 100});
        ASSERT_EQ(LitPixels(small), expected) << x0 << "," << y0 << " -> " << x1 << "," << y1;
        EXPECT_EQ(small.PenX(), x1);
        EXPECT_EQ(small.PenY(), y1);
    }
}

TEST(RasterLine, FarLinesLightWhatTheRuleSaysInsideTheBitmap)
{
    // Lines from thousands of pixels away that cross the bitmap, checked
    // against the rule itself: step k of a shallow line lights
    // (x0 + k, y0 + round(k * dy / dx)), half rounding away from the start.
    std::mt19937 random(5);
    std::uniform_int_distribution<int> reach(2500, 6000), inside(0, 19);
    std::uniform_real_distribution<double> slope(-1.0, 1.0);
    for (int trial = 0; trial < 300; ++trial) {
        const int px = inside(random), py = inside(random) % 20;
        const double a = slope(random);
        const int back = reach(random), ahead = reach(random);
        int x0 = px - back, x1 = px + ahead;
        int y0 = py - static_cast<int>(a * back), y1 = py + static_cast<int>(a * ahead);
        if (trial % 2) std::swap(x0, x1), std::swap(y0, y1);
        const std::set<Point> lit = Line(x0, y0, x1, y1, 30, 20);
        std::set<Point> expected;
        const std::int64_t n = std::abs(x1 - x0), m = std::abs(y1 - y0);
        for (std::int64_t k = 0; k < n; ++k) {
            const std::int64_t x = x0 + (x1 > x0 ? k : -k);
            const std::int64_t offset = (2 * k * m + n) / (2 * n);
            const std::int64_t y = y0 + (y1 >= y0 ? offset : -offset);
            if (x >= 0 && x < 30 && y >= 0 && y < 20) expected.insert({int(x), int(y)});
        }
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(lit, expected) << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
}

TEST(RasterLine, HugeCoordinatesAreClippedWithoutWalkingTheLine)
{
    TBitmap bitmap(10, 10);
    bitmap.PenColor = kRed;
    bitmap.MoveTo(-2000000000, 5);
    bitmap.LineTo(2000000000, 5);
    std::set<Point> row;
    for (int x = 0; x < 10; ++x)
        row.insert({x, 5});
    EXPECT_EQ(LitPixels(bitmap), row);

    TBitmap steep(10, 10);
    steep.PenColor = kRed;
    steep.MoveTo(2147483647, -2147483647);  // far corner to far corner
    steep.LineTo(-2147483647 - 1, 2147483647);
    const std::set<Point> lit = LitPixels(steep);
    EXPECT_FALSE(lit.empty());
    for (const auto& [x, y] : lit)
        EXPECT_LE(std::abs(x + y), 1);
}

TEST(RasterRectangle, OutlinesWithThePenFillsWithTheBrushAndExcludesRightAndBottom)
{
    TBitmap bitmap(10, 10);
    bitmap.PenColor = kRed;
    bitmap.BrushColor = kBlue;
    bitmap.Rectangle(6, 5, 2, 1);  // corners given swapped
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            TColor expected = 0;
            if (x >= 2 && x <= 5 && y >= 1 && y <= 4)
                expected = (x == 2 || x == 5 || y == 1 || y == 4) ? kRed : kBlue;
            EXPECT_EQ(bitmap.GetPixel(x, y), expected) << x << "," << y;
        }

    TBitmap empty(10, 10);
    empty.PenColor = kRed;
    empty.Rectangle(3, 4, 3, 9);
    empty.Rectangle(1, 4, 8, 4);
    EXPECT_TRUE(LitPixels(empty).empty());

    TBitmap clipped(10, 10);
    clipped.PenColor = clipped.BrushColor = kRed;
    clipped.Rectangle(-5, 8, 3, 400);
    std::set<Point> expected;
    for (int y = 8; y < 10; ++y)
        for (int x = 0; x < 3; ++x)
            expected.insert({x, y});
    EXPECT_EQ(LitPixels(clipped), expected);
}

TEST(RasterPixel, SetAndGetOutsideTheBitmapTouchNothing)
{
    TBitmap bitmap(4, 3);
    bitmap.SetPixel(-1, 0, kRed);
    bitmap.SetPixel(4, 0, kRed);
    bitmap.SetPixel(0, 3, kRed);
    bitmap.SetPixel(3, 2, kBlue);
    EXPECT_EQ(LitPixels(bitmap), (std::set<Point>{{3, 2}}));
    EXPECT_EQ(bitmap.GetPixel(3, 2), kBlue);
    EXPECT_EQ(bitmap.GetPixel(4, 2), TBitmap::CLR_INVALID);
    EXPECT_EQ(bitmap.GetPixel(0, -1), TBitmap::CLR_INVALID);
}

TEST(RasterBitBlt, CopiesTheClippedBlockAndTellsTheSurface)
{
    TBitmap source(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            source.SetPixel(x, y, 0x100 * y + x + 1);

    // A surface owned by someone else, with a stride wider than its width.
    std::uint32_t pixels[3 * 8] = {};
    int changes = 0;
    TDrawSurface surface;
    surface.Bits = pixels;
    surface.Width = 5;
    surface.Height = 3;
    surface.Stride = 8;
    surface.Changed = [](void* user, int, int, int, int) { ++*static_cast<int*>(user); };
    surface.User = &changes;

    ASSERT_TRUE(BitBlt(&surface, 3, -1, 4, 4, source.Handle(), 0, 0, SRCCOPY));
    EXPECT_EQ(changes, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x) {
            std::uint32_t expected = 0;
            if (x >= 3 && x < 5) expected = PixelOf(0x100 * (y + 1) + (x - 3) + 1);
            EXPECT_EQ(pixels[y * 8 + x], expected) << x << "," << y;
        }

    EXPECT_FALSE(BitBlt(&surface, 0, 0, 4, 4, source.Handle(), 0, 0, 0x00EE0086));
    EXPECT_FALSE(BitBlt(nullptr, 0, 0, 4, 4, source.Handle(), 0, 0, SRCCOPY));
    EXPECT_EQ(changes, 1);

    // Pixels are in the screen's order, opaque: a copy onto a surface holds
    // them as they are, and a copy of the same picture again changes nothing
    // and tells nothing.
    std::uint32_t screen[4 * 4] = {};
    TDrawSurface shown;
    shown.Bits = screen;
    shown.Width = shown.Height = shown.Stride = 4;
    int shownChanges = 0;
    std::array<int, 4> told{};
    struct Told {
        int* count;
        std::array<int, 4>* box;
    } tell{&shownChanges, &told};
    shown.Changed = [](void* user, int x, int y, int w, int h) {
        auto* t = static_cast<Told*>(user);
        ++*t->count;
        *t->box = {x, y, w, h};
    };
    shown.User = &tell;
    TBitmap colours(2, 2);
    colours.SetPixel(0, 0, 0x0000FF);  // red
    colours.SetPixel(1, 0, 0x123456);
    ASSERT_TRUE(BitBlt(&shown, 1, 1, 2, 2, colours.Handle(), 0, 0, SRCCOPY));
    EXPECT_EQ(screen[5], 0xFFFF0000u);
    EXPECT_EQ(screen[6], 0xFF563412u);
    EXPECT_EQ(screen[9], 0xFF000000u);
    EXPECT_EQ(screen[4], 0u);
    EXPECT_EQ(shownChanges, 1);
    EXPECT_EQ(told, (std::array<int, 4>{1, 1, 2, 2}));
    ASSERT_TRUE(BitBlt(&shown, 1, 1, 2, 2, colours.Handle(), 0, 0, SRCCOPY));
    EXPECT_EQ(shownChanges, 1);
    colours.SetPixel(1, 1, 0x123457);
    ASSERT_TRUE(BitBlt(&shown, 1, 1, 2, 2, colours.Handle(), 0, 0, SRCCOPY));
    EXPECT_EQ(shownChanges, 2);
    EXPECT_EQ(told, (std::array<int, 4>{1, 2, 2, 1}));  // only the row that changed
    EXPECT_EQ(screen[10], 0xFF573412u);
    TBitmap back(2, 2);
    ASSERT_TRUE(BitBlt(back.Handle(), 0, 0, 2, 2, &shown, 1, 1, SRCCOPY));
    EXPECT_EQ(back.GetPixel(0, 0), 0x0000FFu);
    EXPECT_EQ(back.GetPixel(1, 1), 0x123457u);

    // A block moved within one surface, down or up, arrives whole.
    TBitmap strip(1, 5);
    for (int y = 0; y < 5; ++y) strip.SetPixel(0, y, static_cast<TColor>(y + 1));
    ASSERT_TRUE(BitBlt(strip.Handle(), 0, 1, 1, 4, strip.Handle(), 0, 0, SRCCOPY));
    for (int y = 1; y < 5; ++y) EXPECT_EQ(strip.GetPixel(0, y), static_cast<TColor>(y)) << y;
    ASSERT_TRUE(BitBlt(strip.Handle(), 0, 0, 1, 4, strip.Handle(), 0, 1, SRCCOPY));
    for (int y = 0; y < 4; ++y) EXPECT_EQ(strip.GetPixel(0, y), static_cast<TColor>(y + 1)) << y;

    // A source block partly outside its own bitmap copies only what exists.
    TBitmap target(4, 4);
    ASSERT_TRUE(BitBlt(target.Handle(), 0, 0, 4, 4, source.Handle(), 2, -1, SRCCOPY));
    EXPECT_EQ(target.GetPixel(0, 1), source.GetPixel(2, 0));
    EXPECT_EQ(target.GetPixel(1, 3), source.GetPixel(3, 2));
    EXPECT_EQ(target.GetPixel(0, 0), 0u);  // black, as it was
    EXPECT_EQ(target.GetPixel(2, 1), 0u);
}

// The bitmap clears and copies only the parts drawn on since the last
// frame. Frame after frame of random drawing, its pixels must equal those of
// a fresh bitmap given the same frame, and a surface it is copied onto must
// equal it, with Changed called only when that surface's pixels changed and
// telling of every changed pixel.
void CheckFramesAgainstFreshBitmaps(int width, int height, unsigned seed)
{
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };

    TBitmap pattern(37, 21);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
            pattern.SetPixel(x, y, 0x010101u * static_cast<TColor>(x * 7 + y));

    // The surface: screen order, a stride wider than the picture, placed at (2, 1).
    const int stride = width + 5, rows = height + 3;
    std::vector<std::uint32_t> screen(static_cast<std::size_t>(stride * rows), 0xFF000000u);
    struct Calls {
        int count = 0;
        std::vector<std::array<int, 4>> boxes;
    } calls;
    TDrawSurface shown;
    shown.Bits = screen.data();
    shown.Width = width + 5;
    shown.Height = rows;
    shown.Stride = stride;
    shown.Changed = [](void* user, int x, int y, int w, int h) {
        auto& c = *static_cast<Calls*>(user);
        ++c.count;
        c.boxes.push_back({x, y, w, h});
    };
    shown.User = &calls;
    std::vector<std::uint32_t> plain(static_cast<std::size_t>(width * height));
    TDrawSurface other;
    other.Bits = plain.data();
    other.Width = other.Stride = width;
    other.Height = height;

    TBitmap bitmap(width, height);
    for (int frame = 0; frame < 400; ++frame) {
        SCOPED_TRACE(frame);
        TBitmap fresh(width, height);
        const TColor fill = pick(0, 9) == 0 ? 0x203040u * static_cast<TColor>(pick(0, 2)) : 0;
        for (TBitmap* b : {&bitmap, &fresh}) {
            b->PenColor = b->BrushColor = fill;
            b->Rectangle(0, 0, width, height);
        }
        const int operations = pick(0, 40);
        for (int i = 0; i < operations; ++i) {
            const int kind = pick(0, 9);
            const TColor color = 0x0F0000u + static_cast<TColor>(pick(1, 255));
            int x0 = pick(-width / 2, width * 3 / 2), y0 = pick(-height / 2, height * 3 / 2);
            int x1 = x0 + pick(-20, 20), y1 = y0 + pick(-20, 20);
            if (kind == 0) x1 = pick(-width, 2 * width), y1 = pick(-height, 2 * height);
            if (kind == 1) x1 = pick(0, 1) ? 3000000 : -3000, y1 = pick(-5000, 5000);
            if (kind == 5) {
                // A trace: the bitmap draws it as one polyline, the fresh
                // one line by line. Long ones wander in short steps, as a
                // scope's do, now and then jumping far or off the bitmap.
                constexpr int kMost = 150;
                const int points = pick(0, 1) ? 6 : pick(16, kMost);
                int xs[kMost], ys[kMost];
                for (int p = 0; p < points; ++p) {
                    const int jump = pick(0, 30);
                    if (points == 6 || p == 0) {
                        xs[p] = x1 + pick(-20, 20);
                        ys[p] = y1 + pick(-20, 20);
                    } else if (jump == 0) {
                        xs[p] = pick(0, 1) ? 3000000 : -3000;
                        ys[p] = pick(-5000, 5000);
                    } else if (jump == 1) {
                        xs[p] = pick(-width / 2, width * 3 / 2);
                        ys[p] = pick(-height / 2, height * 3 / 2);
                    } else {
                        const int reach = jump == 2 ? 20 : 17;
                        xs[p] = xs[p - 1] + pick(-reach, reach);
                        ys[p] = ys[p - 1] + pick(-reach, reach);
                    }
                }
                bitmap.PenColor = fresh.PenColor = color;
                bitmap.MoveTo(x0, y0);
                fresh.MoveTo(x0, y0);
                bitmap.PolylineTo(xs, ys, points);
                for (int p = 0; p < points; ++p)
                    fresh.LineTo(xs[p], ys[p]);
                ASSERT_EQ(bitmap.PenX(), fresh.PenX());
                ASSERT_EQ(bitmap.PenY(), fresh.PenY());
                continue;
            }
            for (TBitmap* b : {&bitmap, &fresh}) {
                b->PenColor = color;
                b->BrushColor = color ^ 0x00FF00u;
                if (kind <= 5) {
                    b->MoveTo(x0, y0);
                    b->LineTo(x1, y1);
                } else if (kind == 6) {
                    b->Rectangle(x0, y0, x1, y1);
                } else if (kind == 7) {
                    b->BrushColor = color;
                    b->Rectangle(0, y0, width, y1);  // whole rows
                } else if (kind == 8) {
                    b->SetPixel(x0, y0, color);
                } else {
                    BitBlt(b->Handle(), x0, y0, 37, 21, pattern.Handle(), 0, 0, SRCCOPY);
                }
            }
        }
        for (int y = 0; y < height; ++y)
            ASSERT_TRUE(std::equal(bitmap.Bits() + y * bitmap.Stride(),
                                   bitmap.Bits() + y * bitmap.Stride() + width,
                                   fresh.Bits() + y * fresh.Stride()))
                << "row " << y;

        // Mostly the usual copy; sometimes elsewhere, onto another surface, or
        // onto a surface its owner has drawn on.
        const int copy = pick(0, 19);
        int atX = 2, atY = 1;
        if (copy == 0) atX = 4;
        if (copy == 1) {
            ASSERT_TRUE(BitBlt(&other, 0, 0, width, height, bitmap.Handle(), 0, 0, SRCCOPY));
            for (int y = 0; y < height; ++y)
                ASSERT_TRUE(std::equal(plain.begin() + y * width, plain.begin() + (y + 1) * width,
                                       bitmap.Bits() + y * bitmap.Stride()));
        }
        if (copy == 2) {
            screen[static_cast<std::size_t>(stride + 3)] ^= 0x00FFFFFFu;
        }
        const std::vector<std::uint32_t> before = screen;
        const int callsBefore = calls.count;
        calls.boxes.clear();
        ASSERT_TRUE(BitBlt(&shown, atX, atY, width, height, bitmap.Handle(), 0, 0, SRCCOPY));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const TColor c = bitmap.GetPixel(x, y);
                ASSERT_EQ(screen[static_cast<std::size_t>((y + atY) * stride + x + atX)], PixelOf(c))
                    << x << "," << y;
            }
        bool changedAny = false;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < stride; ++x) {
                const auto at = static_cast<std::size_t>(y * stride + x);
                if (screen[at] == before[at]) continue;
                changedAny = true;
                ASSERT_TRUE(std::any_of(calls.boxes.begin(), calls.boxes.end(),
                                        [&](auto& b) {
                                            return x >= b[0] && x < b[0] + b[2] && y >= b[1] &&
                                                   y < b[1] + b[3];
                                        }))
                    << x << "," << y << " outside every box told";
            }
        // Told only when something changed (and then of at least one box).
        EXPECT_EQ(calls.count > callsBefore, changedAny);
    }
}

TEST(RasterPieces, FramesMatchFreshBitmapsAndTheirCopies)
{
    CheckFramesAgainstFreshBitmaps(150, 45, 11);
    CheckFramesAgainstFreshBitmaps(16, 8, 12);     // one piece
    CheckFramesAgainstFreshBitmaps(1100, 19, 13);  // more than 64 pieces across
}

}  // namespace
