#include "osc_vis.h"

#include <array>

#include "scaling.h"
#include "trace_points.h"

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

    // The points first, then the drawing: the divisions of one point need
    // not wait for the drawing of the last, and several go at once.
    std::array<std::int32_t, 257> deflections;
    Deflections(data, Stride, Gain, 0, 257, deflections.data());
    std::array<int, 257> columns, rows;
    for (int i = 0; i <= 256; ++i) {
        columns[static_cast<std::size_t>(i)] = ClampToInt(std::int64_t{X} + i);
        rows[static_cast<std::size_t>(i)] =
            ClampToInt(std::int64_t{Y} + deflections[static_cast<std::size_t>(i)]);
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
