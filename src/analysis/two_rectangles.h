// Covering a logo with two overlapping rectangles.
#pragma once

#include <cstdint>

#include "analysis/types.h"

// Covers the logo pixels (0 bits) of `mask` (rows of region_width bits, MSB first) inside
// logo_box (corner-region coordinates, edges inclusive, at least 6 x 6) with rect_a and
// rect_b, widened by sw.border_band and clamped to logo_box. Returns 0 when a split was
// found; otherwise (also for a box not inside the region_width x region_height mask)
// nonzero, with rect_a = logo_box and rect_b all zeros: the caller reports logo_box alone.
int overlap_tworect(const uint8_t* mask, int region_width, int region_height, const box& logo_box,
                    box& rect_a, box& rect_b);

// One side's best split: an uncovered strip `depth` lines deep along the side, broken by a
// bar over lines s..e; score = depth * (s + n - e) uncovered pixels, 0 when none was found.
struct side_split {
    int depth;
    int s;
    int e;
    int64_t score;
};

// Best split along one side. runs[0..n]: background run of each line from the side;
// depths 1..deepest, deepest first or shallowest first (that order settles equal scores);
// scratch: room for 2 * (n + 1) counts.
side_split best_side_split(const uint32_t* runs, int n, int deepest, bool deepest_first,
                           uint32_t* scratch);
