// The output side of every playing stream: each stream's decoded frames are
// mixed, the master volume applied, and what each stream contributed is
// kept as its output history.
//
// Render runs on the output's thread (SDL's callback or the null output's
// clock). Add and Remove may come from any thread; they and Render share
// one short lock, under which nothing calls out of the library.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "frame_ring.h"
#include "output_history.h"

namespace sonivex {

// One stream's place in the output.
class PlaybackChannel {
public:
    explicit PlaybackChannel(std::size_t ringFrames) : ring(ringFrames) {}

    FrameRing ring;         // decoded frames waiting to be played
    OutputHistory history;  // frames as they reached the output
    // Set by the decoder when no more frames will come: once the ring runs
    // dry the channel stops.
    std::atomic<bool> sourceEnded{false};
    std::atomic<bool> stopped{false};
    std::atomic<std::uint64_t> framesOutput{0};
    std::atomic<std::uint64_t> underruns{0};

    // Something is due when the output has taken this many of the ring's
    // frames (a title change, the sound back after a reconnect): the
    // output thread then runs eventDue, with no lock of the mixer held.
    // Set eventDue before the channel is added to the mixer.
    std::atomic<std::uint64_t> nextEventFrame{std::numeric_limits<std::uint64_t>::max()};
    std::function<void()> eventDue;

    // Whether sound that runs dry fades out, and sound that comes back
    // after that fades in, so that neither is a click (a network stream's
    // channel); set before the channel is added to the mixer.
    bool softEdges = false;
    // Output thread only: sound ran dry in the last block.
    bool starved = false;
};

class Mixer {
public:
    explicit Mixer(const std::atomic<float>& volume) : volume_(volume) {}

    void Add(std::shared_ptr<PlaybackChannel> channel);
    void Remove(const PlaybackChannel* channel);
    void RemoveAll();

    // Fills out with frames of interleaved 16-bit stereo.
    void Render(std::int16_t* out, std::size_t frames);
    // How many of the next frames (at most `frames`) every channel that is
    // still being fed can give now; `frames` when no channel is.
    std::size_t Ready(std::size_t frames);
    // The capacity of the smallest playback buffer of the channels, in
    // frames; the largest size_t when there are none.
    std::size_t SmallestRing();

    // For an output that keeps its own time: sleeps until the deadline or
    // until a channel has been added (or Wake called) since `seen` was
    // taken from Changes(); returns true then, with `seen` brought up to date.
    std::uint64_t Changes();
    bool SleepUntil(std::chrono::steady_clock::time_point deadline, std::uint64_t& seen);
    void Wake();

    // Someone looks at the sound data of a stream (from any thread): an
    // output that keeps its own time is first brought up to date, on the
    // caller's thread, so that what they see is current however seldom the
    // output wakes by itself.
    void NoteLook();
    // Set by such an output (null to stop); returns once a catch-up under
    // way has ended.
    void SetCatchUp(std::function<void()> catchUp);

private:
    // The next frames of one channel (silence for what it lacks), noted in
    // its history.
    void RenderLocked(std::int16_t* out, std::size_t frames);
    // Returns whether an event of the channel is due.
    static bool TakeFrom(PlaybackChannel& channel, std::uint32_t* into, std::size_t frames);

    const std::atomic<float>& volume_;
    std::mutex lock_;
    std::vector<std::shared_ptr<PlaybackChannel>> channels_;
    std::vector<std::uint32_t> scratch_ = std::vector<std::uint32_t>(8192);
    std::vector<std::int32_t> sum_ = std::vector<std::int32_t>(2 * 8192);
    std::vector<std::shared_ptr<PlaybackChannel>> due_;  // under lock_, run after it
    std::mutex sleepLock_;
    std::condition_variable sleeping_;
    std::uint64_t changes_ = 0;  // under sleepLock_
    std::mutex catchUpLock_;  // taken before lock_, never after it
    std::function<void()> catchUp_;
};

}  // namespace sonivex
