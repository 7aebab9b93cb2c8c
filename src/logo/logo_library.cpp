// Known logos looked up in a recording, learnt from it, and put together.
//
// The lookup asks of every sample what the model's presence test asks of a part, with the
// logo known: do the sample's gradients over the logo follow the gradients the logo would
// add there? A logo adds alpha (colour - picture); the picture under it is taken as its
// mean around the logo in that sample (the pixels without opacity within a few pixels), so
// that the expected part E = alpha (colour - local mean) follows the sample's brightness.
// Then, over the samples that show it: what is left, O - E, projected on the logo's edges
// (the gradients of its opacity), is the error of its colour and opacity in that plane, near
// 0 for the same logo whatever the picture under it. A pattern that merely correlates (the
// same text in another colour, another logo at the place) leaves a clear remainder.
#include "logo/logo_library.h"

#include <algorithm>
#include <cmath>

#include "logo/box_mean.h"
#include "logo/logo_parts.h"
#include "logo/region_fields.h"

namespace {

// The core of a relearnt logo: where the matte of the pooled statistics reads at least
// this share of its median opacity over the previous model's core. A halo the previous
// model holds reads less, and so must stand out of the noise like any other pixel.
constexpr float core_share = 0.5f;

// One plane's view of the logo over a rectangle of the region (plane pixels, relative to
// the region's origin): opacity, colour, where the picture around is read, and the pixels
// where the opacity has a gradient (index, and that gradient).
struct plane_pattern {
    int x = 0, y = 0, w = 0, h = 0, radius = 1;
    std::vector<float> alpha, colour, outside;
    std::vector<int> edge;
    std::vector<float> ax, ay;
    double edge_energy = 0;
};

// The luma rectangle the lookup reads: the logo's opacity and the reach of the local mean.
bool lookup_rect(const frame_logo& logo, int radius, int& x0, int& y0, int& x1, int& y1) {
    x0 = logo.width;
    y0 = logo.height;
    x1 = -1;
    y1 = -1;
    for (int y = 0; y < logo.height; ++y)
        for (int x = 0; x < logo.width; ++x)
            if (logo.alpha[size_t(y) * size_t(logo.width) + size_t(x)] > 0) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) return false;
    x0 = std::max(0, x0 - radius - 1);
    y0 = std::max(0, y0 - radius - 1);
    x1 = std::min(logo.width - 1, x1 + radius + 1);
    y1 = std::min(logo.height - 1, y1 + radius + 1);
    return true;
}

plane_pattern pattern_of(const frame_logo& logo, int p, int fx0, int fy0, int fx1, int fy1,
                         int region_x, int region_y, int radius) {
    plane_pattern q;
    const int sx = p ? logo.shift_x : 0, sy = p ? logo.shift_y : 0;
    const int pw = p ? -(-logo.width >> sx) : logo.width;
    const int x0 = fx0 >> sx, y0 = fy0 >> sy, x1 = fx1 >> sx, y1 = fy1 >> sy;
    q.x = x0 - (region_x >> sx);
    q.y = y0 - (region_y >> sy);
    q.w = x1 - x0 + 1;
    q.h = y1 - y0 + 1;
    q.radius = std::max(1, radius >> std::max(sx, sy));
    const std::vector<float>& alpha = p ? logo.alpha_c : logo.alpha;
    const std::vector<float>& colour = p == 0 ? logo.colour : p == 1 ? logo.colour_cb : logo.colour_cr;
    const size_t n = size_t(q.w) * size_t(q.h);
    q.alpha.resize(n);
    q.colour.resize(n);
    q.outside.resize(n);
    for (int v = 0; v < q.h; ++v)
        for (int u = 0; u < q.w; ++u) {
            const size_t i = size_t(v) * size_t(q.w) + size_t(u);
            const size_t j = size_t(y0 + v) * size_t(pw) + size_t(x0 + u);
            q.alpha[i] = alpha[j];
            q.colour[i] = colour[j];
            q.outside[i] = alpha[j] <= 0 ? 1.0f : 0.0f;
        }
    for (int v = 0; v + 1 < q.h; ++v)
        for (int u = 0; u + 1 < q.w; ++u) {
            const size_t i = size_t(v) * size_t(q.w) + size_t(u);
            const float gx = q.alpha[i + 1] - q.alpha[i], gy = q.alpha[i + size_t(q.w)] - q.alpha[i];
            if (gx == 0 && gy == 0) continue;
            q.edge.push_back(int(i));
            q.ax.push_back(gx);
            q.ay.push_back(gy);
            q.edge_energy += double(gx) * gx + double(gy) * gy;
        }
    return q;
}

