// Restoring the picture under a logo from its model: where the logo is translucent the
// blend is undone, observed = alpha * colour + (1 - alpha) * picture solved for the
// picture; where it is (nearly) opaque nothing of the picture is left, and the pixels are
// filled from the restored picture around them, along the logo's shape and not its box.
// Pure: plain buffers, no FFmpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/analysis_result.h"
#include "apply/logo_model.h"

// Opacities up to this are undone; above it the division by 1 - alpha would multiply the
// coding noise more than six times, and the pixel is filled instead.
constexpr float undo_limit = 0.85f;
// Between undo_limit - feather_width and undo_limit a pixel is a mix of both, its share of
// the fill growing with its opacity: no seam where the two meet.
constexpr float feather_width = 0.15f;

// One plane's work: a rectangle of the plane (plane pixels) and, over it row by row, what
// each pixel becomes.
struct plane_restoration {
    int x = 0, y = 0, w = 0, h = 0;      // the rectangle, plane pixels
    std::vector<float> gain, offset;     // undone: observed * gain - offset (sample scale)
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
    int max_value = 255;  // the largest sample: (1 << depth) - 1
    bool wide = false;    // samples of 16 bits (depth above 8), else bytes
    plane_restoration plane[3];
    // The presence test: pairs of neighbouring luma pixels (rectangle indices) across the
    // logo's translucent outline (a the less opaque, b the other, c the pixel beyond a), and
    // the opaque pixels (indices into the luma plane's filled list) with their colour
    // (sample scale).
    std::vector<int> pair_a, pair_b, pair_c;
    std::vector<int> opaque;
    std::vector<float> opaque_colour;
    std::vector<int> undone; // luma pixels undone only, of opacity 0.25 or more

};

// The work for `logo` (a model placed in the frame, colours on the 8-bit scale) on frames
// of `depth` bits and `planes` planes, inside `picture` (the part of the frame that is
// kept: nothing is read or written outside it). `interlaced`: fills take their sources
// from rows of the same field.
restoration plan_restoration(const frame_logo& logo, const frame_rect& picture, int planes,
                             int depth, bool interlaced);

// One plane of a frame: its samples (bytes, or 16-bit samples for a wide restoration) and
// the distance between rows in bytes.
struct plane_data {
    uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
};

// How the frame votes on the logo: 0 when all of it fits the logo better than no logo,
// 2 when all fits no logo better, 1 when it cannot tell (too few pixels that fit one way
// better than the other). The translucent outline fits the logo when undoing the blend
// smooths it, an opaque pixel when it shows the logo's colour rather than the picture
// around it; a translucent pixel that undone would be far below black or above white
// cannot be under the logo.
double logo_evidence(const restoration& r, const plane_data frame[3]);

// Undoes and fills the logo in the frame, in place.
void restore_frame(const restoration& r, plane_data frame[3]);

// Decides frame by frame whether the logo is there, with some hysteresis so that a frame
// that tells little (a background the colour of the logo, a sharp texture) does not switch
// the removal on or off for itself alone: the logo is assumed at first, dropped when the
// evidence exceeds 1.9 (nearly all of it against the logo: a black and white
// texture under a translucent logo votes against it more than half) and taken up again
// below 0.8.
struct presence_state {
    bool present = true;
    bool update(double evidence);
};
