// Black-border crop on band images.
#pragma once

#include <cstdint>

#include "analysis/analysis_result.h"
#include "analysis/types.h"

// Border box of one band image: the picture area inside dark rows and columns (crop-box
// conventions; a pixel is dark at or below level_black). Rows/columns of length 0 count
// as dark.
box sample_border(const uint8_t* image, int band_w2, int band_h2, int level_black);

// Union of per-sample border boxes, started from the centre pixel (bw, bh) and cut to
// even width and height (crop-box conventions).
box union_crop(const box* borders, int count, int band_w2, int band_h2);

// Prints the crop line for crop box `crop` in frame coordinates (nothing when it is the
// whole band image). Returns whether it printed; `printed`, when not null, receives the
// line's w, h, x, y.
bool print_crop(const box& crop, int band_w2, int band_h2, int frame_width, int frame_height,
                frame_rect* printed = nullptr);
