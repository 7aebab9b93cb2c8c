// The preview picture of delogo-apply: a key frame in colour with what was found drawn
// over it.
#pragma once

#include <string>

#include "analysis/analysis_result.h"
#include "logo/logo_model.h"

// What the preview restores: the model in the frame, the picture kept, the fields.
struct preview_restoration {
    const frame_logo* logo = nullptr;
    frame_rect picture;
    bool interlaced = false;
};

// Decodes the key frame at or before the middle of `input` (the first one when the
// duration is unknown), draws the crop rectangle (green) and each logo rectangle as
// printed, or the mask's outline (red), as one-pixel lines on their outermost pixels, and
// writes it to `png_path` as an 8-bit RGB PNG; with `restoring`, the frame restored beside
// it on the right (the picture twice as wide). Returns 0, or 1 after a message on
// standard error that calls the file `name`.
int write_preview(const std::string& input, const analysis_result& result,
                  const std::string& png_path, const std::string& name,
                  const preview_restoration* restoring = nullptr);
