// Types shared by the stages: rectangles, sampled key frames, corner regions and the
// detector interface. Includes nothing of the project.
#pragma once

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

// Corners, numbered as the corner bits (1 << c) of every corner set.
enum : int { CORNER_NW = 0, CORNER_NE = 1, CORNER_SW = 2, CORNER_SE = 3 };

// One sampled key frame: its band image (2*band_w x 2*band_h bytes of luma, row stride
// 2*band_w; quadrants NW, NE / SW, SE), or none when its pass failed, and the corners it
// takes part in (bit 1 << c, 15 on capture, 0 when not captured).
struct band_sample {
    std::unique_ptr<uint8_t[]> image;
    uint8_t corner_flags = 0;
};

// The window of the band image searched in every corner, and its mask's row length.
struct region_geometry {
    int width;  // pixels, a multiple of 8; also the mask row length in bits
    int height; // rows
};

// Band-image row and column of corner `corner`'s region (top-left pixel), from the crop
// box: regions hug the crop box's sides, so NE/SE start region width left of its right.
inline void region_origin(int corner, const box& crop, region_geometry g, int& row, int& column) {
    column = (corner & 1) ? crop.right - g.width : crop.left;
    row = (corner & 2) ? crop.bottom - g.height : crop.top;
}

// Logo detector interface: band-image row length, band-image height, region width
// (multiple of 8, also the mask row length in bits), region height, byte index of the
// region's top-left pixel, samples (sw.frames records), the region's mask (bit 0 = logo
// candidate, 1 = not; rows of region_width/8 bytes, MSB first), corner 0..3. 0 = success.
using logo_detector = int (*)(int band_w2, int band_h2, int region_width, int region_height,
                              int start, const band_sample* samples, uint8_t* mask, int corner);
