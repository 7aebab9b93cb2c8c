// Filling the logo where it is (nearly) opaque: nothing of the picture is left there, so
// those pixels, and only those (the logo's shape, not its box), are taken from the
// restored picture around them. Pure.
#pragma once

#include <memory>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// The plan's filled pixels of `f` (already undone) set from their sources; where the
// opacity is between the feather's ends, a mix of the undone pixel and the fill.
void fill_opaque(const restoration& r, work_frame& f);

// The stage: frames whose strength is 0 are left as they are.
class fill_stage : public frame_stage {
public:
    explicit fill_stage(std::shared_ptr<const restoration> plan) : plan_(std::move(plan)) {}
    void run(frame_window& w) override;

private:
    std::shared_ptr<const restoration> plan_;
};
