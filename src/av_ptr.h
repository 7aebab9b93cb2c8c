// Owners of FFmpeg objects, and the few decoding facts shared by the code that drives
// FFmpeg (the command-line module, and the tests and benchmarks that encode, decode or
// time videos). Every FFmpeg version test lives here: the code builds without a
// deprecation warning against FFmpeg 5.1 (Debian 12), 7.1 (Debian 13) and 9.0.
#pragma once

#include <cstdint>
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

// The largest frame the decoders may allocate, in pixels: a damaged or hostile header can
// claim a frame of gigabytes, and no broadcast picture comes near 8192 x 8192.
constexpr int64_t max_frame_pixels = int64_t{8192} * 8192;

// Whether a decoded frame is a key frame (the flag moved into `flags` in later FFmpeg).
inline bool is_key_frame(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    return (frame->flags & AV_FRAME_FLAG_KEY) != 0;
#else
    return frame->key_frame != 0;
#endif
}

// The decoder that av_find_best_stream hands back (const from libavformat 59 on).
#if LIBAVFORMAT_VERSION_MAJOR >= 59
using found_decoder = const AVCodec*;
#else
using found_decoder = AVCodec*;
#endif

// Mono audio for an encoder, and the encoder's layout for a frame it is to encode (the
// channel count and mask gave way to AVChannelLayout).
inline void set_mono(AVCodecContext* audio) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
    av_channel_layout_default(&audio->ch_layout, 1);
#else
    audio->channels = 1;
    audio->channel_layout = AV_CH_LAYOUT_MONO;
#endif
}
inline void copy_layout(AVFrame* samples, const AVCodecContext* audio) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
    av_channel_layout_copy(&samples->ch_layout, &audio->ch_layout);
#else
    samples->channel_layout = audio->channel_layout;
    samples->channels = audio->channels;
#endif
}
