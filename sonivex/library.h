// The library's global state: initialisation, configuration, the output and
// the table of streams. One instance for the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "mixer.h"
#include "output.h"
#include "sonivex.h"
#include "stream.h"

namespace sonivex {

struct Configuration {
    std::atomic<int> bufferMs{500};
    std::atomic<int> netTimeoutMs{5000};
    std::atomic<int> netBufferMs{5000};
    std::atomic<int> netPrebuf{75};
    std::atomic<int> netReadTimeoutMs{10000};
    std::atomic<int> netPlaylist{0};
    std::atomic<int> netReconnect{300};
    std::mutex proxyLock;
    std::string proxy;
};

class Library {
public:
    static Library& Instance();

    Configuration config;
    std::atomic<float> volume{1.0f};

    bool Init(int device, DWORD frequency, int& error);
    bool Free();
    bool Initialised() const { return initialised_.load(); }

    // A snapshot of the settings a new stream takes.
    StreamSettings Settings();

    // Streams being opened, so that Free can end their opening.
    void BeginOpen(const std::shared_ptr<Stream>& stream);
    void EndOpen(const std::shared_ptr<Stream>& stream);
    const std::atomic<bool>& AbortFlag() const { return abortOpens_; }
    std::uint64_t Generation() const { return generation_.load(); }

    // Handles: never 0, not reused until 2^32 more have been given out.
    HSTREAM Register(const std::shared_ptr<Stream>& stream, std::uint64_t generation);
    std::shared_ptr<Stream> Find(DWORD handle);
    std::shared_ptr<Stream> Remove(DWORD handle);
    HSYNC NextSyncHandle();

    Mixer& TheMixer() { return mixer_; }

private:
    Library();

    std::mutex lock_;
    std::atomic<bool> initialised_{false};
    std::atomic<bool> abortOpens_{false};
    std::atomic<std::uint64_t> generation_{0};
    int outputRate_ = 44100;
    Mixer mixer_;
    std::unique_ptr<Output> output_;
    std::unordered_map<DWORD, std::shared_ptr<Stream>> streams_;
    std::set<std::shared_ptr<Stream>> opening_;
    DWORD nextHandle_ = 0x10000;
    std::atomic<HSYNC> nextSync_{0x20000};
};

}  // namespace sonivex