// Of sample s in one plane: the correlation's sums, and the remainder's projection on the
// logo's edges (divided by edge_energy: levels).
void read_sample(const plane_pattern& q, const plane_samples& ps, int s, double& cross,
                 double& observed, double& expected, double& left) {
    const size_t n = size_t(q.w) * size_t(q.h);
    std::vector<float> o(n), weighted(n);
    const uint8_t* v = ps.sample(s);
    for (int y = 0; y < q.h; ++y)
        for (int x = 0; x < q.w; ++x) {
            const size_t i = size_t(y) * size_t(q.w) + size_t(x);
            o[i] = v[size_t(q.y + y) * size_t(ps.width) + size_t(q.x + x)];
            weighted[i] = o[i] * q.outside[i];
        }
    const std::vector<float> sum = box_mean(weighted, q.w, q.h, q.radius);
    const std::vector<float> share = box_mean(q.outside, q.w, q.h, q.radius);
    std::vector<float> e(n);
    for (size_t i = 0; i < n; ++i) {
        const float around = share[i] > 0.01f ? sum[i] / share[i] : o[i];
        e[i] = q.alpha[i] * (q.colour[i] - around);
    }
    double remainder = 0;
    for (size_t k = 0; k < q.edge.size(); ++k) {
        const size_t i = size_t(q.edge[k]), below = i + size_t(q.w);
        const double ox = o[i + 1] - o[i], oy = o[below] - o[i];
        const double ex = e[i + 1] - e[i], ey = e[below] - e[i];
        cross += ox * ex + oy * ey;
        observed += ox * ox + oy * oy;
        expected += ex * ex + ey * ey;
        remainder += (ox - ex) * q.ax[k] + (oy - ey) * q.ay[k];
    }
    left = q.edge_energy > 0 ? remainder / q.edge_energy : 0;
}

