// The opacity and colour of a graphic, pixel by pixel, from the samples that show it: under
// a translucent logo every sample reads O = a + b * B (b = 1 - opacity, a = opacity *
// colour), so b is the ratio of the observed spread to the picture's spread filled in from
// around the graphic, and the colour follows from the means. Pure.
#pragma once

#include "analysis/plane_samples.h"
#include "logo/region_fields.h"
#include "logo/sample_blocks.h"

// One graphic's opacity and colour over a rectangle of the region: luma-sized fields over
// `r`, chroma-sized over `rc` (r on the chroma grid). Colours on the 8-bit scale.
struct graphic_matte {
    plane_rect r, rc;
    flags support; // r-sized: the graphic's pixels (the support given, a soft rim grown on it)
    field alpha, colour;
    field alpha_c, colour_cb, colour_cr;
};

// How far beyond the support given (pixels, 4-neighbour steps) matte_graphic looks for a
// soft rim of the graphic, at `scale` (the picture's size in 720-row units): the rectangle
// needs that margin around the support.
int soft_rim_band(double scale);

// The matte over rectangle `r` (luma pixels, on whole chroma samples) of the region's
// samples, each with its weight (0: left out), the graphic where `support` is set
// (r-sized; around `core`, where it surely is, only where the opacity stands out of the
// estimate's noise), the picture where `picture` is (r-sized: no letterbox bar). `scale`: the
// picture's size in units of a 720-row picture (1 at the least).
graphic_matte matte_graphic(const corner_samples& s, const std::vector<float>& weight,
                            plane_rect r, const flags& core, const flags& support,
                            const flags& picture, double scale);

// What a matte is worked out from: over rectangle r the luma's mean and spread per pixel
// (r-sized), over r on the chroma grid the chroma means (empty for grey pictures), 8-bit.
// Moments summed over several recordings (a logo library) matte as their samples would.
struct graphic_moments {
    field mean, spread, mean_cb, mean_cr;
    int shift_x = 1, shift_y = 1;
};

// The matte of matte_graphic from the samples' moments.
// `pooled`: moments of several programmes (a logo library's), the noise around the core
// read from the opacities below 0 rather than from the deviations of the clipped ones.
graphic_matte matte_from_moments(const graphic_moments& m, plane_rect r, const flags& core,
                                 const flags& support, const flags& picture, double scale,
                                 bool pooled = false);
