#include "paint_box.h"

#include <QPainter>

PaintBox::PaintBox(int width, int height, QWidget* parent)
    : QWidget(parent),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0),
      shown_(width, height, QImage::Format_RGB32)
{
    shown_.fill(Qt::black);
    surface_.Bits = pixels_.data();
    surface_.Width = width;
    surface_.Height = height;
    surface_.Stride = width;
    surface_.Changed = [](void* self) { static_cast<PaintBox*>(self)->update(); };
    surface_.User = this;
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(width, height);
}

void PaintBox::paintEvent(QPaintEvent*)
{
    const std::size_t count = pixels_.size();
    const std::uint32_t* from = pixels_.data();
    // One scan line after another with no padding: 32-bit pixels.
    auto* to = reinterpret_cast<std::uint32_t*>(shown_.bits());
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = from[i];  // 0x00BBGGRR
        to[i] = 0xFF000000u | (colour & 0xFFu) << 16 | (colour & 0xFF00u) | (colour >> 16 & 0xFFu);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, shown_);
}
