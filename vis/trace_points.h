// The arithmetic of the scopes' trace points, several points at a time
// where the processor can: the same operations, in the same order and
// precision, as one point at a time, so the same pixels.
#pragma once

#include <cstdint>

#include "CommonTypes.h"

// out[i] = TruncToInt(ChannelSum(data[(first + i) x stride]) / 131070.0 x
// gain) for i < count, an element outside the buffer reading as silence:
// how far a point of either scope is deflected.
void Deflections(const TWaveBuffer& data, std::int64_t stride, std::int32_t gain, int first,
                 int count, std::int32_t* out);

// out[i] = ClampToInt(origin + TruncToInt((deflections[i] + base) x
// factors[i])) for i < count: where a point at that distance from the origin
// lands along one axis.
void Offsets(const std::int32_t* deflections, std::int32_t base, const double* factors,
             std::int64_t origin, int count, int* out);
