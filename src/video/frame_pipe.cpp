// NUT in, NUT out, through libavformat's pipe protocol on the descriptors we are given.
#include "video/frame_pipe.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

std::string av_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

struct output_closer {
    void operator()(AVFormatContext* c) const {
        if (c->pb) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using output_ptr = std::unique_ptr<AVFormatContext, output_closer>;

} // namespace

std::string open_frame_pipe(int fd, frame_pipe_input& in) {
    const AVInputFormat* nut = av_find_input_format("nut");
    if (!nut) return "this FFmpeg has no NUT demuxer";
    AVFormatContext* c = nullptr;
    const std::string url = "pipe:" + std::to_string(fd);
    int ret = avformat_open_input(&c, url.c_str(), nut, nullptr);
    if (ret < 0) return av_text(ret);
    in.format.reset(c);
    if ((ret = avformat_find_stream_info(c, nullptr)) < 0) return av_text(ret);
    in.stream = av_find_best_stream(c, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (in.stream < 0) return "no video in the frames";
    const AVCodecParameters* p = c->streams[in.stream]->codecpar;
    if (p->codec_id != AV_CODEC_ID_RAWVIDEO || p->format < 0 || p->width <= 0 || p->height <= 0)
        return "the frames are not raw pictures";
    return "";
}

int64_t start_time_us(const frame_pipe_input& in) {
    return in.format->start_time == AV_NOPTS_VALUE ? 0 : in.format->start_time;
}

frame_layout layout_for(int format, int width, int height) {
    frame_layout l;
    l.width = width;
    l.height = height;
    l.format = format;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (d) {
        l.depth = d->comp[0].depth;
        l.planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(format));
        l.shift_x = d->log2_chroma_w;
        l.shift_y = d->log2_chroma_h;
    }
    return l;
}

frame_layout layout_of(const frame_pipe_input& in) {
    const AVCodecParameters* p = in.format->streams[in.stream]->codecpar;
    return layout_for(p->format, p->width, p->height);
}

std::string pass_frames(frame_pipe_input& in, int fd, const frame_change& change,
                        const std::function<bool()>& stop) {
    struct fd_closer {
        int fd;
        ~fd_closer() { close(fd); }
    } closer{fd};
    const AVStream* source = in.format->streams[in.stream];
    AVFormatContext* raw = nullptr;
    int ret = avformat_alloc_output_context2(&raw, nullptr, "nut", nullptr);
    if (ret < 0) return av_text(ret);
    output_ptr out(raw);
    AVStream* st = avformat_new_stream(raw, nullptr);
    if (!st) return av_text(AVERROR(ENOMEM));
    if ((ret = avcodec_parameters_copy(st->codecpar, source->codecpar)) < 0) return av_text(ret);
    st->time_base = source->time_base;
    st->sample_aspect_ratio = source->sample_aspect_ratio;
    // The pipe protocol writes to the descriptor and leaves closing it to us.
    const std::string url = "pipe:" + std::to_string(fd);
    if ((ret = avio_open(&raw->pb, url.c_str(), AVIO_FLAG_WRITE)) < 0) return av_text(ret);
    if ((ret = avformat_write_header(raw, nullptr)) < 0) return av_text(ret);

    const AVCodecParameters* p = source->codecpar;
    const AVPixelFormat format = static_cast<AVPixelFormat>(p->format);
    const int size = av_image_get_buffer_size(format, p->width, p->height, 1);
    if (size < 0) return av_text(size);
    // Frames looked at and waiting for their change, oldest first.
    std::deque<packet_ptr> waiting;
    auto planes_of = [&](AVPacket* packet, uint8_t* planes[4], int strides[4]) {
        av_image_fill_arrays(planes, strides, packet->data, format, p->width, p->height, 1);
    };
    auto write_oldest = [&]() -> std::string {
        packet_ptr packet = std::move(waiting.front());
        waiting.pop_front();
        uint8_t* planes[4];
        int strides[4];
        planes_of(packet.get(), planes, strides);
        if (change.change) change.change(planes, strides);
        av_packet_rescale_ts(packet.get(), source->time_base, st->time_base);
        packet->stream_index = 0;
        packet->pos = -1;
        const int written = av_write_frame(raw, packet.get());
        return written < 0 ? "writing the frames: " + av_text(written) : "";
    };
    std::string error;
    while (!stop()) {
        packet_ptr packet(av_packet_alloc());
        if (!packet) {
            error = av_text(AVERROR(ENOMEM));
            break;
        }
        ret = av_read_frame(in.format.get(), packet.get());
        if (ret == AVERROR_EOF) break;
        if (ret < 0) {
            error = "reading the frames: " + av_text(ret);
            break;
        }
        if (packet->stream_index != in.stream) continue;
        if (packet->size != size || (ret = av_packet_make_writable(packet.get())) < 0) {
            error = "a frame of " + std::to_string(packet->size) + " bytes, not " +
                    std::to_string(size);
            break;
        }
        uint8_t* planes[4];
        int strides[4];
        planes_of(packet.get(), planes, strides);
        if (change.look) change.look(planes, strides);
        waiting.push_back(std::move(packet));
        if (int(waiting.size()) > change.look_ahead && !(error = write_oldest()).empty()) break;
    }
    while (error.empty() && !waiting.empty() && !stop())
        error = write_oldest();
    if ((ret = av_write_trailer(raw)) < 0 && error.empty())
        error = "writing the frames: " + av_text(ret);
    avio_closep(&raw->pb);
    return error;
}
