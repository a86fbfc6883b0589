// Decoded sound between a stream's decoder thread (the only writer) and the
// output's mixing (the only reader): frames of 16-bit stereo, one 32-bit
// word each, first channel in the low half.
//
// Lock-free for one writer and one reader, so the output never waits on a
// decoder. Any thread may ask how much it holds. The writer may sleep until
// the reader has made room (WaitForRoom); the reader then wakes it once,
// without waiting for anything.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonivex {

class FrameRing {
public:
    explicit FrameRing(std::size_t capacity) : frames_(capacity > 0 ? capacity : 1) {}

    std::size_t Capacity() const { return frames_.size(); }
    std::size_t Held() const
    {
        return static_cast<std::size_t>(written_.load(std::memory_order_acquire) -
                                        read_.load(std::memory_order_acquire));
    }

    // Frames ever written and ever taken: the places of the stream's sound.
    std::uint64_t Written() const { return written_.load(std::memory_order_acquire); }
    std::uint64_t Taken() const { return read_.load(std::memory_order_acquire); }

    // Writer: appends as many frames as fit, returns how many.
    std::size_t Write(const std::uint32_t* frames, std::size_t count)
    {
        const std::uint64_t written = written_.load(std::memory_order_relaxed);
        const std::uint64_t read = read_.load(std::memory_order_acquire);
        const std::size_t room = frames_.size() - static_cast<std::size_t>(written - read);
        const std::size_t n = count < room ? count : room;
        for (std::size_t i = 0; i < n; ++i)
            frames_[(written + i) % frames_.size()] = frames[i];
        written_.store(written + n, std::memory_order_release);
        return n;
    }

    // Reader: takes up to count frames, returns how many.
    std::size_t Read(std::uint32_t* frames, std::size_t count)
    {
        const std::uint64_t read = read_.load(std::memory_order_relaxed);
        const std::uint64_t written = written_.load(std::memory_order_acquire);
        const std::size_t held = static_cast<std::size_t>(written - read);
        const std::size_t n = count < held ? count : held;
        for (std::size_t i = 0; i < n; ++i)
            frames[i] = frames_[(read + i) % frames_.size()];
        // The store of read_ and the load of wanted_ pair with the writer's
        // store of wanted_ and load of read_ (all sequentially consistent):
        // either the writer sees the room made here, or this sees it wait.
        read_.store(read + n, std::memory_order_seq_cst);
        const std::size_t wanted = wanted_.load(std::memory_order_seq_cst);
        if (n > 0 && wanted != 0 && frames_.size() - (held - n) >= wanted) {
            drained_.fetch_add(1, std::memory_order_release);
            drained_.notify_one();
        }
        return n;
    }

    // Writer: sleeps until at least `room` frames (at most the capacity) are
    // free, or until StopWaiting.
    void WaitForRoom(std::size_t room)
    {
        room = room < frames_.size() ? room : frames_.size();
        if (room == 0) return;
        for (;;) {
            const std::uint32_t seen = drained_.load(std::memory_order_acquire);
            wanted_.store(room, std::memory_order_seq_cst);
            const std::uint64_t read = read_.load(std::memory_order_seq_cst);
            const std::size_t free =
                frames_.size() -
                static_cast<std::size_t>(written_.load(std::memory_order_relaxed) - read);
            if (free >= room || stop_.load(std::memory_order_acquire)) break;
            drained_.wait(seen, std::memory_order_acquire);
        }
        wanted_.store(0, std::memory_order_relaxed);
    }

    // Any thread: the room asked for by a WaitForRoom under way, 0 when none
    // is; and how many times the writer has been woken (by the reader or by
    // StopWaiting) so far.
    std::size_t WantedRoom() const { return wanted_.load(std::memory_order_seq_cst); }
    std::uint32_t WakeUps() const { return drained_.load(std::memory_order_acquire); }

    // Any thread: ends a WaitForRoom now and every later one at once.
    void StopWaiting()
    {
        stop_.store(true, std::memory_order_release);
        drained_.fetch_add(1, std::memory_order_release);
        drained_.notify_all();
    }

private:
    std::vector<std::uint32_t> frames_;
    std::atomic<std::uint64_t> written_{0};
    std::atomic<std::uint64_t> read_{0};
    std::atomic<std::size_t> wanted_{0};     // room the writer waits for; 0: none
    std::atomic<std::uint32_t> drained_{0};  // changes each time the writer is woken
    std::atomic<bool> stop_{false};
};

}  // namespace sonivex
