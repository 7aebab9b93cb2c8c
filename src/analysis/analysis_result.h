// What one analysis found, handed to a caller that acts on it (delogo-apply) rather than
// only printed. Frame coordinates throughout. Includes nothing of the project.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A rectangle in frame coordinates: top-left pixel x, y and size w x h.
struct frame_rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

struct analysis_result {
    // Filled by the sampler: the decoded frame, the container's duration (microseconds,
    // 0 when unknown) and the decoder's pixel format name ("" when none).
    int frame_width = 0;
    int frame_height = 0;
    int64_t duration_us = 0;
    std::string pix_fmt;
    int video_stream = -1; // index of the analysed stream in the container
    bool analysed = false; // at least one key frame was captured and analysed
    // The crop line, when one was printed.
    bool has_crop = false;
    frame_rect crop;
    // The "delogo=" lines printed (0, 1 or 2), as printed.
    int logo_count = 0;
    frame_rect logos[2];
    // Mask mode ("removelogo=" printed): the filled mask of the corner region (rows of
    // mask_width / 8 bytes, bits as in mask_bits.h: 0 = logo) and the frame position of
    // its top-left pixel.
    bool has_mask = false;
    int corner = -1;
    std::vector<uint8_t> mask;
    int mask_width = 0;
    int mask_height = 0;
    int mask_x = 0;
    int mask_y = 0;
    // How much the box looks like a logo: the size of one corner band, the logo box's
    // area (its margin included) and the static pixels inside it before any filling, in
    // pixels; all 0 when no box was found.
    int band_pixels = 0;
    int box_pixels = 0;
    int box_static = 0;
};
