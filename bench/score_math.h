// The arithmetic of bench/restore_score: regions of a frame, squared errors, PSNR, the
// flicker measure and the blend undone, on planes of 16-bit samples (8-bit pictures
// widened, 10-bit as they are). No FFmpeg.
#pragma once

#include <cstdint>
#include <vector>

// A rectangle in programme (frame) pixels; w or h <= 0 is empty.
struct rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// `r` grown by `by` pixels on every side (shrunk when negative), clipped to a
// width x height frame.
rect grown(rect r, int by, int width, int height);
// The smallest rectangle holding both; an empty one is ignored.
rect united(rect a, rect b);

// A plane of samples placed in programme coordinates: its pixel (0, 0) is the programme's
// (ox, oy) (a cropped output), rows `stride` samples apart.
struct plane_view {
    const uint16_t* data = nullptr;
    int width = 0, height = 0, stride = 0;
    int ox = 0, oy = 0;
};

// Sums of squared (or absolute) differences and the number of samples they cover.
struct error_sum {
    double sum = 0;
    long long count = 0;
    void add(const error_sum& e) {
        sum += e.sum;
        count += e.count;
    }
};

// Squared differences between `a` and `b` over the pixels of `region` that lie outside
// `hole` and inside both planes.
error_sum squared_error(const plane_view& a, const plane_view& b, rect region, rect hole = {});

// PSNR in dB of a mean squared error with samples up to `peak`: +inf for no error, NaN
// for no samples.
double psnr(const error_sum& e, int peak);

// Flicker: the sum over `region` (inside all four planes) of
// |(out - out_before) - (truth - truth_before)|: what the output's changes from one frame
// to the next add to the programme's.
error_sum change_error(const plane_view& out, const plane_view& out_before, const plane_view& truth,
                       const plane_view& truth_before, rect region);

// One opacity byte (0..255) of a graphic shown at `strength` (0..1), as make-recording
// fades it: floor(alpha * strength + 0.5) / 255.
double faded_opacity(int alpha, double strength);

// The overlay's blend observed = opacity * logo + (1 - opacity) * picture undone for one
// sample, rounded and clamped to 0..peak; left as observed where the opacity is 0 or at
// least 0.99 (nothing of the picture left to recover).
uint16_t undo_blend(uint16_t observed, uint16_t logo, double opacity, int peak);

// Where a `small` plane (an output cropped from the frame) sits in `whole`: the offset,
// among every one that keeps it inside, with the least squared difference on a grid of
// every `step`-th pixel.
void best_offset(const plane_view& whole, const plane_view& small, int step, int& ox, int& oy);
