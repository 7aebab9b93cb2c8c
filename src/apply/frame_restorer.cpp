// Checks a pixel format against the model, and passes the NUT through with each picture's
// work area going through the chain of stages.
#include "apply/frame_restorer.h"

#include <algorithm>
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

chain_maker restoring_chain(std::shared_ptr<const frame_logo> logo, const frame_rect& picture,
                            bool interlaced) {
    return [logo, picture, interlaced](const frame_layout& layout, int max_delay,
                                       frame_chain& out) mutable {
        if (!logo) return std::string("the logo model was let go after its chain was made");
        auto plan = std::make_shared<restoration>();
        const std::string error = plan_for(*logo, picture, layout, interlaced, *plan);
        logo.reset();
        if (!error.empty()) return error;
        out.chain = std::make_unique<stage_chain>(restoration_stages(plan, max_delay));
        out.work = layout_of(*plan);
        return std::string();
    };
}

namespace {

// A packet read and not written yet; a picture waits for the chain.
struct held_packet {
    packet_ptr packet;
    bool waiting = false;
};

} // namespace

frames_end restore_pass(int in_fd, int out_fd, const chain_maker& make,
                        int64_t chapter_shift_us, const std::function<bool()>& stop) {
    frames_end end;
    nut_output out;
    out.fd = out_fd;
    nut_input in;
    if (!(end.error = open_nut_input(in_fd, in)).empty()) return end;
    const frame_layout layout = in.format->nb_streams > 0 ? layout_of(in, 0) : frame_layout();
    if (layout.format < 0 || layout.bytes <= 0) {
        end.error = "the frames are not raw pictures";
        return end;
    }
    frame_chain chain;
    const int max_delay = int(std::max<int64_t>(1, held_pictures_budget / layout.bytes));
    if (!(end.error = make(layout, max_delay, chain)).empty()) return end;
    if (!(end.error = open_nut_output(in, chapter_shift_us, out)).empty()) return end;

    // Packets in the order read; the pictures among them still in the chain, oldest first
    // (a deque keeps its elements in place when it grows or shrinks at its ends).
    std::deque<held_packet> held;
    std::deque<held_packet*> in_chain;
    long long pictures = 0;
    auto planes_of = [&](AVPacket* packet, plane_data frame[3]) {
        uint8_t* planes[4];
        int strides[4];
        picture_planes(layout, packet->data, planes, strides);
        for (int k = 0; k < 3; ++k)
            frame[k] = plane_data{planes[k], strides[k]};
    };
    auto finished = [&](frame_list& done) {
        for (const std::unique_ptr<work_frame>& f : done) {
            plane_data frame[3];
            planes_of(in_chain.front()->packet.get(), frame);
            write_work(chain.work, *f, frame);
            in_chain.front()->waiting = false;
            in_chain.pop_front();
        }
        done.clear();
    };
    auto write_ready = [&]() {
        while (end.error.empty() && !held.empty() && !held.front().waiting) {
            end.error = write_nut_packet(in, out, held.front().packet.get());
            held.pop_front();
        }
    };
    frame_list done;
    bool ended = false;
    while (end.error.empty() && !stop()) {
        packet_ptr packet(av_packet_alloc());
        if (!packet) {
            end.error = "out of memory";
            break;
        }
        const int read = read_nut_packet(in, packet.get(), end.error);
        if (read < 0) break;
        if (read == 0) {
            ended = true;
            break;
        }
        const bool picture = packet->stream_index == 0;
        if (picture && (packet->size != layout.bytes || av_packet_make_writable(packet.get()) < 0)) {
            end.error = "a frame of " + std::to_string(packet->size) + " bytes, not " +
                        std::to_string(layout.bytes);
            break;
        }
        held.push_back(held_packet{std::move(packet), picture});
        if (picture) {
            in_chain.push_back(&held.back());
            plane_data frame[3];
            planes_of(held.back().packet.get(), frame);
            chain.chain->push(read_work(chain.work, frame, pictures++), done);
            finished(done);
        }
        write_ready();
    }
    if (ended && end.error.empty()) {
        chain.chain->finish(done);
        finished(done);
        write_ready();
    }
    const std::string closing = close_nut_output(out);
    if (end.error.empty() && ended) end.error = closing;
    end.reader_gone = out.reader_gone;
    return end;
}
