#include <gtest/gtest.h>

#include <array>

#include "pixels.h"
#include "spectrum_vis.h"

namespace {

constexpr TColor kWhite = 0xFFFFFF;
constexpr TColor kYellow = 0x00FFFF;

// The main window's analyser: a 257 x 105 box, bars two pixels wide, heights
// up to 300, band 0 at column 1 and the base line on the bottom row (104).
struct Spectrum : testing::Test {
    TSpectrum spectrum{257, 105};
    TBitmap screen{257, 105};
    TSpectrumBuffer levels{};

    Spectrum()
    {
        spectrum.RenderMode = 1;
        spectrum.BarWidth = 2;
        spectrum.MaxBarHeight = 300;
    }
    std::set<Point> Draw()
    {
        spectrum.RenderFrame(screen.Handle(), levels, 1, -1);
        return LitPixels(screen);
    }
};

TEST(SpectrumBand, HeightIsAWeightedLogarithmOfTheLevel)
{
    struct Case {
        int band;
        float level;
        int height;
    };
    const Case cases[] = {
        {0, 1.0f, 96},     {44, 1.0f, 96},    {45, 1.0f, 193},     {64, 1.0f, 193},
        {65, 1.0f, 290},   {84, 1.0f, 290},   {85, 1.0f, 386},     {104, 1.0f, 386},
        {105, 1.0f, 483},  {124, 1.0f, 483},  {125, 1.0f, 580},    {127, 1.0f, 580},
        {3, 0.0f, 0},      {3, 0.01f, 0},     {3, -1.0f, 96},      {10, 0.1f, 48},
        {10, 0.0095f, -1}, {10, 0.001f, -48}, {127, 0.001f, -290},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TSpectrum::BandHeight(c.band, c.level), c.height)
            << "band " << c.band << " level " << c.level;
}

TEST_F(Spectrum, SilenceShowsOnlyThePeakDashesOnTheBottomRow)
{
    const std::set<Point> lit = Draw();
    std::set<Point> dashes;
    for (int band = 0; band < 128; ++band)
        for (int x = 1 + 3 * band; x < 3 + 3 * band && x < 257; ++x)
            dashes.insert({x, 104});
    EXPECT_EQ(lit, dashes);
    EXPECT_EQ(dashes.size(), 171u);  // bands 0 to 84 whole, band 85 one column
    for (const Point& p : lit)
        EXPECT_EQ(screen.GetPixel(p.first, p.second), kYellow);

    // The start-up level 0.01 draws exactly the same.
    levels.fill(0.01f);
    levels[0] = 0.0f;
    EXPECT_EQ(Draw(), dashes);
}

TEST_F(Spectrum, BandsBeyondEightyFiveFallOutsideTheBox)
{
    for (int band = 86; band < 128; ++band)
        levels[band] = 1.0f;
    const std::set<Point> withLoudHighBands = Draw();
    levels.fill(0.0f);
    spectrum.BarHeights.fill(0);
    spectrum.PeakHeights.fill(0);
    EXPECT_EQ(withLoudHighBands, Draw());

    levels[85] = 1.0f;
    const std::set<Point> lit = Draw();
    EXPECT_EQ(spectrum.BarHeights[85], 300);  // 386 limited by MaxBarHeight
    for (int y = 0; y < 104; ++y)
        EXPECT_TRUE(lit.count({256, y})) << y;  // cut at the top
}

// Bands beyond the box light nothing, but their drawing still moves the pen:
// after a frame it stands where the last band's drawing left it.
TEST_F(Spectrum, TheLastBandLeavesThePenWhereItsDrawingEnds)
{
    levels.fill(0.5f);
    Draw();
    // Band 127's peak dash runs from column 382 to 384, on its peak row.
    EXPECT_EQ(spectrum.BackBuffer.PenX(), 384);
    EXPECT_EQ(spectrum.BackBuffer.PenY(), 104 - spectrum.PeakHeights[127]);

    // Without peaks a bar is only a rectangle, which leaves the pen alone.
    spectrum.ShowPeaks = false;
    spectrum.BackBuffer.MoveTo(7, 9);
    Draw();
    EXPECT_EQ(spectrum.BackBuffer.PenX(), 7);
    EXPECT_EQ(spectrum.BackBuffer.PenY(), 9);

    // Columns: band 127 at column 327, far right of the box, its line ending
    // at the top of its bar.
    spectrum.ShowPeaks = true;
    spectrum.RenderMode = 0;
    spectrum.RenderFrame(screen.Handle(), levels, 200, -1);
    EXPECT_EQ(spectrum.BackBuffer.PenX(), 327);
    EXPECT_EQ(spectrum.BackBuffer.PenY(), 104 - spectrum.BarHeights[127]);
    // Bands 0 to 56 are in the box, from column 200 on; band 56's column
    // (164 pixels tall) is lit from the bottom row to the top one.
    const std::set<Point> lit = LitPixels(screen);
    for (int y = 0; y < 105; ++y)
        EXPECT_TRUE(lit.count({256, y})) << y;
}

TEST_F(Spectrum, ABarCoversItsPeakUntilTheyFallApart)
{
    levels[0] = 1.0f;
    std::set<Point> lit = Draw();
    for (int y = 8; y < 104; ++y) {
        EXPECT_EQ(screen.GetPixel(1, y), kWhite) << y;
        EXPECT_EQ(screen.GetPixel(2, y), kWhite) << y;
    }
    EXPECT_FALSE(lit.count({1, 7}));
    EXPECT_FALSE(lit.count({1, 104}));  // no dash on the base row under a bar
    EXPECT_FALSE(lit.count({3, 50}));   // the gap column between bands

    levels[0] = 0.0f;
    for (int frame = 0; frame < 10; ++frame)
        lit = Draw();
    EXPECT_EQ(spectrum.BarHeights[0], 66);
    EXPECT_EQ(spectrum.PeakHeights[0], 86);
    EXPECT_EQ(screen.GetPixel(1, 18), kYellow);  // dash 20 rows above the bar
    EXPECT_EQ(screen.GetPixel(2, 18), kYellow);
    EXPECT_FALSE(lit.count({3, 18}));
    EXPECT_FALSE(lit.count({1, 37}));
    EXPECT_EQ(screen.GetPixel(1, 38), kWhite);
}

TEST_F(Spectrum, BarsReachZeroAfterThirtyTwoFramesAndPeaksAfterNinetySix)
{
    levels[7] = 1.0f;
    Draw();
    ASSERT_EQ(spectrum.BarHeights[7], 96);
    levels[7] = 0.0f;
    for (int frame = 1; frame <= 96; ++frame) {
        Draw();
        if (frame == 31) {
            EXPECT_EQ(spectrum.BarHeights[7], 3);
        }
        if (frame == 32) {
            EXPECT_EQ(spectrum.BarHeights[7], 0);
        }
        if (frame == 95) {
            EXPECT_EQ(spectrum.PeakHeights[7], 1);
        }
    }
    EXPECT_EQ(spectrum.BarHeights[7], 0);
    EXPECT_EQ(spectrum.PeakHeights[7], 0);

    // A level that rises again is taken at once, and negative heights from
    // very quiet levels leave both at 0.
    levels[7] = 0.1f;
    Draw();
    EXPECT_EQ(spectrum.BarHeights[7], 48);
    levels[7] = 0.0001f;
    for (int frame = 0; frame < 100; ++frame)
        Draw();
    EXPECT_EQ(spectrum.BarHeights[7], 0);
    EXPECT_EQ(spectrum.PeakHeights[7], 0);
}

TEST_F(Spectrum, ColumnModeDrawsOnePixelWideBandsWithWhitePeaks)
{
    spectrum.RenderMode = 0;
    levels[0] = 0.1f;  // height 48
    const std::set<Point> lit = Draw();
    std::set<Point> expected;
    for (int y = 104; y > 56; --y)
        expected.insert({1, y});  // the column, rows 104 to 57
    expected.insert({1, 56});     // its peak dot
    for (int band = 1; band < 128; ++band)
        expected.insert({1 + band, 104});
    EXPECT_EQ(lit, expected);
    for (const Point& p : lit)
        EXPECT_EQ(screen.GetPixel(p.first, p.second), kWhite);
}

TEST_F(Spectrum, PeaksCanBeHiddenAndOtherModesDrawNothing)
{
    spectrum.ShowPeaks = false;
    EXPECT_TRUE(Draw().empty());
    spectrum.ShowPeaks = true;
    spectrum.RenderMode = 2;
    levels.fill(1.0f);
    EXPECT_TRUE(Draw().empty());
    EXPECT_EQ(spectrum.BarHeights[0], 96);  // the bands still follow the data
}

// Quiet bands (levels of 0.01 and below) do not take their logarithm.
// Whatever the settings, usual or not, heights must move exactly as the
// weighted logarithm and the fall steps say.
TEST_F(Spectrum, QuietBandsSettleExactlyAsTheirLogarithmSays)
{
    struct Settings {
        int maxBar, barStep, peakStep, storedHeight;
    };
    const float mixes[][6] = {
        {0.0f, 1e-4f, 0.005f, 0.01f, 0.0100001f, 0.5f},
        {0.0099f, -0.003f, 0.2f, 0.0f, 0.03f, -0.01f},
    };
    for (const Settings& settings :
         {Settings{300, 3, 1, 0}, Settings{-5, 3, 1, 0}, Settings{300, -2, 1, 0},
          Settings{300, 3, -4, 0}, Settings{300, 3, 1, -7}}) {
        TSpectrum drawn{257, 105};
        drawn.RenderMode = 1;
        drawn.BarWidth = 2;
        drawn.MaxBarHeight = settings.maxBar;
        drawn.BarFallStep = settings.barStep;
        drawn.PeakFallStep = settings.peakStep;
        drawn.BarHeights.fill(settings.storedHeight);
        drawn.PeakHeights.fill(settings.storedHeight);
        std::array<std::int64_t, 128> bars{}, peaks{};
        bars.fill(settings.storedHeight);
        peaks.fill(settings.storedHeight);
        auto settle = [](std::int64_t current, std::int64_t target, std::int64_t step) {
            const std::int64_t next = target >= current ? target : current - step;
            return next < 0 ? std::int64_t{0} : next;
        };
        for (int frame = 0; frame < 12; ++frame) {
            for (int band = 0; band < 128; ++band)
                levels[static_cast<std::size_t>(band)] = mixes[frame % 2][(band + frame) % 6];
            drawn.RenderFrame(screen.Handle(), levels, 1, -1);
            for (int band = 0; band < 128; ++band) {
                std::int64_t h =
                    TSpectrum::BandHeight(band, levels[static_cast<std::size_t>(band)]);
                if (h > settings.maxBar) h = settings.maxBar;
                peaks[band] = settle(peaks[band], h, settings.peakStep);
                bars[band] = settle(bars[band], h, settings.barStep);
                ASSERT_EQ(drawn.PeakHeights[band], peaks[band]) << band << " in frame " << frame;
                ASSERT_EQ(drawn.BarHeights[band], bars[band]) << band << " in frame " << frame;
            }
        }
    }
}

}  // namespace
