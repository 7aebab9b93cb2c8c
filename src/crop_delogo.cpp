// Black-border crop and logo analysis on the sampled band images.
//
// The band image holds the four corner bands of a frame's luma plane, so every stage
// here works on plain byte buffers: the border search on whole band images, the logo
// detectors and the box search on one corner region and its bit mask (0 bit = static
// pixel, a logo candidate; 1 bit = a pixel that changed or was erased).
#include "crop_delogo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "delogo.h"
#include "edge_scan.h"
#include "overlap_two.h"
#include "png_pcx.h"

// Zero bits of each byte value, built two bits at a time: for the low pair 00, 01, 10,
// 11 the count drops by 0, 1, 1, 2.
#define ZEROES_2(n) n, n - 1, n - 1, n - 2
#define ZEROES_4(n) ZEROES_2(n), ZEROES_2(n - 1), ZEROES_2(n - 1), ZEROES_2(n - 2)
#define ZEROES_6(n) ZEROES_4(n), ZEROES_4(n - 1), ZEROES_4(n - 1), ZEROES_4(n - 2)
const uint8_t zeroes[256] = {ZEROES_6(8), ZEROES_6(7), ZEROES_6(7), ZEROES_6(6)};
#undef ZEROES_6
#undef ZEROES_4
#undef ZEROES_2

