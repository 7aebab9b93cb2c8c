// The tool's driver: command line, opening the video, sampling key frames and copying
// their corner bands, and the summary. The only module that talks to FFmpeg.
#include "delogo.h"

#include <getopt.h>
#include <libgen.h>
#include <sys/stat.h>

#include <algorithm>
#include <cfloat>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include "av_ptr.h"
#include "crop_delogo.h"

Settings sw;

// ---- Command line ------------------------------------------------------------------

namespace {

const option long_options[] = {
    {"help", no_argument, nullptr, '?'},
    {"info", no_argument, nullptr, 'i'},
    {"canny", no_argument, nullptr, 'y'},
    {"two_rectangles", no_argument, nullptr, '2'},
    {"removelogo", no_argument, nullptr, 'm'},
    {"pixel_ratio", required_argument, nullptr, 'r'},
    {"all_corners", no_argument, nullptr, 'a'},
    {"corner", required_argument, nullptr, 'c'},
    {"frames", required_argument, nullptr, 'f'},
    {"width_bands", required_argument, nullptr, 'W'},
    {"height_bands", required_argument, nullptr, 'H'},
    {"level_black", required_argument, nullptr, 'b'},
    {"level_delta", required_argument, nullptr, 'd'},
    {"border_black", required_argument, nullptr, 'k'},
    {"border_band", required_argument, nullptr, 'z'},
    {"threshold", required_argument, nullptr, 't'},
    {"sigma", required_argument, nullptr, 's'},
    {"tlow", required_argument, nullptr, 'l'},
    {"thigh", required_argument, nullptr, 'h'},
    {"save_as_pcx", no_argument, nullptr, 'X'},
    {nullptr, 0, nullptr, 0},
};

// Help text of each long option, and the settings field whose value its line shows.
struct option_help {
    const char* text;
    const int* int_value;
    const float* float_value;
};

const option_help opdsc[] = {
    {"show options help", nullptr, nullptr},
    {"show video info only", nullptr, nullptr},
    {"force canny edge detection for logo", nullptr, nullptr},
    {"cover the logo with two overlaping rectangles", nullptr, nullptr},
    {"generate a mask of the logo instead of a rectangle", nullptr, nullptr},
    {"switch to mask mode if pixel percentage inside the logo\n\t\t\t\tbounding box is bellow "
     "(default %d%%)",
     &sw.pixel_ratio, nullptr},
    {"logo present in all corners", nullptr, nullptr},
    {"fix logo corner [0-3] (NW,NE,SW,SE)", nullptr, nullptr},
    {"number of frames to process (default %d)", &sw.frames, nullptr},
    {"width percentage search band (default %d%%)", &sw.width_bands, nullptr},
    {"height percentage search band (default %d%%)", &sw.height_bands, nullptr},
    {"maximum black level (default %d)", &sw.level_black, nullptr},
    {"maximum luminance distace for logo detection (default %d)", &sw.level_delta, nullptr},
    {"border thickness around logo (default %d)", &sw.border_black, nullptr},
    {"additional border band (default %d)", &sw.border_band, nullptr},
    {"canny edge detection threshold 0-255 (default %d)", &sw.threshold, nullptr},
    {"canny sigma (default %.1f)", nullptr, &sw.sigma},
    {"canny tlow (default %.1f)", nullptr, &sw.tlow},
    {"canny thigh (default %.1f)", nullptr, &sw.thigh},
    {"save images as PCX rather than PNG", nullptr, nullptr},
};

// strtol in base 10, truncated to 32 bits as a C int would hold it.
int read_int(const char* text) {
    long value = strtol(text, nullptr, 10);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

// strtod narrowed to float without undefined behaviour: values beyond the float range
// become infinities of their sign (NaN stays NaN and is rejected by the callers).
float read_float(const char* text) {
    double value = strtod(text, nullptr);
    if (value > FLT_MAX) return INFINITY;
    if (value < -FLT_MAX) return -INFINITY;
    return static_cast<float>(value);
}

int in_range(int value, int low, int high, int fallback) {
    return value >= low && value <= high ? value : fallback;
}

} // namespace

int parse_options(int argc, char** argv, Settings& out) {
    out = Settings{};
    optind = 0; // restart getopt's scan (GNU), so that parsing can run more than once
    int opt;
    while ((opt = getopt_long(argc, argv, ":iay2Xmc:r:f:W:H:b:d:k:z:t:s:l:h:", long_options,
                              nullptr)) != -1) {
        switch (opt) {
        case 'i':
            out.flags |= FLAG_INFO;
            out.frames = 1;
            break;
        case 'y':
            out.flags |= FLAG_CANNY;
            break;
        case '2':
            out.flags |= FLAG_TWO_RECTANGLES;
            break;
        case 'm':
            out.flags |= FLAG_REMOVELOGO;
            break;
        case 'X':
            out.flags |= FLAG_SAVE_AS_PCX;
            break;
        case 'a':
            out.flags |= FLAG_ALL_CORNERS | FLAG_CANNY;
            out.frames = 4000;
            break;
        case 'r':
            out.pixel_ratio = in_range(read_int(optarg), 0, 100, 0);
            break;
        case 'c': {
            int corner = read_int(optarg);
            if (corner >= 0 && corner <= 3) out.corner_mask = static_cast<uint8_t>(1 << corner);
            break;
        }
        case 'f':
            out.frames = in_range(read_int(optarg), 5, 500, 64);
            break;
        case 'W':
            out.width_bands = in_range(read_int(optarg), 3, 48, 35);
            break;
        case 'H':
            out.height_bands = in_range(read_int(optarg), 3, 48, 18);
            break;
        case 'b':
            out.level_black = in_range(read_int(optarg), 1, 255, 23);
            break;
        case 'd':
            out.level_delta = in_range(read_int(optarg), 1, 255, 65);
            break;
        case 'k':
            out.border_black = in_range(read_int(optarg), 0, 100, 15);
            break;
        case 'z':
            out.border_band = in_range(read_int(optarg), 0, 20, 4);
            break;
        case 't':
            out.threshold = in_range(read_int(optarg), 0, 255, 170);
            break;
        case 's': {
            float value = read_float(optarg);
            out.sigma = std::isnan(value) || value < 0 ? 1.2f : value;
            break;
        }
        case 'l': {
            float value = read_float(optarg);
            out.tlow = std::isnan(value) || value > 1 || value <= 0 ? 0.3f : value;
            break;
        }
        case 'h': {
            float value = read_float(optarg);
            out.thigh = std::isnan(value) || value > 1 || value <= 0 ? 0.8f : value;
            break;
        }
        default:
            return 1; // -?, --help, an unknown option or a missing argument
        }
    }
    if (optind >= argc) return 1;
    out.video_file = argv[optind++];
    return 0;
}

void usage(const char* prog) {
    size_t longest = 0;
    for (const option* o = long_options; o->name; ++o)
        longest = std::max(longest, strlen(o->name));
    printf("Usage: %s [options] video_file\n", prog);
    for (int i = 0; long_options[i].name; ++i) {
        char line[136];
        int pad = static_cast<int>(longest + 1 - strlen(long_options[i].name));
        snprintf(line, sizeof line, "\t-%c,--%s%*c %s\n", long_options[i].val, long_options[i].name,
                 pad, ' ', opdsc[i].text);
        // The help text may hold one printf conversion for the field's current value.
        const char* percent = strchr(line, '%');
        if (!percent) {
            fputs(line, stdout);
        } else if (strchr(percent, 'd') && opdsc[i].int_value) {
            printf(line, *opdsc[i].int_value);
        } else if (strchr(percent, 'f') && opdsc[i].float_value) {
            printf(line, static_cast<double>(*opdsc[i].float_value));
        }
    }
    fflush(stdout);
    exit(0);
}

void program_options(int argc, char** argv) {
    if (parse_options(argc, argv, sw) != 0) {
        std::vector<char> name(argv[0], argv[0] + strlen(argv[0]) + 1);
        usage(__xpg_basename(name.data()));
    }
}

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

// ---- Video --------------------------------------------------------------------------

namespace {

input_ptr fmt_ctx;
codec_ptr dec_ctx;
int video_stream_index = -1;

// Releases every FFmpeg object of the run.
void release_all(frame_ptr& frame, packet_ptr& packet) {
    dec_ctx.reset();
    fmt_ctx.reset();
    frame.reset();
    packet.reset();
}

// The report of every fatal path: FFmpeg's text for `code` on standard error.
int error_report(int code) {
    char text[64];
    memset(text, 0, sizeof text);
    av_strerror(code, text, sizeof text);
    fflush(stdout);
    fprintf(stderr, "Error occurred: %s\n", text);
    return 1;
}

// Band geometry of the run, from the decoder's frame size at open time.
struct band_geometry {
    int width, height; // frame size
    int band_w, band_h;
};

// Copies the corner bands of a luma plane into a band image of 2*band_w x 2*band_h bytes.
void copy_bands(const AVFrame* frame, const band_geometry& g, uint8_t* image) {
    const ptrdiff_t stride = frame->linesize[0];
    const int band_w2 = 2 * g.band_w;
    uint8_t* out = image;
    for (int y = 0; y < g.height; ++y) {
        if (y >= g.band_h && y < g.height - g.band_h) {
            y = g.height - g.band_h - 1; // jump over the middle rows
            continue;
        }
        const uint8_t* row = frame->data[0] + y * stride;
        memcpy(out, row, g.band_w);
        memcpy(out + g.band_w, row + g.width - g.band_w, g.band_w);
        out += band_w2;
    }
}

// Opens sw.video_file (through `io` when given), finds the best video stream and opens
// its decoder into the globals, logging what failed. Returns 0 or FFmpeg's error code.
int open_video(AVIOContext* io) {
    AVFormatContext* opened = nullptr;
    if (io) {
        opened = avformat_alloc_context();
        if (!opened) return AVERROR(ENOMEM);
        opened->pb = io;
        opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // FFmpeg reads "name:rest" as a URL of protocol "name"; a recording called
    // "News: 10pm.ts" is still a file on disk, so an existing path is opened as one.
    std::string url = sw.video_file;
    struct stat file_info;
    if (!io && url.find(':') != std::string::npos && stat(url.c_str(), &file_info) == 0)
        url = "file:" + url;
    int ret = avformat_open_input(&opened, url.c_str(), nullptr, nullptr);
    fmt_ctx.reset(opened);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot open input file\n");
        return ret;
    }
    // The decoders that probing opens obey the same frame-size cap as ours.
    std::vector<AVDictionary*> probe_options(fmt_ctx->nb_streams, nullptr);
    for (AVDictionary*& o : probe_options)
        av_dict_set_int(&o, "max_pixels", max_frame_pixels, 0);
    ret = avformat_find_stream_info(fmt_ctx.get(), probe_options.data());
    for (AVDictionary*& o : probe_options)
        av_dict_free(&o);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find stream information\n");
        return ret;
    }
    found_decoder decoder = nullptr;
    ret = av_find_best_stream(fmt_ctx.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find a video stream in the input file\n");
        return ret;
    }
    video_stream_index = ret;
    dec_ctx.reset(avcodec_alloc_context3(decoder));
    if (!dec_ctx) return AVERROR(ENOMEM);
    avcodec_parameters_to_context(dec_ctx.get(), fmt_ctx->streams[video_stream_index]->codecpar);
    // Refuse frames beyond the cap before the decoder allocates them.
    dec_ctx->max_pixels = max_frame_pixels;
    if ((ret = avcodec_open2(dec_ctx.get(), decoder, nullptr)) < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot open video decoder\n");
        return ret;
    }
    av_dump_format(fmt_ctx.get(), 0, sw.video_file.c_str(), 0);
    return 0;
}

// What one sampling pass ended with.
enum class pass_end { captured, read_error, end_of_file, fatal };

// The sampling of one run: the frame geometry fixed when the decoder was opened, and
// what the passes keep.
struct sampling {
    band_geometry g;
    AVPixelFormat pix_fmt;
    size_t image_size; // bytes of one band image
    bool all_corners;
    std::vector<band_sample> samples;   // one record per pass (not in all_corners mode)
    std::vector<box> borders;           // all_corners mode: border box of each capture
    std::unique_ptr<uint8_t[]> scratch; // all_corners mode: the one band image
    // The band image of the next capture, allocated while the decoder still holds its
    // working memory (see read_key_frame).
    std::unique_ptr<uint8_t[]> next_image;
};

// Reads packets until the decoder hands out a key frame of the run's geometry, left in
// `frame`. `code` receives the error of a fatal end.
pass_end read_key_frame(sampling& run, AVPacket* packet, AVFrame* frame, int& code) {
    while (true) {
        int ret = av_read_frame(fmt_ctx.get(), packet);
        if (ret == AVERROR_EOF) return pass_end::end_of_file;
        if (ret < 0) return pass_end::read_error;
        if (packet->stream_index != video_stream_index) {
            av_packet_unref(packet);
            continue;
        }
        av_log(nullptr, AV_LOG_DEBUG, "Demuxer gave frame of stream_index %d\n",
               packet->stream_index);
        const bool key_packet = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        ret = avcodec_send_packet(dec_ctx.get(), packet);
        av_packet_unref(packet);
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Error while sending a packet to the decoder\n");
            code = ret;
            return pass_end::fatal;
        }
        ret = avcodec_receive_frame(dec_ctx.get(), frame);
        bool drained = false;
        if (ret == AVERROR(EAGAIN) && key_packet) {
            // A decoder that reorders frames keeps the key frame until more packets
            // arrive; drain it now rather than read on to the next one.
            avcodec_send_packet(dec_ctx.get(), nullptr);
            ret = avcodec_receive_frame(dec_ctx.get(), frame);
            drained = true;
        }
        // Flushing frees the decoder's working memory, which it allocates again in the
        // next pass. Taken after the flush, the band image would reuse that memory and
        // leave the decoder fresh, unmapped pages to fault in every pass; taken before,
        // the decoder keeps reusing its own.
        if (ret >= 0 && !run.all_corners && !run.next_image)
            run.next_image.reset(new uint8_t[run.image_size ? run.image_size : 1]);
        if (drained) avcodec_flush_buffers(dec_ctx.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) continue;
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Error while decoding a frame\n");
            code = ret;
            return pass_end::fatal;
        }
        // A frame that is no key frame, or whose geometry changed since the decoder was
        // opened, is no sample.
        if (is_key_frame(frame) && frame->width == run.g.width && frame->height == run.g.height &&
            frame->format == run.pix_fmt)
            return pass_end::captured;
        av_frame_unref(frame);
    }
}

