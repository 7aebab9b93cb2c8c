// The analysis on synthetic band images of broadcast geometry: the whole crop_delogo
// call with each detector (static-pixel and Canny), and the static-pixel detector alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/crop_delogo.h"
#include "analysis/settings.h"
#include "analysis/static_pixels.h"

namespace {

// Band images of `count` samples: black bars on the first and last `bar` rows, a static
// logo in the NE corner and noise that changes from sample to sample elsewhere.
std::vector<band_sample> make_samples(int count, int band_w2, int band_h2) {
    std::vector<band_sample> samples(count);
    uint32_t state = 12345;
    const int bar = band_h2 / 8;
    for (auto& s : samples) {
        const size_t size = static_cast<size_t>(band_w2) * band_h2;
        s.image.reset(new uint8_t[size]);
        s.corner_flags = 15;
        for (int y = 0; y < band_h2; ++y)
            for (int x = 0; x < band_w2; ++x) {
                state = state * 1664525u + 1013904223u;
                uint8_t v = static_cast<uint8_t>(32 + (state >> 24) % 200);
                if (y < bar || y >= band_h2 - bar) v = 8;
                if (y >= bar + 10 && y < bar + 60 && x >= band_w2 - 200 && x < band_w2 - 60)
                    v = 235;
                s.image[static_cast<size_t>(y) * band_w2 + x] = v;
            }
    }
    return samples;
}

// Standard output goes to /dev/null while the analysis prints its lines.
struct quiet_stdout {
    int saved;
    quiet_stdout() {
        fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~quiet_stdout() {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

// The picture goes to a fresh temporary directory.
void enter_temp_dir() {
    static bool done = false;
    if (done) return;
    char dir[] = "/tmp/analysis_bench_XXXXXX";
    if (mkdtemp(dir) && chdir(dir) == 0) done = true;
}

// The whole analysis with the detector of `flags` (0, or FLAG_CANNY).
void run_crop_delogo(benchmark::State& state, uint8_t flags) {
    const int band_w2 = static_cast<int>(state.range(0)),
              band_h2 = static_cast<int>(state.range(1));
    const int count = static_cast<int>(state.range(2));
    // 1080p and 4K frames with the default band percentages.
    const int frame_width = band_w2 * 100 / 70, frame_height = band_h2 == 388 ? 1080 : 2160;
    enter_temp_dir();
    std::vector<band_sample> samples = make_samples(count, band_w2, band_h2);
    for (auto _ : state) {
        // The analysis may switch to mask mode (a flag): every run starts afresh.
        sw = Settings{};
        sw.frames = count;
        sw.flags |= flags;
        quiet_stdout quiet;
        crop_delogo(band_w2, band_h2, frame_width, frame_height, samples.data());
    }
    sw = Settings{};
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(band_w2) * band_h2 * count);
    state.counters["per_sample"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_crop_delogo(benchmark::State& state) {
    run_crop_delogo(state, 0);
}
BENCHMARK(BM_crop_delogo)
    ->Args({1344, 388, 64})
    ->Args({1344, 388, 500})
    ->Args({2688, 776, 64})
    ->Args({2688, 776, 500})
    ->Unit(benchmark::kMillisecond);

void BM_crop_delogo_canny(benchmark::State& state) {
    run_crop_delogo(state, FLAG_CANNY);
}
BENCHMARK(BM_crop_delogo_canny)
    ->Args({1344, 388, 64})
    ->Args({1344, 388, 500})
    ->Args({2688, 776, 64})
    ->Args({2688, 776, 500})
    ->Unit(benchmark::kMillisecond);

// One corner region (half the band image) of a mask that starts all static.
void BM_distance_logo(benchmark::State& state) {
    const int band_w2 = static_cast<int>(state.range(0)),
              band_h2 = static_cast<int>(state.range(1));
    const int count = static_cast<int>(state.range(2));
    std::vector<band_sample> samples = make_samples(count, band_w2, band_h2);
    sw = Settings{};
    sw.frames = count;
    const int region_width = band_w2 / 2, region_height = band_h2 / 2;
    std::vector<uint8_t> mask(static_cast<size_t>(region_width) / 8 * region_height);
    for (auto _ : state) {
        memset(mask.data(), 0, mask.size());
        distance_logo(band_w2, band_h2, region_width, region_height, band_w2 / 2, samples.data(),
                      mask.data(), 1);
        benchmark::DoNotOptimize(mask.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(region_width) *
                            region_height * count);
}
BENCHMARK(BM_distance_logo)
    ->Args({1344, 388, 64})
    ->Args({1344, 388, 500})
    ->Args({2688, 776, 64})
    ->Args({2688, 776, 500})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
