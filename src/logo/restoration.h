// The restoration under a logo from its model, as a chain of stages: the logo's presence
// in each frame, the blend undone where it is translucent, its opaque shape filled.
// Pure: plain buffers, no FFmpeg.
#pragma once

#include <memory>
#include <vector>

#include "logo/blend_undo.h"
#include "logo/frame_stages.h"
#include "logo/logo_presence.h"
#include "logo/opaque_fill.h"
#include "logo/restoration_plan.h"

// The stages that restore frames with `plan`, in order. `max_delay`: the frames the chain
// may hold back at the most (its delay, the sum of the stages' after()), what the caller's
// memory for whole pictures allows; a stage that could look further ahead looks only as far
// as the rest allows. The presence test's window (presence_window::reach) is held whatever
// the budget.
std::vector<std::unique_ptr<frame_stage>> restoration_stages(
    std::shared_ptr<const restoration> plan, int max_delay);

// One frame restored in place as if the logo were in it (no presence test): the preview's.
void restore_frame(const restoration& r, plane_data frame[3]);

// The presence evidence of one frame (see logo_evidence).
double logo_evidence(const restoration& r, const plane_data frame[3]);
