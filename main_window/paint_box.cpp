#include "paint_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>

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

void PaintBox::Aim(std::uint32_t* bits, int stride)
{
    if (surface_.Bits == bits && surface_.Stride == stride) return;
    surface_.Bits = bits;
    surface_.Stride = stride;
    surface_.Stamp = 0;
}

void PaintBox::BeginTick(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return;
    PaintBox* const first = *boxes.begin();
    if (first->store_ != nullptr) ShowChanges(boxes);  // a tick left open
    QWidget* top = first->window();
    QBackingStore* store = top->backingStore();
    QWindow* window = top->windowHandle();
    bool direct = store != nullptr && window != nullptr && top->isVisible() &&
                  window->isExposed() && store->size() == top->size();
    bool moved = false;
    for (PaintBox* box : boxes) {
        direct = direct && box->isVisible() && box->window() == top;
        const QRect placed(box->mapTo(top, QPoint()), box->size());
        moved = moved || placed != box->placed_;
        box->placed_ = placed;
    }
    QImage* target = nullptr;
    if (direct) {
        // The boxes do not move: the region they cover is worked out once.
        QRegion& region = first->area_;
        if (moved || region.isEmpty()) {
            region = QRegion();
            for (PaintBox* box : boxes)
                region += box->placed_;
        }
        store->beginPaint(region);
        QPaintDevice* device = store->paintDevice();
        if (device != nullptr && device->devType() == QInternal::Image)
            target = static_cast<QImage*>(device);
        // Opaque 0xFFRRGGBB pixels, one to a screen pixel: what the copies
        // onto a screen-order surface write, valid in each of these formats.
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
        if (target == nullptr) {
            box->Aim(box->pixels_.Bits(), box->pixels_.Stride());
            continue;
        }
        const QPoint at = box->placed_.topLeft();
        auto* const bits = reinterpret_cast<std::uint32_t*>(target->scanLine(at.y())) + at.x();
        box->Aim(bits, static_cast<int>(target->bytesPerLine() / 4));
        box->store_ = store;
        // A backing store with an alpha channel may clear what is to be
        // painted (that of a translucent window does): then only a whole
        // copy puts the picture back. The copies leave every pixel opaque,
        // so a transparent corner tells.
        if (target->hasAlphaChannel() && bits[0] >> 24 != 0xFF) box->surface_.Stamp = 0;
    }
}

void PaintBox::ShowChanges(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return;
    QBackingStore* store = (*boxes.begin())->store_;
    if (store == nullptr) {
        for (PaintBox* box : boxes) {
            if (!box->changes_.empty()) box->update(box->ChangedBounds());
            box->changes_.clear();
        }
        return;
    }
    QWidget* top = (*boxes.begin())->window();
    QRegion region;
    for (PaintBox* box : boxes) {
        region += box->ChangedBounds().translated(box->placed_.topLeft());
        box->changes_.clear();
        box->store_ = nullptr;
    }
    store->endPaint();
    if (!region.isEmpty()) store->flush(region, top->windowHandle(), QPoint());
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
    // What the window system asks for (an exposed part, a first showing, a
    // grab): the last picture, which the last copy put on the surface.
    const QRect box = event->rect();
    QPainter painter(this);
    if (picture_ != nullptr) {
        // The bitmap's 0x00BBGGRR words are the bytes R, G, B, unused.
        const QImage picture(reinterpret_cast<const uchar*>(picture_->Bits()), picture_->Width(),
                             picture_->Height(), picture_->Stride() * 4, QImage::Format_RGBX8888);
        const QRect part = box & picture.rect();
        if (part != box) painter.fillRect(box, Qt::black);
        painter.drawImage(part.topLeft(), picture, part);
    } else {
        painter.drawImage(box, image_, box);
    }
    // The pixels under the box are the toolkit's again: the next copy is a
    // whole one.
    surface_.Stamp = 0;
}