// Keeps the captured frame of pass i (from 1): its band image, or in all_corners mode
// just its border box.
void capture(sampling& run, const AVFrame* frame, int i) {
    if (run.all_corners) {
        copy_bands(frame, run.g, run.scratch.get());
        run.borders.push_back(
            sample_border(run.scratch.get(), 2 * run.g.band_w, 2 * run.g.band_h, sw.level_black));
        return;
    }
    band_sample& s = run.samples[i - 1];
    s.image = std::move(run.next_image);
    s.corner_flags = 15;
    copy_bands(frame, run.g, s.image.get());
}

// The size line, the analysis unless in info mode, and the duration line.
void print_summary(const sampling& run, bool known_duration) {
    const band_geometry& g = run.g;
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
            crop_delogo(2 * g.band_w, 2 * g.band_h, g.width, g.height, run.samples.data());
        }
    }
    const int64_t shown = known_duration ? fmt_ctx->duration : 0;
    int hours, minutes, seconds;
    split_duration(shown, hours, minutes, seconds);
    printf("Duration: %.3f (%02d:%02d:%02d) BitRate: %" PRId64 "\n",
           static_cast<double>(shown) / 1000000.0, hours, minutes, seconds,
           static_cast<int64_t>(fmt_ctx->bit_rate));
    fflush(stdout);
}

