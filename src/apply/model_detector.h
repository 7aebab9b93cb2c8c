// delogo-apply's own logo detector: the logo model estimated from pictures spread over
// the recording, in the corners of the picture that the crop keeps.
#pragma once

#include <string>

#include "analysis/analysis_result.h"
#include "logo/logo_model.h"
#include "video/picture_sampler.h"

// Pictures sampled for the model: as many as the analysis' key frames (its cost: delogo-apply
// decodes them again, and the model may cost twice the analysis at the most).
constexpr int model_samples = 64;

// Estimates the model in each corner of `corner_mask` (bit 1 << c), corners measured from
// the crop's edges (`r.crop` when a crop was found, else the frame), `width_bands` and
// `height_bands` percent of the crop's size, and places the strongest corner's model in the
// frame. A logo over a letterbox bar keeps the bar's rows out of delogo's crop (they are
// not black where the logo is): rows and columns at the crop's edges that are black
// (at most `black`) in every sample but for the logo's pixels are cut off `r.crop`.
// Returns "" (with `found` telling whether a corner holds a logo) or the reason no model
// could be estimated. With `kept`, the samples read are handed over there (a logo library
// looks its logos up in them).
std::string detect_logo(const std::string& input, analysis_result& r, int corner_mask,
                        int width_bands, int height_bands, int black, frame_logo& logo,
                        bool& found, picture_samples* kept = nullptr);
