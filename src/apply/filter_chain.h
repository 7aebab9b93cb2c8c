// The video filter chain of delogo-apply, built from what the analysis found. Pure:
// strings and buffers only, no files, no processes.
//
// The logo filters work on the picture that is kept, after the crop, so that FFmpeg's
// delogo, which fills its rectangle from the ring of pixels just around it, takes that
// ring from the picture and never from a black bar.
// A logo that touches the picture's edge has no picture beyond it to interpolate from:
// the picture is padded there with its own mirror image, wide enough to reach past the
// logo, the logo filter runs on the padded picture, and the pads are cropped off again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis_result.h"

// The picture kept, in frame coordinates: the crop rectangle shrunk inward to multiples of
// align_x and align_y (the chroma subsampling: a crop between chroma samples is rounded
// by FFmpeg, outward onto the bar), or the whole frame without a crop line.
frame_rect kept_picture(const analysis_result& r, int align_x, int align_y);

// Why the logo `r` found is probably none, or "" when it looks like one: its box covers
// more than half of its corner band, or fewer than 3% of the box's pixels are static. On
// a clean picture the still parts of the scene (a dark sky, a backdrop) make such boxes,
// and blurring them would damage a picture that had nothing to remove.
std::string logo_doubt(const analysis_result& r);

// Where the logo filters work: the kept picture with mirrored pads on the sides a logo
// touches.
struct logo_work {
    frame_rect picture;                           // the kept picture, frame coordinates
    int left = 0, right = 0, top = 0, bottom = 0; // pad widths, multiples of the alignment
    int width = 0, height = 0;                    // the padded picture
    std::vector<frame_rect> rects;                // delogo rectangles, padded coordinates
    bool mask = false;                            // mask mode: removelogo with working_mask
};

// The rectangles (or mask) of `r` moved onto `picture`: cut to it (what lies on a bar
// goes), and where one touches an edge of the picture, that side padded and the rectangle
// stretched into the pad so that its ring there is the mirror image of its ring on the
// opposite side; every rectangle keeps the one-pixel margin (its ring) FFmpeg's delogo
// demands (x >= 1, y >= 1, x + w <= W - 1, y + h <= H - 1) in the padded picture.
// Without `with_logo` only the picture is set.
logo_work place_logo(const analysis_result& r, const frame_rect& picture, bool with_logo,
                     int align_x, int align_y);

// The kept picture's column (row) that fills column (row) `position` of the padded
// picture, `pad_before` being the left (top) pad and `size` the picture's width (height):
// the same inside, the mirror image in the pads, the edge pixel repeated (as
// fillborders=mode=mirror fills them).
int mirrored(int position, int pad_before, int size);

// A path as FFmpeg opens it as a file: with "file:" in front when it holds a ':' (which
// would name a protocol) or starts with '-' (which would be an option).
std::string file_url(const std::string& path);

// `value` escaped as a filter option value inside a filter graph: first for the option
// list (\ ' :), then for the graph (\ ' [ ] , ;).
std::string escape_filter_value(const std::string& value);

// The filter chain: "crop=" of the kept picture (when `r` has a crop line), then, when
// there is a logo, "pad=" and "fillborders=" when padded, one "delogo=" per rectangle or
// "removelogo=filename=MASK", and the "crop=" that takes the pads off. Empty when there is
// nothing to do.
std::string filter_chain(const analysis_result& r, const logo_work& w,
                         const std::string& mask_path);

// The filters that turn pictures from their coded orientation into the one a display
// matrix shows (`matrix`: its 9 values, or null), as ffmpeg's autorotation does for a
// plain transcode: "transpose=clock", "hflip,vflip", ... ("" when there is no turn), and
// in `inverse` the filters that undo them. false (both empty) when the matrix turns by an
// angle that is not a multiple of 90 degrees.
bool display_turn(const int32_t* matrix, std::string& forward, std::string& inverse);

// The frame-sized greyscale mask of mask mode: 255 on the mask's logo pixels at their
// exact frame positions (those outside the frame dropped), 0 elsewhere. Row-major,
// frame_width bytes a row.
std::vector<uint8_t> frame_mask(const analysis_result& r);

// The mask removelogo reads: the padded picture's size (w.width x w.height), each pixel
// the frame mask's at its mirrored source in the kept picture.
std::vector<uint8_t> working_mask(const analysis_result& r, const logo_work& w);

// OUTPUT's file name with its extension replaced by ".mask.png", in OUTPUT's directory.
std::string mask_path_for(const std::string& output);
