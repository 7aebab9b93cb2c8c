// The report of the chosen corner: the delogo or removelogo picture and the filter lines
// in frame coordinates.
#include "analysis/report.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/mask_bits.h"
#include "analysis/picture_writers.h"
#include "analysis/settings.h"
#include "analysis/two_rectangles.h"

namespace {

bool is_zero_box(const box& b) {
    return b.top == 0 && b.bottom == 0 && b.left == 0 && b.right == 0;
}

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
    if (!(sw.flags & FLAG_NO_PICTURES))
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
    // Whole mask bytes are copied, so the region lands at its origin column rounded down
    // to a multiple of 8: up to 7 columns left of where it was found. Deliberate: the
    // picture is a copy of the mask bytes, not a re-plotting of its pixels.
    const size_t column_byte = static_cast<size_t>(origin_column) / 8;
    for (int r = logo_box.top; r <= logo_box.bottom; ++r) {
        uint8_t* row = picture.get() + static_cast<size_t>(origin_row + r) * picture_planes * pb;
        memcpy(row + column_byte, mask + r * row_bytes, row_bytes);
        memcpy(row + 3 * pb + column_byte, mask + r * row_bytes, row_bytes);
    }
    if (!(sw.flags & FLAG_NO_PICTURES))
        save_image("removelogo_%d", corner, 1, picture_planes, band_w2, band_h2, picture.get());
    return true;
}

// Hands the mask-mode result to the caller: the filled mask and the frame position of
// the region's top-left pixel, converted from the band image as delogo_box converts.
void record_mask(int corner, const uint8_t* mask, region_geometry g, const box& crop, int band_w2,
                 int band_h2, int frame_width, int frame_height, analysis_result& result) {
    int origin_row, origin_column;
    region_origin(corner, crop, g, origin_row, origin_column);
    result.has_mask = true;
    result.corner = corner;
    result.mask.assign(mask, mask + static_cast<size_t>(g.width) / 8 * g.height);
    result.mask_width = g.width;
    result.mask_height = g.height;
    result.mask_x = origin_column + ((corner & 1) ? frame_width - band_w2 : 0);
    result.mask_y = origin_row + ((corner & 2) ? frame_height - band_h2 : 0);
}

} // namespace

void report_corner(int corner, const uint8_t* mask, region_geometry g, const box& logo_box,
                   const box& crop, int band_w2, int band_h2, int frame_width, int frame_height,
                   analysis_result* result) {
    if (sw.flags & FLAG_REMOVELOGO) {
        if (!write_removelogo_picture(corner, mask, g, logo_box, crop, band_w2, band_h2)) return;
        printf("removelogo=removelogo_%d.%s\n", corner,
               (sw.flags & FLAG_SAVE_AS_PCX) ? "pcx" : "png");
        fflush(stdout);
        if (result)
            record_mask(corner, mask, g, crop, band_w2, band_h2, frame_width, frame_height,
                        *result);
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
                   rects[i].top, rects[i].bottom, rects[i].left, rects[i].right,
                   result ? &result->logos[i] : nullptr);
    fflush(stdout);
    if (result) {
        result->corner = corner;
        result->logo_count = rect_count;
    }
}

void delogo_box(int corner, int band_w2, int band_h2, int frame_width, int frame_height,
                int region_width, int region_height, const box& crop, int top, int bottom, int left,
                int right, frame_rect* printed) {
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
    if (printed) {
        printed->x = x;
        printed->y = y;
        printed->w = w;
        printed->h = h;
    }
}
