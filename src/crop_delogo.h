// Black-border crop and logo analysis on plain band images (no FFmpeg here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A rectangle. Crop box: band-image coordinates, top/left inclusive, bottom/right
// exclusive. Logo boxes and rectangles: corner-region coordinates, all edges inclusive.
struct box {
    int32_t top;
    int32_t bottom;
    int32_t left;
    int32_t right;
};

// One sampled key frame: its band image (2*band_w x 2*band_h bytes of luma, row stride
// 2*band_w; quadrants NW, NE / SW, SE), or none when its pass failed, and the corners it
// takes part in (bit 1 << c, 15 on capture, 0 when not captured).
struct band_sample {
    std::unique_ptr<uint8_t[]> image;
    uint8_t corner_flags = 0;
};

// Logo detector interface: band-image row length, band-image height, region width
// (multiple of 8, also the mask row length in bits), region height, byte index of the
// region's top-left pixel, samples (sw.frames records), the region's mask (bit 0 = logo
// candidate, 1 = not; rows of region_width/8 bytes, MSB first), corner 0..3. 0 = success.
using logo_detector = int (*)(int band_w2, int band_h2, int region_width, int region_height,
                              int start, const band_sample* samples, uint8_t* mask, int corner);

// Border box of one band image: the picture area inside dark rows and columns
// (crop-box conventions). Rows/columns of length 0 count as dark.
box sample_border(const uint8_t* image, int band_w2, int band_h2, int level_black);

// Union of per-sample border boxes, started from the centre pixel (bw, bh) and cut to
// even width and height (crop-box conventions).
box union_crop(const box* borders, int count, int band_w2, int band_h2);

// The analysis: crop line, logo search, report. samples holds sw.frames records.
void crop_delogo(int band_w2, int band_h2, int frame_width, int frame_height,
                 const band_sample* samples);

// Prints the crop line for crop box `crop` (nothing when it is the whole band image).
void print_crop(const box& crop, int band_w2, int band_h2, int frame_width, int frame_height);

// Static-pixel detector: sets the mask bit of each region pixel that differs by more
// than sw.level_delta between two taking-part samples (running minimum and maximum over
// the samples). 0, or -1 when its region-sized working memory cannot be allocated.
int distance_logo(int band_w2, int band_h2, int region_width, int region_height, int start,
                  const band_sample* samples, uint8_t* mask, int corner);

// Number of 0 bits in each byte value.
extern const uint8_t zeroes[256];

// Erases (sets to all 1) one mask row of region_width bits when more than 9/10 is 0.
void clean_rows(int region_width, uint8_t* mask);
// Erases one mask column (bit value `bit` in the byte `mask` of row 0 and the same byte
// of every later row) when more than 9/10 of its region_height bits are 0.
void clean_columns(int region_width, int region_height, int bit, uint8_t* mask);
// Per mille of the mask's 0 bits lying in columns < split; 0 when the mask has none.
int hratio(int region_width, int region_height, int split, const uint8_t* mask);
// Per mille of the mask's 0 bits lying in rows < split; 1000 when split >= region_height.
int vratio(int region_width, int region_height, int split, const uint8_t* mask);

// Zero bits (static pixels) in `bytes` bytes of a mask, counted through `zeroes`.
int count_static(const uint8_t* mask, size_t bytes);
// Clean-up after detection: clean_rows on the region_height/20 outermost rows at top and
// bottom, then clean_columns on the region_width/20 outermost columns at each side.
void clean_edges(uint8_t* mask, int region_width, int region_height);
// The corner (0..3) with the greatest count above region_width*region_height/150, ties
// to the lower corner; -1 when no count is above it.
int pick_corner(const int static_count[4], int region_width, int region_height);

// Logo box search on a mask with at least one static pixel; boxes in corner-region
// coordinates, edges inclusive.
// First/third-quartile box of the static pixels, found by bisection on hratio/vratio.
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

// Prints the "delogo=" line of box top..bottom, left..right (corner-region coordinates,
// inclusive) of `corner`, in frame coordinates.
void delogo_box(int corner, int band_w2, int band_h2, int frame_width, int frame_height,
                int region_width, int region_height, const box& crop, int top, int bottom, int left,
                int right);
