// The download buffer: compressed audio between the download thread, which
// writes, and the decoder, which reads.
//
// Thread rules: one writer and one reader at a time, any other thread may
// read the counters. All members take the ring's own lock briefly; none
// calls out while holding it. Read blocks until data, the end of the
// download or an abort.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace sonivex {

class ByteRing {
public:
    explicit ByteRing(std::size_t capacity);

    std::size_t Capacity() const;
    // Grows or shrinks the ring to capacity, keeping what it holds; refused
    // (false) when it holds more than the new capacity.
    bool Resize(std::size_t capacity);

    // Appends as much of data as fits; returns the bytes taken.
    std::size_t Write(const std::uint8_t* data, std::size_t size);
    std::size_t Free() const;

    enum class ReadResult { Data, End, Aborted, Junction };
    // Waits until at least one byte is there (or the end, or an abort), then
    // copies up to size bytes. bytesRead is set for ReadResult::Data. A read
    // never crosses a junction: the one that reaches it gets Junction, once.
    ReadResult Read(std::uint8_t* out, std::size_t size, std::size_t& bytesRead);

    // Marks the place between what has been written and what will be: the
    // end of one connection's data and the start of the next one's.
    void MarkJunction();

    // No more data will come: readers get End once the ring is empty.
    void Finish();
    // Wakes and fails every read from now on.
    void Abort();
    // Reads that would wait past deadline fail as if aborted, until the
    // deadline is lifted (time_point::max()); an aborted read does not
    // abort the ring. The opening thread bounds its first reads with it.
    void SetReadDeadline(std::chrono::steady_clock::time_point deadline);

    // Called (without the lock) after a read has made room; the download
    // uses it to resume a paused transfer.
    void SetSpaceListener(std::function<void()> listener);

    std::uint64_t Written() const;  // all bytes ever written
    std::uint64_t Taken() const;    // all bytes ever read
    bool Finished() const;
    // Reads asleep right now, waiting for data, the end or an abort.
    int SleepingReads() const;

private:
    mutable std::mutex lock_;
    std::condition_variable dataArrived_;
    std::vector<std::uint8_t> bytes_;
    std::size_t start_ = 0;  // index of the oldest byte
    std::size_t held_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t taken_ = 0;
    bool finished_ = false;
    bool aborted_ = false;
    int sleepingReads_ = 0;
    std::deque<std::uint64_t> junctions_;  // written_ values, oldest first
    std::chrono::steady_clock::time_point readDeadline_ = std::chrono::steady_clock::time_point::max();
    std::function<void()> spaceListener_;
};

}  // namespace sonivex
