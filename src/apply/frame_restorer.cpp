// Checks a pixel format against the model and hands FFmpeg's planes to the restoration.
#include "apply/frame_restorer.h"

#include <deque>

extern "C" {
#include <libavutil/pixdesc.h>
}

std::string plan_for(const frame_logo& logo, const frame_rect& picture, const frame_layout& layout,
                     bool interlaced, restoration& out) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(layout.format));
    const std::string name = d ? d->name : "unknown";
    if (layout.width != logo.width || layout.height != logo.height)
        return "the frames are " + std::to_string(layout.width) + "x" +
               std::to_string(layout.height) + ", the logo model " + std::to_string(logo.width) +
               "x" + std::to_string(logo.height);
    const bool planar_yuv = d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL |
                                              AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_HWACCEL |
                                              AV_PIX_FMT_FLAG_FLOAT)) &&
                            (d->flags & AV_PIX_FMT_FLAG_PLANAR || d->nb_components == 1) &&
                            (layout.planes == 1 || layout.planes == 3) &&
                            d->comp[0].shift == 0 && d->comp[0].depth >= 8 &&
                            d->comp[0].depth <= 16 &&
                            d->comp[0].step == (d->comp[0].depth > 8 ? 2 : 1);
    const bool own_order = !(d && (d->flags & AV_PIX_FMT_FLAG_BE)) || layout.depth <= 8;
    if (!planar_yuv || !own_order) return "pictures in " + name + " cannot be restored";
    if (layout.planes == 3 && (layout.shift_x != logo.shift_x || layout.shift_y != logo.shift_y))
        return "the frames' chroma (" + name + ") is not the logo model's";
    out = plan_restoration(logo, picture, layout.planes, layout.depth, interlaced);
    return "";
}

frame_change restoring_change(std::shared_ptr<const restoration> plan) {
    // The chain holds back as many frames as the pipe looks ahead: the frame the pipe
    // changes is always the oldest the chain has finished, or, once the stream has ended,
    // one that finishing the chain gives.
    struct state {
        stage_chain chain;
        work_layout layout;
        long long next = 0;
        std::deque<std::unique_ptr<work_frame>> done;
        explicit state(std::shared_ptr<const restoration> p)
            : chain(restoration_stages(p)), layout(layout_of(*p)) {}
    };
    auto s = std::make_shared<state>(plan);
    auto frame_of = [plan](uint8_t* planes[4], const int strides[4], plane_data frame[3]) {
        for (int k = 0; k < plan->planes; ++k)
            frame[k] = plane_data{planes[k], strides[k]};
    };
    frame_change c;
    c.look_ahead = s->chain.delay();
    c.look = [s, frame_of](uint8_t* planes[4], const int strides[4]) {
        plane_data frame[3];
        frame_of(planes, strides, frame);
        frame_list out;
        s->chain.push(read_work(s->layout, frame, s->next++), out);
        for (auto& f : out)
            s->done.push_back(std::move(f));
    };
    c.change = [s, frame_of](uint8_t* planes[4], const int strides[4]) {
        if (s->done.empty()) {
            frame_list out;
            s->chain.finish(out);
            for (auto& f : out)
                s->done.push_back(std::move(f));
        }
        if (s->done.empty()) return;
        plane_data frame[3];
        frame_of(planes, strides, frame);
        write_work(s->layout, *s->done.front(), frame);
        s->done.pop_front();
    };
    return c;
}
