// Decoded sound between a stream's decoder thread (the only writer) and the
// output's mixing (the only reader): frames of 16-bit stereo, one 32-bit
// word each, first channel in the low half.
//
// Lock-free for one writer and one reader, so the output never waits on a
// decoder. Any thread may ask how much it holds.
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
        read_.store(read + n, std::memory_order_release);
        return n;
    }

private:
    std::vector<std::uint32_t> frames_;
    std::atomic<std::uint64_t> written_{0};
    std::atomic<std::uint64_t> read_{0};
};

}  // namespace sonivex
