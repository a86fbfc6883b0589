// Sound outputs: each one pulls frames from the mixer at its own pace on a
// thread of its own. One backend per file: the SDL output (a real device,
// or SDL's dummy and disk drivers in tests) and the null output, paced by
// the clock, for machines without sound.
#pragma once

#include <memory>

namespace sonivex {

class Mixer;

class Output {
public:
    virtual ~Output() = default;
    virtual const char* Name() const = 0;
    // Stops pulling from the mixer; returns once no render is running.
    virtual void Close() = 0;
};

// device -1 is the system's default output, n >= 1 SDL's output n - 1.
// Null when no such device can be opened.
std::unique_ptr<Output> OpenSdlOutput(int device, int rate, Mixer& mixer);
std::unique_ptr<Output> OpenNullOutput(int rate, Mixer& mixer);

}  // namespace sonivex
