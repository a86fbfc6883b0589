#include "circle_vis.h"

#include <array>
#include <cmath>

#include "scaling.h"

std::unique_ptr<TCircleScope> CircleView;

namespace {

// Point i sits at the angle i / 256 x 6.28, rounded to single precision: the
// constant is 6.28, not 2 pi, so point 254 stops about 3 degrees short of a
// full turn. The angles never change, so their sines and cosines are worked
// out once.
struct AngleTable {
    std::array<double, 255> sine{};
    std::array<double, 255> cosine{};
    AngleTable()
    {
        for (int i = 1; i <= 254; ++i) {
            const float angle = static_cast<float>(i / 256.0 * 6.28);
            sine[i] = std::sin(static_cast<double>(angle));
            cosine[i] = std::cos(static_cast<double>(angle));
        }
    }
};

const AngleTable& Angles()
{
    static const AngleTable table;
    return table;
}

}  // namespace

TCircleScope::TCircleScope(int width, int height)
    : BackBuffer(width, height), BackgroundImage(width, height)
{
}

void TCircleScope::RenderFrame(HDC surface, const TWaveBuffer& data, int X, int Y)
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

    const AngleTable& angles = Angles();
    std::array<int, 255> xs, ys;
    for (std::size_t i = 1; i <= 254; ++i) {
        const std::int32_t deflection = Deflection(data, static_cast<std::int64_t>(i) * Stride, Gain);
        xs[i] = PointOffset(deflection, BaseRadius, angles.sine[i], X);
        ys[i] = PointOffset(deflection, BaseRadius, angles.cosine[i], Y);
    }

    BackBuffer.PenColor = TraceColor;
    const int firstX = X;
    const int firstY = ClampToInt(std::int64_t{Y} + Deflection(data, 0, Gain) + BaseRadius);
    BackBuffer.MoveTo(firstX, firstY);
    if (RenderMode == 0) {
        BackBuffer.PolylineTo(xs.data() + 1, ys.data() + 1, 254);
    } else {
        for (std::size_t i = 1; i <= 254; ++i) {
            if (RenderMode == 1) {
                BackBuffer.MoveTo(X, Y);
                BackBuffer.LineTo(xs[i], ys[i]);
            } else if (RenderMode == 2) {
                BackBuffer.SetPixel(xs[i], ys[i], TraceColor);
            }
        }
    }
    BackBuffer.LineTo(firstX, firstY);

    BitBlt(surface, 0, 0, width, height, BackBuffer.Handle(), 0, 0, SRCCOPY);
}
