// A paint box: the place in its window where a visualiser's block copies
// land. Its surface is an image of its own in the screen's pixel order, so
// a copy is a row copy. After a tick's copies, ShowChanges puts what they
// changed on the screen: straight into the window's backing store and out
// in one flush for all the boxes, where the store holds plain 32-bit
// pixels; where the X server shows the window from that very memory, it
// skips the toolkit's round trip before each paint and waits on a fence
// instead (screen_fence.h). Any other way, it asks the toolkit to repaint
// those parts. A tick whose copies changed nothing copies and flushes
// nothing. A repaint of the box (an exposed part, a grab) draws its image.
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
    // Whether the last ShowChanges wrote into pixels the X server shows the
    // window from, without the toolkit's paint (and its round trip).
    static bool LastShownStraight();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    TDrawSurface surface_;
    QRect changed_;  // what the copies changed since the last ShowChanges
};
