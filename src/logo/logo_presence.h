// Whether a graphic of the logo is in a frame: its evidence in the frame's luma, and the
// decision frame by frame with the frames around it. Pure: no FFmpeg.
#pragma once

#include <deque>
#include <limits>
#include <vector>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// How little the frame shows graphic `g` (its index in r.graphics): 1 less the correlation
// of the frame's high-pass with the one the graphic would add (0 a perfect match, 1
// nothing of it, 2 its negative); 2 when undoing the blend would take more than a quarter
// of its translucent pixels far below black or above white (which no picture under it can
// give), or when the picture just around it would give as many such samples under it as
// its own pixels do; 0 when it would give many and they give next to none; cannot_tell
// when the frame cannot tell (a picture the logo's colour, where it cannot be seen).
// `luma`: the frame's luma work area, as laid out by layout_of(r); `mean`: its box_mean
// of radius high_pass_radius; `strength`: the graphic's opacity taken at this share of the
// model's (a fading logo's undone samples are out of range only at full strength).
constexpr double cannot_tell = std::numeric_limits<double>::quiet_NaN();
double logo_evidence(const restoration& r, int g, const work_plane& luma,
                     const std::vector<float>& mean, float strength = 1.0f);

// Decides frame by frame whether a graphic is there, with some hysteresis so that a frame
// that tells little (a background the colour of the logo) does not switch the removal on
// or off for itself alone: the graphic is assumed at first, dropped when the correlation
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
    // Whether the graphic is in the oldest frame not decided yet; called once per frame,
    // when `reach` frames after it were added (or the stream has ended).
    bool decide();

private:
    std::deque<double> evidence_; // of frames first_, first_ + 1, ...
    long long first_ = 0, next_ = 0;
    presence_state state_;
};
