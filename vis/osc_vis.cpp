#include "osc_vis.h"

#include <array>

#include "scaling.h"

std::unique_ptr<TOcilloScope> OscView;

TOcilloScope::TOcilloScope(int width, int height)
    : BackBuffer(width, height), BackgroundImage(width, height)
{
}

void TOcilloScope::RenderFrame(HDC surface, const TWaveBuffer& data, int X, int Y)
{
    const int width = BackBuffer.Width();
    const int height = BackBuffer.Height();
    if (ClearEachFrame) {
        BackBuffer.PenColor = FillColor;
        BackBuffer.BrushColor = FillColor;
        if (UseBackgroundImage)
            BitBlt(BackBuffer.Handle(), 0, 0, width, height, BackgroundImage.Handle(), 0, 0,
                   SRCCOPY);
        else
            BackBuffer.Rectangle(0, 0, width, height);
    }

    std::array<int, 257> columns, rows;
    for (int i = 0; i <= 256; ++i) {
        columns[static_cast<std::size_t>(i)] = ClampToInt(std::int64_t{X} + i);
        rows[static_cast<std::size_t>(i)] = ClampToInt(std::int64_t{Y} + Deflection(data, std::int64_t{i} * Stride, Gain));
    }

    BackBuffer.PenColor = TraceColor;
    BackBuffer.MoveTo(X, rows[0]);
    if (RenderMode == 0) {
        BackBuffer.PolylineTo(columns.data() + 1, rows.data() + 1, 256);
    } else {
        for (std::size_t i = 1; i <= 256; ++i) {
            if (RenderMode == 1) {
                BackBuffer.MoveTo(columns[i], Y);
                BackBuffer.LineTo(columns[i], rows[i]);
            } else if (RenderMode == 2) {
                BackBuffer.SetPixel(columns[i], rows[i], TraceColor);
            }
        }
    }

    BitBlt(surface, 0, 0, width, height, BackBuffer.Handle(), 0, 0, SRCCOPY);
}