// Samples sw.frames key frames and prints the summary. Returns 0, or the error code of
// a fatal decoding failure.
int sample_video(AVPacket* packet, AVFrame* frame) {
    sampling run;
    run.pix_fmt = dec_ctx->pix_fmt;
    run.g.width = std::max(dec_ctx->width, 0);
    run.g.height = std::max(dec_ctx->height, 0);
    run.g.band_w = run.g.width * sw.width_bands / 100;
    run.g.band_h = run.g.height * sw.height_bands / 100;
    run.image_size = static_cast<size_t>(2 * run.g.band_w) * (2 * run.g.band_h);
    run.all_corners = (sw.flags & FLAG_ALL_CORNERS) != 0;
    // all_corners mode reads up to thousands of key frames and reports only the crop
    // line, so it keeps each sample's border box instead of its band image.
    if (run.all_corners)
        run.scratch.reset(new uint8_t[run.image_size ? run.image_size : 1]);
    else
        run.samples.resize(sw.frames);

    dec_ctx->skip_frame = AVDISCARD_NONKEY;
    const int64_t duration = fmt_ctx->duration;
    const bool known_duration = duration != AV_NOPTS_VALUE && duration > 0;
    // Without a duration there is nothing to spread the seeks over: take the key frames
    // in order from the start, as all_corners mode does.
    const bool seeking = !run.all_corners && known_duration;
    // Recordings (MPEG-TS above all) start at an arbitrary clock: count from there.
    const int64_t start_time =
        fmt_ctx->start_time != AV_NOPTS_VALUE && fmt_ctx->start_time > 0 ? fmt_ctx->start_time : 0;
    const bool info = (sw.flags & FLAG_INFO) != 0;
    printf(info ? "%s" : "Key Frame: ", sw.video_file.c_str());
    fflush(stdout);

    for (int i = 1; i <= sw.frames; ++i) {
        if (seeking) {
            int64_t target = av_rescale_rnd(i, duration, sw.frames + 1, AV_ROUND_DOWN);
            av_seek_frame(fmt_ctx.get(), -1, start_time + target, AVSEEK_FLAG_BACKWARD);
            // Forget frames held from before the seek: the sample must be the key frame
            // at or before this pass's seek point.
            avcodec_flush_buffers(dec_ctx.get());
        }
        int code = 0;
        switch (read_key_frame(run, packet, frame, code)) {
        case pass_end::fatal:
            return code;
        case pass_end::end_of_file:
            sw.frames = i - 1;
            if (!run.all_corners) run.samples.resize(sw.frames);
            print_summary(run, known_duration);
            return 0;
        case pass_end::captured:
            if (!info) printf("%d ", i);
            fflush(stdout);
            capture(run, frame, i);
            av_frame_unref(frame);
            break;
        case pass_end::read_error:
            break; // this pass's record stays empty
        }
    }
    // The samples captured so far make the summary even when the last pass failed.
    print_summary(run, known_duration);
    return 0;
}

} // namespace

