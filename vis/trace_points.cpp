#include "trace_points.h"

#include <immintrin.h>

#include "scaling.h"

namespace {

bool Vectors()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

std::int32_t Deflection(const TWaveBuffer& data, std::int64_t k, std::int32_t gain)
{
    const int sum = (k >= 0 && k < static_cast<std::int64_t>(data.size()))
                        ? ChannelSum(data[static_cast<std::size_t>(k)])
                        : 0;
    return TruncToInt(sum / 131070.0 * gain);
}

int Offset(std::int32_t deflection, std::int32_t base, double factor, std::int64_t origin)
{
    const double radius = static_cast<double>(std::int64_t{deflection} + base);
    return ClampToInt(origin + TruncToInt(radius * factor));
}

// Four points at a time. A channel sum divided by 131070 lies within
// +-0.5001, so times any 32-bit gain it stays inside the 32-bit range and
// truncates without saturating. Sums of two 32-bit numbers are exact as
// doubles, and clamping a double to the 32-bit range before truncating it
// saturates as TruncToInt and ClampToInt do.
__attribute__((target("avx2"))) void DeflectionsByFour(const TWaveBuffer& data, std::int64_t stride,
                                                       std::int32_t gain, int first, int count,
                                                       std::int32_t* out)
{
    const __m256d divisor = _mm256_set1_pd(131070.0);
    const __m256d scale = _mm256_set1_pd(static_cast<double>(gain));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const std::int64_t k = (first + i) * stride;
        const __m128i sums =
            _mm_setr_epi32(ChannelSum(data[static_cast<std::size_t>(k)]),
                           ChannelSum(data[static_cast<std::size_t>(k + stride)]),
                           ChannelSum(data[static_cast<std::size_t>(k + 2 * stride)]),
                           ChannelSum(data[static_cast<std::size_t>(k + 3 * stride)]));
        const __m256d scaled =
            _mm256_mul_pd(_mm256_div_pd(_mm256_cvtepi32_pd(sums), divisor), scale);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_cvttpd_epi32(scaled));
    }
    for (; i < count; ++i)
        out[i] = Deflection(data, (first + i) * stride, gain);
}

__attribute__((target("avx2"))) inline __m128i ClampAndTruncate(__m256d value)
{
    const __m256d low = _mm256_set1_pd(-2147483648.0);
    const __m256d high = _mm256_set1_pd(2147483647.0);
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(value, low), high));
}

__attribute__((target("avx2"))) void OffsetsByFour(const std::int32_t* deflections,
                                                   std::int32_t base, const double* factors,
                                                   std::int64_t origin, int count, int* out)
{
    const __m256d start = _mm256_set1_pd(static_cast<double>(base));
    const __m256d centre = _mm256_set1_pd(static_cast<double>(origin));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i deflection =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(deflections + i));
        const __m256d radius = _mm256_add_pd(_mm256_cvtepi32_pd(deflection), start);
        const __m128i along = ClampAndTruncate(_mm256_mul_pd(radius, _mm256_loadu_pd(factors + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         ClampAndTruncate(_mm256_add_pd(_mm256_cvtepi32_pd(along), centre)));
    }
    for (; i < count; ++i)
        out[i] = Offset(deflections[i], base, factors[i], origin);
}

}  // namespace

void Deflections(const TWaveBuffer& data, std::int64_t stride, std::int32_t gain, int first,
                 int count, std::int32_t* out)
{
    // Four at a time only when every element read lies in the buffer.
    const std::int64_t last = std::int64_t{first} + count - 1;
    if (Vectors() && count > 0 && first >= 0 && stride >= 0 &&
        last * stride < static_cast<std::int64_t>(data.size())) {
        DeflectionsByFour(data, stride, gain, first, count, out);
        return;
    }
    for (int i = 0; i < count; ++i)
        out[i] = Deflection(data, (std::int64_t{first} + i) * stride, gain);
}

void Offsets(const std::int32_t* deflections, std::int32_t base, const double* factors,
             std::int64_t origin, int count, int* out)
{
    // The origin must be exact as a double for the sums to be; a pixel
    // coordinate always is.
    if (Vectors() && origin >= -(std::int64_t{1} << 52) && origin <= (std::int64_t{1} << 52)) {
        OffsetsByFour(deflections, base, factors, origin, count, out);
        return;
    }
    for (int i = 0; i < count; ++i)
        out[i] = Offset(deflections[i], base, factors[i], origin);
}
