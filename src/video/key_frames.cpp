// Opening the video, seeking each pass and reading key frames, and the passes in order.
#include "video/key_frames.h"

#include <sys/stat.h>

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace {

// avformat_open_input and avformat_find_stream_info on in.url (through in.io when set).
int open_demuxer(video_input& in) {
    AVFormatContext* opened = nullptr;
    if (in.io) {
        opened = avformat_alloc_context();
        if (!opened) return AVERROR(ENOMEM);
        opened->pb = in.io;
        opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    int ret = avformat_open_input(&opened, in.url.c_str(), nullptr, nullptr);
    in.fmt_ctx.reset(opened);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot open input file\n");
        return ret;
    }
    // The decoders that probing opens obey the same frame-size cap as ours.
    std::vector<AVDictionary*> probe_options(in.fmt_ctx->nb_streams, nullptr);
    for (AVDictionary*& o : probe_options)
        av_dict_set_int(&o, "max_pixels", max_frame_pixels, 0);
    ret = avformat_find_stream_info(in.fmt_ctx.get(), probe_options.data());
    for (AVDictionary*& o : probe_options)
        av_dict_free(&o);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find stream information\n");
        return ret;
    }
    return 0;
}

// A decoder of `codec` for in's video stream, with the settings every decoder of a run
// shares.
int open_decoder(const video_input& in, const AVCodec* codec, codec_ptr& decoder) {
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder) return AVERROR(ENOMEM);
    avcodec_parameters_to_context(decoder.get(),
                                  in.fmt_ctx->streams[in.video_stream_index]->codecpar);
    // Refuse frames beyond the cap before the decoder allocates them.
    decoder->max_pixels = max_frame_pixels;
    // One frame at a time gains nothing from the decoder's own threads (measured on 4K
    // HEVC: the same CPU time with slice or frame threads), and the passes already keep
    // every core busy with a decoder each.
    decoder->thread_count = 1;
    const int ret = avcodec_open2(decoder.get(), codec, nullptr);
    // Only key frames are sampled: the decoder may drop every other frame unseen.
    decoder->skip_frame = AVDISCARD_NONKEY;
    return ret;
}

} // namespace

int open_video(const char* path, AVIOContext* io, bool dump, video_input& in) {
    in.url = path;
    in.io = io;
    if (io) {
        in.io_start = avio_tell(io);
        in.rereadable = (io->seekable & AVIO_SEEKABLE_NORMAL) != 0;
    } else {
        // FFmpeg reads "name:rest" as a URL of protocol "name"; a recording called
        // "News: 10pm.ts" is still a file on disk, so an existing path is opened as one.
        struct stat file_info;
        if (stat(path, &file_info) == 0) {
            if (in.url.find(':') != std::string::npos) in.url = "file:" + in.url;
            // Pipes, FIFOs and devices give their bytes once.
            in.rereadable = S_ISREG(file_info.st_mode);
        }
    }
    int ret = open_demuxer(in);
    if (ret < 0) return ret;
    const_codec decoder = nullptr;
    ret = av_find_best_stream(in.fmt_ctx.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find a video stream in the input file\n");
        return ret;
    }
    in.video_stream_index = ret;
    if ((ret = open_decoder(in, decoder, in.dec_ctx)) < 0) {
        if (ret != AVERROR(ENOMEM) || in.dec_ctx)
            av_log(nullptr, AV_LOG_ERROR, "Cannot open video decoder\n");
        return ret;
    }
    if (dump) av_dump_format(in.fmt_ctx.get(), 0, path, 0);
    in.width = std::max(in.dec_ctx->width, 0);
    in.height = std::max(in.dec_ctx->height, 0);
    in.pix_fmt = in.dec_ctx->pix_fmt;
    return 0;
}

int open_another_decoder(const video_input& in, codec_ptr& decoder) {
    return open_decoder(in, in.dec_ctx->codec, decoder);
}

int reopen_demuxer(video_input& in) {
    // The old demuxer goes first: a caller's I/O context serves one at a time.
    in.fmt_ctx.reset();
    if (in.io) {
        const int64_t at = avio_seek(in.io, in.io_start, SEEK_SET);
        if (at < 0) return static_cast<int>(at);
        in.io->error = 0; // a read error met before is no part of the new reading
    }
    const int ret = open_demuxer(in);
    if (ret < 0) return ret;
    if (in.video_stream_index >= static_cast<int>(in.fmt_ctx->nb_streams))
        return AVERROR_INVALIDDATA; // not the input it was
    return 0;
}

int64_t known_duration(const video_input& in) {
    const int64_t duration = in.fmt_ctx->duration;
    return duration != AV_NOPTS_VALUE && duration > 0 ? duration : 0;
}

