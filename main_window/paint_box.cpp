#include "paint_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
#include <cstring>

PaintBox::PaintBox(int width, int height, QWidget* parent)
    : QWidget(parent), image_(width, height, QImage::Format_RGB32)
{
    image_.fill(Qt::black);
    surface_.Bits = reinterpret_cast<std::uint32_t*>(image_.bits());
    surface_.Width = width;
    surface_.Height = height;
    surface_.Stride = static_cast<int>(image_.bytesPerLine() / 4);
    surface_.Changed = [](void* self, int x, int y, int w, int h) {
        static_cast<PaintBox*>(self)->changed_ |= QRect(x, y, w, h);
    };
    surface_.User = this;
    // Every pixel of the box is the picture's: nothing under it to draw.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(width, height);
}

bool PaintBox::ShowChanges(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return false;
    QWidget* top = (*boxes.begin())->window();
    QRegion region;
    for (PaintBox* box : boxes)
        if (!box->changed_.isEmpty()) region += box->changed_.translated(box->mapTo(top, QPoint()));
    if (region.isEmpty()) return false;

    // The backing store is where the screen is drawn from; a box that shows
    // unscaled on a shown window is copied there, row by row.
    QBackingStore* store = top->backingStore();
    QWindow* window = top->windowHandle();
    QImage* target = nullptr;
    if (store != nullptr && window != nullptr && top->isVisible() && window->isExposed() &&
        store->size() == top->size()) {
        store->beginPaint(region);
        QPaintDevice* device = store->paintDevice();
        if (device != nullptr && device->devType() == QInternal::Image)
            target = static_cast<QImage*>(device);
        const bool plain = target != nullptr && target->devicePixelRatio() == 1 &&
                           (target->format() == QImage::Format_RGB32 ||
                            target->format() == QImage::Format_ARGB32 ||
                            target->format() == QImage::Format_ARGB32_Premultiplied) &&
                           target->rect().contains(region.boundingRect());
        if (!plain) {
            store->endPaint();
            target = nullptr;
        }
    }
    for (PaintBox* box : boxes) {
        const QRect changed = box->changed_;
        box->changed_ = QRect();
        if (changed.isEmpty()) continue;
        if (target == nullptr || !box->isVisible()) {
            box->update(changed);
            continue;
        }
        const QPoint at = box->mapTo(top, changed.topLeft());
        for (int y = 0; y < changed.height(); ++y)
            std::memcpy(target->scanLine(at.y() + y) + 4 * at.x(), box->image_.constScanLine(changed.y() + y) +
                            4 * changed.x(), 4 * static_cast<std::size_t>(changed.width()));
    }
    if (target == nullptr) return true;
    store->endPaint();
    store->flush(region, window, QPoint());
    return true;
}

void PaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), image_, event->rect());
}
