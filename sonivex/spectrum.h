// The 256-point spectrum of the latest output frames.
#pragma once

#include <cstdint>

namespace sonivex {

// Prepares the FFT (planning is not thread-safe; call once, at start-up,
// before any Spectrum256 call).
void PrepareSpectrum();

// magnitudes[0..127]: the magnitudes of a Hann-windowed FFT of 256 frames
// of 16-bit stereo (channels mixed), scaled so that a full-scale sine at a
// bin's centre reads 1.0 in that bin. Safe from any thread.
void Spectrum256(const std::uint32_t* frames, float* magnitudes);

}  // namespace sonivex
