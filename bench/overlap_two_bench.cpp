// Two-rectangle cover of an L-shaped logo whose box fills a whole corner region.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/settings.h"
#include "analysis/two_rectangles.h"

namespace {

// A region_width x region_height mask with an L: a bar down the left fifth of the box and
// a bar along its bottom quarter; everything else background.
std::vector<uint8_t> l_shaped_mask(int region_width, int region_height) {
    std::vector<uint8_t> mask(size_t(region_width / 8) * region_height, 0xFF);
    for (int y = 0; y < region_height; ++y)
        for (int x = 0; x < region_width; ++x)
            if (x < region_width / 5 || y >= region_height * 3 / 4)
                mask[size_t(y) * (region_width / 8) + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    return mask;
}

void cover_l_shape(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const std::vector<uint8_t> mask = l_shaped_mask(width, height);
    const box logo_box{0, height - 1, 0, width - 1};
    sw = Settings{};
    box a{}, b{};
    for (auto _ : state) {
        // Not const: Google Benchmark 1.9 deprecates DoNotOptimize of a const value.
        int result = overlap_tworect(mask.data(), width, height, logo_box, a, b);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}

} // namespace

// Corner regions of a 1080p and a 4K frame with the default band sizes.
BENCHMARK(cover_l_shape)->Args({672, 194})->Args({1344, 388})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
