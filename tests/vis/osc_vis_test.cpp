#include <gtest/gtest.h>

#include "osc_vis.h"
#include "pixels.h"

namespace {

constexpr TColor kGreen = 0x00FF00;

// The main window's oscilloscope: a 257 x 105 box, gain 100, green, drawn
// with its first point at column 5 and the centre line on row 52.
struct Oscilloscope : testing::Test {
    TOcilloScope scope{257, 105};
    TBitmap screen{257, 105};
    TWaveBuffer wave{};

    Oscilloscope()
    {
        scope.Gain = 100;
        scope.TraceColor = kGreen;
    }
    std::set<Point> Draw(int x = 5, int y = 52)
    {
        scope.RenderFrame(screen.Handle(), wave, x, y);
        return LitPixels(screen);
    }
};

std::set<Point> Row(int y, int fromX, int toX)
{
    std::set<Point> points;
    for (int x = fromX; x <= toX; ++x)
        points.insert({x, y});
    return points;
}

TEST_F(Oscilloscope, SilenceIsAFlatLineBarsOfNothingOrARowOfDots)
{
    EXPECT_EQ(Draw(), Row(52, 5, 256));  // the trace runs off the right edge
    EXPECT_EQ(screen.GetPixel(5, 52), kGreen);

    scope.RenderMode = 1;
    EXPECT_TRUE(Draw().empty());

    scope.RenderMode = 2;
    EXPECT_EQ(Draw(), Row(52, 6, 256));  // dots start at the second point
    EXPECT_EQ(Draw(-20, 52), Row(52, 0, 236));

    scope.RenderMode = 3;
    EXPECT_TRUE(Draw().empty());
}

TEST_F(Oscilloscope, FullScaleFramesSwingFortyNineDownAndFiftyUp)
{
    scope.RenderMode = 2;
    wave.fill(Frame(32767, 32767));
    EXPECT_EQ(Draw(), Row(101, 6, 256));
    wave.fill(Frame(-32768, -32768));
    EXPECT_EQ(Draw(), Row(2, 6, 256));
    // Opposite channels cancel; one channel alone deflects half as far.
    wave.fill(Frame(32767, -32768));
    EXPECT_EQ(Draw(), Row(52, 6, 256));
    wave.fill(Frame(32767, 0));
    EXPECT_EQ(Draw(), Row(52 + 24, 6, 256));
}

TEST_F(Oscilloscope, FirstPointIsOnlyAMoveInDotsMode)
{
    scope.RenderMode = 2;
    wave[0] = Frame(32767, 32767);
    const std::set<Point> dots = Draw();
    EXPECT_EQ(dots, Row(52, 6, 256));
    EXPECT_FALSE(dots.count({5, 101}));

    // In trace mode the first point starts the line, which then drops to the
    // centre line from there.
    scope.RenderMode = 0;
    const std::set<Point> trace = Draw();
    EXPECT_TRUE(trace.count({5, 101}));
    EXPECT_FALSE(trace.count({5, 52}));
}

TEST_F(Oscilloscope, BarsRunFromTheCentreLineToThePoint)
{
    scope.RenderMode = 1;
    wave[10] = Frame(32767, 32767);    // 49 down
    wave[20] = Frame(-16384, -16384);  // -25.0004 truncates to 25 up
    std::set<Point> expected;
    for (int y = 52; y < 101; ++y)
        expected.insert({15, y});
    for (int y = 52; y > 27; --y)
        expected.insert({25, y});
    EXPECT_EQ(Draw(), expected);
}

TEST_F(Oscilloscope, StrideTwoReachesElementFiveHundredAndTwelve)
{
    TOcilloScope wide(300, 105);
    TBitmap wideScreen(300, 105);
    wide.Gain = 100;
    wide.RenderMode = 2;
    wide.Stride = 2;
    for (int k = 0; k < 512; ++k)
        wave[k] = Frame(32767, 32767);
    wide.RenderFrame(wideScreen.Handle(), wave, 0, 52);
    EXPECT_EQ(LitPixels(wideScreen), [] {
        std::set<Point> points = Row(101, 1, 255);
        points.insert({256, 52});  // element 512 is never captured: silence
        return points;
    }());
}

TEST_F(Oscilloscope, AStrideBeyondTheBufferReadsSilence)
{
    scope.RenderMode = 2;
    scope.Stride = 100;  // reads up to element 25600 of 2049
    wave.fill(Frame(32767, 32767));
    const std::set<Point> dots = Draw(0, 52);
    EXPECT_TRUE(dots.count({20, 101}));  // element 2000 exists
    EXPECT_TRUE(dots.count({21, 52}));   // element 2100 does not
}

TEST_F(Oscilloscope, ClearingFollowsFillColourBackgroundAndClearFlag)
{
    scope.FillColor = 0x202020;
    Draw();
    EXPECT_EQ(LitPixels(screen, 0x202020), Row(52, 5, 256));

    // Without clearing, a new trace lands on the old picture.
    scope.ClearEachFrame = false;
    wave.fill(Frame(32767, 32767));
    Draw();
    EXPECT_EQ(screen.GetPixel(100, 52), kGreen);
    EXPECT_EQ(screen.GetPixel(100, 101), kGreen);

    // With the background image, clearing copies it instead of filling.
    scope.ClearEachFrame = true;
    scope.UseBackgroundImage = true;
    scope.BackgroundImage.SetPixel(0, 0, 0x123456);
    wave.fill(0);
    Draw();
    EXPECT_EQ(screen.GetPixel(0, 0), 0x123456u);
    EXPECT_EQ(screen.GetPixel(1, 1), 0u);
    EXPECT_EQ(screen.GetPixel(100, 52), kGreen);
}

TEST_F(Oscilloscope, TheFrameLandsAtTheSurfaceOrigin)
{
    TBitmap larger(400, 200);
    larger.PenColor = larger.BrushColor = 0x0000FF;
    larger.Rectangle(0, 0, 400, 200);
    scope.RenderFrame(larger.Handle(), wave, 5, 52);
    EXPECT_EQ(larger.GetPixel(5, 52), kGreen);
    EXPECT_EQ(larger.GetPixel(0, 0), 0u);
    EXPECT_EQ(larger.GetPixel(256, 104), 0u);
    EXPECT_EQ(larger.GetPixel(257, 52), 0x0000FFu);  // beyond the box: untouched
    EXPECT_EQ(larger.GetPixel(10, 105), 0x0000FFu);
}

}  // namespace
