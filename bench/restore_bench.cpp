// The restoration's cost per frame: the logo a sixth of the frame wide (as broadcasters
// place it), half translucent letters and half an opaque block, over a picture that pans,
// 8-bit 4:2:0 at 1080p and 4K. restore_one_frame: the preview's single frame (undone and
// filled from around it); restore_chain: every stage of the chain frame after frame
// (strength, undo, temporal fill over two seconds each way, spatial fill), the frames
// pushed in order; restore_chain_spatial_only: the same chain without the temporal fill,
// so that its share reads as the difference.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "logo/restoration.h"
#include "logo/temporal_fill.h"

namespace {

struct frames {
    int w = 0, h = 0;
    frame_logo logo;
    std::vector<std::vector<uint8_t>> planes[3]; // a few frames of a pan, each plane
};

frames make(int height) {
    frames f;
    f.h = height;
    f.w = height * 16 / 9;
    const int lw = f.w / 6, lh = f.w / 16, lx = f.w - lw - f.w / 24, ly = f.h / 24;
    frame_logo& l = f.logo;
    l.width = f.w;
    l.height = f.h;
    l.alpha.assign(size_t(f.w) * f.h, 0.0f);
    l.colour.assign(l.alpha.size(), 235.0f);
    for (int y = ly; y < ly + lh; ++y)
        for (int x = lx; x < lx + lw; ++x) {
            const bool stroke = (x * 6 / lw + y * 4 / lh) % 3 == 0; // letter-like strokes
            l.alpha[size_t(y) * f.w + x] = x < lx + lw / 2 ? (stroke ? 0.5f : 0.0f) : 1.0f;
        }
    l.alpha_c.assign(size_t(f.w / 2) * (f.h / 2), 0.0f);
    l.colour_cb.assign(l.alpha_c.size(), 128.0f);
    l.colour_cr.assign(l.alpha_c.size(), 128.0f);
    for (int y = 0; y < f.h / 2; ++y)
        for (int x = 0; x < f.w / 2; ++x)
            l.alpha_c[size_t(y) * (f.w / 2) + x] = l.alpha[size_t(2 * y) * f.w + 2 * x];
    for (int n = 0; n < 8; ++n)
        for (int k = 0; k < 3; ++k) {
            const int w = k ? f.w / 2 : f.w, h = k ? f.h / 2 : f.h;
            std::vector<uint8_t> p(size_t(w) * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double u = x - 1.5 * n / (k ? 2 : 1);
                    const double v = 120 + 60 * std::sin(u * 0.05) * std::cos(y * 0.04) +
                                     30 * std::sin((u + y) * 0.11);
                    // The logo blended in, as broadcast.
                    const float a = k ? l.alpha_c[size_t(y) * w + x] : l.alpha[size_t(y) * w + x];
                    p[size_t(y) * w + x] = uint8_t(a * (k ? 128.0 : 235.0) + (1 - a) * v);
                }
            f.planes[k].push_back(p);
        }
    return f;
}

const frames& sample(int height) {
    static frames f1080 = make(1080), f2160 = make(2160);
    return height == 1080 ? f1080 : f2160;
}

void restore_one_frame(benchmark::State& state) {
    const frames& f = sample(int(state.range(0)));
    const restoration r = plan_restoration(f.logo, frame_rect{0, 0, f.w, f.h}, 3, 8, false);
    std::vector<uint8_t> planes[3];
    plane_data frame[3];
    for (auto _ : state) {
        state.PauseTiming();
        for (int k = 0; k < 3; ++k) {
            planes[k] = f.planes[k][0];
            frame[k] = plane_data{planes[k].data(), ptrdiff_t(k ? f.w / 2 : f.w)};
        }
        state.ResumeTiming();
        restore_frame(r, frame);
        benchmark::DoNotOptimize(planes[0].data());
    }
}

void run_chain(benchmark::State& state, bool temporal) {
    const frames& f = sample(int(state.range(0)));
    auto plan = std::make_shared<restoration>(
        plan_restoration(f.logo, frame_rect{0, 0, f.w, f.h}, 3, 8, false));
    std::vector<std::unique_ptr<frame_stage>> stages;
    if (temporal) {
        stages = restoration_stages(plan, default_reach + 2);
    } else {
        stages.push_back(std::make_unique<strength_stage>(plan));
        stages.push_back(std::make_unique<undo_stage>(plan));
        stages.push_back(std::make_unique<spatial_stage>(plan));
    }
    stage_chain chain(std::move(stages));
    const work_layout l = layout_of(*plan);
    long long n = 0;
    frame_list done;
    for (auto _ : state) {
        plane_data frame[3];
        for (int k = 0; k < 3; ++k)
            frame[k] = plane_data{const_cast<uint8_t*>(f.planes[k][size_t(n % 8)].data()),
                                  ptrdiff_t(k ? f.w / 2 : f.w)};
        chain.push(read_work(l, frame, n++), done);
        done.clear();
    }
    state.SetLabel(std::to_string(l.w[0]) + "x" + std::to_string(l.h[0]) + " work area");
}

void restore_chain(benchmark::State& state) { run_chain(state, true); }
void restore_chain_spatial_only(benchmark::State& state) { run_chain(state, false); }

} // namespace

BENCHMARK(restore_one_frame)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
// (enough frames that the chain's look-ahead is full and its time per frame steady)
BENCHMARK(restore_chain)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(restore_chain_spatial_only)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK_MAIN();
