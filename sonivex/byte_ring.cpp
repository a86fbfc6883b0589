#include "byte_ring.h"

#include <algorithm>
#include <cstring>

namespace sonivex {

ByteRing::ByteRing(std::size_t capacity) : bytes_(std::max<std::size_t>(capacity, 1)) {}

std::size_t ByteRing::Capacity() const
{
    std::lock_guard guard(lock_);
    return bytes_.size();
}

bool ByteRing::Resize(std::size_t capacity)
{
    capacity = std::max<std::size_t>(capacity, 1);
    std::lock_guard guard(lock_);
    if (held_ > capacity) return false;
    std::vector<std::uint8_t> bigger(capacity);
    const std::size_t first = std::min(held_, bytes_.size() - start_);
    std::memcpy(bigger.data(), bytes_.data() + start_, first);
    std::memcpy(bigger.data() + first, bytes_.data(), held_ - first);
    bytes_.swap(bigger);
    start_ = 0;
    return true;
}

std::size_t ByteRing::Free() const
{
    std::lock_guard guard(lock_);
    return bytes_.size() - held_;
}

std::size_t ByteRing::Write(const std::uint8_t* data, std::size_t size)
{
    std::size_t taken;
    {
        std::lock_guard guard(lock_);
        if (aborted_) return 0;
        taken = std::min(size, bytes_.size() - held_);
        std::size_t end = (start_ + held_) % bytes_.size();
        const std::size_t first = std::min(taken, bytes_.size() - end);
        std::memcpy(bytes_.data() + end, data, first);
        std::memcpy(bytes_.data(), data + first, taken - first);
        held_ += taken;
        written_ += taken;
    }
    if (taken > 0) dataArrived_.notify_all();
    return taken;
}

ByteRing::ReadResult ByteRing::Read(std::uint8_t* out, std::size_t size, std::size_t& bytesRead)
{
    std::function<void()> listener;
    {
        std::unique_lock guard(lock_);
        const auto atJunction = [&] { return !junctions_.empty() && junctions_.front() == taken_; };
        const auto ready = [&] { return held_ > 0 || finished_ || aborted_ || atJunction(); };
        // Seen by others only while the read sleeps: the wait gives the
        // lock up only then.
        ++sleepingReads_;
        bool woken = true;
        if (readDeadline_ == std::chrono::steady_clock::time_point::max())
            dataArrived_.wait(guard, ready);
        else
            woken = dataArrived_.wait_until(guard, readDeadline_, ready);
        --sleepingReads_;
        if (!woken) return ReadResult::Aborted;
        if (aborted_) return ReadResult::Aborted;
        if (atJunction()) {
            junctions_.pop_front();
            return ReadResult::Junction;
        }
        if (held_ == 0) return ReadResult::End;
        bytesRead = std::min(size, held_);
        if (!junctions_.empty())
            bytesRead = std::min<std::size_t>(bytesRead, junctions_.front() - taken_);
        const std::size_t first = std::min(bytesRead, bytes_.size() - start_);
        std::memcpy(out, bytes_.data() + start_, first);
        std::memcpy(out + first, bytes_.data(), bytesRead - first);
        start_ = (start_ + bytesRead) % bytes_.size();
        held_ -= bytesRead;
        taken_ += bytesRead;
        listener = spaceListener_;
    }
    if (listener) listener();
    return ReadResult::Data;
}

void ByteRing::Finish()
{
    {
        std::lock_guard guard(lock_);
        finished_ = true;
    }
    dataArrived_.notify_all();
}

void ByteRing::Abort()
{
    {
        std::lock_guard guard(lock_);
        aborted_ = true;
    }
    dataArrived_.notify_all();
}

void ByteRing::MarkJunction()
{
    {
        std::lock_guard guard(lock_);
        if (junctions_.empty() || junctions_.back() != written_) junctions_.push_back(written_);
    }
    dataArrived_.notify_all();
}

void ByteRing::SetReadDeadline(std::chrono::steady_clock::time_point deadline)
{
    {
        std::lock_guard guard(lock_);
        readDeadline_ = deadline;
    }
    dataArrived_.notify_all();
}

void ByteRing::SetSpaceListener(std::function<void()> listener)
{
    std::lock_guard guard(lock_);
    spaceListener_ = std::move(listener);
}

std::uint64_t ByteRing::Written() const
{
    std::lock_guard guard(lock_);
    return written_;
}

std::uint64_t ByteRing::Taken() const
{
    std::lock_guard guard(lock_);
    return taken_;
}

bool ByteRing::Finished() const
{
    std::lock_guard guard(lock_);
    return finished_;
}

int ByteRing::SleepingReads() const
{
    std::lock_guard guard(lock_);
    return sleepingReads_;
}

}  // namespace sonivex
