// Opening the video, sampling key frames and copying their corner bands, and the summary
// around the analysis. The only code of the tools that talks to FFmpeg.
#include "video/sampler.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixdesc.h>
}

#include "analysis/border_crop.h"
#include "analysis/crop_delogo.h"
#include "analysis/settings.h"
#include "analysis/types.h"
#include "analysis/workers.h"

void split_duration(int64_t microseconds, int& hours, int& minutes, int& seconds) {
    double whole = (static_cast<double>(microseconds) + 500000.0) / 1000000.0;
    int s = whole >= INT_MAX ? INT_MAX : whole <= 0 ? 0 : static_cast<int>(whole);
    hours = 0;
    minutes = 0;
    seconds = s;
    if (s < 60) return;
    int m = s / 60;
    seconds = s % 60;
    if (s < 3600) {
        minutes = m;
    } else {
        hours = m / 60;
        minutes = m % 60;
    }
}

namespace {

// The report of every fatal path: the reason on standard error.
int error_text(const char* text) {
    fflush(stdout);
    fprintf(stderr, "Error occurred: %s\n", text);
    return 1;
}

// The report of a fatal FFmpeg error: FFmpeg's text for `code`.
int error_report(int code) {
    char text[64];
    memset(text, 0, sizeof text);
    av_strerror(code, text, sizeof text);
    return error_text(text);
}

// Calls take(row, out) for each band row of a plane: the top band_h rows, then the
// bottom band_h rows, `out` moving on by one band image row (2 * band_w bytes) a row.
template <typename Take>
void each_band_row(const uint8_t* plane, ptrdiff_t stride, const band_geometry& g, uint8_t* image,
                   Take take) {
    const int band_w2 = 2 * g.band_w;
    uint8_t* out = image;
    for (int y = 0; y < g.height; ++y) {
        if (y >= g.band_h && y < g.height - g.band_h) {
            y = g.height - g.band_h - 1; // jump over the middle rows
            continue;
        }
        take(plane + y * stride, out);
        out += band_w2;
    }
}

// Copies the corner bands of an 8-bit luma plane into a band image.
void copy_bands(const uint8_t* plane, ptrdiff_t stride, const band_geometry& g, uint8_t* image) {
    each_band_row(plane, stride, g, image, [&](const uint8_t* row, uint8_t* out) {
        memcpy(out, row, g.band_w);
        memcpy(out + g.band_w, row + g.width - g.band_w, g.band_w);
    });
}

// The top 8 bits of `count` 16-bit samples.
template <bool big_endian>
void shift_samples(const uint8_t* in, int count, int shift, uint8_t* out) {
    for (int x = 0; x < count; ++x) {
        const unsigned sample = big_endian ? AV_RB16(in + 2 * x) : AV_RL16(in + 2 * x);
        out[x] = static_cast<uint8_t>(sample >> shift);
    }
}

template <bool big_endian>
void shift_bands(const AVFrame* frame, const band_reader& r, uint8_t* image) {
    const band_geometry& g = r.g;
    each_band_row(frame->data[0], frame->linesize[0], g, image,
                  [&](const uint8_t* row, uint8_t* out) {
                      shift_samples<big_endian>(row, g.band_w, r.shift, out);
                      shift_samples<big_endian>(row + 2 * (g.width - g.band_w), g.band_w, r.shift,
                                                out + g.band_w);
                  });
}

// Converts the rows of both bands (or the whole frame) to gray, one picture of r.rows
// rows at a time, and copies the bands from there.
void convert_bands(band_reader& r, const AVFrame* frame, uint8_t* image) {
    const band_geometry& g = r.g;
    if (!r.sws) return; // empty bands
    const int pictures = r.rows == g.height ? 1 : 2;
    const int first_row[2] = {0, g.height - r.rows};
    const int gray_stride[4] = {r.gray_stride, 0, 0, 0};
    for (int k = 0; k < pictures; ++k) {
        const uint8_t* src[4];
        for (int p = 0; p < 4; ++p) {
            const bool rows = frame->data[p] && !(r.palette && p == 1);
            src[p] = rows ? frame->data[p] + first_row[k] * ptrdiff_t{frame->linesize[p]}
                          : frame->data[p];
        }
        uint8_t* gray[4] = {r.gray.get() + k * r.rows * ptrdiff_t{r.gray_stride}, nullptr, nullptr,
                            nullptr};
        sws_scale(r.sws.get(), src, frame->linesize, 0, r.rows, gray, gray_stride);
    }
    // The bands are the first and the last band_h rows of the gray pictures.
    copy_bands(r.gray.get(), r.gray_stride,
               band_geometry{g.width, pictures * r.rows, g.band_w, g.band_h}, image);
}

} // namespace