float median_of(std::vector<float> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

logo_lookup look_up(const frame_logo& logo, const corner_samples& s, int x, int y) {
    logo_lookup out;
    const int n = s.luma.count();
    out.presence.assign(size_t(std::max(n, 0)), 0.0f);
    const int radius = std::max(3, int(std::lround(6.0 * logo.height / 720.0)));
    int x0, y0, x1, y1;
    if (n <= 0 || !lookup_rect(logo, radius, x0, y0, x1, y1)) return out;
    // The rectangle as far as the region reaches; the logo itself must lie inside it.
    const int ax = (1 << logo.shift_x) - 1, ay = (1 << logo.shift_y) - 1;
    x0 = std::max(x0, x) & ~ax;
    y0 = std::max(y0, y) & ~ay;
    x1 = std::min(x1, x + s.luma.width - 1);
    y1 = std::min(y1, y + s.luma.height - 1);
    if (x0 > x1 || y0 > y1) return out;
    const bool colour = s.cb.width > 0 && s.cb.count() == n && s.cr.count() == n &&
                        !logo.alpha_c.empty();
    const int planes = colour ? 3 : 1;
    if (colour) { // the chroma rectangle inside the chroma planes
        x1 = std::min(x1, x + (s.cb.width << logo.shift_x) - 1);
        y1 = std::min(y1, y + (s.cb.height << logo.shift_y) - 1);
    }
    plane_pattern q[3];
    for (int p = 0; p < planes; ++p)
        q[p] = pattern_of(logo, p, x0, y0, x1, y1, x, y, radius);
    // Inside: every pixel of the logo's opacity is in the rectangle read.
    double inside = 0, all = 0;
    for (float a : q[0].alpha)
        inside += a;
    for (float a : logo.alpha)
        all += a;
    if (inside < all - 1e-3 || q[0].edge.empty()) return out;
    out.inside = true;
    std::vector<float> left[3];
    for (int i = 0; i < n; ++i) {
        double cross = 0, observed = 0, expected = 0, l[3] = {0, 0, 0};
        for (int p = 0; p < planes; ++p)
            read_sample(q[p], p == 0 ? s.luma : p == 1 ? s.cb : s.cr, i, cross, observed,
                        expected, l[p]);
        const double c = observed > 0 && expected > 0 ? cross / std::sqrt(observed * expected) : 0;
        out.presence[size_t(i)] = float(c);
        if (c <= presence_score) continue;
        ++out.shown;
        for (int p = 0; p < planes; ++p)
            left[p].push_back(float(l[p]));
    }
    bool fits = true;
    for (int p = 0; p < planes; ++p) {
        out.colour_error[p] = median_of(left[p]);
        if (q[p].edge_energy > 0 && std::fabs(out.colour_error[p]) > colour_tolerance) fits = false;
    }
    out.present = fits && out.shown >= least_shown && out.shown * shown_share >= n;
    return out;
}

std::vector<float> shown_weights(const logo_lookup& l) {
    std::vector<float> w(l.presence.size());
    for (size_t i = 0; i < w.size(); ++i)
        w[i] = l.presence[i] > presence_score ? 1.0f : 0.0f;
    return w;
}

frame_logo graphic_of(const frame_logo& logo, int k) {
    frame_logo g = logo;
    const uint8_t label = uint8_t(k + 1);
    const int cw = -(-logo.width >> logo.shift_x);
    std::vector<uint8_t> keep_c(logo.alpha_c.size(), 0);
    for (int y = 0; y < logo.height; ++y)
        for (int x = 0; x < logo.width; ++x) {
            const size_t i = size_t(y) * size_t(logo.width) + size_t(x);
            if (logo.graphic[i] == label) {
                g.graphic[i] = 1;
                const size_t c = size_t(y >> logo.shift_y) * size_t(cw) + size_t(x >> logo.shift_x);
                if (c < keep_c.size()) keep_c[c] = 1;
            } else {
                g.graphic[i] = 0;
                g.alpha[i] = 0;
                g.colour[i] = 0;
            }
        }
    for (size_t c = 0; c < keep_c.size(); ++c)
        if (!keep_c[c]) {
            g.alpha_c[c] = 0;
            g.colour_cb[c] = 128;
            g.colour_cr[c] = 128;
        }
    const graphic_box b = logo.graphics[size_t(k)];
    g.graphics = {b};
    g.box_x = b.x;
    g.box_y = b.y;
    g.box_w = b.w;
    g.box_h = b.h;
    return g;
}

plane_rect statistics_rect(const graphic_box& b, int frame_width, int frame_height, int shift_x,
                           int shift_y) {
    const int margin = std::max(6, int(std::lround(12.0 * frame_height / 720.0)));
    const int ax = (1 << shift_x) - 1, ay = (1 << shift_y) - 1;
    plane_rect r;
    r.x = std::max(0, b.x - margin) & ~ax;
    r.y = std::max(0, b.y - margin) & ~ay;
    r.w = (std::min(frame_width, b.x + b.w + margin) - r.x) & ~ax;
    r.h = (std::min(frame_height, b.y + b.h + margin) - r.y) & ~ay;
    return r;
}

bool relearn(const logo_statistics& st, const frame_logo& previous, int black, frame_logo& out) {
    const plane_rect r = st.r;
    const grid g{r.w, r.h};
    const double scale = st.frame_height / 720.0;
    if (st.weight <= 0 || previous.width != st.frame_width || previous.height != st.frame_height)
        return false;
    // Twice: first around where the logo was (the previous model's opacity), then around the
    // core the pooled moments give, as far as the model's parts grow: the opacity may reach
    // there when the samples say so, and stays only where it stands out of the noise. Taken
    // from the previous model alone, a faint halo one relearn let in would be the next one's
    // core, kept without question, and grow with every recording.
    flags core(g.size(), 0);
    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x)
            core[g.at(x, y)] =
                previous.alpha[size_t(r.y + y) * size_t(st.frame_width) + size_t(r.x + x)] > 0.04f;
    const int factor = std::max(1, int(std::lround(scale)));
    const int reach = factor * sizes_for(scale / factor).grow;
    const graphic_moments m = moments_of(st);
    const flags picture_flags = picture_of(m.mean, m.spread, g, black);
    graphic_matte matte;
    flags support;
    for (int pass = 0; pass < 2; ++pass) {
        support = grow(core, g, reach);
        for (int y = 0; y < r.h; ++y) // the outermost ring is what the fills start from
            for (int x = 0; x < r.w; ++x)
                if (x == 0 || y == 0 || x == r.w - 1 || y == r.h - 1) support[g.at(x, y)] = 0;
        matte = matte_from_moments(m, r, core, support, picture_flags, std::max(scale, 1.0), true);
        if (pass == 1) break;
        std::vector<float> inside;
        for (size_t i = 0; i < g.size(); ++i)
            if (core[i] && support[i]) inside.push_back(matte.alpha[i]);
        if (inside.empty()) return false;
        std::nth_element(inside.begin(), inside.begin() + long(inside.size() / 2), inside.end());
        const float half = core_share * inside[inside.size() / 2];
        for (size_t i = 0; i < g.size(); ++i)
            core[i] = support[i] && matte.alpha[i] > half;
        // Closed by a pixel: a stroke's pixel the noise took below the share stays core.
        flags outside = grow(core, g, 1);
        for (uint8_t& f : outside)
            f = !f;
        outside = grow(outside, g, 1);
        for (size_t i = 0; i < g.size(); ++i)
            core[i] = support[i] && !outside[i];
    }
    logo_model model;
    model.width = r.w;
    model.height = r.h;
    model.alpha.assign(g.size(), 0.0f);
    model.colour.assign(g.size(), 0.0f);
    for (size_t i = 0; i < g.size(); ++i)
        if (support[i]) {
            // In steps of 1/255, as its picture holds them (as estimate_logo rounds them).
            model.alpha[i] = float(std::lround(255.0f * matte.alpha[i]) / 255.0);
            model.colour[i] = matte.colour[i];
        }
    find_logo(model, scale);
    if (!model.found) return false;
    if (st.planes > 1) {
        const grid c{matte.rc.w, matte.rc.h};
        model.chroma_width = c.w;
        model.chroma_height = c.h;
        model.alpha_c.assign(c.size(), 0.0f);
        model.colour_cb.assign(c.size(), 128.0f);
        model.colour_cr.assign(c.size(), 128.0f);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                // The chroma opacity: the mean of the luma opacities it covers, as kept.
                double a = 0;
                int k = 0;
                for (int v = y << st.shift_y; v < std::min(g.h, (y + 1) << st.shift_y); ++v)
                    for (int u = x << st.shift_x; u < std::min(g.w, (x + 1) << st.shift_x); ++u) {
                        a += model.alpha[g.at(u, v)];
                        ++k;
                    }
                const size_t i = c.at(x, y);
                model.alpha_c[i] = k ? float(a / k) : 0.0f;
                if (model.alpha_c[i] <= 0) continue;
                model.colour_cb[i] = matte.colour_cb[i];
                model.colour_cr[i] = matte.colour_cr[i];
            }
    }
    const int cx = r.x + r.w / 2 < st.frame_width / 2 ? 0 : 1;
    const int corner = cx + (r.y + r.h / 2 < st.frame_height / 2 ? 0 : 2);
    out = logo_in_frame(model, corner, r.x, r.y, st.frame_width, st.frame_height, st.shift_x,
                        st.shift_y);
    return true;
}

frame_logo combined_logo(const std::vector<const frame_logo*>& logos) {
    frame_logo all;
    if (logos.empty()) return all;
    const frame_logo& first = *logos.front();
    all.width = first.width;
    all.height = first.height;
    all.shift_x = first.shift_x;
    all.shift_y = first.shift_y;
    all.corner = first.corner;
    all.alpha.assign(first.alpha.size(), 0.0f);
    all.colour.assign(first.alpha.size(), 0.0f);
    all.graphic.assign(first.alpha.size(), 0);
    all.alpha_c.assign(first.alpha_c.size(), 0.0f);
    all.colour_cb.assign(first.alpha_c.size(), 128.0f);
    all.colour_cr.assign(first.alpha_c.size(), 128.0f);
    for (const frame_logo* l : logos)
        add_logo(all, *l);
    all.box_x = first.box_x;
    all.box_y = first.box_y;
    all.box_w = first.box_w;
    all.box_h = first.box_h;
    return all;
}

bool logos_overlap(const frame_logo& a, const frame_logo& b) {
    for (size_t i = 0; i < a.alpha.size() && i < b.alpha.size(); ++i)
        if (a.alpha[i] > 0 && b.alpha[i] > 0) return true;
    return false;
}
