// Static-pixel logo detector, and the clean-up and fill measures of corner masks (mask
// layout in mask_bits.h: 0 bit = static pixel, a logo candidate).
#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/types.h"

// Static-pixel detector (logo_detector interface): sets the mask bit of each region
// pixel that differs by more than sw.level_delta between two taking-part samples (running
// minimum and maximum over the samples). 0, or -1 when its region-sized working memory
// cannot be allocated.
int distance_logo(int band_w2, int band_h2, int region_width, int region_height, int start,
                  const band_sample* samples, uint8_t* mask, int corner);

// Number of 0 bits in each byte value.
extern const uint8_t zeroes[256];

// Zero bits (static pixels) in `bytes` bytes of a mask, counted through `zeroes`.
int count_static(const uint8_t* mask, size_t bytes);
// Erases (sets to all 1) one mask row of region_width bits when more than 9/10 is 0.
void clean_rows(int region_width, uint8_t* mask);
// Erases one mask column (bit value `bit` in the byte `mask` of row 0 and the same byte
// of every later row) when more than 9/10 of its region_height bits are 0.
void clean_columns(int region_width, int region_height, int bit, uint8_t* mask);
// Clean-up after detection: clean_rows on the region_height/20 outermost rows at top and
// bottom, then clean_columns on the region_width/20 outermost columns at each side.
void clean_edges(uint8_t* mask, int region_width, int region_height);
// Per mille of the mask's 0 bits lying in columns < split; 0 when the mask has none.
int hratio(int region_width, int region_height, int split, const uint8_t* mask);
// Per mille of the mask's 0 bits lying in rows < split; 1000 when split >= region_height.
int vratio(int region_width, int region_height, int split, const uint8_t* mask);
