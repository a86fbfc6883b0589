#include "spectrum_vis.h"

#include <cmath>

#include "scaling.h"

std::unique_ptr<TSpectrum> SpectrumView;

TSpectrum::TSpectrum(int width, int height)
    : BackBuffer(width, height), BackgroundImage(width, height)
{
}

std::int32_t TSpectrum::BandHeight(int band, float level)
{
    const int q = (band - 5) / 20;  // C++ division truncates toward zero
    const float weight = q > 0 ? static_cast<float>(q) : 1.0f;
    float a = std::fabs(static_cast<float>(level * 100.0));
    if (a == 0.0f) a = 1.0f;
    const float product = static_cast<float>(std::log(static_cast<double>(a)) * weight * 21.0);
    return TruncToInt(product);
}

namespace {

// Follows a new height at once when it is at or above the old one, else
// sinks by step; never below 0.
std::int32_t Settle(std::int32_t current, std::int32_t target, std::int32_t step)
{
    const std::int64_t next = target >= current ? target : std::int64_t{current} - step;
    return ClampToInt(next < 0 ? 0 : next);
}

}  // namespace

void TSpectrum::RenderFrame(HDC surface, const TSpectrumBuffer& data, int X, int Y)
{
    const int width = BackBuffer.Width();
    const int height = BackBuffer.Height();
    if (ClearEachFrame) {
        BackBuffer.PenColor = FillColor;
        BackBuffer.BrushColor = FillColor;
        BackBuffer.Rectangle(0, 0, width, height);
        if (UseBackgroundImage)
            BitBlt(BackBuffer.Handle(), 0, 0, width, height, BackgroundImage.Handle(), 0, 0,
                   SRCCOPY);
    }

    BackBuffer.PenColor = BarColor;
    const std::int64_t base = std::int64_t{Y} + height;
    // A band at or below 0.01 has a height of 0 or less, and with the usual
    // settings (no negative limit or fall step) any such height settles the
    // same way as 0: its logarithm need not be taken, which spares most of a
    // quiet band's cost.
    const bool usual = MaxBarHeight >= 0 && BarFallStep >= 0 && PeakFallStep >= 0;
    for (int i = 0; i < 128; ++i) {
        const float level = data[static_cast<std::size_t>(i)];
        const bool quiet = usual && std::fabs(static_cast<float>(level * 100.0)) <= 1.0f;
        std::int32_t h = quiet ? 0 : BandHeight(i, level);
        if (h > MaxBarHeight) h = MaxBarHeight;
        PeakHeights[i] = Settle(PeakHeights[i], h, PeakFallStep);
        BarHeights[i] = Settle(BarHeights[i], h, BarFallStep);

        const int barTop = ClampToInt(base - BarHeights[i]);
        const int peakRow = ClampToInt(base - PeakHeights[i]);
        // A band wholly right of the bitmap (with bars two pixels wide, the
        // last 42) lights nothing: only the pen goes where its drawing would
        // leave it.
        if (RenderMode == 0) {
            const int column = ClampToInt(std::int64_t{X} + i);
            if (column >= width) {
                BackBuffer.MoveTo(column, barTop);
                continue;
            }
            BackBuffer.MoveTo(column, ClampToInt(base));
            BackBuffer.LineTo(column, barTop);
            if (ShowPeaks) BackBuffer.SetPixel(column, peakRow, BarColor);
        } else if (RenderMode == 1) {
            const std::int64_t left =
                std::int64_t{X} + std::int64_t{i} * (std::int64_t{BarWidth} + 1);
            const int right = ClampToInt(left + BarWidth);
            BackBuffer.PenColor = BarColor;
            BackBuffer.BrushColor = BarColor;
            if (left >= width && right >= width) {
                if (ShowPeaks) BackBuffer.MoveTo(right, peakRow);
                continue;
            }
            if (ShowPeaks) {
                BackBuffer.PenColor = PeakColor;
                BackBuffer.MoveTo(ClampToInt(left), peakRow);
                BackBuffer.LineTo(right, peakRow);
                BackBuffer.PenColor = BarColor;
            }
            BackBuffer.Rectangle(ClampToInt(left), barTop, right, ClampToInt(base));
        }
    }

    BitBlt(surface, 0, 0, width, height, BackBuffer.Handle(), 0, 0, SRCCOPY);
}
