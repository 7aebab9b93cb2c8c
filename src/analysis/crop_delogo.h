// The analysis of the sampled band images: crop line, logo search and report.
#pragma once

#include "analysis/analysis_result.h"
#include "analysis/types.h"

// Runs the analysis on sw.frames samples of band images 2*band_w x 2*band_h (band_w2,
// band_h2) taken from frames of frame_width x frame_height, printing the crop line and
// the logo's lines and writing its picture. Nothing at all without a captured sample.
// `result`, when not null, receives what was printed.
void crop_delogo(int band_w2, int band_h2, int frame_width, int frame_height,
                 const band_sample* samples, analysis_result* result = nullptr);
