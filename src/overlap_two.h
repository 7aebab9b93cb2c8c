// Covering a logo with two overlapping rectangles.
#pragma once

#include <cstdint>

#include "crop_delogo.h"

// Covers the logo pixels (0 bits) of `mask` (rows of region_width bits, MSB first) inside
// logo_box (corner-region coordinates, edges inclusive, at least 6 x 6) with rect_a and
// rect_b, widened by sw.border_band and clamped to logo_box. Returns 0 when a split was
// found; otherwise nonzero, and the caller reports logo_box alone.
int overlap_tworect(const uint8_t* mask, int region_width, int region_height,
                    const box& logo_box, box& rect_a, box& rect_b);
