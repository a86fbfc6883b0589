#include "paint_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
#include <cstring>
#include <memory>

#include "shared_pixels.h"

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

// The pixels a window's boxes go to the X server in: made at the window's
// first tick (and again when its size or native window changes), gone
// with the window, and so before the toolkit's connection to the server.
// One window at a time has them: the boxes of one window tick together.
class WindowPixels : public QObject {
public:
    explicit WindowPixels(QWidget* top) : QObject(top), top_(top) {}
    ~WindowPixels() override
    {
        if (current == this) current = nullptr;
    }

    static screen::SharedPixels* For(QWidget* top, QWindow* window)
    {
        if (current == nullptr || current->top_ != top) {
            delete current;
            current = new WindowPixels(top);
        }
        WindowPixels& held = *current;
        if (held.size_ != top->size() || held.id_ != window->winId()) {
            held.pixels_.reset();
            held.size_ = top->size();
            held.id_ = window->winId();
            if (window->devicePixelRatio() == 1) held.pixels_ = screen::SharedPixels::Make(window, held.size_);
        }
        return held.pixels_.get();
    }

private:
    static inline WindowPixels* current = nullptr;
    QWidget* top_;
    std::unique_ptr<screen::SharedPixels> pixels_;
    QSize size_;
    WId id_ = 0;
};

bool lastStraight = false;

}  // namespace

bool PaintBox::ShowChanges(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return false;
    QWidget* top = (*boxes.begin())->window();
    bool changed = false;
    QRegion region;  // what changed on the boxes that are shown
    for (PaintBox* box : boxes) {
        if (box->changed_.isEmpty()) continue;
        changed = true;
        if (box->isVisible()) region += box->changed_.translated(box->mapTo(top, QPoint()));
    }
    if (!changed) return false;

    // A box that shows unscaled on a shown window goes to the screen row by
    // row: on an X server that can share memory with the program, into
    // pixels of the program's own that the server copies from, once it has
    // copied the last tick's; anywhere else into the window's backing
    // store, between the toolkit's beginPaint and endPaint. Any other way,
    // the toolkit repaints the boxes.
    QWindow* window = top->windowHandle();
    lastStraight = false;
    if (region.isEmpty() || window == nullptr || !top->isVisible() || !window->isExposed()) {
        CopyChanges(boxes, top, nullptr);
        return true;
    }
    if (screen::SharedPixels* shared = WindowPixels::For(top, window);
        shared != nullptr && shared->Image().rect().contains(region.boundingRect())) {
        shared->WaitForServer();
        CopyChanges(boxes, top, &shared->Image());
        shared->Put(region);
        lastStraight = true;
        return true;
    }
    QBackingStore* store = top->backingStore();
    QImage* target = nullptr;
    if (store != nullptr && store->size() == top->size()) {
        store->beginPaint(region);
        target = PlainImage(store->paintDevice(), region);
        if (target == nullptr) store->endPaint();
    }
    CopyChanges(boxes, top, target);
    if (target == nullptr) return true;
    store->endPaint();
    store->flush(region, window, QPoint());
    return true;
}

void PaintBox::CopyChanges(std::initializer_list<PaintBox*> boxes, QWidget* top, QImage* image)
{
    for (PaintBox* box : boxes) {
        const QRect changed = box->changed_;
        box->changed_ = QRect();
        if (changed.isEmpty()) continue;
        if (image == nullptr || !box->isVisible()) {
            box->update(changed);
            continue;
        }
        const QPoint at = box->mapTo(top, changed.topLeft());
        uchar* to = image->bits() + at.y() * image->bytesPerLine() + 4 * at.x();
        const uchar* from = box->image_.constScanLine(changed.y()) + 4 * changed.x();
        for (int y = 0; y < changed.height(); ++y, to += image->bytesPerLine(), from += box->image_.bytesPerLine())
            std::memcpy(to, from, 4 * static_cast<std::size_t>(changed.width()));
    }
}

bool PaintBox::LastShownStraight() { return lastStraight; }

void PaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), image_, event->rect());
}
