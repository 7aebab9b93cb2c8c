// Owners of FFmpeg objects (libswscale's included), and the few decoding facts shared by
// the code that drives FFmpeg (the sampler, and the tests and benchmarks that encode,
// decode or time videos). Every FFmpeg version test lives here: the code builds without a
// deprecation warning against FFmpeg 5.1 (Debian 12), 7.1 (Debian 13) and 9.0.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
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

struct sws_freer {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct av_freer {
    void operator()(uint8_t* p) const { av_free(p); }
};

using sws_ptr = std::unique_ptr<SwsContext, sws_freer>; // from sws_getContext
using av_bytes = std::unique_ptr<uint8_t[], av_freer>;  // from av_malloc/av_mallocz

// A muxer's context (its I/O is its owner's business), and an AVIOContext of our own
// callbacks with its buffer.
struct output_freer {
    void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
struct avio_freer {
    void operator()(AVIOContext* c) const {
        av_freep(&c->buffer);
        avio_context_free(&c);
    }
};
using output_ptr = std::unique_ptr<AVFormatContext, output_freer>; // avformat_alloc_output_context2
using av_bytes_io = std::unique_ptr<AVIOContext, avio_freer>;      // from avio_alloc_context

// The bytes an AVIOContext's write callback is handed (const since libavformat 61).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using avio_written = const uint8_t*;
#else
using avio_written = uint8_t*;
#endif

// What av_find_best_stream hands back (const since libavformat 59).
#if LIBAVFORMAT_VERSION_MAJOR >= 59
using const_codec = const AVCodec*;
#else
using const_codec = AVCodec*;
#endif

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

// Whether a decoded frame is interlaced, and whether its top field comes first (both flags
// moved into `flags` in later FFmpeg).
inline bool is_interlaced(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    return (frame->flags & AV_FRAME_FLAG_INTERLACED) != 0;
#else
    return frame->interlaced_frame != 0;
#endif
}
inline bool is_top_field_first(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    return (frame->flags & AV_FRAME_FLAG_TOP_FIELD_FIRST) != 0;
#else
    return frame->top_field_first != 0;
#endif
}

// An encoder's pixel formats, ending with AV_PIX_FMT_NONE; null when it lists none (the
// list moved behind a query function in libavcodec 61.13).
inline const AVPixelFormat* encoder_pixel_formats(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    const void* list = nullptr;
    int count = 0;
    if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_PIX_FORMAT, 0, &list,
                                     &count) < 0)
        return nullptr;
    return static_cast<const AVPixelFormat*>(list);
#else
    return codec->pix_fmts;
#endif
}

// The ffmpeg command's word for "the encoder keeps the demuxer's time base"
// (-enc_time_base): -1 until FFmpeg 7 named it "demux", and FFmpeg 8 took -1 away. The
// command is assumed to be the FFmpeg these libraries come from.
inline const char* demuxer_time_base_word() {
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    return "demux";
#else
    return "-1";
#endif
}

// A stream's display matrix (9 values, 16.16 fixed point but the last column 2.30), or
// null (stream side data moved into the codec parameters in libavformat 60.15).
inline const int32_t* display_matrix_of(const AVStream* st) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    const AVPacketSideData* sd =
        av_packet_side_data_get(st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data,
                                AV_PKT_DATA_DISPLAYMATRIX);
    return sd && sd->size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(sd->data)
                                                 : nullptr;
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(data) : nullptr;
#endif
}
