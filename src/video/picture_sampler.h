// Pictures spread over a video, for delogo-apply's logo model: of each, a few rectangles
// of every plane (luma and chroma), 8-bit.
#pragma once

#include <string>
#include <vector>

#include "analysis/plane_samples.h"

// A rectangle of the frame in luma pixels: top-left x, y and size w x h.
struct picture_rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// What sample_pictures read.
struct picture_samples {
    std::vector<corner_samples> rects; // one per asked rectangle, the same samples in each
    std::vector<picture_rect> where;   // the rectangles as taken: aligned to the chroma grid
    int width = 0, height = 0;         // frame size
    int depth = 8;                     // bits per sample of the video (the samples keep 8)
    std::string error;                 // why nothing could be read ("" when all went well)
};

// Reads up to `count` pictures spread evenly over `path`'s video stream `stream` and keeps
// `rects` (shrunk inward to whole chroma samples) of each. Long videos give key frames at
// evenly spread points (distinct ones only) of their time, or of their bytes in formats
// whose timestamps may jump (MPEG-TS); short ones all their key frames, or, with fewer than
// 24, every k-th reference picture (so does a long MPEG-TS whose points give fewer). Planar
// YUV and grey pictures of 8 to 16 bits only: other formats end with `error` set.
picture_samples sample_pictures(const std::string& path, int stream, int count,
                                const std::vector<picture_rect>& rects);
