// The logo report: pictures written through the picture writers and filter lines on
// standard output, in frame coordinates.
#pragma once

#include <cstdint>

#include "analysis/analysis_result.h"
#include "analysis/types.h"

// Reports `corner`: in mask mode (FLAG_REMOVELOGO) the removelogo picture of the band
// image and its "removelogo=" line; otherwise the delogo picture of the region and one
// "delogo=" line, or two with FLAG_TWO_RECTANGLES when the cover splits the box. mask:
// the corner's mask with everything outside logo_box erased (filled in mask mode).
// Nothing is printed when a picture's memory cannot be had. With FLAG_NO_PICTURES no
// picture is written. `result`, when not null, receives what was printed (mask mode: the
// mask and its frame position).
void report_corner(int corner, const uint8_t* mask, region_geometry g, const box& logo_box,
                   const box& crop, int band_w2, int band_h2, int frame_width, int frame_height,
                   analysis_result* result = nullptr);

// Prints the "delogo=" line of box top..bottom, left..right (corner-region coordinates,
// inclusive) of `corner`, in frame coordinates, clamped to the band image; `printed`,
// when not null, receives its x, y, w, h.
void delogo_box(int corner, int band_w2, int band_h2, int frame_width, int frame_height,
                int region_width, int region_height, const box& crop, int top, int bottom, int left,
                int right, frame_rect* printed = nullptr);
