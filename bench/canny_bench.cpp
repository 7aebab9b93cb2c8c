// Canny edge logo detector on a full 1080p corner: 64 band images of 1344 x 388 bytes,
// the NE region of 672 x 194 pixels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/canny_gradient.h"
#include "analysis/settings.h"
#include "analysis/hysteresis.h"

namespace {

constexpr int band_w2 = 1344, band_h2 = 388;
constexpr int region_width = 672, region_height = 194;
constexpr int start = band_w2 / 2; // NE corner
constexpr int sample_count = 64;

// Waves, blocks and noise that differ from sample to sample, and a fixed "logo".
std::vector<band_sample> textured_samples(int count) {
    std::vector<band_sample> samples(count);
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> phase(0, 6.28);
    for (auto& s : samples) {
        s.image.reset(new uint8_t[size_t(band_w2) * band_h2]);
        s.corner_flags = 15;
        const double a = phase(rng), b = phase(rng), f = 0.05 + phase(rng) / 40;
        for (int y = 0; y < band_h2; ++y)
            for (int x = 0; x < band_w2; ++x) {
                double v = 120 + 60 * std::sin(x * f + a) * std::cos(y * f * 0.7 + b) +
                           30 * (((x + int(a * 10)) / 13 + y / 9) % 2) + int(rng() % 31) - 15;
                if (x >= band_w2 - 120 && x < band_w2 - 40 && y >= 30 && y < 70)
                    v = (x / 8 + y / 8) % 2 ? 235 : 40;
                s.image[size_t(y) * band_w2 + x] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
    }
    return samples;
}

void BM_canny_logo(benchmark::State& state) {
    const auto samples = textured_samples(sample_count);
    sw = Settings{};
    sw.frames = sample_count;
    std::vector<uint8_t> mask(region_width * region_height / 8);
    for (auto _ : state) {
        // Not const: Google Benchmark 1.9 deprecates DoNotOptimize of a const value.
        int result = canny_logo(band_w2, band_h2, region_width, region_height, start,
                                samples.data(), mask.data(), 1);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(mask.data());
    }
    state.counters["per_sample"] = benchmark::Counter(
        sample_count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_canny_logo)->Unit(benchmark::kMillisecond);

// The stages of one sample, to see where the time goes.
struct one_sample {
    std::vector<float> blurred = std::vector<float>(region_width * region_height);
    std::vector<int16_t> smoothed = std::vector<int16_t>(region_width * region_height);
    std::vector<int16_t> dx = smoothed, dy = smoothed, magnitude = smoothed;
    std::vector<uint8_t> suppressed = std::vector<uint8_t>(region_width * region_height);
    std::vector<uint8_t> edges = suppressed;
    std::vector<band_sample> samples = textured_samples(1);
    int size = 0;
    std::unique_ptr<float[]> kernel = gaussian_kernel(1.2f, size);

    void gradient() {
        canny_gradient(samples[0].image.get() + start, band_w2, region_width, region_height,
                       kernel.get(), size, blurred.data(), smoothed.data(), dx.data(), dy.data(),
                       magnitude.data());
    }
    void suppress() {
        non_max_supp(magnitude.data(), dx.data(), dy.data(), region_height, region_width,
                     suppressed.data());
    }
    void hysteresis() {
        apply_hysteresis(magnitude.data(), suppressed.data(), region_height, region_width,
                         edges.data(), 0.3f, 0.8f);
    }
};

void BM_gradient(benchmark::State& state) {
    one_sample s;
    for (auto _ : state) {
        s.gradient();
        benchmark::DoNotOptimize(s.magnitude.data());
    }
}
BENCHMARK(BM_gradient)->Unit(benchmark::kMicrosecond);

void BM_non_max_supp(benchmark::State& state) {
    one_sample s;
    s.gradient();
    for (auto _ : state) {
        s.suppress();
        benchmark::DoNotOptimize(s.suppressed.data());
    }
}
BENCHMARK(BM_non_max_supp)->Unit(benchmark::kMicrosecond);

void BM_apply_hysteresis(benchmark::State& state) {
    one_sample s;
    s.gradient();
    s.suppress();
    for (auto _ : state) {
        s.hysteresis();
        benchmark::DoNotOptimize(s.edges.data());
    }
}
BENCHMARK(BM_apply_hysteresis)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
