// Matting a graphic from many samples: the spreads give its opacity, the means its colour.
//
// Matching the spreads, rather than regressing each pixel on a neighbour, is not pulled
// towards zero by the picture's own detail (a neighbour is never quite the pixel). The
// spreads are those within stretches of time (blocks), pooled: a still shot changes the
// picture between the blocks only, and leaves no imprint. The colour is read in each block
// and the median of the readings taken, so that a block whose mean picture the fill gets
// wrong (a still shot's sharp one) does not count.
#include "logo/logo_matting.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float colour_alpha = 0.15f;    // opacities below it give no colour reading
constexpr float own_colour_alpha = 0.6f; // from it on a pixel's colour is its own reading
constexpr float opaque_b = 0.1f;         // 1 - opacity below it: a clearly opaque pixel
// Neighbours whose opacity differs more than this are of another stroke (a drop shadow
// beside its letter): their colour is not the pixel's.
constexpr float same_stroke = 0.12f;
// A neighbour's colour reading counts towards a pixel's median only within this many levels
// times b / opacity of the pixel's own: the readings' noise grows as b / opacity (the mean
// picture's own noise divided out), their difference where two colours meet does not. So a
// faint pixel's noisy reading is smoothed, while a pixel where a white letter's soft edge
// meets its black shadow keeps its grey instead of taking one side's colour (which undoes
// into a dark or bright speckle: b / opacity times the colour's error).
constexpr float reading_noise = 5.0f;
// Around a graphic's core, opacities within this many spreads of the estimate's noise are
// noise.
constexpr float significant = 3.0f;
constexpr float same_contrast = 0.1f;
constexpr double rim_band = 8; // pixels at 720 rows: how far beyond the support a rim is sought

// The colour of each pixel of `support`: (mean - b * the mean filled in from around) /
// opacity, then the median of the readings near its own of the pixels of the same stroke
// within r, a pixel's own reading where it is clearly opaque.
field colour_of(const field& mean, const field& b, const flags& support, const flags& picture,
                grid g, int r) {
    const field fill = membrane_fill(mean, support, g, picture);
    field reading(g.size(), 0.0f);
    flags valid(g.size(), 0);
    for (size_t i = 0; i < g.size(); ++i) {
        const float alpha = 1.0f - b[i];
        if (support[i] && alpha > colour_alpha) {
            reading[i] = (mean[i] - b[i] * fill[i]) / alpha;
            valid[i] = 1;
        }
    }
    field colour(g.size(), 0.0f);
    flags has(g.size(), 0);
    std::vector<float> window;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t i = g.at(x, y);
            if (!valid[i]) continue;
            window.clear();
            const float near = reading_noise * b[i] / (1.0f - b[i]);
            for (int vv = std::max(0, y - r); vv <= std::min(g.h - 1, y + r); ++vv)
                for (int u = std::max(0, x - r); u <= std::min(g.w - 1, x + r); ++u) {
                    const size_t j = g.at(u, vv);
                    if (valid[j] && std::fabs(b[j] - b[i]) <= same_stroke &&
                        std::fabs(reading[j] - reading[i]) <= near)
                        window.push_back(reading[j]);
                }
            std::nth_element(window.begin(), window.begin() + long(window.size() / 2), window.end());
            colour[i] = 1.0f - b[i] >= own_colour_alpha ? reading[i] : window[window.size() / 2];
            has[i] = 1;
        }
    // Faint pixels (no reading of their own) take the colour of the nearest that has one.
    return masked_median(colour, has, support, g, 0);
}

// Per pixel of `support`: the median of `value` over the pixels of the same stroke within r,
// those whose contrast in the mean picture (`guide`, as a share of the largest) is within a
// tenth of the largest, or of their own: an edge-keeping smoothing that, unlike a filter
// guided by the contrast (He et al.), leaks no opacity across a logo's edge onto the picture
// beside it (measured: the shadowed logo's opacity error 0.047 with that filter, 0.028).
field stroke_median(const field& value, const field& guide, const flags& support, grid g, int r) {
    field out = value;
    std::vector<float> window;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t i = g.at(x, y);
            if (!support[i]) continue;
            const float near = std::max(same_contrast, same_contrast * std::fabs(guide[i])) ;
            window.clear();
            for (int v = std::max(0, y - r); v <= std::min(g.h - 1, y + r); ++v)
                for (int u = std::max(0, x - r); u <= std::min(g.w - 1, x + r); ++u) {
                    const size_t j = g.at(u, v);
                    if (support[j] && std::fabs(guide[j] - guide[i]) <= near) window.push_back(value[j]);
                }
            std::nth_element(window.begin(), window.begin() + long(window.size() / 2), window.end());
            out[i] = window[window.size() / 2];
        }
    return out;
}