int64_t seek_point(int64_t start_time, int64_t offset) {
    // Both can lie near the top of the 64-bit range (a recording shifted by a huge
    // timestamp offset); past the end of the range there is only the end of the file.
    int64_t sum;
    if (__builtin_add_overflow(start_time, offset, &sum)) return INT64_MAX;
    return sum;
}

int64_t pass_target(const video_input& in, int i, int passes) {
    // Recordings (MPEG-TS above all) start at an arbitrary clock: count from there.
    const int64_t start = in.fmt_ctx->start_time;
    const int64_t start_time = start != AV_NOPTS_VALUE && start > 0 ? start : 0;
    const int64_t offset = av_rescale_rnd(i, known_duration(in), passes + 1, AV_ROUND_DOWN);
    return seek_point(start_time, offset);
}

void seek_demuxer(video_input& in, int64_t target) {
    // The result is not looked at: a seek that fails leaves the reading where it was, and
    // the pass takes the next key frame from there.
    av_seek_frame(in.fmt_ctx.get(), -1, target, AVSEEK_FLAG_BACKWARD);
}

void seek_to_pass(video_input& in, int i, int passes) {
    seek_demuxer(in, pass_target(in, i, passes));
    // Forget frames held from before the seek: the sample must be the key frame at or
    // before this pass's seek point.
    avcodec_flush_buffers(in.dec_ctx.get());
}

packet_read read_video_packet(video_input& in, AVPacket* packet, int& reads, read_counts* counts) {
    while (true) {
        ++reads;
        const int ret = av_read_frame(in.fmt_ctx.get(), packet);
        if (ret == AVERROR_EOF) return packet_read::end_of_file;
        if (ret < 0) return packet_read::read_error;
        if (counts) {
            ++counts->packets;
            counts->bytes += packet->size;
        }
        if (packet->stream_index != in.video_stream_index) {
            av_packet_unref(packet);
            continue;
        }
        if (counts) ++counts->video_packets;
        av_log(nullptr, AV_LOG_DEBUG, "Demuxer gave frame of stream_index %d\n",
               packet->stream_index);
        return packet_read::video;
    }
}

packet_outcome decode_packet(const video_input& in, AVCodecContext* decoder, AVPacket* packet,
                             AVFrame* frame, int& code) {
    const bool key_packet = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    int ret = avcodec_send_packet(decoder, packet);
    av_packet_unref(packet);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Error while sending a packet to the decoder\n");
        code = ret;
        return packet_outcome::fatal;
    }
    ret = avcodec_receive_frame(decoder, frame);
    if (ret == AVERROR(EAGAIN) && key_packet) {
        // A decoder that reorders frames keeps the key frame until more packets
        // arrive; drain it now rather than read on to the next one.
        avcodec_send_packet(decoder, nullptr);
        ret = avcodec_receive_frame(decoder, frame);
        avcodec_flush_buffers(decoder);
    }
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return packet_outcome::read_on;
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Error while decoding a frame\n");
        code = ret;
        return packet_outcome::fatal;
    }
    // A frame that is no key frame, or whose geometry changed since the decoder was
    // opened, is no sample.
    if (is_key_frame(frame) && frame->width == in.width && frame->height == in.height &&
        frame->format == in.pix_fmt)
        return packet_outcome::captured;
    av_frame_unref(frame);
    return packet_outcome::read_on;
}

pass_end read_key_frame(video_input& in, AVPacket* packet, AVFrame* frame, int& code,
                        read_counts* counts) {
    int reads = 0;
    while (true) {
        switch (read_video_packet(in, packet, reads, counts)) {
        case packet_read::end_of_file:
            return pass_end::end_of_file;
        case packet_read::read_error:
            return pass_end::read_error;
        case packet_read::video:
            break;
        }
        switch (decode_packet(in, in.dec_ctx.get(), packet, frame, code)) {
        case packet_outcome::captured:
            return pass_end::captured;
        case packet_outcome::fatal:
            return pass_end::fatal;
        case packet_outcome::read_on:
            break;
        }
    }
}

int sample_in_order(video_input& in, AVPacket* packet, AVFrame* frame,
                    const std::vector<int64_t>& targets, const capture_fn& capture,
                    const commit_fn& commit) {
    for (size_t k = 0; k < targets.size(); ++k) {
        const int i = static_cast<int>(k) + 1;
        if (targets[k] != no_seek) {
            seek_demuxer(in, targets[k]);
            avcodec_flush_buffers(in.dec_ctx.get());
        }
        int code = 0;
        const pass_end end = read_key_frame(in, packet, frame, code);
        if (end == pass_end::captured) {
            capture(i, 0, frame);
            av_frame_unref(frame);
        }
        commit(i, end);
        if (end == pass_end::fatal) return code;
        if (end == pass_end::end_of_file) return 0;
    }
    return 0;
}
