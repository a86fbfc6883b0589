// A paint box: a surface of pixels (0x00BBGGRR) that the visualisers' block
// copies land on, shown as it is. It has no painting of its own: what the
// block copies change reaches the screen at the next ShowChanges.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <initializer_list>
#include <vector>

#include "raster.h"

class PaintBox : public QWidget {
    Q_OBJECT
public:
    PaintBox(int width, int height, QWidget* parent);

    // The surface for BitBlt.
    HDC Surface() { return &surface_; }

    // Puts what the block copies changed since the last call on the screen,
    // for all of boxes at once (they share one window): straight into the
    // window's backing store and out to the screen in one flush, without a
    // paint cycle of the toolkit for each box. Where that cannot be done
    // (the window is hidden, scaled, or draws in another way), the boxes are
    // repainted the usual way.
    static void ShowChanges(std::initializer_list<PaintBox*> boxes);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect ChangedBounds() const;  // the box around changes_

    // Kept in the screen's order (0xFFRRGGBB): the block copies convert the
    // colours as they land, and the toolkit draws them without converting
    // them again, a hundred times a second.
    TAlignedPixels pixels_;
    TDrawSurface surface_;
    QImage image_;  // a view on pixels_
    // What the block copies changed that is not yet on the screen: the
    // boxes they told of.
    std::vector<QRect> changes_;
};
