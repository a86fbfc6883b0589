#include "paint_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
#include <cstring>

#include "screen_fence.h"

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

namespace {

// Where the window's pixels can take a box's rows as they are.
QImage* PlainImage(QPaintDevice* device, const QRegion& region)
{
    if (device == nullptr || device->devType() != QInternal::Image) return nullptr;
    auto* image = static_cast<QImage*>(device);
    const bool plain = image->devicePixelRatio() == 1 &&
                       (image->format() == QImage::Format_RGB32 || image->format() == QImage::Format_ARGB32 ||
                        image->format() == QImage::Format_ARGB32_Premultiplied) &&
                       image->rect().contains(region.boundingRect());
    return plain ? image : nullptr;
}

// Whether image is the one the X server shows the window from; asked of
// the system once for each image the store makes.
bool Shared(const QImage& image)
{
    static const uchar* knownBits = nullptr;
    static QSize knownSize;
    static bool knownShared = false;
    if (image.constBits() != knownBits || image.size() != knownSize) {
        knownBits = image.constBits();
        knownSize = image.size();
        knownShared = screen::SharedWithServer(knownBits);
    }
    return knownShared;
}

screen::FlushFence fence;
bool lastStraight = false;

}  // namespace

bool PaintBox::ShowChanges(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return false;
    QWidget* top = (*boxes.begin())->window();
    QRegion region;
    for (PaintBox* box : boxes)
        if (!box->changed_.isEmpty()) region += box->changed_.translated(box->mapTo(top, QPoint()));
    if (region.isEmpty()) return false;

    // The backing store is where the screen is drawn from; a box that shows
    // unscaled on a shown window is copied there, row by row. Pixels the X
    // server shows straight from are written as they stand, once the server
    // has copied the last flush (the fence); any other store is painted the
    // toolkit's way, between beginPaint and endPaint.
    QBackingStore* store = top->backingStore();
    QWindow* window = top->windowHandle();
    QImage* target = nullptr;
    bool straight = false;
    if (store != nullptr && window != nullptr && top->isVisible() && window->isExposed() &&
        store->size() == top->size()) {
        target = PlainImage(store->paintDevice(), region);
        straight = target != nullptr && Shared(*target);
        if (straight) {
            fence.Pass();
        } else {
            store->beginPaint(region);
            target = PlainImage(store->paintDevice(), region);
            if (target == nullptr) store->endPaint();
        }
    }
    lastStraight = straight;
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
    if (!straight) store->endPaint();
    store->flush(region, window, QPoint());
    if (straight) fence.Mark();
    return true;
}

bool PaintBox::LastShownStraight() { return lastStraight; }

void PaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), image_, event->rect());
}
