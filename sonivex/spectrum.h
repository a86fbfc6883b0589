// The 256-point spectrum of the latest output frames.
#pragma once

#include <cstdint>

namespace sonivex {

// magnitudes[0..127]: the magnitudes of a Hann-windowed FFT of 256 frames
// of 16-bit stereo (channels mixed), scaled so that a full-scale sine at a
// bin's centre reads 1.0 in that bin. Safe from any thread. The first call
// plans the FFT (nothing else in the library plans one, so the planner,
// which is not thread-safe, runs once under a once-flag); a player that
// never asks for a spectrum never touches FFTW's tables, some 2 MB of
// resident memory.
void Spectrum256(const std::uint32_t* frames, float* magnitudes);

}  // namespace sonivex
