#include <gtest/gtest.h>

#include <cmath>

#include "circle_vis.h"
#include "pixels.h"

namespace {

constexpr TColor kWhite = 0xFFFFFF;
constexpr int kX = 100, kY = 59;  // the centre of the main window's 201 x 118 box

struct CircleScope : testing::Test {
    TCircleScope scope{201, 118};
    TBitmap screen{201, 118};
    TWaveBuffer wave{};

    std::set<Point> Draw(int x = kX, int y = kY)
    {
        scope.RenderFrame(screen.Handle(), wave, x, y);
        return LitPixels(screen);
    }
};

bool Connected(const std::set<Point>& points)
{
    // Every pixel of a closed ring has at least two 8-neighbours on it.
    for (const auto& [x, y] : points) {
        int neighbours = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && points.count({x + dx, y + dy})) ++neighbours;
        if (neighbours < 2) return false;
    }
    return true;
}

TEST_F(CircleScope, SilenceAtRadiusZeroLeavesAnEmptyBoxOrOneDot)
{
    scope.BaseRadius = 0;
    scope.Gain = 250;
    EXPECT_TRUE(Draw().empty());
    scope.RenderMode = 1;
    EXPECT_TRUE(Draw().empty());
    scope.RenderMode = 2;
    EXPECT_EQ(Draw(), (std::set<Point>{{kX, kY}}));
    scope.RenderMode = 7;
    EXPECT_TRUE(Draw().empty());
}

TEST_F(CircleScope, SilenceAtRadiusFiftyIsAClosedRingShortOfAFullTurn)
{
    scope.BaseRadius = 50;
    scope.TraceColor = 0x0000FF;
    const std::set<Point> ring = Draw();
    for (const Point& p : {Point{kX, kY + 50}, Point{kX + 1, kY + 49}, Point{kX + 49, kY},
                           Point{kX, kY - 49}, Point{kX - 49, kY}, Point{kX - 2, kY + 49}})
        EXPECT_TRUE(ring.count(p)) << p.first - kX << "," << p.second - kY;
    EXPECT_FALSE(ring.count({kX + 50, kY}));  // truncated toward the centre
    EXPECT_FALSE(ring.count({kX - 50, kY}));
    EXPECT_TRUE(Connected(ring));
    for (const auto& [x, y] : ring) {
        EXPECT_EQ(screen.GetPixel(x, y), 0x0000FFu);
        const double distance = std::hypot(x - kX, y - kY);
        EXPECT_GT(distance, 47.5);
        EXPECT_LT(distance, 50.5);
    }
}

TEST_F(CircleScope, SpokesRadiateFromTheCentreAndTheirEndsAreJoinedToTheFirstPoint)
{
    scope.BaseRadius = 50;
    scope.RenderMode = 1;
    const std::set<Point> spokes = Draw();
    EXPECT_TRUE(spokes.count({kX, kY}));
    EXPECT_TRUE(spokes.count({kX + 24, kY}));      // along spoke 64 to (X+49, Y)
    EXPECT_FALSE(spokes.count({kX + 49, kY}));     // a spoke's tip is its excluded end
    EXPECT_TRUE(spokes.count({kX - 2, kY + 49}));  // closing line from tip 254 ...
    EXPECT_FALSE(spokes.count({kX, kY + 50}));     // ... to the first point, excluded
    for (const auto& [x, y] : spokes)
        EXPECT_LT(std::hypot(x - kX, y - kY), 50.5);
}

TEST_F(CircleScope, GainTwoHundredFiftyMovesFullScaleOutBy124AndInBy125)
{
    TCircleScope big(400, 400);
    TBitmap bigScreen(400, 400);
    big.Gain = 250;
    big.BaseRadius = 0;
    wave.fill(Frame(32767, 32767));
    big.RenderFrame(bigScreen.Handle(), wave, 200, 200);
    std::set<Point> lit = LitPixels(bigScreen);
    EXPECT_TRUE(lit.count({200, 324}));  // the ring starts 124 below the centre
    for (const auto& [x, y] : lit)
        EXPECT_LT(std::hypot(x - 200, y - 200), 124.5);

    // A negative radius puts the points on the opposite side of the centre.
    wave.fill(Frame(-32768, -32768));
    big.RenderFrame(bigScreen.Handle(), wave, 200, 200);
    lit = LitPixels(bigScreen);
    EXPECT_TRUE(lit.count({200, 75}));
    EXPECT_FALSE(lit.count({200, 325}));
    for (const auto& [x, y] : lit)
        EXPECT_LT(std::hypot(x - 200, y - 200), 125.5);

    // In the main window's box a ring of radius 50 - 125 = -75 is cut off
    // at the top and bottom edges and shows only its sides.
    scope.Gain = 250;
    scope.BaseRadius = 50;
    const std::set<Point> clipped = Draw();
    EXPECT_TRUE(clipped.count({kX - 74, kY}));
    EXPECT_TRUE(clipped.count({kX + 74, kY}));
    for (const auto& [x, y] : clipped) {
        const double distance = std::hypot(x - kX, y - kY);
        EXPECT_GT(distance, 72.5);
        EXPECT_LT(distance, 75.5);
    }
}

TEST_F(CircleScope, DotsModeNeverPlotsTheFirstPoint)
{
    scope.BaseRadius = 0;
    scope.Gain = 100;
    scope.RenderMode = 2;
    wave[0] = Frame(32767, 32767);  // point 0 would be 49 below the centre
    EXPECT_EQ(Draw(), (std::set<Point>{{kX, kY}}));
    wave[2] = Frame(32767, 32767);  // point 1: radius 49 at angle 0.0245
    EXPECT_EQ(Draw(), (std::set<Point>{{kX, kY}, {kX + 1, kY + 48}}));
    for (const Point& p : LitPixels(screen))
        EXPECT_EQ(screen.GetPixel(p.first, p.second), kWhite);
}

TEST_F(CircleScope, TheAngleGrowsFromStraightDownTowardTheRight)
{
    scope.BaseRadius = 0;
    scope.Gain = 100;
    scope.RenderMode = 2;
    wave[2 * 32] = Frame(32767, 32767);   // point 32, about 45 degrees: right, below
    wave[2 * 96] = Frame(32767, 32767);   // point 96, about 135 degrees: right, above
    wave[2 * 160] = Frame(32767, 32767);  // point 160, about 225 degrees: left, above
    EXPECT_EQ(Draw(), (std::set<Point>{
                          {kX, kY}, {kX + 34, kY + 34}, {kX + 34, kY - 34}, {kX - 34, kY - 34}}));
}

TEST_F(CircleScope, StrideChoosesTheFramesAndStaysInsideTheBuffer)
{
    scope.BaseRadius = 0;
    scope.Gain = 100;
    scope.RenderMode = 2;
    scope.Stride = 1;
    wave[64] = Frame(32767, 32767);  // point 64 with stride 1: straight right
    EXPECT_TRUE(Draw().count({kX + 48, kY}));
    scope.Stride = 50;  // reads up to element 12700 of 2049: silence beyond
    wave.fill(Frame(32767, 32767));
    const std::set<Point> dots = Draw();
    EXPECT_TRUE(dots.count({kX, kY}));  // points 41 on lie on the centre
    for (const auto& [x, y] : dots)
        if (x != kX || y != kY) {
            EXPECT_LT(std::atan2(x - kX, y - kY), 1.0);  // points 1 to 40
        }
}

}  // namespace
