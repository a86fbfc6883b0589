// The spectrum analyser: 128 logarithmic bands standing on a base line, each
// with a falling bar and a slower falling peak marker.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "CommonTypes.h"
#include "raster.h"

class TSpectrum {
public:
    TSpectrum(int width, int height);

    TBitmap BackBuffer;
    TBitmap BackgroundImage;
    TColor FillColor = 0x000000;
    // Upper limit of a band's new height, in pixels.
    std::int32_t MaxBarHeight = 10;
    TColor BarColor = 0xFFFFFF;
    TColor PeakColor = 0x00FFFF;
    // 0 one-pixel columns, 1 bars BarWidth wide; anything else no bands.
    std::int32_t RenderMode = 1;
    bool ClearEachFrame = true;
    bool UseBackgroundImage = false;
    std::int32_t PeakFallStep = 1;
    std::int32_t BarFallStep = 3;
    std::int32_t BarWidth = 1;
    bool ShowPeaks = true;
    // Heights in pixels carried from frame to frame; entries 0 to 127 are used.
    std::array<std::int32_t, 129> PeakHeights{};
    std::array<std::int32_t, 129> BarHeights{};

    // Updates the bands from bins 0 to 127 of data and draws them with band 0
    // at column X and the base line on row Y + height, then copies the frame
    // to surface's (0, 0). Allocates nothing.
    void RenderFrame(HDC surface, const TSpectrumBuffer& data, int X, int Y);

    // The height band i asks for at level: ln(|level| x 100) weighted toward
    // the high bands, before MaxBarHeight and the fall steps apply.
    static std::int32_t BandHeight(int band, float level);
};

// The main window's spectrum analyser; created with the window, lives to the end.
extern std::unique_ptr<TSpectrum> SpectrumView;
