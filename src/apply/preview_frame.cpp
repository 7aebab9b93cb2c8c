// The preview picture: one key frame decoded and turned into RGB with libswscale, the
// rectangles drawn over it, written as an RGB PNG.
#include "apply/preview_frame.h"

#include <spng.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "analysis/mask_bits.h"
#include "analysis/picture_writers.h"
#include "apply/filter_chain.h"
#include "apply/frame_restorer.h"
#include "video/key_frames.h"

namespace {

struct rgb_picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // 3 bytes a pixel, rows of 3 * width bytes
};

// A decoded frame in RGB.
int to_rgb(const AVFrame* frame, rgb_picture& out) {
    out.width = frame->width;
    out.height = frame->height;
    sws_ptr sws(sws_getContext(
        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
        frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws) return AVERROR(EINVAL);
    out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, 0);
    uint8_t* planes[1] = {out.pixels.data()};
    const int strides[1] = {3 * out.width};
    sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return 0;
}

// The key frame at or before the middle of the file, in RGB, and with `restoring` (when
// set) the same frame restored. 0, FFmpeg's error code, or 1 after a message.
int decode_middle_frame(const std::string& input, const preview_restoration* restoring,
                        rgb_picture& out, rgb_picture& restored) {
    video_input in;
    int ret = open_video(input.c_str(), nullptr, false, in);
    if (ret < 0) return ret;
    if (known_duration(in) > 0) seek_to_pass(in, 1, 1);
    frame_ptr frame(av_frame_alloc());
    packet_ptr packet(av_packet_alloc());
    if (!frame || !packet) return AVERROR(ENOMEM);
    int code = 0;
    if (read_key_frame(in, packet.get(), frame.get(), code) != pass_end::captured)
        return code < 0 ? code : AVERROR_INVALIDDATA;
    if ((ret = to_rgb(frame.get(), out)) < 0 || !restoring) return ret;
    if ((ret = av_frame_make_writable(frame.get())) < 0) return ret;
    const frame_layout layout = layout_for(frame->format, frame->width, frame->height);
    auto plan = std::make_shared<restoration>();
    const std::string error =
        plan_for(*restoring->logo, restoring->picture, layout, restoring->interlaced, *plan);
    if (!error.empty()) {
        fprintf(stderr, "delogo-apply: cannot restore the preview frame: %s\n", error.c_str());
        return 1;
    }
    plane_data planes[3];
    for (int k = 0; k < plan->planes; ++k)
        planes[k] = plane_data{frame->data[k], frame->linesize[k]};
    restore_frame(*plan, planes);
    return to_rgb(frame.get(), restored);
}

void put_pixel(rgb_picture& p, int x, int y, const uint8_t colour[3]) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    memcpy(&p.pixels[(static_cast<size_t>(y) * p.width + x) * 3], colour, 3);
}

void draw_rect(rgb_picture& p, const frame_rect& r, const uint8_t colour[3]) {
    if (r.w <= 0 || r.h <= 0) return;
    for (int x = r.x; x < r.x + r.w; ++x) {
        put_pixel(p, x, r.y, colour);
        put_pixel(p, x, r.y + r.h - 1, colour);
    }
    for (int y = r.y; y < r.y + r.h; ++y) {
        put_pixel(p, r.x, y, colour);
        put_pixel(p, r.x + r.w - 1, y, colour);
    }
}

// The mask's outline: its pixels with a 4-neighbour outside it.
void draw_mask_outline(rgb_picture& p, const analysis_result& r, const uint8_t colour[3]) {
    const std::vector<uint8_t> mask = frame_mask(r);
    auto inside = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < r.frame_width && y < r.frame_height &&
               mask[static_cast<size_t>(y) * r.frame_width + x] != 0;
    };
    for (int y = 0; y < r.frame_height; ++y)
        for (int x = 0; x < r.frame_width; ++x)
            if (inside(x, y) &&
                !(inside(x - 1, y) && inside(x + 1, y) && inside(x, y - 1) && inside(x, y + 1)))
                put_pixel(p, x, y, colour);
}

} // namespace

int write_preview(const std::string& input, const analysis_result& result,
                  const std::string& png_path, const std::string& name,
                  const preview_restoration* restoring) {
    rgb_picture picture, restored;
    const int decoded = decode_middle_frame(input, restoring, picture, restored);
    if (decoded == 1) return 1;
    if (decoded < 0) {
        char text[64] = {0};
        av_strerror(decoded, text, sizeof text);
        fprintf(stderr, "delogo-apply: cannot decode a preview frame: %s\n", text);
        return 1;
    }
    static const uint8_t green[3] = {0, 255, 0}, red[3] = {255, 0, 0};
    if (result.has_crop) draw_rect(picture, result.crop, green);
    for (int i = 0; i < result.logo_count && i < 2; ++i)
        draw_rect(picture, result.logos[i], red);
    if (result.has_mask) draw_mask_outline(picture, result, red);
    if (restoring) {
        // Side by side: the frame as it is, with what was found drawn on it, and restored.
        rgb_picture both;
        both.width = 2 * picture.width;
        both.height = picture.height;
        both.pixels.resize(size_t(both.width) * both.height * 3);
        const size_t row = size_t(picture.width) * 3;
        for (int y = 0; y < picture.height; ++y) {
            memcpy(&both.pixels[2 * row * y], &picture.pixels[row * y], row);
            memcpy(&both.pixels[2 * row * y + row], &restored.pixels[row * y], row);
        }
        picture = std::move(both);
    }
    const int written =
        save_rgb_png(png_path.c_str(), picture.width, picture.height, picture.pixels.data());
    if (written != 0) {
        fprintf(stderr, "delogo-apply: cannot write %s: %s\n", name.c_str(),
                written == SPNG_IO_ERROR ? strerror(errno) : spng_strerror(written));
        return 1;
    }
    return 0;
}
