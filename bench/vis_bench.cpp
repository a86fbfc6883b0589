// One tick of the visualisation frame: the three visualisers at the main
// window's sizes and settings, drawing a busy wave and spectrum onto surfaces
// of the paint boxes' size. The goal is well under 20 microseconds a tick.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "circle_vis.h"
#include "osc_vis.h"
#include "spectrum_vis.h"

namespace {

struct Tick {
    TCircleScope circle{201, 118};
    TOcilloScope osc{257, 105};
    TSpectrum spectrum{257, 105};
    TBitmap oscBox{257, 105}, circleBox{201, 118}, spectrumBox{257, 105};
    // A few different captures, so bars rise and fall as they do with music.
    std::vector<TWaveBuffer> waves;
    std::vector<TSpectrumBuffer> spectra;

    Tick() : waves(16), spectra(16)
    {
        circle.TraceColor = 0xFFFFFF;
        circle.RenderMode = 0;
        circle.Gain = 250;
        circle.BaseRadius = 0;
        osc.Gain = 100;
        osc.TraceColor = 0x00FF00;
        spectrum.RenderMode = 1;
        spectrum.BarWidth = 2;
        spectrum.MaxBarHeight = 300;

        std::mt19937 random(42);
        std::uniform_real_distribution<double> noise(-1.0, 1.0);
        for (std::size_t n = 0; n < waves.size(); ++n) {
            for (int k = 0; k < 512; ++k) {
                // Loud music: a bass tone, a high tone and noise, near full scale.
                const double left =
                    0.5 * std::sin(k * 0.05 + n) + 0.3 * std::sin(k * 0.9) + 0.15 * noise(random);
                const double right = 0.5 * std::sin(k * 0.05 + n + 0.4) + 0.3 * noise(random);
                const auto l = static_cast<std::int16_t>(left * 32000);
                const auto r = static_cast<std::int16_t>(right * 32000);
                waves[n][k] = static_cast<std::uint16_t>(l) |
                              (std::uint32_t{static_cast<std::uint16_t>(r)} << 16);
            }
            for (int bin = 0; bin < 128; ++bin)
                spectra[n][bin] = static_cast<float>(std::fabs(noise(random)) / (1 + bin * 0.05));
        }
    }

    void Run(std::size_t n)
    {
        const TWaveBuffer& wave = waves[n % waves.size()];
        osc.RenderFrame(oscBox.Handle(), wave, 5, 52);
        circle.RenderFrame(circleBox.Handle(), wave, 100, 59);
        spectrum.RenderFrame(spectrumBox.Handle(), spectra[n % spectra.size()], 1, -1);
    }
};

void BM_VisualTick(benchmark::State& state)
{
    Tick tick;
    std::size_t n = 0;
    for (auto _ : state) {
        tick.Run(n++);
        benchmark::DoNotOptimize(tick.oscBox.Bits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_VisualTick)->Unit(benchmark::kMicrosecond);

// Each visualiser on its own, to see where a tick's time goes.
void BM_Oscilloscope(benchmark::State& state)
{
    Tick tick;
    std::size_t n = 0;
    for (auto _ : state)
        tick.osc.RenderFrame(tick.oscBox.Handle(), tick.waves[n++ % 16], 5, 52);
}
BENCHMARK(BM_Oscilloscope)->Unit(benchmark::kMicrosecond);

void BM_CircleScope(benchmark::State& state)
{
    Tick tick;
    std::size_t n = 0;
    for (auto _ : state)
        tick.circle.RenderFrame(tick.circleBox.Handle(), tick.waves[n++ % 16], 100, 59);
}
BENCHMARK(BM_CircleScope)->Unit(benchmark::kMicrosecond);

void BM_Spectrum(benchmark::State& state)
{
    Tick tick;
    std::size_t n = 0;
    for (auto _ : state)
        tick.spectrum.RenderFrame(tick.spectrumBox.Handle(), tick.spectra[n++ % 16], 1, -1);
}
BENCHMARK(BM_Spectrum)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
