// What the restoration does to every frame, worked out once from the logo model: per
// plane the work area around the logo, the model's opacity and colour there, which graphic
// each pixel belongs to, which pixels the fills may read, and what the presence and
// strength tests read. Pure: no FFmpeg.
#pragma once

#include <vector>

#include "analysis/analysis_result.h"
#include "logo/frame_stages.h"
#include "logo/logo_model.h"

// Opacities up to this are undone; above it the division by 1 - alpha would multiply the
// coding noise more than six times, and the pixel is filled instead. (The opacity a frame
// shows: the model's times the graphic's strength in that frame.)
constexpr float undo_limit = 0.85f;
// Between undo_limit - feather_width and undo_limit a pixel is a mix of both, its share of
// the fill growing with its opacity: no seam where the two meet.
constexpr float feather_width = 0.15f;
// The opacity from which a pixel takes a share of the fill.
constexpr float fill_from = undo_limit - feather_width;
// Fills read only pixels whose model opacity is below this (the model says picture there)
// or that lie flat inside a translucent part (below), and that are not the logo's rim: the
// pixels within rim_width (luma pixels) of its filled shape, where coding spreads the
// logo's own colours.
constexpr float picture_alpha = 0.2f;
// Flat inside a translucent part: opacity at most fill_from, within this of its eight
// neighbours' (a soft rim falls off more slowly; an edge, a stroke's side, faster). The
// presence tests' translucent pixels are flat by the same measure.
constexpr float flat_alpha = 0.05f;
constexpr int rim_width = 2;
// The logo's edges: undone pixels of opacity edge_least or more whose opacity differs from
// a neighbour's by edge_step or more. There the undo is least sure (the model's edge a
// fraction of a pixel off, the coding's ringing, both times 1 / (1 - opacity)), and the
// fill takes a share of them as far as the picture around is smooth (spatial_fill.cpp, edge_trust).
constexpr float edge_least = 0.1f;
constexpr float edge_step = 0.2f;
// The undo's error at a logo's edge, 8-bit levels before the 1 / (1 - opacity): an edge
// pixel is filled in full where the picture around it is flat, not at all where it varies
// by more than this times 1 / (1 - opacity) times the square root of 2.
constexpr float edge_noise = 6.0f;
// The work area reaches this share of the frame's height beyond the logo on every side:
// the picture the motion around the logo is measured on, and the fills' sources.
constexpr float default_margin = 0.05f;
constexpr int least_margin = 16; // luma pixels

// The presence test's high-pass: a pixel less the mean of the (2 r + 1)^2 square around it.
constexpr int high_pass_radius = 3;

// One plane's work area (plane pixels) and, over it row by row, the model there.
struct plane_restoration {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<float> alpha, colour;  // the model's opacity (0 off the logo) and colour
    std::vector<uint8_t> graphic;      // 0 off the logo, else 1 + the graphic's number
    std::vector<uint8_t> source;       // 1 where a fill may read (picture, kept, no rim)
    std::vector<uint8_t> edge;         // 1 at the logo's edges (empty: none)
    // The logo's bounding box in the work area: nothing outside it is ever hidden.
    int lx = 0, ly = 0, lw = 0, lh = 0;
};

// One graphic's tests, over the luma work area (area indices, 8-bit scale).
struct graphic_test {
    // The pixels within reach of its high-pass, with the high-pass of its opacity and of
    // opacity times colour there.
    std::vector<int> support;
    std::vector<float> hp_alpha, hp_alpha_colour;
    // Its translucent pixels (opacity 0.25 or more, only undone, the opacity flat around
    // them), and those just around it (within the high-pass' reach, no opacity), with the
    // mean opacity and colour of the first.
    std::vector<int> undone, ring;
    float ring_alpha = 0, ring_colour = 0;
    // Where the high-pass' means are taken: the box of its support in the work area.
    int bx = 0, by = 0, bw = 0, bh = 0;
};

// The whole frame's work, for frames of one size and pixel layout.
struct restoration {
    int planes = 0;       // 1 (grey) or 3 (Y, Cb, Cr)
    int depth = 8;        // bits per sample
    float top = 255;      // the largest sample on the 8-bit scale: (2^depth - 1) / 2^(depth - 8)
    bool interlaced = false; // fills and motion keep to rows of one field
    int shift_x = 0, shift_y = 0; // chroma subsampling
    plane_restoration plane[3];
    std::vector<graphic_test> graphics; // one per graphic of the logo
};

// The work for `logo` (a model placed in the frame, colours on the 8-bit scale) on frames
// of `depth` bits and `planes` planes, inside `picture` (the part of the frame that is
// kept: nothing is read or written outside it). `interlaced`: fills take their sources
// from rows of the same field. `margin`: the work area's reach beyond the logo, as a share
// of the frame's height.
restoration plan_restoration(const frame_logo& logo, const frame_rect& picture, int planes,
                             int depth, bool interlaced, float margin = default_margin);

// The work areas the stages of `r` read and write: its planes' rectangles.
work_layout layout_of(const restoration& r);

// The graphics of a logo's opacity (w x h, row after row): 0 where the opacity is below
// `least`, else 1 + the number of its graphic, parts no farther apart than `join` pixels
// being one graphic, numbered in the order of their first pixel. The count in `count`.
std::vector<uint8_t> graphics_of(const std::vector<float>& alpha, int w, int h, float least,
                                 int join, int& count);
