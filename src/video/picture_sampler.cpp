// Pictures spread over a video for the logo model: key frames of long videos, every k-th
// picture of short ones, a few rectangles of every plane kept.
#include "video/picture_sampler.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "video/av_ptr.h"

namespace {

// A video shorter than this is decoded in full: its key frames are too few to spread the
// samples over, and decoding all of it costs no more than seeking to each of them.
constexpr int64_t decode_all_below_us = 150 * int64_t{1000000};
// Key frames enough for the model of a short video: with fewer, its other reference
// pictures are sampled too (measured: 48 key frames of a 48 s recording give opacities
// as close as 200 pictures do, at a quarter of the decoding; from 24 on, the key frames
// alone measured as well as more pictures on 24-s recordings). Decoding every reference
// picture of a 45-s recording costs four times the analysis.
constexpr int least_key_frames = 24;
// The samples of all rectangles together stay below this many bytes.
constexpr size_t memory_limit = size_t{256} << 20;

struct reader {
    input_ptr fmt;
    codec_ptr dec;
    int stream = -1;
    const AVPixFmtDescriptor* desc = nullptr;
    int depth = 8;
};

std::string av_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

// Planar YUV or grey of 8 to 16 bits, each component in a plane of its own.
bool planar_yuv(const AVPixFmtDescriptor* d) {
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT)))
        return false;
    const int colours = d->nb_components >= 3 ? 3 : 1;
    for (int c = 0; c < colours; ++c) {
        const AVComponentDescriptor& k = d->comp[c];
        if (k.plane != c || k.offset != 0 || k.depth < 8 || k.depth > 16 ||
            k.step != (k.depth > 8 ? 2 : 1))
            return false;
    }
    return true;
}

std::string open_reader(const std::string& path, int stream, reader& r) {
    std::string url = path;
    struct stat info;
    if (url.find(':') != std::string::npos && stat(url.c_str(), &info) == 0) url = "file:" + url;
    AVFormatContext* opened = nullptr;
    int ret = avformat_open_input(&opened, url.c_str(), nullptr, nullptr);
    r.fmt.reset(opened);
    if (ret < 0) return "cannot open: " + av_text(ret);
    if ((ret = avformat_find_stream_info(r.fmt.get(), nullptr)) < 0)
        return "no stream information: " + av_text(ret);
    if (stream < 0 || stream >= int(r.fmt->nb_streams) ||
        r.fmt->streams[stream]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return "no such video stream";
    r.stream = stream;
    const AVCodecParameters* par = r.fmt->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return "no decoder";
    r.dec.reset(avcodec_alloc_context3(codec));
    if (!r.dec) return "out of memory";
    avcodec_parameters_to_context(r.dec.get(), par);
    r.dec->max_pixels = max_frame_pixels;
    r.dec->thread_count = 0; // as many as the machine has: whole pictures are decoded here
    if ((ret = avcodec_open2(r.dec.get(), codec, nullptr)) < 0)
        return "cannot open the decoder: " + av_text(ret);
    r.desc = av_pix_fmt_desc_get(r.dec->pix_fmt);
    if (!planar_yuv(r.desc))
        return std::string("pixel format ") + (r.desc ? r.desc->name : "unknown") +
               " is not planar YUV";
    r.depth = r.desc->comp[0].depth;
    return "";
}

// Appends rectangle `w` of plane `p` (subsampled by the shifts) of the frame, 8-bit.
void keep_plane(const AVFrame* f, int p, int depth, const picture_rect& w, int sx, int sy,
                plane_samples& out) {
    const int x0 = w.x >> sx, y0 = w.y >> sy, cw = w.w >> sx, ch = w.h >> sy;
    const size_t start = out.values.size();
    out.values.resize(start + size_t(cw) * ch);
    uint8_t* dst = out.values.data() + start;
    for (int y = 0; y < ch; ++y) {
        const uint8_t* row = f->data[p] + ptrdiff_t(y0 + y) * f->linesize[p];
        if (depth == 8) {
            std::copy(row + x0, row + x0 + cw, dst + size_t(y) * cw);
            continue;
        }
        // The top 8 bits, rounded: 10-bit 4v+3 reads v+1 rather than v.
        const uint16_t* wide = reinterpret_cast<const uint16_t*>(row) + x0;
        const int shift = depth - 8;
        for (int x = 0; x < cw; ++x)
            dst[size_t(y) * cw + x] =
                uint8_t(std::min(255, (wide[x] + (1 << (shift - 1))) >> shift));
    }
}

} // namespace

