// Black-border crop: the picture area inside dark rows and columns of each band image,
// and the union of those areas over the samples.
#include "analysis/border_crop.h"

#include <algorithm>
#include <cstdio>

namespace {

bool dark_row(const uint8_t* image, int band_w2, int y, int level_black) {
    const uint8_t* row = image + static_cast<size_t>(y) * band_w2;
    for (int x = 0; x < band_w2; ++x)
        if (row[x] > level_black) return false;
    return true;
}

bool dark_column(const uint8_t* image, int band_w2, int band_h2, int x, int level_black) {
    for (int y = 0; y < band_h2; ++y)
        if (image[static_cast<size_t>(y) * band_w2 + x] > level_black) return false;
    return true;
}

// Columns per block of the column search, and how many rows ahead a block's next rows are
// fetched. The band images of a run are far larger than the caches, and one column read
// pixel by pixel strides across a new cache line per row: judging a block of columns row
// by row (a fixed count, which the compiler's cheapest vectorisation model turns into a
// few vector compares) with the next rows fetched ahead reads each line once and early.
constexpr int column_block = 64;
constexpr int prefetch_rows = 12;

// dark[k] = 1 when column x0 + k is dark: AND of row[x0 + k] <= level over all rows.
// Stops at the row where every column of the block has turned light.
void dark_block(const uint8_t* image, int band_w2, int band_h2, int x0, uint8_t level,
                uint8_t* __restrict dark) {
    for (int k = 0; k < column_block; ++k)
        dark[k] = 1;
    for (int y = 0; y < band_h2; ++y) {
        const uint8_t* __restrict row = image + static_cast<size_t>(y) * band_w2 + x0;
        if (y + prefetch_rows < band_h2)
            __builtin_prefetch(row + static_cast<size_t>(prefetch_rows) * band_w2);
        uint8_t any = 0;
        for (int k = 0; k < column_block; ++k) {
            dark[k] &= row[k] <= level ? 1 : 0;
            any |= dark[k];
        }
        if (!any) return;
    }
}

// The first dark column from x_first towards x_last (step +1 or -1; both inside the band
// image), or -1 when there is none: the same column as dark_column tried one by one.
int first_dark_column(const uint8_t* image, int band_w2, int band_h2, int level_black, int x_first,
                      int x_last, int step) {
    if (band_h2 <= 0 || level_black >= 255) return x_first; // every column is dark
    if (level_black < 0) return -1;                         // no pixel is that dark
    const uint8_t level = static_cast<uint8_t>(level_black);
    auto in_range = [&](int x) { return step > 0 ? x <= x_last : x >= x_last; };
    uint8_t dark[column_block];
    for (int x = x_first; in_range(x);) {
        if (band_w2 < column_block) {
            if (dark_column(image, band_w2, band_h2, x, level_black)) return x;
            x += step;
            continue;
        }
        // The block that starts at x (going right) or ends at x (going left), moved back
        // inside the image where it would stick out; it always holds x.
        const int lo = std::clamp(step > 0 ? x : x - column_block + 1, 0, band_w2 - column_block);
        dark_block(image, band_w2, band_h2, lo, level, dark);
        for (; x >= lo && x < lo + column_block && in_range(x); x += step)
            if (dark[x - lo]) return x;
    }
    return -1;
}

} // namespace

box sample_border(const uint8_t* image, int band_w2, int band_h2, int level_black) {
    const int bw = band_w2 / 2, bh = band_h2 / 2;
    box b{0, band_h2, 0, band_w2};
    // Only rows and columns that exist are looked at: an empty band image has none.
    for (int y = std::min(bh, band_h2 - 1); y >= 0; --y)
        if (dark_row(image, band_w2, y, level_black)) {
            b.top = y + 1;
            break;
        }
    for (int y = bh + 1; y < band_h2; ++y)
        if (dark_row(image, band_w2, y, level_black)) {
            b.bottom = y;
            break;
        }
    if (band_w2 > 0) {
        const int left = first_dark_column(image, band_w2, band_h2, level_black,
                                           std::min(bw, band_w2 - 1), 0, -1);
        if (left >= 0) b.left = left + 1;
    }
    if (bw + 1 < band_w2) {
        const int right =
            first_dark_column(image, band_w2, band_h2, level_black, bw + 1, band_w2 - 1, 1);
        if (right >= 0) b.right = right;
    }
    return b;
}

box union_crop(const box* borders, int count, int band_w2, int band_h2) {
    const int bw = band_w2 / 2, bh = band_h2 / 2;
    box crop{bh, bh + 1, bw, bw + 1};
    for (int i = 0; i < count; ++i) {
        crop.top = std::min(crop.top, borders[i].top);
        crop.left = std::min(crop.left, borders[i].left);
        crop.bottom = std::max(crop.bottom, borders[i].bottom);
        crop.right = std::max(crop.right, borders[i].right);
    }
    if ((crop.right - crop.left) % 2) --crop.right;
    if ((crop.bottom - crop.top) % 2) --crop.bottom;
    return crop;
}

bool print_crop(const box& crop, int band_w2, int band_h2, int frame_width, int frame_height,
                frame_rect* printed) {
    if (crop.left == 0 && crop.top == 0 && crop.right == band_w2 && crop.bottom == band_h2)
        return false;
    frame_rect r;
    r.w = frame_width - band_w2 + (crop.right - crop.left);
    r.h = frame_height - band_h2 + (crop.bottom - crop.top);
    r.x = crop.left;
    r.y = crop.top;
    printf("crop=%d:%d:%d:%d\n", r.w, r.h, r.x, r.y);
    fflush(stdout);
    if (printed) *printed = r;
    return true;
}