int process_video(AVIOContext* io) {
    frame_ptr frame(av_frame_alloc());
    packet_ptr packet(av_packet_alloc());
    if (!frame || !packet) return error_report(AVERROR(ENOMEM));
    auto fatal = [&](int code) {
        release_all(frame, packet);
        return error_report(code);
    };

    int ret = open_video(io);
    if (ret < 0) return fatal(ret);
    // Only 8-bit planar YUV 4:2:0 and 4:2:2 are sampled; other formats end here.
    if (dec_ctx->pix_fmt == AV_PIX_FMT_YUV420P || dec_ctx->pix_fmt == AV_PIX_FMT_YUV422P) {
        ret = sample_video(packet.get(), frame.get());
        if (ret < 0) return fatal(ret);
    }

    ret = av_seek_frame(fmt_ctx.get(), -1, 0, 0);
    av_log(nullptr, AV_LOG_ERROR, "Finished\n");
    release_all(frame, packet);
    // A stream that cannot seek at all (a raw elementary stream: FFmpeg answers -1,
    // EPERM) has still been read in full; failing to rewind it is no failure of the run.
    if (ret >= 0 || ret == AVERROR_EOF || ret == AVERROR(EPERM)) return 0;
    return error_report(ret);
}

#ifndef DELOGO_NO_MAIN

int main(int argc, char** argv) {
    try {
        program_options(argc, argv);
        return process_video(nullptr);
    } catch (const std::bad_alloc&) {
        // Band images of an oversized frame or a huge sample count.
        return error_report(AVERROR(ENOMEM));
    }
}

#endif
