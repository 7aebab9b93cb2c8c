// Restoring the picture under a logo from its model: where the logo is translucent the
// blend is undone, observed = alpha * colour + (1 - alpha) * picture solved for the
// picture; where it is (nearly) opaque nothing of the picture is left, and the pixels are
// filled from the restored picture around them, along the logo's shape and not its box.
// Pure: plain buffers, no FFmpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
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

// One plane of a frame: its samples (bytes, or 16-bit samples for a wide restoration) and
// the distance between rows in bytes.
struct plane_data {
    uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
};

// How little the frame shows the logo: 1 less the correlation of the frame's high-pass
// with the one the logo would add (0 a perfect match, 1 nothing of the logo, 2 its
// negative); 2 when undoing the blend would take more than a quarter of the translucent
// pixels far below black or above white (which no picture under the logo can give), or
// when the picture just around the logo would give as many such samples under the logo as
// the logo's own pixels do; 0 when it would give many and they give next to none;
// cannot_tell when the frame cannot tell (a picture the logo's colour, where it cannot be
// seen).
constexpr double cannot_tell = std::numeric_limits<double>::quiet_NaN();
double logo_evidence(const restoration& r, const plane_data frame[3]);

// Undoes and fills the logo in the frame, in place.
void restore_frame(const restoration& r, plane_data frame[3]);

// Decides frame by frame whether the logo is there, with some hysteresis so that a frame
// that tells little (a background the colour of the logo) does not switch the removal on
// or off for itself alone: the logo is assumed at first, dropped when the correlation
// falls below drop_correlation and taken up again above take_correlation; a frame that
// cannot tell changes nothing.
constexpr double drop_correlation = 0.03, take_correlation = 0.1;
struct presence_state {
    bool present = true;
    bool update(double evidence);
};

// The same decision for each frame by the median of its own evidence and that of the
// `reach` frames on either side (those that can tell): a frame or two of a sharp texture
// that hides the logo do not switch it off, and where the logo goes or comes back the
// median changes at that very frame.
class presence_window {
public:
    static constexpr int reach = 2;
    // The evidence of the next frame, in order.
    void add(double evidence);
    // Whether the logo is in the oldest frame not decided yet; called once per frame, when
    // `reach` frames after it were added (or the stream has ended).
    bool decide();

private:
    std::deque<double> evidence_; // of frames first_, first_ + 1, ...
    long long first_ = 0, next_ = 0;
    presence_state state_;
};
