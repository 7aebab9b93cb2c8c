// Corner choice, logo box search and the mask-mode decision. Boxes are in corner-region
// coordinates, edges inclusive; masks as in mask_bits.h.
#pragma once

#include <cstdint>

#include "analysis/types.h"

// The corner (0..3) with the greatest static count above region_width*region_height/150,
// ties to the lower corner; -1 when no count is above it.
int pick_corner(const int static_count[4], int region_width, int region_height);

// First/third-quartile box of the static pixels, found by bisection on hratio/vratio. The
// mask must hold at least one static pixel.
box quartile_box(const uint8_t* mask, int region_width, int region_height);
// Grows or shrinks each edge by one pixel a pass until nothing static lies within
// border_black pixels outside the box. false when a pass ends with the box empty.
bool grow_box(const uint8_t* mask, int region_width, int region_height, int border_black, box& b);
// Quartile box, growth (sw.border_black), size test (at least 6 x 6), margin
// (sw.border_band) and erasure of the mask outside the box. false when no box survives.
bool fit_logo_box(uint8_t* mask, int region_width, int region_height, box& logo_box);
// Fills the holes of the static pixels inside box b of `filled` (rows, then columns) and
// returns the fill count: the spans first..last of the columns with two static pixels.
int fill_logo(uint8_t* filled, int region_width, const box& b);
// Mask-mode decision: coverage = fill count * 100 / box area (percent). In mask mode, or
// below sw.pixel_ratio, the filled mask replaces `mask` and FLAG_REMOVELOGO is set.
// Returns the coverage, -1 when the working copy cannot be allocated.
int mask_mode_step(uint8_t* mask, int region_width, int region_height, const box& b);
