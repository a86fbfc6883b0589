// How the tests wait: on a condition, with a deadline, never for a fixed time.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kit {

// Waits, checking every 10 ms, until done() or the timeout; whether done()
// came first.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace kit
