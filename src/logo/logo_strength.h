// How strongly each graphic of the logo shows in each frame, 0 (absent) to 1 (as
// modelled): broadcasters fade a logo in and out over half a second or a second, and a tag
// beside it comes and goes on its own. The stage that tells it; the stages after it undo
// and fill each graphic at its strength. Pure: no FFmpeg.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "logo/frame_stages.h"
#include "logo/logo_presence.h"
#include "logo/restoration_plan.h"

// The scale s of graphic `g`'s opacity that best explains the frame's high-pass on the
// graphic's support: observed = s alpha colour + (1 - s alpha) picture, the picture's
// local mean taken from the frame undone at s (least squares, a few rounds from s = 1).
// Not clamped; cannot_tell where the graphic adds too little signal to tell. `luma` and
// `mean` as for logo_evidence.
double fit_strength(const restoration& r, int g, const work_plane& luma,
                    const std::vector<float>& mean);

// A graphic's strength in a frame from the fits of the frames around it: the median of
// the fits within strength_reach frames (a fade is a ramp: its median is the frame's own
// fit, and a frame whose picture fools the fit is outvoted), clamped to 0..1, and 1 when
// within full_strength of it (the logo does not flicker at full strength for a picture
// that fools the fit by a few hundredths).
constexpr int strength_reach = 2;
constexpr double full_strength = 0.06;
double decide_strength(std::vector<double> fits);

// The stage: each frame's strength per graphic, 0 where its presence test says it is not
// there (logo_presence.h), else its decided strength.
class strength_stage : public frame_stage {
public:
    explicit strength_stage(std::shared_ptr<const restoration> plan);
    int after() const override;
    void run(frame_window& w) override;

private:
    std::shared_ptr<const restoration> plan_;
    struct graphic_state {
        presence_window presence;
        std::deque<double> fits; // of frames first_fit_ ...
    };
    std::vector<graphic_state> graphics_;
    long long next_ = 0;      // the first frame not measured yet
    long long first_fit_ = 0; // the oldest frame whose fit is kept
};
