// Pictures written straight into the memory the X server shows them from.
//
// On X11 a window's backing store may share its image with the server: a
// flush then sends no pixels, only a request to copy them, which the server
// carries out when it comes to it. Before the next paint over what was
// flushed, the toolkit waits for a whole round trip to be sure the server
// has copied it. A picture redrawn a hundred times a second would pay that
// wait, and wake two threads for it, every tick. A FlushFence instead asks
// for a reply right after the flush and takes it just before the next write,
// when it has long arrived: the server answers requests in order, so once
// it has answered, it has copied everything flushed before.
#pragma once

namespace screen {

// Whether bits lie in memory the program shares with the X server of the
// display its windows are on (and not in memory of its own, which a flush
// has to send). False off X11.
bool SharedWithServer(const void* bits);

// One per program: the server answers in order, so one fence covers the
// flushes of every window.
class FlushFence {
public:
    // After a flush of shared pixels: asks the server for a reply.
    void Mark();
    // Before writing over shared pixels: returns once the reply to the last
    // Mark has come (at once, as a rule). Returns whether it had to wait.
    bool Pass();

private:
    unsigned sequence_ = 0;
    bool marked_ = false;
};

}  // namespace screen