namespace {

// ---- Bit rows ------------------------------------------------------------------------
// A mask row is a run of bytes, column x at bit 128 >> (x % 8) of byte x / 8. Column
// ranges below are inclusive and never empty.

uint8_t first_byte_bits(int x0) {
    return static_cast<uint8_t>(0xFF >> (x0 & 7));
}
uint8_t last_byte_bits(int x1) {
    return static_cast<uint8_t>(0xFF << (7 - (x1 & 7)));
}

// True when some column x0..x1 of the row holds a 0 bit.
bool row_has_static(const uint8_t* row, int x0, int x1) {
    const int b0 = x0 >> 3, b1 = x1 >> 3;
    if (b0 == b1) return (~row[b0] & first_byte_bits(x0) & last_byte_bits(x1)) != 0;
    if (~row[b0] & first_byte_bits(x0)) return true;
    for (int b = b0 + 1; b < b1; ++b)
        if (row[b] != 0xFF) return true;
    return (~row[b1] & last_byte_bits(x1)) != 0;
}

// Sets (value true) or clears the bits of columns x0..x1.
void put_bits(uint8_t* row, int x0, int x1, bool value) {
    const int b0 = x0 >> 3, b1 = x1 >> 3;
    auto apply = [&](int b, uint8_t bits) {
        row[b] = value ? static_cast<uint8_t>(row[b] | bits) : static_cast<uint8_t>(row[b] & ~bits);
    };
    if (b0 == b1) {
        apply(b0, first_byte_bits(x0) & last_byte_bits(x1));
        return;
    }
    apply(b0, first_byte_bits(x0));
    for (int b = b0 + 1; b < b1; ++b)
        row[b] = value ? 0xFF : 0x00;
    apply(b1, last_byte_bits(x1));
}

bool is_static(const uint8_t* row, int x) {
    return (row[x >> 3] & (0x80 >> (x & 7))) == 0;
}

// True when a static pixel lies in columns x0..x1 of rows y0..y1 (empty ranges: false).
bool any_static(const uint8_t* mask, int row_bytes, int x0, int x1, int y0, int y1) {
    if (x0 > x1) return false;
    for (int y = y0; y <= y1; ++y)
        if (row_has_static(mask + static_cast<size_t>(y) * row_bytes, x0, x1)) return true;
    return false;
}

// ---- Darkness ----------------------------------------------------------------------

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

// ---- Corner geometry -----------------------------------------------------------------

struct region_geometry {
    int width;  // pixels, a multiple of 8; also the mask row length in bits
    int height; // rows
};

// Band-image row and column of the region's top-left pixel; 0 NW, 1 NE, 2 SW, 3 SE.
void region_origin(int corner, const box& crop, region_geometry g, int& row, int& column) {
    column = (corner & 1) ? crop.right - g.width : crop.left;
    row = (corner & 2) ? crop.bottom - g.height : crop.top;
}

// True when the regions of the corners in corner_mask lie wholly inside the band image
// and are not empty. Only then may a detector read them; a corner that is not searched
// does not stop the others.
bool regions_fit(const box& crop, region_geometry g, int band_w2, int band_h2,
                 unsigned corner_mask) {
    if (g.width <= 0 || g.height <= 0) return false;
    for (int corner = 0; corner < 4; ++corner) {
        if (!(corner_mask & (1u << corner))) continue;
        int row, column;
        region_origin(corner, crop, g, row, column);
        if (row < 0 || column < 0 || row + g.height > band_h2 || column + g.width > band_w2)
            return false;
    }
    return true;
}

bool is_zero_box(const box& b) {
    return b.top == 0 && b.bottom == 0 && b.left == 0 && b.right == 0;
}

// ---- Pictures -------------------------------------------------------------------------
// Mask pictures have 1 bit per pixel in 4 planes; every plane row is padded to whole
// bytes, so a picture row is 4 * ((width + 7) / 8) bytes. Planes 1 and 2 stay all 1:
// index 6 (white) where planes 0 and 3 are 0, 7 (green) where only plane 3 is 0, black
// wherever plane 3 is 1.

constexpr int picture_planes = 4;

std::unique_ptr<uint8_t[]> blank_picture(int width, int height, size_t& plane_bytes) {
    plane_bytes = (static_cast<size_t>(width) + 7) / 8;
    const size_t size = plane_bytes * picture_planes * static_cast<size_t>(height);
    std::unique_ptr<uint8_t[]> picture(new (std::nothrow) uint8_t[size ? size : 1]);
    if (picture) memset(picture.get(), 0xFF, size);
    return picture;
}

// The delogo picture of the corner region: the mask in plane 0 and the covered columns
// cleared in plane 3, on the rows of the logo box. Returns false when out of memory.
bool write_delogo_picture(int corner, const uint8_t* mask, region_geometry g, const box& logo_box,
                          const box* rects, int rect_count) {
    size_t pb;
    std::unique_ptr<uint8_t[]> picture = blank_picture(g.width, g.height, pb);
    if (!picture) return false;
    const size_t row_bytes = static_cast<size_t>(g.width) / 8;
    for (int r = logo_box.top; r <= logo_box.bottom; ++r) {
        uint8_t* row = picture.get() + static_cast<size_t>(r) * picture_planes * pb;
        memcpy(row, mask + r * row_bytes, row_bytes);
        uint8_t* plane3 = row + 3 * pb;
        for (int i = 0; i < rect_count; ++i)
            if (rects[i].top <= r && r <= rects[i].bottom && rects[i].left <= rects[i].right)
                put_bits(plane3, rects[i].left, rects[i].right, false);
    }
    save_image("delogo_%d", corner, 1, picture_planes, g.width, g.height, picture.get());
    return true;
}

// The removelogo picture of the whole band image: mask rows of the logo box in planes
// 0 and 3 from the region origin's byte on. Returns false when out of memory.
bool write_removelogo_picture(int corner, const uint8_t* mask, region_geometry g,
                              const box& logo_box, const box& crop, int band_w2, int band_h2) {
    size_t pb;
    std::unique_ptr<uint8_t[]> picture = blank_picture(band_w2, band_h2, pb);
    if (!picture) return false;
    int origin_row, origin_column;
    region_origin(corner, crop, g, origin_row, origin_column);
    const size_t row_bytes = static_cast<size_t>(g.width) / 8;
    const size_t column_byte = static_cast<size_t>(origin_column) / 8;
    for (int r = logo_box.top; r <= logo_box.bottom; ++r) {
        uint8_t* row = picture.get() + static_cast<size_t>(origin_row + r) * picture_planes * pb;
        memcpy(row + column_byte, mask + r * row_bytes, row_bytes);
        memcpy(row + 3 * pb + column_byte, mask + r * row_bytes, row_bytes);
    }
    save_image("removelogo_%d", corner, 1, picture_planes, band_w2, band_h2, picture.get());
    return true;
}

// ---- Report ---------------------------------------------------------------------------

void report_corner(int corner, const uint8_t* mask, region_geometry g, const box& logo_box,
                   const box& crop, int band_w2, int band_h2, int frame_width, int frame_height) {
    if (sw.flags & FLAG_REMOVELOGO) {
        if (!write_removelogo_picture(corner, mask, g, logo_box, crop, band_w2, band_h2)) return;
        printf("removelogo=removelogo_%d.%s\n", corner,
               (sw.flags & FLAG_SAVE_AS_PCX) ? "pcx" : "png");
        fflush(stdout);
        return;
    }
    // Two rectangles only when the cover found a split; otherwise the box alone.
    box rects[2] = {logo_box, box{0, 0, 0, 0}};
    int rect_count = 1;
    if (sw.flags & FLAG_TWO_RECTANGLES) {
        box a{0, 0, 0, 0}, b{0, 0, 0, 0};
        if (overlap_tworect(mask, g.width, g.height, logo_box, a, b) == 0 && !is_zero_box(a) &&
            !is_zero_box(b)) {
            rects[0] = a;
            rects[1] = b;
            rect_count = 2;
        }
    }
    if (!write_delogo_picture(corner, mask, g, logo_box, rects, rect_count)) return;
    for (int i = 0; i < rect_count; ++i)
        delogo_box(corner, band_w2, band_h2, frame_width, frame_height, g.width, g.height, crop,
                   rects[i].top, rects[i].bottom, rects[i].left, rects[i].right);
    fflush(stdout);
}

// lo and hi take in the values of p. The buffers never overlap, and the fixed-size
// blocks let the compiler's cheapest vectorisation model turn each block into a few
// vector minimum and maximum instructions.
constexpr int range_block = 32;

inline void widen_block(uint8_t* __restrict lo, uint8_t* __restrict hi,
                        const uint8_t* __restrict p) {
    for (int k = 0; k < range_block; ++k) {
        const uint8_t v = p[k];
        lo[k] = v < lo[k] ? v : lo[k];
        hi[k] = v > hi[k] ? v : hi[k];
    }
}

void widen_range(uint8_t* lo, uint8_t* hi, const uint8_t* p, int len) {
    int i = 0;
    for (; i + range_block <= len; i += range_block)
        widen_block(lo + i, hi + i, p + i);
    for (; i < len; ++i) {
        lo[i] = std::min(lo[i], p[i]);
        hi[i] = std::max(hi[i], p[i]);
    }
}

} // namespace

