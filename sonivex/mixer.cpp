#include "mixer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace sonivex {

void Mixer::Add(std::shared_ptr<PlaybackChannel> channel)
{
    {
        std::lock_guard guard(lock_);
        if (std::find(channels_.begin(), channels_.end(), channel) == channels_.end())
            channels_.push_back(std::move(channel));
    }
    Wake();
}

std::uint64_t Mixer::Changes()
{
    std::lock_guard guard(sleepLock_);
    return changes_;
}

bool Mixer::SleepUntil(std::chrono::steady_clock::time_point deadline, std::uint64_t& seen)
{
    std::unique_lock guard(sleepLock_);
    const bool changed = sleeping_.wait_until(guard, deadline, [&] { return changes_ != seen; });
    seen = changes_;
    return changed;
}

void Mixer::Wake()
{
    {
        std::lock_guard guard(sleepLock_);
        ++changes_;
    }
    sleeping_.notify_all();
}

void Mixer::Remove(const PlaybackChannel* channel)
{
    std::lock_guard guard(lock_);
    std::erase_if(channels_, [&](const auto& c) { return c.get() == channel; });
}

void Mixer::RemoveAll()
{
    std::lock_guard guard(lock_);
    channels_.clear();
}

namespace {

// Frames over which sound fades out where it runs dry and in where it
// comes back, so that neither is a click: 1.5 ms at 44.1 kHz.
constexpr std::size_t kSoftFrames = 64;

// Scales frames[i] by (first + i * step) / kSoftFrames for count frames.
void Ramp(std::uint32_t* frames, std::size_t count, int first, int step)
{
    for (std::size_t i = 0; i < count; ++i) {
        const int gain = first + static_cast<int>(i) * step;
        const auto left = static_cast<std::int16_t>(frames[i] & 0xFFFF);
        const auto right = static_cast<std::int16_t>(frames[i] >> 16);
        const auto l = static_cast<std::uint16_t>(left * gain / static_cast<int>(kSoftFrames));
        const auto r = static_cast<std::uint16_t>(right * gain / static_cast<int>(kSoftFrames));
        frames[i] = l | (static_cast<std::uint32_t>(r) << 16);
    }
}

}  // namespace

bool Mixer::TakeFrom(PlaybackChannel& channel, std::uint32_t* into, std::size_t frames)
{
    const std::size_t got = channel.ring.Read(into, frames);
    if (channel.softEdges && channel.starved && got > 0) {
        const std::size_t soft = std::min(got, kSoftFrames);
        Ramp(into, soft, static_cast<int>(kSoftFrames - soft), 1);
        channel.starved = false;
    }
    if (got < frames) {
        // Only sound that ran dry between two sounds; the start of a stream
        // and its end are no such place.
        const bool midway = channel.softEdges && channel.ring.Taken() > got &&
                            !channel.sourceEnded.load(std::memory_order_acquire);
        if (midway && got > 0) {
            const std::size_t soft = std::min(got, kSoftFrames);
            Ramp(into + got - soft, soft, static_cast<int>(soft), -1);
        }
        if (midway) channel.starved = true;
        // A download slower than playback plays silence until data comes.
        std::fill(into + got, into + frames, 0u);
        if (channel.sourceEnded.load(std::memory_order_acquire) && channel.ring.Held() == 0)
            channel.stopped.store(true, std::memory_order_release);
        else
            channel.underruns.fetch_add(1, std::memory_order_relaxed);
    }
    channel.history.Append(into, frames);
    channel.framesOutput.fetch_add(frames, std::memory_order_relaxed);
    return channel.ring.Taken() >= channel.nextEventFrame.load(std::memory_order_acquire);
}

void Mixer::Render(std::int16_t* out, std::size_t frames)
{
    std::vector<std::shared_ptr<PlaybackChannel>> due;
    {
        std::lock_guard guard(lock_);
        RenderLocked(out, frames);
        due.swap(due_);
    }
    for (const auto& channel : due)
        if (channel->eventDue) channel->eventDue();
}

void Mixer::RenderLocked(std::int16_t* out, std::size_t frames)
{
    if (scratch_.size() < frames) {
        // Outputs ask for the same block size every time, so this happens
        // once at most per output.
        scratch_.resize(frames);
        sum_.resize(2 * frames);
    }
    const float volume = volume_.load(std::memory_order_relaxed);
    if (std::endian::native == std::endian::little && channels_.size() == 1 && volume == 1.0f) {
        // One stream at full volume (the usual case): its frames, the first
        // channel in the low half, are the output's bytes as they are.
        if (TakeFrom(*channels_.front(), scratch_.data(), frames)) due_.push_back(channels_.front());
        std::memcpy(out, scratch_.data(), frames * sizeof(std::uint32_t));
    } else {
        std::fill(sum_.begin(), sum_.begin() + static_cast<std::ptrdiff_t>(2 * frames), 0);
        for (auto& channel : channels_) {
            if (TakeFrom(*channel, scratch_.data(), frames)) due_.push_back(channel);
            for (std::size_t i = 0; i < frames; ++i) {
                sum_[2 * i] += static_cast<std::int16_t>(scratch_[i] & 0xFFFF);
                sum_[2 * i + 1] += static_cast<std::int16_t>(scratch_[i] >> 16);
            }
        }
        for (std::size_t i = 0; i < 2 * frames; ++i) {
            const float scaled = static_cast<float>(sum_[i]) * volume;
            out[i] = static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
        }
    }
    std::erase_if(channels_,
                  [](const auto& c) { return c->stopped.load(std::memory_order_acquire); });
}

std::size_t Mixer::Ready(std::size_t frames)
{
    std::lock_guard guard(lock_);
    std::size_t ready = frames;
    for (const auto& channel : channels_)
        if (!channel->sourceEnded.load(std::memory_order_acquire))
            ready = std::min(ready, channel->ring.Held());
    return ready;
}

std::size_t Mixer::SmallestRing()
{
    std::lock_guard guard(lock_);
    std::size_t smallest = std::numeric_limits<std::size_t>::max();
    for (const auto& channel : channels_)
        smallest = std::min(smallest, channel->ring.Capacity());
    return smallest;
}

void Mixer::NoteLook()
{
    std::lock_guard guard(catchUpLock_);
    if (catchUp_) catchUp_();
}

void Mixer::SetCatchUp(std::function<void()> catchUp)
{
    std::lock_guard guard(catchUpLock_);
    catchUp_ = std::move(catchUp);
}

}  // namespace sonivex
