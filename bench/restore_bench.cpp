// The restoration of one frame: a 200 x 80 logo region of a 1280 x 720 4:2:0 frame, half
// translucent letters and half an opaque block, the presence test and the restoration; 8
// and 10 bits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "logo/restoration.h"

namespace {

constexpr int W = 1280, H = 720, LX = 1040, LY = 40, LW = 200, LH = 80;

frame_logo region_logo() {
    frame_logo l;
    l.width = W;
    l.height = H;
    l.alpha.assign(size_t(W) * H, 0.0f);
    l.colour.assign(l.alpha.size(), 235.0f);
    for (int y = LY; y < LY + LH; ++y)
        for (int x = LX; x < LX + LW; ++x) {
            const bool stroke = (x / 6 + y / 9) % 3 == 0; // letter-like strokes
            if (x < LX + LW / 2)
                l.alpha[size_t(y) * W + x] = stroke ? 0.5f : 0.0f;
            else
                l.alpha[size_t(y) * W + x] = stroke ? 1.0f : 0.0f;
        }
    l.alpha_c.assign(size_t(W / 2) * (H / 2), 0.0f);
    l.colour_cb.assign(l.alpha_c.size(), 128.0f);
    l.colour_cr.assign(l.alpha_c.size(), 128.0f);
    for (int y = 0; y < H / 2; ++y)
        for (int x = 0; x < W / 2; ++x)
            l.alpha_c[size_t(y) * (W / 2) + x] = l.alpha[size_t(2 * y) * W + 2 * x];
    return l;
}

void restore_one_frame(benchmark::State& state) {
    const int depth = int(state.range(0));
    const int bytes = depth > 8 ? 2 : 1;
    const frame_logo logo = region_logo();
    const restoration r = plan_restoration(logo, frame_rect{0, 0, W, H}, 3, depth, false);
    std::vector<uint8_t> planes[3];
    plane_data frame[3];
    for (int k = 0; k < 3; ++k) {
        const int w = k ? W / 2 : W, h = k ? H / 2 : H;
        planes[k].assign(size_t(w) * h * bytes, 0);
        for (size_t i = 0; i < planes[k].size(); ++i)
            planes[k][i] = uint8_t(i * 7 % 200 / bytes);
        frame[k] = plane_data{planes[k].data(), ptrdiff_t(w * bytes)};
    }
    // A frame with the logo: its presence tested, then restored (the planes are restored
    // again and again: the work is the same whatever they hold).
    for (auto _ : state) {
        double evidence = logo_evidence(r, 0, frame);
        benchmark::DoNotOptimize(evidence);
        restore_frame(r, frame);
        benchmark::DoNotOptimize(planes[0].data());
    }
    state.SetLabel(std::to_string(depth) + "-bit, 200x80 logo region");
}

} // namespace

BENCHMARK(restore_one_frame)->Arg(8)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