luma_path luma_path_of(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || d->nb_components == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)))
        return luma_path::none;
    // YUV and gray formats keep luma in component 0; it can be read in place when it
    // fills plane 0 alone, sample after sample (planar, or semi-planar as NV12 and P010).
    const uint64_t not_luma =
        AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    const AVComponentDescriptor& y = d->comp[0];
    if (!(d->flags & not_luma) && y.plane == 0 && y.offset == 0) {
        if (y.depth == 8 && y.step == 1 && y.shift == 0) return luma_path::bytes;
        if (y.depth > 8 && y.depth <= 16 && y.step == 2) return luma_path::shifted;
    }
    return sws_isSupportedInput(format) > 0 ? luma_path::converted : luma_path::none;
}

bool open_band_reader(AVPixelFormat format, const band_geometry& g, band_reader& r) {
    r = band_reader{};
    r.g = g;
    r.path = luma_path_of(format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (r.path == luma_path::shifted) {
        r.shift = d->comp[0].shift + d->comp[0].depth - 8;
        r.big_endian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
    }
    if (r.path != luma_path::converted || g.band_w <= 0 || g.band_h <= 0)
        return r.path != luma_path::none;
    // Pictures of deep formats are dithered down to 8 bits in a pattern of 8 rows: the
    // bottom band's picture starts at a multiple of 8 rows, so that the bands come out as
    // in a conversion of the whole frame. A vertically subsampled or mosaic format, which
    // no row cut fits in general, is converted whole.
    r.palette = (d->flags & AV_PIX_FMT_FLAG_PAL) != 0;
    const bool whole = d->log2_chroma_h != 0 || (d->flags & AV_PIX_FMT_FLAG_BAYER);
    r.rows = whole ? g.height : g.height - ((g.height - g.band_h) & ~7);
    if (2 * r.rows >= g.height) r.rows = g.height;
    r.sws.reset(sws_getContext(g.width, r.rows, format, g.width, r.rows, AV_PIX_FMT_GRAY8,
                               SWS_POINT, nullptr, nullptr, nullptr));
    if (!r.sws) return false;
    // libswscale takes 8-bit gray as full range: packed YUV would be stretched. Keep the
    // source's range, so that YUV luma reads as the planar formats' bytes do, and RGB
    // (full range) gives luma 0..255.
    int *inverse, *forward, src_range, dst_range, brightness, contrast, saturation;
    sws_getColorspaceDetails(r.sws.get(), &inverse, &src_range, &forward, &dst_range, &brightness,
                             &contrast, &saturation);
    sws_setColorspaceDetails(r.sws.get(), inverse, src_range, forward, src_range, brightness,
                             contrast, saturation);
    r.gray_stride = FFALIGN(g.width, 64);
    const int gray_rows = r.rows == g.height ? g.height : 2 * r.rows;
    r.gray.reset(static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(r.gray_stride) * gray_rows)));
    if (!r.gray) throw std::bad_alloc();
    return true;
}

void read_bands(band_reader& r, const AVFrame* frame, uint8_t* image) {
    switch (r.path) {
    case luma_path::bytes:
        copy_bands(frame->data[0], frame->linesize[0], r.g, image);
        return;
    case luma_path::shifted:
        if (r.big_endian)
            shift_bands<true>(frame, r, image);
        else
            shift_bands<false>(frame, r, image);
        return;
    case luma_path::converted:
        convert_bands(r, frame, image);
        return;
    case luma_path::none:
        return;
    }
}

