// The logo model of delogo-apply: for every pixel of a corner region the logo's opacity
// and colour, estimated from many sampled pictures, so that each observed picture reads
// observed = alpha * colour + (1 - alpha) * picture. A model holds one graphic or several
// (a station logo, a tag beside it), each with its own pixels and box. Pure: plain buffers.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/plane_samples.h"
#include "logo/region_fields.h"

// One graphic of a model: its bounding box (region or frame pixels, as the model's), the
// sum of its opacities, and the share of the samples that showed it (1 for a loaded model).
struct graphic_box {
    int x = 0, y = 0, w = 0, h = 0;
    double strength = 0;
    float shown = 1;
};

// The model of one corner region. Opacities are 0..1, colours on the 8-bit scale
// (0..255) whatever the video's depth; chroma arrays are chroma-plane sized.
struct logo_model {
    int width = 0, height = 0;             // luma pixels
    int chroma_width = 0, chroma_height = 0;
    std::vector<float> alpha, colour;       // luma: opacity and colour Y per pixel
    std::vector<float> alpha_c, colour_cb, colour_cr; // chroma: the subsampled opacity
    std::vector<uint8_t> graphic;           // per luma pixel: 0, or its graphic's number + 1
    std::vector<graphic_box> graphics;      // the graphics, the strongest first
    bool found = false;                     // a compact, consistent logo
    int box_x = 0, box_y = 0, box_w = 0, box_h = 0; // the strongest graphic's box
    double strength = 0;                    // the strongest graphic's strength
};

// Estimates the model of corner `corner`'s region (0 NW, 1 NE, 2 SW, 3 SE) from its
// samples (in time order). `scale`: the picture's height in units of 720 rows, which every
// radius and area of the estimate follows. Pixels black (mean at most `black`, 8-bit) and
// still in every sample are a letterbox bar, no picture.
logo_model estimate_logo(const corner_samples& samples, int corner, int black, double scale);

// Where a region's samples are picture (1), not a letterbox bar (0): pixels black (mean at
// most `black`) and still (spread at most 8) over much of their row or column are bar.
// `mean` and `spread`: the samples' per pixel, g-sized, 8-bit.
flags picture_of(const field& mean, const field& spread, grid g, int black);

// The corner (0 NW, 1 NE, 2 SW, 3 SE) whose model holds the strongest logo, or -1 when no
// corner holds one.
int strongest_corner(const logo_model models[4]);

// The graphics of a model's opacities: parts of opacity above 0.04 (of 30 pixels or more at
// 720 rows, following `scale`'s square, 0.08 on average), grouped when close (a gap below
// most of the taller part's height: the letters of one logo); sets graphic, graphics, found,
// the box and the strength. Opacities of the parts too small or faint are set to 0. When
// `graphic` already labels every pixel (the estimate's graphics, `graphics` giving the share
// of samples that showed each), parts of labels shown much less often than the other stay
// apart, and graphics shown much less than the most shown one come after it whatever their
// strength.
void find_logo(logo_model& m, double scale);

// A model placed in the frame: the model of one corner region at its frame position, or a
// model read from a file. Luma opacity and colour frame-sized, chroma chroma-sized
// (subsampled by the shifts); colours on the 8-bit scale.
struct frame_logo {
    int width = 0, height = 0, shift_x = 1, shift_y = 1;
    std::vector<float> alpha, colour, alpha_c, colour_cb, colour_cr;
    std::vector<uint8_t> graphic;      // per luma pixel: 0, or its graphic's number + 1
    std::vector<graphic_box> graphics; // frame pixels, the strongest first
    int box_x = 0, box_y = 0, box_w = 0, box_h = 0; // the strongest graphic's box, frame pixels
    int corner = -1;
};

// Adds the graphics of `other` (placed in a frame of the same size and layout, not
// overlapping `logo`'s) to `logo`: their pixels, numbered after logo's, and their boxes; the
// main box stays logo's strongest.
void add_logo(frame_logo& logo, const frame_logo& other);

// Places `m` (a corner region whose top-left luma pixel is frame pixel x, y; x and y on
// whole chroma samples) in a frame of width x height.
frame_logo logo_in_frame(const logo_model& m, int corner, int x, int y, int width, int height,
                         int shift_x, int shift_y);
