// Owners of FFmpeg objects for the code that drives FFmpeg (the command-line module, and
// the tests and benchmarks that encode, decode or time videos).
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct input_closer {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct codec_freer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct frame_freer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct packet_freer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using input_ptr = std::unique_ptr<AVFormatContext, input_closer>; // from avformat_open_input
using codec_ptr = std::unique_ptr<AVCodecContext, codec_freer>;
using frame_ptr = std::unique_ptr<AVFrame, frame_freer>;
using packet_ptr = std::unique_ptr<AVPacket, packet_freer>;