int open_video(const char* path, AVIOContext* io, bool dump, video_input& in) {
    AVFormatContext* opened = nullptr;
    if (io) {
        opened = avformat_alloc_context();
        if (!opened) return AVERROR(ENOMEM);
        opened->pb = io;
        opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // FFmpeg reads "name:rest" as a URL of protocol "name"; a recording called
    // "News: 10pm.ts" is still a file on disk, so an existing path is opened as one.
    std::string url = path;
    struct stat file_info;
    if (!io && url.find(':') != std::string::npos && stat(url.c_str(), &file_info) == 0)
        url = "file:" + url;
    int ret = avformat_open_input(&opened, url.c_str(), nullptr, nullptr);
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
    const_codec decoder = nullptr;
    ret = av_find_best_stream(in.fmt_ctx.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find a video stream in the input file\n");
        return ret;
    }
    in.video_stream_index = ret;
    in.dec_ctx.reset(avcodec_alloc_context3(decoder));
    if (!in.dec_ctx) return AVERROR(ENOMEM);
    avcodec_parameters_to_context(in.dec_ctx.get(),
                                  in.fmt_ctx->streams[in.video_stream_index]->codecpar);
    // Refuse frames beyond the cap before the decoder allocates them.
    in.dec_ctx->max_pixels = max_frame_pixels;
    // One frame at a time gains nothing from the decoder's own threads (measured on 4K
    // HEVC: the same CPU time with slice or frame threads), and the passes already keep
    // every core busy with a decoder each.
    in.dec_ctx->thread_count = 1;
    if ((ret = avcodec_open2(in.dec_ctx.get(), decoder, nullptr)) < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot open video decoder\n");
        return ret;
    }
    if (dump) av_dump_format(in.fmt_ctx.get(), 0, path, 0);
    in.width = std::max(in.dec_ctx->width, 0);
    in.height = std::max(in.dec_ctx->height, 0);
    in.pix_fmt = in.dec_ctx->pix_fmt;
    // Only key frames are sampled: the decoder may drop every other frame unseen.
    in.dec_ctx->skip_frame = AVDISCARD_NONKEY;
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

void seek_to_pass(video_input& in, int i, int passes) {
    // Recordings (MPEG-TS above all) start at an arbitrary clock: count from there.
    const int64_t start = in.fmt_ctx->start_time;
    const int64_t start_time = start != AV_NOPTS_VALUE && start > 0 ? start : 0;
    const int64_t offset = av_rescale_rnd(i, known_duration(in), passes + 1, AV_ROUND_DOWN);
    // The result is not looked at: a seek that fails leaves the reading where it was, and
    // the pass takes the next key frame from there.
    av_seek_frame(in.fmt_ctx.get(), -1, seek_point(start_time, offset), AVSEEK_FLAG_BACKWARD);
    // Forget frames held from before the seek: the sample must be the key frame at or
    // before this pass's seek point.
    avcodec_flush_buffers(in.dec_ctx.get());
}

pass_end read_key_frame(video_input& in, AVPacket* packet, AVFrame* frame, int& code,
                        read_counts* counts) {
    AVCodecContext* dec = in.dec_ctx.get();
    while (true) {
        int ret = av_read_frame(in.fmt_ctx.get(), packet);
        if (ret == AVERROR_EOF) return pass_end::end_of_file;
        if (ret < 0) return pass_end::read_error;
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
        const bool key_packet = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        ret = avcodec_send_packet(dec, packet);
        av_packet_unref(packet);
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Error while sending a packet to the decoder\n");
            code = ret;
            return pass_end::fatal;
        }
        ret = avcodec_receive_frame(dec, frame);
        if (ret == AVERROR(EAGAIN) && key_packet) {
            // A decoder that reorders frames keeps the key frame until more packets
            // arrive; drain it now rather than read on to the next one.
            avcodec_send_packet(dec, nullptr);
            ret = avcodec_receive_frame(dec, frame);
            avcodec_flush_buffers(dec);
        }
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) continue;
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Error while decoding a frame\n");
            code = ret;
            return pass_end::fatal;
        }
        // A frame that is no key frame, or whose geometry changed since the decoder was
        // opened, is no sample.
        if (is_key_frame(frame) && frame->width == in.width && frame->height == in.height &&
            frame->format == in.pix_fmt)
            return pass_end::captured;
        av_frame_unref(frame);
    }
}

