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

// The stages that restore frames with `plan`, in order.
std::vector<std::unique_ptr<frame_stage>> restoration_stages(
    std::shared_ptr<const restoration> plan);

// One frame restored in place as if the logo were in it (no presence test): the preview's.
void restore_frame(const restoration& r, plane_data frame[3]);

// The presence evidence of one frame (see logo_evidence).
double logo_evidence(const restoration& r, const plane_data frame[3]);