// The spread of opacities read where there is no logo, from those read below 0 (no logo
// takes light away; `below`: their magnitudes): 1.4826 times their median, 0 for none.
float noise_below_zero(std::vector<float> below) {
    if (below.empty()) return 0;
    std::nth_element(below.begin(), below.begin() + long(below.size() / 2), below.end());
    return 1.4826f * below[below.size() / 2];
}

// The support grown over a graphic's soft rim (an emblem whose opacity falls off over
// several pixels, below what the search sees): pixels within `band` of it (4-neighbour
// steps) whose opacity, read against the spread filled in from beyond the band, stands
// `significant` spreads of the readings' noise (read below 0) out, reached from the support
// through such pixels. Left out, the rim stays in the picture as a ring, and the spread
// filled in from it (the logo's own, lowered) makes the whole inside too faint (measured:
// an emblem at 60 % read as 48 %). The grid's outermost ring stays picture: the fills
// start from it.
flags soft_rim(const field& spread, const flags& support, const flags& picture, grid g, int band) {
    flags wide = grow(support, g, band);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t i = g.at(x, y);
            const bool border = x == 0 || y == 0 || x == g.w - 1 || y == g.h - 1;
            wide[i] = support[i] || (wide[i] && picture[i] && !border);
        }
    const field fill = membrane_fill(spread, wide, g, picture);
    field alpha(g.size(), 0.0f);
    std::vector<float> below;
    for (size_t i = 0; i < g.size(); ++i)
        if (wide[i] && !support[i]) {
            alpha[i] = 1.0f - spread[i] / std::max(fill[i], 1e-3f);
            if (alpha[i] < 0) below.push_back(-alpha[i]);
        }
    if (below.empty()) return support;
    const float least = significant * noise_below_zero(std::move(below));
    // What stands out, kept where it joins the support (its connected parts that hold some).
    flags out(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        out[i] = support[i] || (wide[i] && alpha[i] > least);
    std::vector<int> sizes;
    const std::vector<int> label = label_parts(out, g, sizes);
    flags joined(sizes.size(), 0);
    for (size_t i = 0; i < g.size(); ++i)
        if (support[i]) joined[size_t(label[i])] = 1;
    for (size_t i = 0; i < g.size(); ++i)
        out[i] = out[i] && joined[size_t(label[i])];
    return out;
}

} // namespace

int soft_rim_band(double scale) { return int(std::lround(rim_band * std::max(scale, 1.0))); }

graphic_matte matte_graphic(const corner_samples& s, const std::vector<float>& weight,
                            plane_rect r, const flags& core, const flags& support,
                            const flags& picture, double scale) {
    graphic_moments m;
    weighted_moments(s.luma, weight, r, m.mean, m.spread);
    m.shift_x = s.shift_x;
    m.shift_y = s.shift_y;
    if (s.cb.width > 0 && s.cb.height > 0) {
        const plane_rect rc{r.x >> s.shift_x, r.y >> s.shift_y, r.w >> s.shift_x, r.h >> s.shift_y};
        field unused;
        weighted_moments(s.cb, weight, rc, m.mean_cb, unused);
        weighted_moments(s.cr, weight, rc, m.mean_cr, unused);
    }
    return matte_from_moments(m, r, core, support, picture, scale);
}

