// A paint box: the place in its window where a visualiser's block copies
// land. Its surface is an image of its own in the screen's pixel order, so
// a copy is a row copy. After a tick's copies, ShowChanges puts what they
// changed on the screen in one go for all the boxes: on an X server that
// can share memory with the program, through pixels of the program's own
// that the server copies from (shared_pixels.h); elsewhere straight into
// the window's backing store, where it holds plain 32-bit pixels, and out
// in one flush. Any other way, it asks the toolkit to repaint those parts.
// A tick whose copies changed nothing copies and flushes nothing. A repaint
// of the box (an exposed part, a grab) draws its image.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <initializer_list>

#include "raster.h"

class PaintBox : public QWidget {
    Q_OBJECT
public:
    PaintBox(int width, int height, QWidget* parent);

    // The surface for BitBlt.
    HDC Surface() { return &surface_; }
    // The last picture copied onto the box.
    const QImage& Picture() const { return image_; }

    // After a tick's block copies onto boxes of one window. Returns whether
    // anything changed (and so went to the screen).
    static bool ShowChanges(std::initializer_list<PaintBox*> boxes);
    // Whether the last ShowChanges went to the X server through the
    // program's own shared pixels, without the toolkit's paint and flush.
    static bool LastShownStraight();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Forgets what the boxes' copies changed; for what did not go to the
    // screen (none of it unless shown, and a hidden box's), asks the
    // toolkit to repaint it instead.
    static void LeaveChanges(std::initializer_list<PaintBox*> boxes, bool shown);

    QImage image_;
    TDrawSurface surface_;
    QRect changed_;  // what the copies changed since the last ShowChanges
};
