// Pixels a window shows from memory shared with its X server.
//
// A picture redrawn a hundred times a second costs little to draw and much
// to hand over: through the toolkit's backing store every tick is a flush
// of its own, a round trip or a second write for the reply that says the
// server has copied the pixels, and so two wake-ups of the server. Here the
// program holds the shared memory itself, and a tick's parts go to the
// window in one write.
//
// The memory is a few slots, used in turn, each large enough for the whole
// window; a tick packs its parts into the next slot. Only every slots-th
// write asks the server for a reply, and the write after it takes the
// reply (long arrived, as a rule). The server answers requests in order,
// so once it has answered it has copied everything put before, and a slot
// is written again only after a reply to a request sent after its last
// use. The server's answers, each a wake-up of the toolkit's reading
// thread, come a few times less often than the ticks.
#pragma once

#include <QRect>
#include <QSize>
#include <QtGlobal>
#include <memory>
#include <span>

class QWindow;
struct xcb_connection_t;

namespace screen {

class SharedPixels {
public:
    // Shared pixels for a window as large as size, in the layout of the
    // window's own (QImage::Format_RGB32). Null where the window is not on
    // an X server that can share memory with the program: another
    // platform, a server on another machine, another pixel layout, or
    // QT_XCB_NO_MITSHM set (the toolkit does not share then either).
    static std::unique_ptr<SharedPixels> Make(QWindow* window, QSize size);
    ~SharedPixels();
    SharedPixels(const SharedPixels&) = delete;
    SharedPixels& operator=(const SharedPixels&) = delete;

    // A block of 32-bit pixels for the place at in the window: its top row
    // at first, each next row stride bytes on.
    struct Block {
        QRect at;
        const uchar* first;
        qsizetype stride;
    };
    // The part of the window the blocks can go to.
    QRect Rect() const { return QRect(QPoint(), size_); }
    // Puts the blocks on the window, in one write; they may not overlap
    // and must lie inside Rect(). The pixels are copied before it returns.
    void Put(std::span<const Block> blocks);

private:
    SharedPixels() = default;
    // Returns once the server has answered the last request for a reply.
    void TakeReply();

    xcb_connection_t* connection_ = nullptr;
    void* memory_ = nullptr;
    QSize size_;
    std::size_t slotBytes_ = 0;
    unsigned slot_ = 0;
    unsigned window_ = 0, segment_ = 0, gc_ = 0, sequence_ = 0;
    int depth_ = 0;
    bool asked_ = false;
};

}  // namespace screen