namespace {

// The sampling of one run: the frame geometry fixed when the decoder was opened, and
// what the passes keep.
struct sampling {
    band_geometry g;
    band_reader* reader; // the frames' luma
    size_t image_size;   // bytes of one band image
    bool all_corners;
    std::vector<band_sample> samples;   // one record per pass (not in all_corners mode)
    std::vector<box> borders;           // all_corners mode: border box of each capture
    std::unique_ptr<uint8_t[]> scratch; // all_corners mode: the one band image
    // Band images for the passes, allocated before the first seek. Flushing frees the
    // decoder's working memory, which it allocates again in the next pass: a band image
    // allocated after a flush would take that memory and leave the decoder fresh pages
    // to fault in every pass.
    std::vector<std::unique_ptr<uint8_t[]>> images;
};

// Keeps the captured frame of pass i (from 1): its band image, or in all_corners mode
// just its border box.
void capture(sampling& run, band_reader& reader, const AVFrame* frame, int i) {
    if (run.all_corners) {
        read_bands(reader, frame, run.scratch.get());
        run.borders.push_back(
            sample_border(run.scratch.get(), 2 * run.g.band_w, 2 * run.g.band_h, sw.level_black));
        return;
    }
    band_sample& s = run.samples[i - 1];
    s.image = std::move(run.images[i - 1]);
    s.corner_flags = 15;
    read_bands(reader, frame, s.image.get());
}

// The size line, the analysis unless in info mode, and the duration line.
void print_summary(const video_input& in, const sampling& run, analysis_result* result) {
    const band_geometry& g = run.g;
    if (result) {
        result->frame_width = g.width;
        result->frame_height = g.height;
        result->duration_us = known_duration(in);
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(in.pix_fmt));
        result->pix_fmt = name ? name : "";
        result->video_stream = in.video_stream_index;
    }
    printf("\nSize: %dx%d\n", g.width, g.height);
    if (!(sw.flags & FLAG_INFO)) {
        if (run.all_corners) {
            // As in the analysis: no crop line without a single picture.
            if (!run.borders.empty()) {
                box crop = union_crop(run.borders.data(), static_cast<int>(run.borders.size()),
                                      2 * g.band_w, 2 * g.band_h);
                print_crop(crop, 2 * g.band_w, 2 * g.band_h, g.width, g.height);
            }
        } else {
            crop_delogo(2 * g.band_w, 2 * g.band_h, g.width, g.height, run.samples.data(), result);
        }
    }
    const int64_t shown = known_duration(in);
    int hours, minutes, seconds;
    split_duration(shown, hours, minutes, seconds);
    printf("Duration: %.3f (%02d:%02d:%02d) BitRate: %" PRId64 "\n",
           static_cast<double>(shown) / 1000000.0, hours, minutes, seconds,
           static_cast<int64_t>(in.fmt_ctx->bit_rate));
    fflush(stdout);
}

// The bands of the decoder's frame size at open time.
band_geometry bands_of(const video_input& in) {
    band_geometry g;
    g.width = in.width;
    g.height = in.height;
    g.band_w = g.width * sw.width_bands / 100;
    g.band_h = g.height * sw.height_bands / 100;
    return g;
}

// The passes in order on the one decoder, as all_corners mode, a file without a duration
// and info mode need. Returns 0, or the error code of a fatal decoding failure.
int sample_in_order(video_input& in, AVPacket* packet, AVFrame* frame, sampling& run, bool seeking,
                    bool info) {
    for (int i = 1; i <= sw.frames; ++i) {
        if (seeking) seek_to_pass(in, i, sw.frames);
        int code = 0;
        switch (read_key_frame(in, packet, frame, code)) {
        case pass_end::fatal:
            return code;
        case pass_end::end_of_file:
            sw.frames = i - 1;
            if (!run.all_corners) run.samples.resize(sw.frames);
            return 0;
        case pass_end::captured:
            if (!info) printf("%d ", i);
            fflush(stdout);
            capture(run, *run.reader, frame, i);
            av_frame_unref(frame);
            break;
        case pass_end::read_error:
            break; // this pass's record stays empty
        }
    }
    return 0;
}

// ---- Passes on several threads ----------------------------------------------------------
//
// Every thread has its own demuxer and decoder on the file and takes the next pass not yet
// taken. What a pass prints (FFmpeg's messages, then its number) waits until every pass
// before it has been reported, so the output is the one-thread run's: a pass that ends the
// sampling (end of file, fatal error) stops the report there, and whatever later passes
// found is dropped, as the one-thread run never reads them.

// Where FFmpeg's messages of the calling thread go: null for standard error.
thread_local std::string* log_sink = nullptr;
thread_local int log_prefix = 1; // av_log_format_line2's state between the thread's lines

// av_log_default_callback's text for a message (which it writes to standard error when
// that is no terminal and no log flags are set: the tool sets none), kept in log_sink.
void capture_log(void* avcl, int level, const char* fmt, va_list vl) {
    std::string* sink = log_sink;
    if (!sink) {
        av_log_default_callback(avcl, level, fmt, vl);
        return;
    }
    if ((level >= 0 ? level & 0xff : level) > av_log_get_level()) return;
    char line[4096];
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &log_prefix);
    for (char* c = line; *c; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (u < 0x08 || (u > 0x0D && u < 0x20)) *c = '?'; // as the default callback shows them
    }
    try {
        sink->append(line);
    } catch (const std::bad_alloc&) {
        // No exception may cross FFmpeg's C frames: without memory the message is lost.
    }
}

