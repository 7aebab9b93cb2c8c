// The restoration on FFmpeg's pictures: set up for a pixel format, and run frame after
// frame with the logo's presence followed.
#pragma once

#include <memory>
#include <string>

#include "analysis/analysis_result.h"
#include "logo/logo_model.h"
#include "logo/restoration.h"
#include "video/frame_pipe.h"

// The restoration of `logo` for pictures of `layout`, inside `picture` (frame pixels).
// "" or why such pictures cannot be restored: a frame size other than the model's, a
// layout other than planar YUV or grey of 8 to 16 bits in the machine's byte order, a
// chroma subsampling other than the model's.
std::string plan_for(const frame_logo& logo, const frame_rect& picture, const frame_layout& layout,
                     bool interlaced, restoration& out);

// The change that restores each frame the logo shows in (see presence_window: each frame
// is decided with the two before and after it) and leaves the others as they are.
frame_change restoring_change(std::shared_ptr<const restoration> plan);
