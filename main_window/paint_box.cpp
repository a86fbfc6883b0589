#include "paint_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
#include <cstring>
#include <memory>
#include <vector>

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

// What changed on the boxes that are shown, in the window's coordinates:
// made anew each tick, in the storage of the last.
std::vector<screen::SharedPixels::Block> blocks;

}  // namespace

bool PaintBox::ShowChanges(std::initializer_list<PaintBox*> boxes)
{
    if (boxes.size() == 0) return false;
    QWidget* top = (*boxes.begin())->window();
    bool changed = false;
    blocks.clear();
    QRect bounds;  // of what changed on the boxes that are shown
    for (PaintBox* box : boxes) {
        if (box->changed_.isEmpty()) continue;
        changed = true;
        if (!box->isVisible()) continue;
        const QRect at = box->changed_.translated(box->mapTo(top, QPoint()));
        blocks.push_back({at, box->image_.constScanLine(box->changed_.y()) + 4 * box->changed_.x(),
                          box->image_.bytesPerLine()});
        bounds |= at;
    }
    if (!changed) return false;

    // A box that shows unscaled on a shown window goes to the screen row by
    // row: on an X server that can share memory with the program, through
    // pixels of the program's own that the server copies from; anywhere
    // else into the window's backing store, between the toolkit's
    // beginPaint and endPaint. Any other way, the toolkit repaints the
    // boxes.
    QWindow* window = top->windowHandle();
    lastStraight = false;
    if (bounds.isEmpty() || window == nullptr || !top->isVisible() || !window->isExposed()) {
        LeaveChanges(boxes, false);
        return true;
    }
    if (screen::SharedPixels* shared = WindowPixels::For(top, window);
        shared != nullptr && shared->Rect().contains(bounds)) {
        shared->Put(blocks);
        LeaveChanges(boxes, true);
        lastStraight = true;
        return true;
    }
    QRegion region;
    for (const auto& block : blocks) region += block.at;
    QBackingStore* store = top->backingStore();
    QImage* target = nullptr;
    if (store != nullptr && store->size() == top->size()) {
        store->beginPaint(region);
        target = PlainImage(store->paintDevice(), region);
        if (target == nullptr) store->endPaint();
    }
    if (target == nullptr) {
        LeaveChanges(boxes, false);
        return true;
    }
    for (const auto& block : blocks) {
        uchar* to = target->bits() + block.at.y() * target->bytesPerLine() + 4 * block.at.x();
        const uchar* from = block.first;
        for (int y = 0; y < block.at.height(); ++y, to += target->bytesPerLine(), from += block.stride)
            std::memcpy(to, from, 4 * static_cast<std::size_t>(block.at.width()));
    }
    LeaveChanges(boxes, true);
    store->endPaint();
    store->flush(region, window, QPoint());
    return true;
}

void PaintBox::LeaveChanges(std::initializer_list<PaintBox*> boxes, bool shown)
{
    for (PaintBox* box : boxes) {
        if (!box->changed_.isEmpty() && (!shown || !box->isVisible())) box->update(box->changed_);
        box->changed_ = QRect();
    }
}

bool PaintBox::LastShownStraight() { return lastStraight; }

void PaintBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), image_, event->rect());
}
