// The frames of one stream as they last reached the output, newest last:
// what the sound data query returns. The output appends from its own
// thread; any thread copies out. A short lock guards it; nothing calls out
// under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sonivex {

class OutputHistory {
public:
    static constexpr std::size_t kFrames = 8192;

    OutputHistory() : frames_(kFrames, 0) {}

    void Append(const std::uint32_t* frames, std::size_t count)
    {
        std::lock_guard guard(lock_);
        for (std::size_t i = 0; i < count; ++i) {
            frames_[next_] = frames[i];
            next_ = (next_ + 1) % kFrames;
        }
    }

    // The latest count frames (at most kFrames), oldest first; frames from
    // before the stream started playing read as silence.
    void Latest(std::uint32_t* out, std::size_t count) const
    {
        std::lock_guard guard(lock_);
        std::size_t index = (next_ + kFrames - count % kFrames) % kFrames;
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = frames_[index];
            index = (index + 1) % kFrames;
        }
    }

private:
    mutable std::mutex lock_;
    std::vector<std::uint32_t> frames_;
    std::size_t next_ = 0;
};

}  // namespace sonivex
