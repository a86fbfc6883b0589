// A paint box: the place in its window where a visualiser's block copies
// land. It has no picture of its own: during a tick its surface is the
// window's backing store itself, so a copy lands where the screen is drawn
// from, and what it changed goes out at the end of the tick. A repaint of
// the box (an exposed part, a grab) draws the last picture of the bitmap the
// box shows.
#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "raster.h"

class QBackingStore;

class PaintBox : public QWidget {
    Q_OBJECT
public:
    PaintBox(int width, int height, QWidget* parent);

    // The surface for BitBlt.
    HDC Surface() { return &surface_; }

    // The bitmap whose whole picture is copied onto this box each tick, drawn
    // again from it when the box is repainted; nullptr before there is one.
    void ShowPictureOf(const TBitmap* picture) { picture_ = picture; }

    // Before the block copies of a tick onto boxes (which share one window):
    // points their surfaces at the window's backing store, where it can take
    // them (the window is shown, unscaled and drawn in plain 32-bit pixels),
    // else at pixels of their own.
    static void BeginTick(std::initializer_list<PaintBox*> boxes);
    // After them: puts what they changed on the screen, from the backing
    // store in one flush, or by repainting the boxes the usual way.
    static void ShowChanges(std::initializer_list<PaintBox*> boxes);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect ChangedBounds() const;  // the box around changes_
    // Points the surface at bits, stride pixels a row; a move makes the next
    // copy onto it a whole one.
    void Aim(std::uint32_t* bits, int stride);

    // Where the copies land when the backing store cannot take them, in the
    // screen's order (0xFFRRGGBB) as the backing store's are.
    TAlignedPixels pixels_;
    TDrawSurface surface_;
    QImage image_;  // a view on pixels_
    const TBitmap* picture_ = nullptr;
    // The backing store the surface points into during a tick, else null.
    QBackingStore* store_ = nullptr;
    QRect placed_;  // where the box sat in its window at the last tick
    QRegion area_;  // what the boxes of a tick cover, kept by the first
    // What the block copies changed that is not yet on the screen: the
    // boxes they told of.
    std::vector<QRect> changes_;
};