// ---- Border search -------------------------------------------------------------------

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

void print_crop(const box& crop, int band_w2, int band_h2, int frame_width, int frame_height) {
    if (crop.left == 0 && crop.top == 0 && crop.right == band_w2 && crop.bottom == band_h2) return;
    printf("crop=%d:%d:%d:%d\n", frame_width - band_w2 + (crop.right - crop.left),
           frame_height - band_h2 + (crop.bottom - crop.top), crop.left, crop.top);
    fflush(stdout);
}

// ---- Static-pixel detector -----------------------------------------------------------

int distance_logo(int band_w2, int, int region_width, int region_height, int start,
                  const band_sample* samples, uint8_t* mask, int corner) {
    const int n = sw.frames;
    if (n <= 1 || region_width <= 0 || region_height <= 0) return 0;
    const unsigned corner_bit = 1u << corner;
    auto takes_part = [&](int s) {
        return (samples[s].corner_flags & corner_bit) && samples[s].image;
    };
    int taking_part = 0;
    for (int s = 0; s < n && taking_part < 2; ++s)
        taking_part += takes_part(s);
    if (taking_part < 2) return 0; // no pair to compare

    // A pixel changed between some two samples exactly when its largest and smallest
    // values over all samples lie more than level_delta apart, so one pass keeping a
    // running minimum and maximum per pixel replaces the comparison of every pair. The
    // pass goes sample by sample, so each band image is read in long runs.
    const size_t pixels = static_cast<size_t>(region_width) * region_height;
    std::unique_ptr<uint8_t[]> lo(new (std::nothrow) uint8_t[pixels]);
    std::unique_ptr<uint8_t[]> hi(new (std::nothrow) uint8_t[pixels]);
    if (!lo || !hi) return -1;
    bool first = true;
    for (int s = 0; s < n; ++s) {
        if (!takes_part(s)) continue;
        const uint8_t* image = samples[s].image.get() + start;
        for (int y = 0; y < region_height; ++y) {
            const uint8_t* p = image + static_cast<size_t>(y) * band_w2;
            const size_t at = static_cast<size_t>(y) * region_width;
            if (first) {
                memcpy(lo.get() + at, p, region_width);
                memcpy(hi.get() + at, p, region_width);
            } else {
                widen_range(lo.get() + at, hi.get() + at, p, region_width);
            }
        }
        first = false;
    }
    // Pixels already marked stay marked; only the others can gain a bit.
    const int delta = sw.level_delta;
    for (size_t j = 0; j < pixels / 8; ++j) {
        if (mask[j] == 0xFF) continue;
        const uint8_t* l = lo.get() + 8 * j;
        const uint8_t* h = hi.get() + 8 * j;
        unsigned bits = 0;
        for (int k = 0; k < 8; ++k)
            bits = (bits << 1) | (h[k] - l[k] > delta ? 1u : 0u);
        mask[j] = static_cast<uint8_t>(mask[j] | bits);
    }
    return 0;
}

