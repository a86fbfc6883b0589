// One tick of the visualisation frame: the three visualisers at the main
// window's sizes and settings, drawing a busy wave and spectrum onto surfaces
// of the paint boxes' size, once with loud music and once with a signal
// louder than any music. The goal is under 20 microseconds a tick.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "circle_vis.h"
#include "osc_vis.h"
#include "scaling.h"
#include "spectrum_vis.h"

namespace {

std::uint32_t Frame(double left, double right)
{
    const auto l = static_cast<std::int16_t>(std::clamp(left, -1.0, 1.0) * 32767);
    const auto r = static_cast<std::int16_t>(std::clamp(right, -1.0, 1.0) * 32767);
    return static_cast<std::uint16_t>(l) | (std::uint32_t{static_cast<std::uint16_t>(r)} << 16);
}

// The 128 magnitudes the audio library reports for a capture: a 256-point
// FFT with a Hann window of the channels mixed, scaled so that a full-scale
// sine at a bin's centre reads 1.0.
TSpectrumBuffer SpectrumOf(const TWaveBuffer& wave)
{
    constexpr double kPi = 3.14159265358979323846;
    TSpectrumBuffer spectrum{};
    for (int bin = 0; bin < 128; ++bin) {
        double re = 0, im = 0;
        for (int k = 0; k < 256; ++k) {
            const double mixed = ChannelSum(wave[k]) / 65536.0;
            const double window = 0.5 - 0.5 * std::cos(2 * kPi * k / 256);
            re += mixed * window * std::cos(2 * kPi * bin * k / 256);
            im -= mixed * window * std::sin(2 * kPi * bin * k / 256);
        }
        spectrum[bin] = static_cast<float>(std::hypot(re, im) * 4 / 256);
    }
    return spectrum;
}

enum class Loudness { Music, Extreme };

// A paint box's pixels, in the screen's order as the bitmaps' are.
struct ScreenBox {
    std::vector<std::uint32_t> pixels;
    TDrawSurface surface;
    ScreenBox(int width, int height) : pixels(static_cast<std::size_t>(width * height), 0xFF000000u)
    {
        surface.Bits = pixels.data();
        surface.Width = width;
        surface.Stride = width;
        surface.Height = height;
    }
    HDC Handle() { return &surface; }
    const std::uint32_t* Bits() const { return surface.Bits; }
};

struct Tick {
    TCircleScope circle{201, 118};
    TOcilloScope osc{257, 105};
    TSpectrum spectrum{257, 105};
    ScreenBox oscBox{257, 105}, circleBox{201, 118}, spectrumBox{257, 105};
    // Sixteen different captures, so that bars rise and fall as with music.
    std::vector<TWaveBuffer> waves;
    std::vector<TSpectrumBuffer> spectra;

    explicit Tick(Loudness loudness) : waves(16), spectra(16)
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
                const double t = static_cast<double>(k + 512 * n);
                if (loudness == Loudness::Music) {
                    // Loud, compressed pop music: bass, a chord, hi-hat noise;
                    // peaks near full scale (44.1 kHz sample steps).
                    const double bass = 0.45 * std::sin(t * 0.0114) + 0.15 * std::sin(t * 0.0228);
                    const double chord = 0.12 * std::sin(t * 0.0373) + 0.1 * std::sin(t * 0.047) +
                                         0.08 * std::sin(t * 0.0559);
                    const double hats = 0.06 * noise(random);
                    waves[n][k] = Frame(bass + chord + hats, bass + 0.9 * chord + hats);
                } else {
                    // Beyond any music: a near-full-scale mix with a strong high
                    // tone, so that every point jumps and every bar stands tall.
                    const double left = 0.5 * std::sin(k * 0.05 + n) + 0.3 * std::sin(k * 0.9) +
                                        0.15 * noise(random);
                    const double right = 0.5 * std::sin(k * 0.05 + n + 0.4) + 0.3 * noise(random);
                    waves[n][k] = Frame(left, right);
                }
            }
            if (loudness == Loudness::Music) {
                spectra[n] = SpectrumOf(waves[n]);
            } else {
                for (int bin = 0; bin < 128; ++bin)
                    spectra[n][bin] =
                        static_cast<float>(std::fabs(noise(random)) / (1 + bin * 0.05));
            }
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

void BM_VisualTick(benchmark::State& state, Loudness loudness)
{
    Tick tick(loudness);
    std::size_t n = 0;
    for (auto _ : state) {
        tick.Run(n++);
        benchmark::DoNotOptimize(tick.oscBox.Bits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(BM_VisualTick, music, Loudness::Music)->Unit(benchmark::kMicrosecond);

// The same, as in the program: between two ticks, 10 ms of other work (the
// decoder, the toolkit, other programs) has pushed the pictures out of the
// processor's caches. Here a walk through 48 MiB does that, untimed.
void BM_VisualTickCold(benchmark::State& state)
{
    Tick tick(Loudness::Music);
    std::vector<std::uint64_t> other(std::size_t{6} << 20, 1);
    std::size_t n = 0;
    std::uint64_t sum = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < other.size(); i += 8)
            sum += other[i]++;
        benchmark::DoNotOptimize(sum);
        state.ResumeTiming();
        tick.Run(n++);
        benchmark::DoNotOptimize(tick.oscBox.Bits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_VisualTickCold)->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK_CAPTURE(BM_VisualTick, extreme, Loudness::Extreme)->Unit(benchmark::kMicrosecond);

// Each visualiser on its own with music, to see where a tick's time goes.
void BM_Oscilloscope(benchmark::State& state)
{
    Tick tick(Loudness::Music);
    std::size_t n = 0;
    for (auto _ : state)
        tick.osc.RenderFrame(tick.oscBox.Handle(), tick.waves[n++ % 16], 5, 52);
}
BENCHMARK(BM_Oscilloscope)->Unit(benchmark::kMicrosecond);

void BM_CircleScope(benchmark::State& state)
{
    Tick tick(Loudness::Music);
    std::size_t n = 0;
    for (auto _ : state)
        tick.circle.RenderFrame(tick.circleBox.Handle(), tick.waves[n++ % 16], 100, 59);
}
BENCHMARK(BM_CircleScope)->Unit(benchmark::kMicrosecond);

void BM_Spectrum(benchmark::State& state)
{
    Tick tick(Loudness::Music);
    std::size_t n = 0;
    for (auto _ : state)
        tick.spectrum.RenderFrame(tick.spectrumBox.Handle(), tick.spectra[n++ % 16], 1, -1);
}
BENCHMARK(BM_Spectrum)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
