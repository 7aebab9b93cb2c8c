// The corner bands' 8-bit luma, read from decoded frames of every pixel format.
#pragma once

#include <cstdint>

#include "video/av_ptr.h"

// Where the 8-bit luma of a decoded pixel format comes from, read from its descriptor.
enum class luma_path {
    bytes,     // plane 0 holds 8-bit luma one byte per sample: its bytes as they are
    shifted,   // plane 0 holds 9- to 16-bit luma two bytes per sample: the top 8 bits
    converted, // RGB, packed YUV, palette, float, Bayer: libswscale makes 8-bit gray
    none,      // hardware surfaces, bit-packed formats and what libswscale cannot read
};
luma_path luma_path_of(AVPixelFormat format);

// Frame size and corner band size of a run, pixels.
struct band_geometry {
    int width, height;
    int band_w, band_h;
};

// Takes the corner bands' 8-bit luma from frames of one pixel format and geometry. A
// conversion keeps state between calls: one reader per thread.
struct band_reader {
    band_geometry g{};
    luma_path path = luma_path::none;
    int shift = 0;           // shifted: right shift from a stored sample to its top 8 bits
    bool big_endian = false; // shifted: samples stored big endian
    sws_ptr sws;             // converted: to gray, a picture of `rows` rows a call
    int rows = 0;            // converted: the frame's height, or the rows of one band picture
    bool palette = false;    // converted: data[1] is a palette, not rows
    av_bytes gray;           // converted: the gray pictures, gray_stride bytes a row
    int gray_stride = 0;
};

// Prepares `reader` for frames of `format` and geometry `g`. Returns false when the
// format gives no luma (luma_path::none, or libswscale refusing it).
bool open_band_reader(AVPixelFormat format, const band_geometry& g, band_reader& reader);

// Copies the corner bands of the frame's luma (a frame of the reader's format and size)
// into `image`, 2*band_w x 2*band_h bytes: left and right band side by side, the top
// band's rows above the bottom band's.
void read_bands(band_reader& reader, const AVFrame* frame, uint8_t* image);