// ---- Mask clean-up and ratios ---------------------------------------------------------

int count_static(const uint8_t* mask, size_t bytes) {
    int count = 0;
    for (size_t i = 0; i < bytes; ++i)
        count += zeroes[mask[i]];
    return count;
}

void clean_rows(int region_width, uint8_t* mask) {
    const int b = region_width / 8;
    if (b == 0) return;
    if (count_static(mask, b) > region_width * 9 / 10) memset(mask, 0xFF, b);
}

void clean_columns(int region_width, int region_height, int bit, uint8_t* mask) {
    if (region_height <= 0) return;
    const size_t row_bytes = static_cast<size_t>(region_width) / 8;
    int count = 0;
    for (int y = 0; y < region_height; ++y)
        count += (mask[y * row_bytes] & bit) == 0;
    if (count > region_height * 9 / 10)
        for (int y = 0; y < region_height; ++y)
            mask[y * row_bytes] |= static_cast<uint8_t>(bit);
}

// Per mille of part in part + rest, 0 for an empty mask (the callers never ask then).
static int per_mille(long long part, long long rest) {
    return part + rest > 0 ? static_cast<int>(part * 1000 / (part + rest)) : 0;
}

int hratio(int region_width, int region_height, int split, const uint8_t* mask) {
    const int b = region_width / 8;
    const int split_byte = split / 8;
    const unsigned split_bit = 0x80u >> (split % 8);
    long long left = 0, right = 0;
    for (int y = 0; y < region_height; ++y) {
        const uint8_t* row = mask + static_cast<size_t>(y) * b;
        for (int j = 0; j < b; ++j) {
            const uint8_t v = row[j];
            if (v == 0xFF) continue;
            if (j < split_byte) {
                left += zeroes[v];
            } else if (j > split_byte) {
                right += zeroes[v];
            } else {
                for (unsigned g = 0x80; g; g >>= 1)
                    if (!(v & g)) (g > split_bit ? left : right) += 1;
            }
        }
    }
    return per_mille(left, right);
}