graphic_matte matte_from_moments(const graphic_moments& moments, plane_rect r, const flags& core,
                                 const flags& given, const flags& picture, double scale,
                                 bool pooled) {
    graphic_matte out;
    out.r = r;
    const grid g{r.w, r.h};
    const field& mean = moments.mean;
    const field& spread = moments.spread;
    // (A library's pooled moments are relearnt within the support it gives: its model's rim
    // is what its recordings agreed on.)
    out.support = pooled ? given : soft_rim(spread, given, picture, g, soft_rim_band(scale));
    const flags& support = out.support;
    const field fill = membrane_fill(spread, support, g, picture);
    field bl(g.size(), 1.0f);
    for (size_t i = 0; i < g.size(); ++i)
        if (support[i]) bl[i] = spread[i] / std::max(fill[i], 1e-3f);
    // The opacity smoothed along the logo's strokes (told apart by its contrast in the mean
    // picture). The ratios are clipped to 1 only after it: clipped first, the noise where
    // there is no logo would add up to a faint one.
    const field mean_fill = membrane_fill(mean, support, g, picture);
    field guide(g.size());
    float top = 1.0f;
    for (size_t i = 0; i < g.size(); ++i) {
        guide[i] = mean[i] - mean_fill[i];
        top = std::max(top, std::fabs(guide[i]));
    }
    for (float& v : guide)
        v /= top;
    const int radius = std::max(3, int(std::lround(3 * scale)));
    const field smooth = stroke_median(bl, guide, support, g, radius);
    // The smoothing would thin an opaque stroke of two or three pixels into a translucent
    // one: where a pixel alone is clearly opaque, it stays so.
    field unclipped(g.size(), 0.0f);
    for (size_t i = 0; i < g.size(); ++i) {
        const float b = bl[i] < opaque_b ? std::min(smooth[i], bl[i]) : smooth[i];
        unclipped[i] = 1.0f - b;
        bl[i] = support[i] ? std::min(1.0f, b) : 1.0f;
    }
    // Around the core the graphic is only where its opacity stands out of the estimate's
    // noise, measured there: three times the median deviation, scaled to a spread.
    std::vector<float> ring, below;
    for (size_t i = 0; i < g.size(); ++i)
        if (support[i] && !core[i] && unclipped[i] < 0) below.push_back(-unclipped[i]);
    float least = 0;
    if (pooled) {
        // The spreads of several programmes pooled: the picture's own spread varies from
        // pixel to pixel (each programme's still shot) and the opacities read where there is
        // no logo scatter both ways around 0. Those below 0 are that scatter alone (no logo
        // takes light away); clipped to 0 they would hide it.
        least = significant * noise_below_zero(std::move(below));
    } else {
        for (size_t i = 0; i < g.size(); ++i)
            if (support[i] && !core[i]) ring.push_back(1.0f - bl[i]);
        if (!ring.empty()) {
            std::nth_element(ring.begin(), ring.begin() + long(ring.size() / 2), ring.end());
            const float middle = ring[ring.size() / 2];
            for (float& a : ring)
                a = std::fabs(a - middle);
            std::nth_element(ring.begin(), ring.begin() + long(ring.size() / 2), ring.end());
            least = significant * 1.4826f * ring[ring.size() / 2];
        }
        // Where the ring holds a soft rim of the graphic its opacities are no noise, and
        // their deviation would cut the rim off: then the readings below 0 say less.
        if (!below.empty())
            least = std::min(least, significant * noise_below_zero(std::move(below)));
    }
    for (size_t i = 0; i < g.size(); ++i) {
        if (support[i] && !core[i] && 1.0f - bl[i] <= least) bl[i] = 1.0f;
        bl[i] = std::max(bl[i], 0.0f);
    }
    out.alpha.resize(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        out.alpha[i] = 1.0f - bl[i];
    const int colour_radius = std::max(3, int(std::lround(3 * scale)));
    out.colour = colour_of(mean, bl, support, picture, g, colour_radius);

    // Chroma: the opacity of a chroma sample is the mean of the luma opacities it covers.
    if (moments.mean_cb.empty()) return out;
    const int sx = moments.shift_x, sy = moments.shift_y;
    out.rc = plane_rect{r.x >> sx, r.y >> sy, r.w >> sx, r.h >> sy};
    const grid c{out.rc.w, out.rc.h};
    field bc(c.size(), 1.0f);
    flags csupport(c.size(), 0), cpicture(c.size(), 0);
    out.alpha_c.assign(c.size(), 0.0f);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            double a = 0;
            int k = 0;
            for (int v = y << sy; v < std::min(g.h, (y + 1) << sy); ++v)
                for (int u = x << sx; u < std::min(g.w, (x + 1) << sx); ++u) {
                    a += out.alpha[g.at(u, v)];
                    csupport[c.at(x, y)] |= support[g.at(u, v)];
                    cpicture[c.at(x, y)] |= picture[g.at(u, v)];
                    ++k;
                }
            out.alpha_c[c.at(x, y)] = k ? float(a / k) : 0.0f;
            bc[c.at(x, y)] = 1.0f - out.alpha_c[c.at(x, y)];
        }
    const int chroma_radius = std::max(1, colour_radius >> std::max(sx, sy));
    out.colour_cb = colour_of(moments.mean_cb, bc, csupport, cpicture, c, chroma_radius);
    out.colour_cr = colour_of(moments.mean_cr, bc, csupport, cpicture, c, chroma_radius);
    return out;
}
