// The logo model of delogo-apply: for every pixel of a corner region the logo's opacity
// and colour, estimated from many sampled pictures, so that each observed picture reads
// observed = alpha * colour + (1 - alpha) * picture. Pure: plain buffers, no FFmpeg.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/plane_samples.h"

// The model of one corner region. Opacities are 0..1, colours on the 8-bit scale
// (0..255) whatever the video's depth; chroma arrays are chroma-plane sized.
struct logo_model {
    int width = 0, height = 0;             // luma pixels
    int chroma_width = 0, chroma_height = 0;
    std::vector<float> alpha, colour;       // luma: opacity and colour Y per pixel
    std::vector<float> alpha_c, colour_cb, colour_cr; // chroma: the subsampled opacity
    std::vector<uint8_t> present;           // per sample: 1 when the logo showed in it
    bool found = false;                     // a compact, consistent logo
    int box_x = 0, box_y = 0, box_w = 0, box_h = 0; // its bounding box, region pixels
    double strength = 0;                    // sum of the opacities of its pixels
};

// Estimates the model of corner `corner`'s region (0 NW, 1 NE, 2 SW, 3 SE) from its
// samples: the picture's temporal mean and spread, interpolated over the logo from around
// it, give each pixel's opacity (the spread's ratio) and colour; samples without the logo
// are found and left out. What reaches the region's inner edges (towards the middle of the
// picture) is no logo but part of the picture: a slow or dark stretch of it. Pixels black
// (mean at most `black`, 8-bit) and still in every sample are a letterbox bar, no picture.
logo_model estimate_logo(const corner_samples& samples, int corner, int black);

// The corner (0 NW, 1 NE, 2 SW, 3 SE) whose model holds the strongest logo, or -1 when no
// corner holds one.
int strongest_corner(const logo_model models[4]);

// Finds the logo in a model's opacities (parts of opacity above 0.04, of 30 pixels or
// more, 0.08 on average): sets found, the box and the strength.
void find_logo(logo_model& m);

// A model placed in the frame: the model of one corner region at its frame position, or a
// model read from a file. Luma opacity and colour frame-sized, chroma chroma-sized
// (subsampled by the shifts); colours on the 8-bit scale.
struct frame_logo {
    int width = 0, height = 0, shift_x = 1, shift_y = 1;
    std::vector<float> alpha, colour, alpha_c, colour_cb, colour_cr;
    int box_x = 0, box_y = 0, box_w = 0, box_h = 0; // the logo's bounding box, frame pixels
    int corner = -1;
};

// Places `m` (a corner region whose top-left luma pixel is frame pixel x, y; x and y on
// whole chroma samples) in a frame of width x height.
frame_logo logo_in_frame(const logo_model& m, int corner, int x, int y, int width, int height,
                      int shift_x, int shift_y);
