// The station catalogue: the addresses of the 100 preset stations. Preset
// slot k (the button captioned k) plays entry k - 1.
#pragma once

#include <array>

extern const std::array<const char*, 100> StationAddresses;