// Installs capture_log while the passes run on several threads (the decoders start no
// threads of their own, so every message comes from a thread that set its log_sink).
struct log_capture {
    log_capture() { av_log_set_callback(capture_log); }
    ~log_capture() { av_log_set_callback(av_log_default_callback); }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;
};

// Sends the calling thread's FFmpeg messages to `sink` for its lifetime.
struct log_to {
    std::string* saved;
    explicit log_to(std::string* sink) : saved(log_sink) { log_sink = sink; }
    ~log_to() { log_sink = saved; }
    log_to(const log_to&) = delete;
    log_to& operator=(const log_to&) = delete;
};

// How one pass ended, kept until the passes before it are reported.
struct pass_outcome {
    bool done = false;
    pass_end end = pass_end::read_error;
    int code = 0;    // of a fatal end
    std::string log; // FFmpeg's messages during the pass
};

// The passes shared by the threads; every member under `lock`.
struct pass_board {
    std::mutex lock;
    std::vector<pass_outcome> passes; // pass i at i - 1
    int next = 1;                     // the next pass to hand out
    int last = 0;                     // none after it is handed out: an earlier one ended
    int reported = 0;                 // passes 1..reported have been reported
    bool ended = false;               // pass `reported` ended the sampling
};

bool ends_sampling(pass_end end) {
    return end == pass_end::end_of_file || end == pass_end::fatal;
}

// Reports the passes that are done and follow the reported ones without a gap: their
// messages, and the numbers of those captured.
void report_done(pass_board& board) {
    while (!board.ended && board.reported < static_cast<int>(board.passes.size())) {
        pass_outcome& pass = board.passes[board.reported];
        if (!pass.done) return;
        fputs(pass.log.c_str(), stderr);
        std::string().swap(pass.log);
        ++board.reported;
        if (pass.end == pass_end::captured) {
            printf("%d ", board.reported);
            fflush(stdout);
        }
        board.ended = ends_sampling(pass.end);
    }
}

// One thread's share: takes passes until none is left, on its own input.
void take_passes(video_input& in, band_reader& reader, AVPacket* packet, AVFrame* frame,
                 sampling& run, pass_board& board) {
    const int passes = static_cast<int>(board.passes.size());
    while (true) {
        int i;
        {
            std::lock_guard<std::mutex> hold(board.lock);
            if (board.next > board.last) return;
            i = board.next++;
        }
        pass_outcome pass;
        {
            log_to sink(&pass.log);
            seek_to_pass(in, i, passes);
            pass.end = read_key_frame(in, packet, frame, pass.code);
        }
        // Each pass has a band image and a record of its own: no other thread touches them.
        if (pass.end == pass_end::captured) capture(run, reader, frame, i);
        av_frame_unref(frame);
        pass.done = true;
        std::lock_guard<std::mutex> hold(board.lock);
        if (ends_sampling(pass.end)) board.last = std::min(board.last, i);
        board.passes[i - 1] = std::move(pass);
        report_done(board);
    }
}

