// The restoration under a logo from its model, as a chain of stages: each graphic's
// strength in each frame, the blend undone where it is translucent, what the frames
// around show of the picture under its opaque parts, the rest filled from the picture
// around it. Pure: plain buffers, no FFmpeg.
#pragma once

#include <memory>
#include <vector>

#include "logo/blend_undo.h"
#include "logo/frame_stages.h"
#include "logo/logo_strength.h"
#include "logo/restoration_plan.h"
#include "logo/spatial_fill.h"

// The stages that restore frames with `plan`, in order. `max_delay`: the frames the chain
// may hold back at the most (its delay, the sum of the stages' after()), what the caller's
// memory for whole pictures allows; a stage that could look further ahead looks only as far
// as the rest allows. The presence test's window (presence_window::reach) is held whatever
// the budget.
std::vector<std::unique_ptr<frame_stage>> restoration_stages(
    std::shared_ptr<const restoration> plan, int max_delay);

// One frame restored in place as if the logo were in it at full strength, without the
// frames around it: the preview's.
void restore_frame(const restoration& r, plane_data frame[3]);

// The presence evidence of graphic `g` in one frame (see logo_evidence).
double logo_evidence(const restoration& r, int g, const plane_data frame[3]);
