#include "spectrum.h"

#include <fftw3.h>

#include <array>
#include <cmath>
#include <mutex>

namespace sonivex {

namespace {

constexpr int kSize = 256;

struct Plan {
    fftwf_plan plan = nullptr;
    std::array<float, kSize> window{};
};

Plan& ThePlan()
{
    static Plan plan;
    return plan;
}

std::once_flag g_planned;

void PrepareSpectrum()
{
    std::call_once(g_planned, [] {
        Plan& plan = ThePlan();
        float* in = fftwf_alloc_real(kSize);
        fftwf_complex* out = fftwf_alloc_complex(kSize / 2 + 1);
        // For arrays on FFTW's own alignment (those below), which lets it
        // use its vector code: about four times as fast as a plan for any
        // arrays.
        plan.plan = fftwf_plan_dft_r2c_1d(kSize, in, out, FFTW_ESTIMATE);
        fftwf_free(in);
        fftwf_free(out);
        for (int k = 0; k < kSize; ++k)
            plan.window[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * k / kSize));
    });
}

}  // namespace

void Spectrum256(const std::uint32_t* frames, float* magnitudes)
{
    PrepareSpectrum();
    const Plan& plan = ThePlan();
    // Aligned as FFTW's own arrays are, as the plan requires.
    alignas(64) std::array<float, kSize> in;
    alignas(64) std::array<fftwf_complex, kSize / 2 + 1> out;
    for (int k = 0; k < kSize; ++k) {
        const int left = static_cast<std::int16_t>(frames[k] & 0xFFFF);
        const int right = static_cast<std::int16_t>(frames[k] >> 16);
        in[k] = static_cast<float>((left + right) / 65536.0) * plan.window[k];
    }
    fftwf_execute_dft_r2c(plan.plan, in.data(), out.data());
    // A sine of amplitude 1 at a bin's centre: N/2 from the transform, half
    // of it left by the window's mean of 1/2; so 4/N brings it to 1.
    constexpr float kScale = 4.0f / kSize;
    for (int bin = 0; bin < kSize / 2; ++bin)
        magnitudes[bin] = std::sqrt(out[bin][0] * out[bin][0] + out[bin][1] * out[bin][1]) * kScale;
}

}  // namespace sonivex
