// Mask picture writers: PNG through libspng, and PCX.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

// Closes a stdio stream when the owner goes.
struct file_closer {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Picture layout shared by the writers: rows top to bottom; each row holds its plane
// rows, plane 0 first; each plane row is (bits_per_pixel * width + 7) / 8 bytes (the
// padding bits at its end are ignored), most significant bit = leftmost pixel.
// Mask image: 1 bit, 4 planes, colour index = p0 + 2*p1 + 4*p2 + 8*p3; palette: index 6
// white, 7 green (0,124,60), others black. Grey picture: 8 bits, 1 plane.

// Writes the picture as name_format (one %d, filled with index) plus ".png", or ".pcx"
// when sw.flags has FLAG_SAVE_AS_PCX, in the working directory. Returns -1 when the file
// cannot be created, 1 when written, 0 when the writer failed. The name itself is opened
// ("wb": links written through, mode kept); a partial file is removed (through a link:
// emptied). Either failure prints "Cannot write NAME: reason" on standard error.
int save_image(const char* name_format, int index, int bits_per_pixel, int planes, int width,
               int height, const uint8_t* pixels);

// Writes a PCX file to `file` and closes it. 0 on success, -1 when a write or the close
// failed or the header cannot describe the picture (no pixels, fields over 16 bits).
int save_pcx_image(file_ptr file, int bits_per_pixel, int planes, int width, int height,
                   const uint8_t* pixels);

// Writes a PNG file to `file` through libspng and closes it. 0 on success, else the
// libspng error code (its message printed on standard output), or SPNG_IO_ERROR without
// a message when closing the stream failed.
int save_png_image(file_ptr file, int bits_per_pixel, int planes, int width, int height,
                   const uint8_t* pixels);

// Writes an 8-bit RGB picture (rows of 3 * width bytes, red first) as a PNG file at
// `path`. 0, or the libspng error code (SPNG_IO_ERROR when the file failed; errno holds
// why). Nothing is printed.
int save_rgb_png(const char* path, int width, int height, const uint8_t* rgb);

// Packs one mask image row (4 plane rows of (width + 7) / 8 bytes, 1 bit per pixel) into
// (width + 1) / 2 bytes of 4-bit colour indices, left pixel in the high half; for an odd
// width the low half of the last byte is 0.
void pack_mask_row(const uint8_t* row, int width, uint8_t* packed);
