// The two capture buffers that the visualisation frame fills and the
// visualisers read.
#pragma once

#include <array>
#include <cstdint>

// One element per frame of 16-bit stereo sound as the audio library hands it
// over: the low half is the first channel, the high half the second, both
// signed. A capture fills the first 512 elements; the rest stay zero.
using TWaveBuffer = std::array<std::uint32_t, 2049>;

// FFT magnitudes from bin 0 up; a capture fills bins 0 to 127.
using TSpectrumBuffer = std::array<float, 1025>;
