// Whether the logo is in a frame: its evidence in the frame's luma, and the decision frame
// by frame with the frames around it. Pure: no FFmpeg.
#pragma once

#include <deque>
#include <limits>
#include <memory>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// How little the frame shows the logo: 1 less the correlation of the frame's high-pass
// with the one the logo would add (0 a perfect match, 1 nothing of the logo, 2 its
// negative); 2 when undoing the blend would take more than a quarter of the translucent
// pixels far below black or above white (which no picture under the logo can give), or
// when the picture just around the logo would give as many such samples under the logo as
// the logo's own pixels do; 0 when it would give many and they give next to none;
// cannot_tell when the frame cannot tell (a picture the logo's colour, where it cannot be
// seen). `luma`: the frame's luma work area, as laid out by layout_of(r).
constexpr double cannot_tell = std::numeric_limits<double>::quiet_NaN();
double logo_evidence(const restoration& r, const work_plane& luma);

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

// The stage: each frame's strength set to 1 where the logo is decided present, else 0.
class presence_stage : public frame_stage {
public:
    explicit presence_stage(std::shared_ptr<const restoration> plan) : plan_(std::move(plan)) {}
    int after() const override { return presence_window::reach; }
    void run(frame_window& w) override;

private:
    std::shared_ptr<const restoration> plan_;
    presence_window window_;
    long long next_ = 0; // the first frame whose evidence is not in the window yet
};
