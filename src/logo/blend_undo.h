// Undoing the blend where the logo is translucent: observed = alpha * colour + (1 - alpha)
// * picture solved for the picture, in every plane with that plane's opacity. Pure.
#pragma once

#include <memory>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// The blend undone in `f`'s work area, clamped to the samples' range (a pixel too opaque
// to undo stays as observed, for the fill).
void undo_blend(const restoration& r, work_frame& f);

// The stage: frames whose strength is 0 are left as they are.
class undo_stage : public frame_stage {
public:
    explicit undo_stage(std::shared_ptr<const restoration> plan) : plan_(std::move(plan)) {}
    void run(frame_window& w) override;

private:
    std::shared_ptr<const restoration> plan_;
};
