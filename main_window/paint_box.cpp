#include "paint_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>
#include <cstring>

PaintBox::PaintBox(int width, int height, QWidget* parent)
    : QWidget(parent),
      pixels_(width, height, 0xFF000000u),
      image_(reinterpret_cast<uchar*>(pixels_.Bits()), width, height, pixels_.Stride() * 4,
             QImage::Format_RGB32)
{
    surface_.Bits = pixels_.Bits();
    surface_.Width = width;
    surface_.Height = height;
    surface_.Stride = pixels_.Stride();
    surface_.ScreenOrder = true;
    surface_.Changed = [](void* self, int x, int y, int w, int h) {
        static_cast<PaintBox*>(self)->changes_.emplace_back(x, y, w, h);
    };
    changes_.reserve(512);  // more than the pieces of a picture's worth of runs
    surface_.User = this;
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(width, height);
}

void PaintBox::ShowChanges(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return;
    QWidget* top = (*boxes.begin())->window();
    QRegion region;
    for (PaintBox* box : boxes)
        region += box->ChangedBounds().translated(box->mapTo(top, QPoint()));
    if (region.isEmpty()) return;

    QBackingStore* store = top->backingStore();
    QWindow* window = top->windowHandle();
    bool direct = store != nullptr && window != nullptr && top->isVisible() &&
                  window->isExposed() && top->devicePixelRatio() == 1 &&
                  store->size() == top->size();
    for (PaintBox* box : boxes)
        direct = direct && box->isVisible() && box->window() == top;
    if (direct) {
        store->beginPaint(region);
        QPaintDevice* device = store->paintDevice();
        QImage* target = device != nullptr && device->devType() == QInternal::Image
                             ? static_cast<QImage*>(device)
                             : nullptr;
        // The boxes' pixels are opaque 0xFFRRGGBB: valid in any of these.
        const bool plain = target != nullptr && target->devicePixelRatio() == 1 &&
                           (target->format() == QImage::Format_RGB32 ||
                            target->format() == QImage::Format_ARGB32 ||
                            target->format() == QImage::Format_ARGB32_Premultiplied);
        QPainter painter;
        if (!plain && device != nullptr) painter.begin(device);
        for (PaintBox* box : boxes) {
            const QPoint offset = box->mapTo(top, QPoint());
            for (const QRect& change : box->changes_) {
                const QRect part = change & box->image_.rect();
                if (part.isEmpty()) continue;
                if (!plain) {
                    if (painter.isActive())
                        painter.drawImage(part.topLeft() + offset, box->image_, part);
                    continue;
                }
                const QRect room = part.translated(offset) & target->rect();
                for (int y = 0; y < room.height(); ++y)
                    std::memcpy(target->scanLine(room.y() + y) + room.x() * 4,
                                box->image_.constScanLine(room.y() - offset.y() + y) +
                                    (room.x() - offset.x()) * 4,
                                static_cast<std::size_t>(room.width()) * 4);
            }
            box->changes_.clear();
        }
        if (painter.isActive()) painter.end();
        store->endPaint();
        store->flush(region, window, QPoint());
        return;
    }
    for (PaintBox* box : boxes) {
        box->update(box->ChangedBounds());
        box->changes_.clear();
    }
}

QRect PaintBox::ChangedBounds() const
{
    QRect bounds;
    for (const QRect& change : changes_)
        bounds |= change;
    return bounds;
}

void PaintBox::paintEvent(QPaintEvent* event)
{
    // What the window system asks for (an exposed part, a first showing).
    const QRect box = event->rect();
    QPainter painter(this);
    painter.drawImage(box, image_, box);
}