int vratio(int region_width, int region_height, int split, const uint8_t* mask) {
    const size_t b = static_cast<size_t>(region_width) / 8;
    const int above = std::max(0, std::min(split, region_height));
    const long long top = count_static(mask, above * b);
    if (split >= region_height) return 1000;
    const long long bottom = count_static(mask + above * b, (region_height - above) * b);
    return per_mille(top, bottom);
}

void clean_edges(uint8_t* mask, int region_width, int region_height) {
    const size_t row_bytes = static_cast<size_t>(region_width) / 8;
    for (int k = 0; k < region_height / 20; ++k) {
        clean_rows(region_width, mask + k * row_bytes);
        clean_rows(region_width, mask + (region_height - 1 - k) * row_bytes);
    }
    for (int k = 0; k < region_width / 20; ++k) {
        const int right = region_width - 1 - k;
        clean_columns(region_width, region_height, 0x80 >> (k % 8), mask + k / 8);
        clean_columns(region_width, region_height, 0x80 >> (right % 8), mask + right / 8);
    }
}

int pick_corner(const int static_count[4], int region_width, int region_height) {
    const int limit = region_width * region_height / 150;
    int best = -1, best_count = 0;
    for (int c = 0; c < 4; ++c)
        if (static_count[c] > limit && static_count[c] > best_count) {
            best = c;
            best_count = static_count[c];
        }
    return best;
}

// ---- Logo box search ------------------------------------------------------------------

// Largest c <= n - 2 whose ratio is at most (at_most) or below `limit`, by bisection.
template <typename Ratio> static int bisect(int n, int limit, bool at_most, Ratio ratio) {
    int lo = 0, hi = n - 1, previous = 0;
    while (true) {
        const int mid = (lo + hi) / 2;
        const int r = ratio(mid);
        if (at_most ? r <= limit : r < limit)
            lo = mid;
        else
            hi = mid;
        if (mid == previous) return mid;
        previous = mid;
    }
}

box quartile_box(const uint8_t* mask, int region_width, int region_height) {
    auto h = [&](int c) { return hratio(region_width, region_height, c, mask); };
    auto v = [&](int r) { return vratio(region_width, region_height, r, mask); };
    box b;
    b.left = bisect(region_width, 250, true, h);
    b.right = bisect(region_width, 750, false, h);
    b.top = bisect(region_height, 250, true, v);
    b.bottom = bisect(region_height, 750, false, v);
    return b;
}

bool grow_box(const uint8_t* mask, int region_width, int region_height, int border_black, box& b) {
    const int rb = region_width / 8;
    // Every pass that changes something moves an edge by one pixel; a box that settles
    // does so long before this many passes.
    const long long pass_limit = 8LL * (region_width + region_height) + 64;
    for (long long pass = 0; pass < pass_limit; ++pass) {
        const box before = b;
        // Left edge.
        int reach = std::max(b.left - border_black, 0);
        if (reach != b.left) {
            if (any_static(mask, rb, reach, b.left - 1, b.top, b.bottom))
                --b.left;
            else if (!any_static(mask, rb, b.left, b.left, b.top, b.bottom))
                ++b.left;
        }
        // Right edge.
        reach = std::min(b.right + border_black, region_width - 1);
        if (reach != b.right) {
            if (any_static(mask, rb, b.right + 1, reach, b.top, b.bottom))
                ++b.right;
            else if (!any_static(mask, rb, b.right, b.right, b.top, b.bottom))
                --b.right;
        }
        // Top edge.
        reach = std::max(b.top - border_black, 0);
        if (reach != b.top) {
            if (any_static(mask, rb, b.left, b.right, reach, b.top - 1))
                --b.top;
            else if (!any_static(mask, rb, b.left, b.right, b.top, b.top))
                ++b.top;
        }
        // Bottom edge.
        reach = std::min(b.bottom + border_black, region_height - 1);
        if (reach != b.bottom) {
            if (any_static(mask, rb, b.left, b.right, b.bottom + 1, reach))
                ++b.bottom;
            else if (!any_static(mask, rb, b.left, b.right, b.bottom, b.bottom))
                --b.bottom;
        }
        // Only a box still empty after all four steps is lost: a step may empty it (the
        // top edge passing a one-row box) and a later step of the same pass repair it
        // (the bottom edge growing over static rows below). Within one pass every read
        // stays inside the region, since each edge moves at most one pixel from a box
        // that was whole when the pass began.
        if (b.right < b.left || b.bottom < b.top) return false;
        if (before.top == b.top && before.bottom == b.bottom && before.left == b.left &&
            before.right == b.right)
            return true;
    }
    return true; // never settled: keep the box as it stands
}

