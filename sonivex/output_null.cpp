#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "mixer.h"
#include "output.h"

namespace sonivex {

namespace {

// Takes frames from the mixer at the pace of the clock and drops them, so
// that streams play at their real pace on a machine without sound.
//
// It wakes every 20 ms in the first second of a stream that starts playing,
// otherwise every 250 ms (at most half the smallest playback buffer): the
// fewer wake-ups cost less (the decoders, woken as the output makes room,
// follow suit). Whoever looks at the sound data (a program drawing pictures
// of it) first brings it up to date on their own thread, so the pictures
// move as smoothly as from a device without the output waking for them. Nobody hears it, so when a stream that is still being
// fed has fewer frames ready than the clock asks for (a stream at the live
// edge of its station, whose data comes in bursts), it takes what is there
// and owes the rest, instead of playing a gap of silence; only a stream that
// stays behind for longer than kMaxLagMs is played on with silence, as a
// real device would.
class NullOutput final : public Output {
public:
    NullOutput(int rate, Mixer& mixer)
        : mixer_(mixer),
          rate_(rate),
          block_(static_cast<std::size_t>(rate) * kFineWakeMs / 1000),
          maxLag_(static_cast<std::size_t>(rate) * kMaxLagMs / 1000)
    {
        mixer_.SetCatchUp([this] { Step(Clock::now()); });
        thread_ = std::thread([this] { Run(); });
    }
    ~NullOutput() override { Close(); }

    const char* Name() const override { return "null"; }

    void Close() override
    {
        if (!thread_.joinable()) return;
        mixer_.SetCatchUp(nullptr);
        running_ = false;
        mixer_.Wake();
        thread_.join();
    }

private:
    static constexpr int kFineWakeMs = 20;
    static constexpr int kUnwatchedWakeMs = 250;
    static constexpr int kMaxLagMs = 500;

    // The long step, short enough for half of the smallest playback buffer
    // to cover it: a stream with a small buffer must not fall behind the
    // clock for want of frames its decoder had no room to make.
    int UnwatchedWakeMs()
    {
        const std::size_t half = mixer_.SmallestRing() / 2;
        const std::size_t longest = static_cast<std::size_t>(rate_) * kUnwatchedWakeMs / 1000;
        if (half >= longest) return kUnwatchedWakeMs;
        return std::max(kFineWakeMs,
                        static_cast<int>(half * 1000 / static_cast<std::size_t>(rate_)));
    }

    using Clock = std::chrono::steady_clock;

    // The frames the clock asks for in that time, without rounding drift.
    std::uint64_t FramesIn(Clock::duration elapsed) const
    {
        const auto nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
        const auto rate = static_cast<std::uint64_t>(rate_);
        return static_cast<std::uint64_t>(nanoseconds / 1'000'000'000) * rate +
               static_cast<std::uint64_t>(nanoseconds % 1'000'000'000) * rate / 1'000'000'000;
    }

    // Takes what the clock asked for up to now. From the output's thread
    // or a looker's, one at a time.
    void Step(Clock::time_point now)
    {
        std::lock_guard guard(stepLock_);
        const std::uint64_t due = FramesIn(now - start_);
        if (due <= asked_) return;
        owed_ += static_cast<std::size_t>(due - asked_);
        asked_ = due;
        std::size_t take = mixer_.Ready(owed_);
        if (owed_ - take > maxLag_) take = owed_;
        owed_ -= take;
        while (take > 0) {
            const std::size_t frames = std::min(take, block_);
            mixer_.Render(buffer_.data(), frames);
            take -= frames;
        }
    }

    void Run()
    {
        std::uint64_t changes = mixer_.Changes();
        auto fineUntil = start_ + std::chrono::seconds(1);
        while (running_) {
            const auto now = Clock::now();
            Step(now);
            const auto next =
                now + std::chrono::milliseconds(now < fineUntil ? kFineWakeMs : UnwatchedWakeMs());
            // A stream that starts playing is taken up at once, in short
            // steps for its first second, so that its first sound comes
            // without waiting for a long step to end.
            if (mixer_.SleepUntil(next, changes))
                fineUntil = Clock::now() + std::chrono::seconds(1);
        }
    }

    Mixer& mixer_;
    const int rate_;
    const std::size_t block_;
    const std::size_t maxLag_;
    const Clock::time_point start_ = Clock::now();
    std::mutex stepLock_;
    std::uint64_t asked_ = 0;  // frames the clock asked for since the start
    std::size_t owed_ = 0;
    std::vector<std::int16_t> buffer_ = std::vector<std::int16_t>(2 * block_);
    std::atomic<bool> running_{true};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Output> OpenNullOutput(int rate, Mixer& mixer)
{
    return std::make_unique<NullOutput>(rate, mixer);
}

}  // namespace sonivex
