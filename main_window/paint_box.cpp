#include "paint_box.h"

#include <QPaintEvent>
#include <QPainter>

PaintBox::PaintBox(int width, int height, QWidget* parent)
    : QWidget(parent),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0xFF000000u),
      image_(reinterpret_cast<uchar*>(pixels_.data()), width, height, width * 4, QImage::Format_RGB32)
{
    surface_.Bits = pixels_.data();
    surface_.Width = width;
    surface_.Height = height;
    surface_.Stride = width;
    surface_.ScreenOrder = true;
    surface_.Changed = [](void* self, int x, int y, int w, int h) {
        static_cast<PaintBox*>(self)->update(x, y, w, h);
    };
    surface_.User = this;
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(width, height);
}

void PaintBox::paintEvent(QPaintEvent* event)
{
    // Only what the block copies changed, or what the window system asks for.
    const QRect box = event->rect();
    QPainter painter(this);
    painter.drawImage(box, image_, box);
}