picture_samples sample_pictures(const std::string& path, int stream, int count,
                                const std::vector<picture_rect>& rects) {
    picture_samples out;
    reader r;
    out.error = open_reader(path, stream, r);
    if (!out.error.empty()) return out;
    out.width = r.dec->width;
    out.height = r.dec->height;
    out.depth = r.depth;
    const bool colour = r.desc->nb_components >= 3;
    const int sx = colour ? r.desc->log2_chroma_w : 0, sy = colour ? r.desc->log2_chroma_h : 0;

    // Rectangles inside the frame, on whole chroma samples.
    size_t bytes = 0;
    for (picture_rect w : rects) {
        const int ax = (1 << sx) - 1, ay = (1 << sy) - 1;
        const int x1 = std::min(w.x + w.w, out.width) & ~ax, y1 = std::min(w.y + w.h, out.height) & ~ay;
        w.x = (std::max(w.x, 0) + ax) & ~ax;
        w.y = (std::max(w.y, 0) + ay) & ~ay;
        w.w = std::max(0, x1 - w.x);
        w.h = std::max(0, y1 - w.y);
        out.where.push_back(w);
        corner_samples c;
        c.shift_x = sx;
        c.shift_y = sy;
        c.luma.width = w.w;
        c.luma.height = w.h;
        if (colour) {
            c.cb.width = c.cr.width = w.w >> sx;
            c.cb.height = c.cr.height = w.h >> sy;
        }
        bytes += size_t(w.w) * w.h + 2 * size_t(c.cb.width) * c.cb.height;
        out.rects.push_back(c);
    }
    if (bytes == 0 || count < 1) return out;
    count = int(std::min<size_t>(size_t(count), std::max<size_t>(8, memory_limit / bytes)));

    frame_ptr frame(av_frame_alloc());
    packet_ptr packet(av_packet_alloc());
    if (!frame || !packet) {
        out.error = "out of memory";
        return out;
    }
    int kept = 0;
    auto keep = [&](const AVFrame* f) {
        if (f->width != out.width || f->height != out.height || f->format != r.dec->pix_fmt)
            return;
        for (size_t k = 0; k < rects.size(); ++k) {
            keep_plane(f, 0, r.depth, out.where[k], 0, 0, out.rects[k].luma);
            if (colour) {
                keep_plane(f, 1, r.depth, out.where[k], sx, sy, out.rects[k].cb);
                keep_plane(f, 2, r.depth, out.where[k], sx, sy, out.rects[k].cr);
            }
        }
        ++kept;
    };

    // Formats whose timestamps may jump (MPEG-TS: joined recordings, a recorder's restart)
    // are sampled by byte position: their duration, first to last timestamp, may be an hour
    // longer than the content (or shorter), and points spread over it would miss it.
    const bool by_bytes = (r.fmt->iformat->flags & AVFMT_TS_DISCONT) && r.fmt->pb &&
                          (r.fmt->pb->seekable & AVIO_SEEKABLE_NORMAL) && avio_size(r.fmt->pb) > 0;
    const int64_t bytes_in_file = by_bytes ? avio_size(r.fmt->pb) : 0;
    // The whole video read through, every k-th decoded picture kept; when more than `count`
    // are kept, every other one goes and k doubles, so the samples stay spread over the whole
    // video. First its key frames alone (cheap); when they are too few, again with every
    // reference picture decoded (the others are skipped: nothing depends on them; skipping
    // all B-pictures would break pictures that refer to B-pictures of a pyramid).
    auto clear = [&]() {
        for (corner_samples& c : out.rects)
            for (plane_samples* p : {&c.luma, &c.cb, &c.cr})
                p->values.clear();
        kept = 0;
    };
    // `jumped`: the timestamps are not to be trusted (a recording far shorter than its
    // duration): rewound by bytes, and the step from the pictures counted. Otherwise by time,
    // the step from the duration: a short recording is sampled as it always was.
    auto read_through = [&](bool jumped) {
        int64_t pictures = 0; // the video's packets, counted by each reading
        auto rewind = [&]() {
            if (jumped)
                av_seek_frame(r.fmt.get(), -1, 0, AVSEEK_FLAG_BYTE);
            else
                av_seek_frame(r.fmt.get(), -1,
                              r.fmt->start_time != AV_NOPTS_VALUE ? r.fmt->start_time : 0,
                              AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(r.dec.get());
        };
        auto read_all = [&](AVDiscard skip, int64_t step) {
            r.dec->skip_frame = skip;
            int64_t index = 0;
            pictures = 0;
            auto halve = [&]() {
                for (corner_samples& c : out.rects)
                    for (plane_samples* p : {&c.luma, &c.cb, &c.cr}) {
                        const size_t one = size_t(p->width) * p->height;
                        for (int k = 1; 2 * k < kept; ++k)
                            std::copy_n(p->values.begin() + 2 * k * one, one,
                                        p->values.begin() + k * one);
                        p->values.resize(size_t((kept + 1) / 2) * one);
                    }
                kept = (kept + 1) / 2;
                step *= 2;
            };
            auto drain = [&]() {
                while (avcodec_receive_frame(r.dec.get(), frame.get()) >= 0) {
                    if (index++ % step == 0) {
                        if (kept == count) halve();
                        keep(frame.get());
                    }
                    av_frame_unref(frame.get());
                }
            };
            while (av_read_frame(r.fmt.get(), packet.get()) >= 0) {
                if (packet->stream_index == r.stream) {
                    avcodec_send_packet(r.dec.get(), packet.get());
                    ++pictures;
                }
                av_packet_unref(packet.get());
                drain();
            }
            avcodec_send_packet(r.dec.get(), nullptr);
            drain();
        };
        read_all(AVDISCARD_NONKEY, 1);
        if (kept >= least_key_frames) return;
        clear();
        rewind();
        // Every k-th reference picture: about twice `count` of them (half the pictures, or
        // fewer, are references).
        const AVStream* st = r.fmt->streams[r.stream];
        const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        const double expected =
            jumped ? double(pictures)
                   : rate.num > 0 ? double(std::max<int64_t>(r.fmt->duration, 0)) / 1e6 * av_q2d(rate) : 0;
        read_all(AVDISCARD_NONREF, std::max<int64_t>(1, int64_t(expected / (2.0 * count))));
    };

    const int64_t duration = r.fmt->duration > 0 ? r.fmt->duration : 0;
    if (duration == 0 || duration < decode_all_below_us) {
        read_through(false);
    } else {
        // Key frames at evenly spread points (of the time, or of the bytes), each picture once.
        r.dec->skip_frame = AVDISCARD_NONKEY;
        const int64_t start = r.fmt->start_time != AV_NOPTS_VALUE ? r.fmt->start_time : 0;
        std::set<int64_t> seen;
        for (int j = 1; j <= count; ++j) {
            if (by_bytes)
                av_seek_frame(r.fmt.get(), -1, av_rescale(j, bytes_in_file, count + 1),
                              AVSEEK_FLAG_BYTE);
            else
                av_seek_frame(r.fmt.get(), -1, start + av_rescale(j, duration, count + 1),
                              AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(r.dec.get());
            bool got = false;
            while (!got && av_read_frame(r.fmt.get(), packet.get()) >= 0) {
                if (packet->stream_index == r.stream &&
                    avcodec_send_packet(r.dec.get(), packet.get()) >= 0) {
                    if (avcodec_receive_frame(r.dec.get(), frame.get()) == AVERROR(EAGAIN)) {
                        avcodec_send_packet(r.dec.get(), nullptr); // drain a held key frame
                        if (avcodec_receive_frame(r.dec.get(), frame.get()) < 0)
                            av_frame_unref(frame.get());
                        avcodec_flush_buffers(r.dec.get());
                    }
                    got = frame->data[0] != nullptr;
                }
                av_packet_unref(packet.get());
            }
            if (got && seen.insert(frame->best_effort_timestamp).second) keep(frame.get());
            av_frame_unref(frame.get());
        }
        // A recording whose timestamps jump may be far shorter than its duration says: too
        // few distinct key frames, read as a short one.
        if (by_bytes && kept < least_key_frames) {
            clear();
            av_seek_frame(r.fmt.get(), -1, 0, AVSEEK_FLAG_BYTE);
            avcodec_flush_buffers(r.dec.get());
            read_through(true);
        }
    }
    if (kept == 0) out.error = "no picture could be decoded";
    return out;
}
