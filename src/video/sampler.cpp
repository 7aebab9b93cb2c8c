// The run of a video: opening it, sampling its key frames into band images, the analysis
// and the summary around it.
#include "video/sampler.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "analysis/border_crop.h"
#include "analysis/crop_delogo.h"
#include "analysis/settings.h"
#include "analysis/types.h"
#include "analysis/workers.h"
#include "video/key_frames.h"
#include "video/luma_bands.h"
#include "video/parallel_passes.h"

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

// The sampling of one run: the frame geometry fixed when the decoder was opened, and
// what the passes keep.
struct sampling {
    band_geometry g;
    std::vector<band_reader> readers; // the frames' luma, one per decoder (a conversion
                                      // keeps state)
    size_t image_size;                // bytes of one band image
    bool all_corners;
    bool info;
    std::vector<band_sample> samples;   // one record per pass (not in all_corners mode)
    std::vector<box> borders;           // all_corners mode: border box of each capture
    std::unique_ptr<uint8_t[]> scratch; // all_corners mode: the one band image
    // Band images for the passes, allocated before the first seek. Flushing frees the
    // decoder's working memory, which it allocates again in the next pass: a band image
    // allocated after a flush would take that memory and leave the decoder fresh pages
    // to fault in every pass.
    std::vector<std::unique_ptr<uint8_t[]>> images;
};

// Copies the bands of pass i's key frame (from 1): into the pass's band image, or in
// all_corners mode (read in order on one decoder) into the scratch image for its border
// box.
void capture(sampling& run, int i, int decoder, const AVFrame* frame) {
    band_reader& reader = run.readers[static_cast<size_t>(decoder)];
    if (run.all_corners) {
        read_bands(reader, frame, run.scratch.get());
        run.borders.push_back(
            sample_border(run.scratch.get(), 2 * run.g.band_w, 2 * run.g.band_h, sw.level_black));
        return;
    }
    read_bands(reader, frame, run.images[static_cast<size_t>(i - 1)].get());
}

// What pass i's end means for the run: its progress number and sample, or the end of the
// file that lowers sw.frames.
void commit(sampling& run, int i, pass_end end) {
    switch (end) {
    case pass_end::captured:
        if (!run.info) printf("%d ", i);
        fflush(stdout);
        if (!run.all_corners) {
            band_sample& s = run.samples[static_cast<size_t>(i - 1)];
            s.image = std::move(run.images[static_cast<size_t>(i - 1)]);
            s.corner_flags = 15;
        }
        return;
    case pass_end::end_of_file:
        sw.frames = i - 1;
        if (!run.all_corners) run.samples.resize(static_cast<size_t>(sw.frames));
        return;
    case pass_end::read_error: // this pass's record stays empty
    case pass_end::fatal:
        return;
    }
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
    if (!run.info) {
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

// Samples sw.frames key frames through `reader` and prints the summary. Returns 0, or the
// error code of a fatal decoding failure.
int sample_video(video_input& in, band_reader& reader, AVPacket* packet, AVFrame* frame,
                 analysis_result* result) {
    sampling run;
    run.g = reader.g;
    run.readers.push_back(std::move(reader));
    run.image_size = static_cast<size_t>(2 * run.g.band_w) * (2 * run.g.band_h);
    run.all_corners = (sw.flags & FLAG_ALL_CORNERS) != 0;
    run.info = (sw.flags & FLAG_INFO) != 0;
    // all_corners mode reads up to 4000 key frames in order and reports only the crop
    // line, so it keeps each sample's border box instead of its band image.
    if (run.all_corners)
        run.scratch.reset(new uint8_t[run.image_size ? run.image_size : 1]);
    else
        run.samples.resize(static_cast<size_t>(sw.frames));
    for (int i = 0; !run.all_corners && i < sw.frames; ++i)
        run.images.emplace_back(new uint8_t[run.image_size ? run.image_size : 1]);

    // Without a duration there is nothing to spread the seeks over: take the key frames
    // in order from the start, as all_corners mode does.
    const bool seeking = !run.all_corners && known_duration(in) > 0;
    std::vector<int64_t> targets(static_cast<size_t>(sw.frames), no_seek);
    for (int i = 1; seeking && i <= sw.frames; ++i)
        targets[static_cast<size_t>(i - 1)] = pass_target(in, i, sw.frames);
    printf(run.info ? "%s" : "Key Frame: ", sw.video_file.c_str());
    fflush(stdout);

    // Seeking passes start on a flushed decoder, so they can be decoded side by side; the
    // passes of the other modes go on from the decoder state of the pass before.
    int decoders = seeking && !run.info ? std::min(worker_threads(), sw.frames) : 1;
    while (static_cast<int>(run.readers.size()) < decoders) {
        band_reader own;
        if (!open_band_reader(static_cast<AVPixelFormat>(in.pix_fmt), run.g, own)) break;
        run.readers.push_back(std::move(own));
    }
    decoders = static_cast<int>(run.readers.size());
    const capture_fn on_frame = [&](int i, int decoder, const AVFrame* f) {
        capture(run, i, decoder, f);
    };
    const commit_fn on_end = [&](int i, pass_end end) { commit(run, i, end); };
    const int code = decoders > 1
                         ? sample_in_parallel(in, packet, targets, decoders, on_frame, on_end)
                         : sample_in_order(in, packet, frame, targets, on_frame, on_end);
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
    // on standard error: the stream dump and the closing line would only push that away.
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
    ret = sample_video(in, reader, packet.get(), frame.get(), result);
    if (ret < 0) return fatal(ret);

    ret = av_seek_frame(in.fmt_ctx.get(), -1, 0, 0);
    if (!result) av_log(nullptr, AV_LOG_ERROR, "Finished\n");
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