bool fit_logo_box(uint8_t* mask, int region_width, int region_height, box& logo_box) {
    box b = quartile_box(mask, region_width, region_height);
    if (!grow_box(mask, region_width, region_height, sw.border_black, b)) return false;
    if (b.right - b.left <= 4 || b.bottom - b.top <= 4) return false;
    for (int i = 0; i < sw.border_band; ++i) {
        if (b.left > 0) --b.left;
        if (b.right < region_width - 2) ++b.right;
        if (b.top > 0) --b.top;
        if (b.bottom < region_height - 2) ++b.bottom;
    }
    // Erase everything outside the box.
    const size_t rb = static_cast<size_t>(region_width) / 8;
    for (int y = 0; y < region_height; ++y) {
        uint8_t* row = mask + y * rb;
        if (y < b.top || y > b.bottom) {
            memset(row, 0xFF, rb);
            continue;
        }
        if (b.left > 0) put_bits(row, 0, b.left - 1, true);
        if (b.right < region_width - 1) put_bits(row, b.right + 1, region_width - 1, true);
    }
    logo_box = b;
    return true;
}

// ---- Mask mode ------------------------------------------------------------------------

int fill_logo(uint8_t* filled, int region_width, const box& b) {
    const size_t rb = static_cast<size_t>(region_width) / 8;
    for (int r = b.top; r <= b.bottom; ++r) {
        uint8_t* row = filled + r * rb;
        int first = -1, last = -1;
        for (int x = b.left; x <= b.right; ++x)
            if (is_static(row, x)) {
                if (first < 0) first = x;
                last = x;
            }
        if (first >= 0 && last > first + 1) put_bits(row, first + 1, last - 1, false);
    }
    int fill_count = 0;
    for (int x = b.left; x <= b.right; ++x) {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        uint8_t* column = filled + (x >> 3);
        int first = -1, last = -1;
        for (int r = b.top; r <= b.bottom; ++r)
            if (!(column[r * rb] & bit)) {
                if (first < 0) first = r;
                last = r;
            }
        if (first < 0 || last <= first) continue;
        fill_count += last - first + 1;
        for (int r = first + 1; r < last; ++r)
            column[r * rb] &= static_cast<uint8_t>(~bit);
    }
    return fill_count;
}

int mask_mode_step(uint8_t* mask, int region_width, int region_height, const box& b) {
    const size_t size = static_cast<size_t>(region_width) / 8 * region_height;
    std::unique_ptr<uint8_t[]> filled(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!filled) return -1;
    memcpy(filled.get(), mask, size);
    const long long fill_count = fill_logo(filled.get(), region_width, b);
    const long long area =
        static_cast<long long>(b.bottom - b.top + 1) * static_cast<long long>(b.right - b.left + 1);
    const int coverage = static_cast<int>(fill_count * 100 / area);
    if ((sw.flags & FLAG_REMOVELOGO) || coverage < sw.pixel_ratio) {
        memcpy(mask, filled.get(), size);
        sw.flags |= FLAG_REMOVELOGO;
    }
    return coverage;
}

