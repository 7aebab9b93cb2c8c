// The logo library's lookup beside the model's analysis, on the same samples of a real
// recording: the four corners sampled as the model samples them (no crop, the default
// bands), then, each ROUNDS times (default 5, alternating), the model's estimate in the
// four corners and the lookup of every logo of the library DIR; CPU seconds of the
// process (the sampling decodes on worker threads), medians, and the ratio. The sampling's own time is printed too (the model's
// analysis is the sampling and the estimate; the lookup reads no picture of its own).
// For each logo: the samples that show it, the colour errors per plane and the verdict.
//
//   [STREAM=N] [ROUNDS=N] library_bench RECORDING DIR   (STREAM: the video stream, default 0)
#include <ctime>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apply/library_files.h"
#include "apply/model_detector.h"
#include "logo/logo_library.h"
#include "video/picture_sampler.h"
#include "video/sampler.h"

namespace {

double cpu_now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: library_bench RECORDING DIR\n");
        return 2;
    }
    const int stream = getenv("STREAM") ? atoi(getenv("STREAM")) : 0; // the video stream
    const int rounds = getenv("ROUNDS") ? std::max(1, atoi(getenv("ROUNDS"))) : 5;
    // The frame's size from a first sampling of one tiny rectangle.
    const picture_samples probe = sample_pictures(argv[1], stream, 1, {picture_rect{0, 0, 2, 2}});
    if (!probe.error.empty()) {
        fprintf(stderr, "library_bench: %s\n", probe.error.c_str());
        return 1;
    }
    const int w = probe.width, h = probe.height, bw = w * 35 / 100, bh = h * 18 / 100;
    std::vector<picture_rect> rects;
    for (int c = 0; c < 4; ++c)
        rects.push_back(picture_rect{(c & 1) ? w - bw : 0, (c & 2) ? h - bh : 0, bw, bh});
    const double t0 = cpu_now();
    const picture_samples s = sample_pictures(argv[1], stream, model_samples, rects);
    const double sampling = cpu_now() - t0;
    if (!s.error.empty()) {
        fprintf(stderr, "library_bench: %s\n", s.error.c_str());
        return 1;
    }
    const int shift_x = s.rects[0].shift_x, shift_y = s.rects[0].shift_y;
    std::vector<std::string> notes;
    const std::vector<library_entry> known =
        read_library(argv[2], w, h, shift_x, shift_y, s.rects[0].cb.width > 0 ? 3 : 1, notes);
    for (const std::string& n : notes)
        fprintf(stderr, "%s\n", n.c_str());
    std::vector<double> estimate, lookup;
    std::vector<logo_lookup> verdicts(known.size());
    for (int k = 0; k < rounds; ++k) {
        double t = cpu_now();
        for (int c = 0; c < 4; ++c)
            estimate_logo(s.rects[size_t(c)], c, 23, h / 720.0);
        estimate.push_back(cpu_now() - t);
        t = cpu_now();
        for (size_t e = 0; e < known.size(); ++e)
            for (size_t c = 0; c < 4; ++c) {
                const picture_rect& q = s.where[c];
                const frame_logo& l = known[e].logo;
                if (l.box_x >= q.x && l.box_y >= q.y && l.box_x + l.box_w <= q.x + q.w &&
                    l.box_y + l.box_h <= q.y + q.h)
                    verdicts[e] = look_up(l, s.rects[c], q.x, q.y);
            }
        lookup.push_back(cpu_now() - t);
    }
    const int n = s.rects[0].luma.count();
    for (size_t e = 0; e < known.size(); ++e) {
        const logo_lookup& v = verdicts[e];
        printf("%-24s shown %2d of %d  colour error %+6.1f %+6.1f %+6.1f  %s\n",
               known[e].name.c_str(), v.shown, n, v.colour_error[0], v.colour_error[1],
               v.colour_error[2], v.present ? "present" : v.inside ? "absent" : "not inside");
    }
    const double me = median(estimate), ml = median(lookup);
    printf("samples %d of %dx%d; CPU s: sampling %.3f, estimate (4 corners) %.3f, lookup "
           "(%zu logos) %.4f; lookup / estimate %.3f, lookup / (sampling + estimate) %.3f\n",
           n, w, h, sampling, me, known.size(), ml, me > 0 ? ml / me : 0,
           sampling + me > 0 ? ml / (sampling + me) : 0);
    return 0;
}
