// A paint box: a surface of pixels (0x00BBGGRR) that the visualisers' block
// copies land on, shown as it is. It has no painting of its own: after a
// block copy it shows the new picture at the next paint, which the copy
// itself asks for.
#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

#include "raster.h"

class PaintBox : public QWidget {
    Q_OBJECT
public:
    PaintBox(int width, int height, QWidget* parent);

    // The surface for BitBlt.
    HDC Surface() { return &surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::uint32_t> pixels_;
    TDrawSurface surface_;
    // The pixels in the screen's own layout (0xFFRRGGBB), made at each paint:
    // drawn onto the window without a conversion of the toolkit's, which
    // would cost more than this loop a hundred times a second.
    QImage shown_;
};
