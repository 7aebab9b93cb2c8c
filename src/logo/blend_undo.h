// Undoing the blend where the logo is translucent: observed = s alpha colour + (1 - s
// alpha) picture solved for the picture, in every plane with that plane's opacity, s the
// strength the frame shows the pixel's graphic at. Where s alpha is too high to undo, the
// pixel is marked hidden for the fills. Pure.
#pragma once

#include <memory>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// The blend undone in `f`'s work area at the strengths of f.strength (1 for a graphic it
// does not name), clamped to the samples' range; each plane's `hidden` set: 1 where the
// opacity shown is above undo_limit (the pixel stays as observed), rising from 0 to 1
// over the feather below it. A graphic of strength 0 is left as it is.
void undo_blend(const restoration& r, work_frame& f);

// The stage.
class undo_stage : public frame_stage {
public:
    explicit undo_stage(std::shared_ptr<const restoration> plan) : plan_(std::move(plan)) {}
    void run(frame_window& w) override { undo_blend(*plan_, w.current()); }

private:
    std::shared_ptr<const restoration> plan_;
};
