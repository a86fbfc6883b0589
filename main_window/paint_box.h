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
    // Kept in the screen's order (0xFFRRGGBB): the block copies convert the
    // colours as they land, and the toolkit draws them without converting
    // them again, a hundred times a second.
    std::vector<std::uint32_t> pixels_;
    TDrawSurface surface_;
    QImage image_;  // a view on pixels_
};
