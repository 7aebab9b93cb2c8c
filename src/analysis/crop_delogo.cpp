// The analysis driver: crop line, corner regions, detection in every searched corner,
// the box in the best one, and its report. Band images only: no FFmpeg here.
#include "analysis/crop_delogo.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "analysis/border_crop.h"
#include "analysis/canny_gradient.h"
#include "analysis/logo_box.h"
#include "analysis/report.h"
#include "analysis/settings.h"
#include "analysis/static_pixels.h"

namespace {

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

} // namespace

void crop_delogo(int band_w2, int band_h2, int frame_width, int frame_height,
                 const band_sample* samples, analysis_result* result) {
    const int frames = std::max(sw.frames, 0);
    // A record whose pass failed has no band image and takes no part in the crop.
    std::vector<box> borders;
    borders.reserve(static_cast<size_t>(frames));
    for (int s = 0; s < frames; ++s)
        if (samples[s].image)
            borders.push_back(
                sample_border(samples[s].image.get(), band_w2, band_h2, sw.level_black));
    // Without a single picture there is nothing to crop and no logo to look for; the
    // starting box alone would make a crop line of the frame's middle.
    if (borders.empty()) return;
    const box crop = union_crop(borders.data(), static_cast<int>(borders.size()), band_w2, band_h2);
    if (result) result->analysed = true;
    const bool cropped = print_crop(crop, band_w2, band_h2, frame_width, frame_height,
                                    result ? &result->crop : nullptr);
    if (result) result->has_crop = cropped;

    // Half the crop width rounded up to whole mask bytes: NW and NE (SW and SE) may share
    // up to 7 columns in the middle.
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
    if (result) {
        // Counted before mask mode fills the holes; the mask is empty outside the box.
        result->band_pixels = (band_w2 / 2) * (band_h2 / 2);
        result->box_pixels =
            (logo_box.right - logo_box.left + 1) * (logo_box.bottom - logo_box.top + 1);
        result->box_static = count_static(mask, mask_size);
    }
    if (mask_mode_step(mask, g.width, g.height, logo_box) < 0) return;

    report_corner(best, mask, g, logo_box, crop, band_w2, band_h2, frame_width, frame_height,
                  result);
}
