// The band copy of one 1080p sample with the default bands, per way of taking its luma:
// 8-bit bytes (yuv420p), 10-bit samples shifted (yuv420p10le, P010), and libswscale's
// conversion of the band rows (RGB, planar RGB, packed YUV). For comparison, libswscale
// converting a whole frame, which the band rows avoid.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "video/luma_bands.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int width = 1920, height = 1080;

// A frame of `name` with random bytes in every plane.
frame_ptr random_frame(const char* name) {
    frame_ptr frame(av_frame_alloc());
    frame->format = av_get_pix_fmt(name);
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    std::mt19937 random(1);
    for (int i = 0; i < AV_NUM_DATA_POINTERS && frame->buf[i]; ++i)
        for (size_t k = 0; k < frame->buf[i]->size; ++k)
            frame->buf[i]->data[k] = static_cast<uint8_t>(random());
    return frame;
}

void bands(benchmark::State& state, const char* name) {
    frame_ptr frame = random_frame(name);
    const band_geometry g{width, height, width * 35 / 100, height * 18 / 100};
    band_reader reader;
    if (!frame || !open_band_reader(static_cast<AVPixelFormat>(frame->format), g, reader)) {
        state.SkipWithError("format not readable");
        return;
    }
    std::vector<uint8_t> image(4 * static_cast<size_t>(g.band_w) * g.band_h);
    for (auto _ : state) {
        read_bands(reader, frame.get(), image.data());
        benchmark::DoNotOptimize(image.data());
    }
}

void whole_frame(benchmark::State& state, const char* name) {
    frame_ptr frame = random_frame(name);
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
    sws_ptr sws(sws_getContext(width, height, format, width, height, AV_PIX_FMT_GRAY8, SWS_POINT,
                               nullptr, nullptr, nullptr));
    std::vector<uint8_t> gray(static_cast<size_t>(width) * height);
    uint8_t* dst[4] = {gray.data()};
    const int dst_stride[4] = {width};
    for (auto _ : state) {
        sws_scale(sws.get(), frame->data, frame->linesize, 0, height, dst, dst_stride);
        benchmark::DoNotOptimize(gray.data());
    }
}

} // namespace

BENCHMARK_CAPTURE(bands, yuv420p, "yuv420p")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(bands, yuv420p10le, "yuv420p10le")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(bands, p010le, "p010le")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(bands, bgr0, "bgr0")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(bands, gbrp10le, "gbrp10le")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(bands, yuyv422, "yuyv422")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(whole_frame, bgr0, "bgr0")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(whole_frame, gbrp10le, "gbrp10le")->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
