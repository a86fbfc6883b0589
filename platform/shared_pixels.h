// Pixels a window shows from memory shared with its X server.
//
// A picture redrawn a hundred times a second costs little to draw and much
// to hand over: through the toolkit's backing store every tick is a flush
// of its own, a round trip or a second write for the reply that says the
// server has copied the pixels, and so two wake-ups of the server. Here the
// program holds the shared memory itself: a tick's parts go to the window
// in one write with the request for that reply, and the next tick takes the
// reply (long arrived, as a rule) before it writes over the pixels again.
// The server answers requests in order, so once it has answered, it has
// copied everything put before.
#pragma once

#include <QImage>
#include <QRegion>
#include <QSize>
#include <memory>

class QWindow;

namespace screen {

class SharedPixels {
public:
    // Shared pixels for window, as large as size, in the layout of the
    // window's own (QImage::Format_RGB32). Null where the window is not on
    // an X server that can share memory with the program: another
    // platform, a server on another machine, another pixel layout, or
    // QT_XCB_NO_MITSHM set (the toolkit does not share then either).
    static std::unique_ptr<SharedPixels> Make(QWindow* window, QSize size);
    ~SharedPixels();
    SharedPixels(const SharedPixels&) = delete;
    SharedPixels& operator=(const SharedPixels&) = delete;

    // The pixels; write them only after WaitForServer.
    QImage& Image() { return image_; }
    // Returns once the server has copied everything Put before (at once,
    // as a rule).
    void WaitForServer();
    // Puts region of the image on the window, at the same place, and asks
    // for the reply WaitForServer takes: one write to the server.
    void Put(const QRegion& region);

private:
    SharedPixels() = default;

    QImage image_;
    void* memory_ = nullptr;
    unsigned window_ = 0, segment_ = 0, gc_ = 0, sequence_ = 0;
    int depth_ = 0;
    bool asked_ = false;
};

}  // namespace screen