// ---- Report line ----------------------------------------------------------------------

void delogo_box(int corner, int band_w2, int band_h2, int frame_width, int frame_height,
                int region_width, int region_height, const box& crop, int top, int bottom, int left,
                int right) {
    int w = right - left + 1, h = bottom - top + 1;
    int origin_row, origin_column;
    region_origin(corner, crop, region_geometry{region_width, region_height}, origin_row,
                  origin_column);
    int x = left + origin_column, y = top + origin_row;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    if (x + w > band_w2) w = band_w2 - x;
    if (y + h > band_h2) h = band_h2 - y;
    if (corner & 1) x += frame_width - band_w2;
    if (corner & 2) y += frame_height - band_h2;
    printf("delogo=x=%d:y=%d:w=%d:h=%d corner %d\n", x, y, w, h, corner);
}

// ---- The analysis ---------------------------------------------------------------------

void crop_delogo(int band_w2, int band_h2, int frame_width, int frame_height,
                 const band_sample* samples) {
    const int frames = std::max(sw.frames, 0);

    // Border boxes of the samples that have a band image, gathered into their union as
    // they come. The running union already holds the starting box, so handing it to
    // union_crop alone gives the same box as handing over every sample's.
    box gathered{band_h2 / 2, band_h2 / 2 + 1, band_w2 / 2, band_w2 / 2 + 1};
    int captured = 0;
    for (int s = 0; s < frames; ++s) {
        if (!samples[s].image) continue;
        ++captured;
        const box b = sample_border(samples[s].image.get(), band_w2, band_h2, sw.level_black);
        gathered.top = std::min(gathered.top, b.top);
        gathered.bottom = std::max(gathered.bottom, b.bottom);
        gathered.left = std::min(gathered.left, b.left);
        gathered.right = std::max(gathered.right, b.right);
    }
    // Without a single picture there is nothing to crop and no logo to look for; the
    // starting box alone would make a crop line of the frame's middle.
    if (captured == 0) return;
    const box crop = union_crop(&gathered, 1, band_w2, band_h2);
    print_crop(crop, band_w2, band_h2, frame_width, frame_height);

    if (sw.flags & FLAG_ALL_CORNERS) return;

    region_geometry g;
    g.width = ((crop.right - crop.left) / 2 + 7) / 8 * 8;
    g.height = (crop.bottom - crop.top) / 2;
    if (!regions_fit(crop, g, band_w2, band_h2, sw.corner_mask)) return;

    // Detection in every selected corner.
    const logo_detector detector = (sw.flags & FLAG_CANNY) ? canny_logo : distance_logo;
    const size_t mask_size = static_cast<size_t>(g.width) / 8 * g.height;
    std::unique_ptr<uint8_t[]> masks[4];
    int static_count[4] = {0, 0, 0, 0};
    for (int c = 0; c < 4; ++c) {
        if (!(sw.corner_mask & (1u << c))) continue;
        masks[c].reset(new (std::nothrow) uint8_t[mask_size]());
        if (!masks[c]) return;
        int row, column;
        region_origin(c, crop, g, row, column);
        if (detector(band_w2, band_h2, g.width, g.height, row * band_w2 + column, samples,
                     masks[c].get(), c) != 0)
            return;
        clean_edges(masks[c].get(), g.width, g.height);
        static_count[c] = count_static(masks[c].get(), mask_size);
    }
    const int best = pick_corner(static_count, g.width, g.height);
    if (best < 0) return;

    // The box in the best corner, then the mask-mode decision.
    uint8_t* mask = masks[best].get();
    box logo_box;
    if (!fit_logo_box(mask, g.width, g.height, logo_box)) return;
    if (mask_mode_step(mask, g.width, g.height, logo_box) < 0) return;

    report_corner(best, mask, g, logo_box, crop, band_w2, band_h2, frame_width, frame_height);
}
