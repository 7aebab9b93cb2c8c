// delogo-apply's two costs beside a plain transcode's, measured apart on real videos, in
// CPU seconds (user + system, this process's threads and every child's):
//   decode     `ffmpeg -i CLIP -map 0:v -f null`: decoding the video, what any transcode does;
//   transport  the same decoding into raw pictures in NUT, through delogo-apply's frame
//              pass with an empty chain of stages, into an ffmpeg reading them (-f null):
//              what moving the pictures between the processes costs on top of decoding;
//   sampling   the logo model's pictures (sample_pictures, as the model asks for them).
// Each is run ROUNDS times (default 3), the cases alternating; medians are printed with
// the ratio to the decoding.
//
//   pipeline_bench CLIP...
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "apply/ffmpeg_commands.h"
#include "apply/ffmpeg_run.h"
#include "apply/input_streams.h"
#include "apply/model_detector.h"
#include "apply/restoring_run.h"
#include "video/picture_sampler.h"

namespace {

double cpu_seconds() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return s(self.ru_utime) + s(self.ru_stime) + s(children.ru_utime) + s(children.ru_stime);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: pipeline_bench CLIP...\n");
        return 2;
    }
    const int rounds = getenv("ROUNDS") ? atoi(getenv("ROUNDS")) : 3;
    printf("%-40s %10s %10s %8s %10s %8s\n", "clip", "decode s", "transport", "ratio",
           "sampling", "ratio");
    for (int a = 1; a < argc; ++a) {
        const std::string clip = argv[a];
        std::vector<input_stream> streams;
        int64_t start_us = 0;
        if (!read_input_streams(clip, streams, &start_us).empty()) {
            fprintf(stderr, "cannot read %s\n", clip.c_str());
            return 1;
        }
        input_stream video;
        for (const input_stream& s : streams)
            if (s.type == AVMEDIA_TYPE_VIDEO && !s.cover && video.index < 0) video = s;
        const frame_route route = route_frames(video.index, stream_plan(), streams, start_us, 0);
        frame_timing timing;
        timing.decoder = {"-fps_mode:v", "passthrough"};
        const std::vector<std::string> decoder = decoder_command(clip, route, timing);
        const std::vector<std::string> encoder =
            encoder_command(clip, route, "", timing, {"-f", "null"}, true, "/dev/null");
        const std::vector<std::string> plain{"ffmpeg",   "-hide_banner", "-nostdin", "-loglevel",
                                             "error",    "-i",           clip,       "-map",
                                             "0:v:0",    "-f",           "null",     "-progress",
                                             "pipe:1",   "-nostats",     "/dev/null"};
        // The empty chain: every picture passes as it came.
        const chain_maker empty = [](const frame_layout&, int, frame_chain& out) {
            out.chain = std::make_unique<stage_chain>(std::vector<std::unique_ptr<frame_stage>>());
            return std::string();
        };
        // The model's rectangles: the four corner bands of delogo's default size.
        std::vector<picture_rect> rects;
        std::vector<double> decode, transport, sampling;
        for (int r = 0; r < rounds; ++r) {
            int signal_number = 0;
            double t = cpu_seconds();
            if (run_ffmpeg(plain, 0, signal_number) != ffmpeg_end::done) return 1;
            decode.push_back(cpu_seconds() - t);
            t = cpu_seconds();
            if (run_restoring(decoder, encoder, empty, 0, signal_number) != ffmpeg_end::done)
                return 1;
            transport.push_back(cpu_seconds() - t);
            t = cpu_seconds();
            const picture_samples s = sample_pictures(clip, video.index, model_samples, rects);
            if (rects.empty() && s.width > 0) {
                // The first call told the frame size: now with the four corners.
                const int bw = s.width * 35 / 100, bh = s.height * 18 / 100;
                for (int c = 0; c < 4; ++c)
                    rects.push_back(picture_rect{c & 1 ? s.width - bw : 0,
                                                 c & 2 ? s.height - bh : 0, bw, bh});
                t = cpu_seconds();
                sample_pictures(clip, video.index, model_samples, rects);
            }
            sampling.push_back(cpu_seconds() - t);
        }
        const double d = median(decode), tr = median(transport), sa = median(sampling);
        printf("%-40s %10.2f %10.2f %8.2f %10.2f %8.2f\n",
               clip.substr(clip.size() > 40 ? clip.size() - 40 : 0).c_str(), d, tr, tr / d, sa,
               sa / d);
        fflush(stdout);
    }
    return 0;
}