// A thread's own input on the file, with the main input's frame geometry; false when it
// cannot be had, and the thread then leaves its share to the others. What opening logs
// was printed once already by the main input's open.
bool open_worker_input(const video_input& main, video_input& in) {
    std::string discarded;
    log_to sink(&discarded);
    try {
        return open_video(sw.video_file.c_str(), nullptr, false, in) >= 0 &&
               in.width == main.width && in.height == main.height && in.pix_fmt == main.pix_fmt;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The passes on `threads` threads, the first of them the caller's on `in`. Returns 0, or
// the error code of the first fatal decoding failure in pass order.
int sample_in_parallel(video_input& in, AVPacket* packet, AVFrame* frame, sampling& run,
                       int threads) {
    pass_board board;
    board.passes.resize(sw.frames);
    board.last = sw.frames;
    log_capture capturing;
    run_workers(threads, [&](int k) {
        if (k == 0) {
            take_passes(in, *run.reader, packet, frame, run, board);
            return;
        }
        video_input own;
        frame_ptr own_frame(av_frame_alloc());
        packet_ptr own_packet(av_packet_alloc());
        // A conversion keeps its context and rows between calls: one reader per thread.
        band_reader own_reader;
        if (own_frame && own_packet && open_worker_input(in, own) &&
            open_band_reader(static_cast<AVPixelFormat>(own.pix_fmt), run.g, own_reader))
            take_passes(own, own_reader, own_packet.get(), own_frame.get(), run, board);
    });
    // Every pass up to board.last is done and reported now.
    if (!board.ended) return 0;
    const pass_outcome& last = board.passes[board.reported - 1];
    if (last.end == pass_end::fatal) return last.code;
    sw.frames = board.reported - 1;
    run.samples.resize(sw.frames);
    return 0;
}

// Samples sw.frames key frames through `reader` and prints the summary. `own_file`: the
// input was opened from sw.video_file, which other threads may open as well. Returns 0,
// or the error code of a fatal decoding failure.
int sample_video(video_input& in, band_reader& reader, AVPacket* packet, AVFrame* frame,
                 bool own_file, analysis_result* result) {
    sampling run;
    run.g = reader.g;
    run.reader = &reader;
    run.image_size = static_cast<size_t>(2 * run.g.band_w) * (2 * run.g.band_h);
    run.all_corners = (sw.flags & FLAG_ALL_CORNERS) != 0;
    // all_corners mode reads up to 4000 key frames in order and reports only the crop
    // line, so it keeps each sample's border box instead of its band image.
    if (run.all_corners)
        run.scratch.reset(new uint8_t[run.image_size ? run.image_size : 1]);
    else
        run.samples.resize(sw.frames);
    for (int i = 0; !run.all_corners && i < sw.frames; ++i)
        run.images.emplace_back(new uint8_t[run.image_size ? run.image_size : 1]);

    // Without a duration there is nothing to spread the seeks over: take the key frames
    // in order from the start, as all_corners mode does.
    const bool seeking = !run.all_corners && known_duration(in) > 0;
    const bool info = (sw.flags & FLAG_INFO) != 0;
    printf(info ? "%s" : "Key Frame: ", sw.video_file.c_str());
    fflush(stdout);

    // Seeking passes are independent (the decoder forgets everything at each seek), so
    // they can share the work out; a caller's I/O context cannot be opened twice.
    const int threads = seeking && own_file && !info ? std::min(worker_threads(), sw.frames) : 1;
    const int code = threads > 1 ? sample_in_parallel(in, packet, frame, run, threads)
                                 : sample_in_order(in, packet, frame, run, seeking, info);
    if (code < 0) return code;
    // The samples captured so far make the summary even when the last pass failed.
    print_summary(in, run, result);
    return 0;
}

int run_video(AVIOContext* io, analysis_result* result) {
    frame_ptr frame(av_frame_alloc());
    packet_ptr packet(av_packet_alloc());
    if (!frame || !packet) return error_report(AVERROR(ENOMEM));
    video_input in;
    band_reader reader;
    // Every FFmpeg object goes before the error is reported.
    auto release = [&]() {
        reader = band_reader{};
        in = video_input{};
        frame.reset();
        packet.reset();
    };
    auto fatal = [&](int code) {
        release();
        return error_report(code);
    };
    // A caller that takes the result acts on it (delogo-apply) and shows its own progress
    // on standard error: the stream dump would only push that away.
    int ret = open_video(sw.video_file.c_str(), io, result == nullptr, in);
    if (ret < 0) return fatal(ret);
    const AVPixelFormat format = static_cast<AVPixelFormat>(in.pix_fmt);
    if (!open_band_reader(format, bands_of(in), reader)) {
        const char* name = av_get_pix_fmt_name(format);
        const std::string text = std::string("pixel format ") + (name ? name : "unknown") +
                                 " has no luma plane to analyse";
        release();
        return error_text(text.c_str());
    }
    ret = sample_video(in, reader, packet.get(), frame.get(), io == nullptr, result);
    if (ret < 0) return fatal(ret);

    ret = av_seek_frame(in.fmt_ctx.get(), -1, 0, 0);
    av_log(nullptr, AV_LOG_ERROR, "Finished\n");
    reader = band_reader{};
    in = video_input{};
    // A stream that cannot seek at all (a raw elementary stream: FFmpeg answers -1,
    // EPERM) has still been read in full; failing to rewind it is no failure of the run.
    if (ret >= 0 || ret == AVERROR_EOF || ret == AVERROR(EPERM)) return 0;
    return error_report(ret);
}

} // namespace

int process_video(AVIOContext* io, analysis_result* result) {
    try {
        return run_video(io, result);
    } catch (const std::bad_alloc&) {
        // Band images of an oversized frame or a huge sample count.
        return error_report(AVERROR(ENOMEM));
    }
}
