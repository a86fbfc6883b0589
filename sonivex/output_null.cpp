#include <chrono>
#include <thread>
#include <vector>

#include "mixer.h"
#include "output.h"

namespace sonivex {

namespace {

// Pulls 10 ms of frames every 10 ms of the clock and drops them, so that
// streams play at their real pace on a machine without sound. (Larger blocks
// would wake less often, but a stream playing at its live edge would then
// show its gaps in the sound data that pictures are drawn from.)
class NullOutput final : public Output {
public:
    NullOutput(int rate, Mixer& mixer) : mixer_(mixer), block_(static_cast<std::size_t>(rate / 100))
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~NullOutput() override { Close(); }

    const char* Name() const override { return "null"; }

    void Close() override
    {
        if (!thread_.joinable()) return;
        running_ = false;
        thread_.join();
    }

private:
    void Run()
    {
        std::vector<std::int16_t> buffer(2 * block_);
        auto next = std::chrono::steady_clock::now();
        while (running_) {
            mixer_.Render(buffer.data(), block_);
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    }

    Mixer& mixer_;
    std::size_t block_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Output> OpenNullOutput(int rate, Mixer& mixer)
{
    return std::make_unique<NullOutput>(rate, mixer);
}

}  // namespace sonivex
