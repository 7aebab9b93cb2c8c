// The run's settings record: filled once from the command line, read by every stage.
// The bottom of the house: it includes nothing of the project.
#pragma once

#include <cstdint>
#include <string>

// Bits of Settings::flags.
enum : uint8_t {
    FLAG_INFO = 1,
    FLAG_CANNY = 2,
    FLAG_TWO_RECTANGLES = 4,
    FLAG_SAVE_AS_PCX = 8,
    FLAG_REMOVELOGO = 16,
    FLAG_ALL_CORNERS = 32,
    FLAG_NO_PICTURES = 64, // delogo-apply: the report writes no pictures of its own
};

// Each field is named after its long option. The member initialisers are the defaults
// that program_options writes before parsing.
struct Settings {
    uint8_t flags = 0;        // FLAG_* bits
    uint8_t corner_mask = 15; // bit 1 << c: corner c (0 NW, 1 NE, 2 SW, 3 SE) is searched
    int pixel_ratio = 0;      // percent of the logo box below which mask mode is used
    int frames = 64;          // key frames to sample (lowered when the file ends early)
    int width_bands = 35;     // corner band width, percent of the frame width
    int height_bands = 18;    // corner band height, percent of the frame height
    int level_black = 23;     // highest luma counted as black (inclusive)
    int level_delta = 65;     // largest luma change of a static pixel (inclusive)
    int border_black = 15;    // pixels around the logo box searched for more logo
    int border_band = 4;      // margin added around the logo box, pixels
    int threshold = 170;      // Canny edge threshold 0..255
    float sigma = 1.2f;       // Canny Gaussian sigma
    float tlow = 0.3f;        // Canny low hysteresis fraction, (0, 1]
    float thigh = 0.8f;       // Canny high hysteresis fraction, (0, 1]
    std::string video_file;   // the positional argument
};

// The one settings record of the run. Only the sampling (frames, at end of file) and the
// mask-mode switch (FLAG_REMOVELOGO) change it after parsing.
extern Settings sw;
