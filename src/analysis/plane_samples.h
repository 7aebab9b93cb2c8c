// Pictures of a few rectangles of a frame, sample after sample: what the video floor
// hands to delogo-apply's logo model. Includes nothing of the project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One plane of a corner region in every sample: sample s, pixel (x, y) is
// values[(s * height + y) * width + x], 8-bit (deeper pictures keep their top 8 bits).
struct plane_samples {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> values;
    int count() const { return width > 0 && height > 0 ? int(values.size() / (size_t(width) * height)) : 0; }
    const uint8_t* sample(int s) const { return values.data() + size_t(s) * width * height; }
};

// A corner region's luma and chroma over the samples. The chroma planes are subsampled by
// 1 << shift_x horizontally and 1 << shift_y vertically (both empty for grey pictures).
struct corner_samples {
    plane_samples luma, cb, cr;
    int shift_x = 1;
    int shift_y = 1;
};
