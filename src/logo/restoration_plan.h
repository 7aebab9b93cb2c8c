// What the restoration does to every frame, worked out once from the logo model: per
// plane the rectangle around the logo, what undoing the blend is at each pixel, which
// pixels are filled from where, and what the presence test reads. Pure: no FFmpeg.
#pragma once

#include <vector>

#include "analysis/analysis_result.h"
#include "logo/frame_stages.h"
#include "logo/logo_model.h"

// Opacities up to this are undone; above it the division by 1 - alpha would multiply the
// coding noise more than six times, and the pixel is filled instead.
constexpr float undo_limit = 0.85f;
// Between undo_limit - feather_width and undo_limit a pixel is a mix of both, its share of
// the fill growing with its opacity: no seam where the two meet.
constexpr float feather_width = 0.15f;

// The presence test's high-pass: a pixel less the mean of the (2 r + 1)^2 square around it.
constexpr int high_pass_radius = 3;

// One plane's work: a rectangle of the plane (plane pixels) and, over it row by row, what
// each pixel becomes.
struct plane_restoration {
    int x = 0, y = 0, w = 0, h = 0;      // the rectangle, plane pixels
    std::vector<float> gain, offset;     // undone: observed * gain - offset (8-bit scale)
    std::vector<float> fill_share;       // 0 undone only, 1 filled only, between: mixed
    // Pixels filled: their index in the rectangle, and their sources (rectangle index and
    // weight, the weights of one pixel summing to 1) from first_source[k] up to
    // first_source[k + 1].
    std::vector<int> filled, first_source, source;
    std::vector<float> weight;
};

// The whole frame's work, for frames of one size and pixel layout.
struct restoration {
    int planes = 0;       // 1 (grey) or 3 (Y, Cb, Cr)
    int depth = 8;        // bits per sample
    float top = 255;      // the largest sample on the 8-bit scale: (2^depth - 1) / 2^(depth - 8)
    plane_restoration plane[3];
    // The presence test, over the luma rectangle: the pixels within reach of the logo's
    // high-pass (rectangle indices) with the high-pass of its opacity and of opacity times
    // colour (8-bit scale) there, and the pixels inside its translucent parts (opacity
    // 0.25 or more, only undone, the opacity flat around them).
    std::vector<int> support;
    std::vector<float> hp_alpha, hp_alpha_colour;
    std::vector<int> undone;
    // The pixels just around the logo (within the high-pass' reach, no opacity), and the
    // mean opacity and colour (8-bit) of the translucent pixels above.
    std::vector<int> ring;
    float ring_alpha = 0, ring_colour = 0;
};

// The work for `logo` (a model placed in the frame, colours on the 8-bit scale) on frames
// of `depth` bits and `planes` planes, inside `picture` (the part of the frame that is
// kept: nothing is read or written outside it). `interlaced`: fills take their sources
// from rows of the same field.
restoration plan_restoration(const frame_logo& logo, const frame_rect& picture, int planes,
                             int depth, bool interlaced);

// The work areas the stages of `r` read and write: its planes' rectangles.
work_layout layout_of(const restoration& r);
