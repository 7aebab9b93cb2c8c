// The parts of a region that may be logo, each judged on its own samples.
#include "logo/logo_parts.h"

#include "logo/sample_blocks.h"

#include <algorithm>
#include <cmath>

namespace {

// Tuning, measured on recordings with known logos (scripts/make-recording): a pixel is a
// candidate when its spread falls 7 % below the 70th percentile of the spreads around it
// (a percentile above the median, so that a solid logo filling much of the window does not
// become the reference), or when the edge cue's field stands this many levels out of the
// median around it.
constexpr float spread_dip = 0.97f;
constexpr double spread_rank = 0.7;
constexpr float edge_contrast = 8.0f;

// Pixel i of the luma grid on a chroma plane's grid.
size_t chroma_index(const search_view& v, size_t i) {
    const int x = int(i % size_t(v.g.w)) >> v.shift_x, y = int(i / size_t(v.g.w)) >> v.shift_y;
    const grid c = v.cue[1].g;
    return c.at(std::min(x, c.w - 1), std::min(y, c.h - 1));
}

} // namespace

search_sizes sizes_for(double scale) {
    search_sizes z;
    // Tuned at 720 rows; smaller pictures keep the same sizes (a window smaller than that
    // is no longer smooth around a logo, a part smaller is noise).
    const double s = std::max(scale, 1.0);
    z.radius = int(std::lround(31 * s));
    z.least_part = int(std::lround(30 * s * s));
    z.grow = int(std::lround(3 * s));
    return z;
}

std::vector<float> presence_of(const search_view& v, const std::vector<size_t>& where) {
    const int n = v.planes[0]->count();
    std::vector<float> out(size_t(n), 0.0f);
    std::vector<size_t> chroma;
    if (v.planes[1]) {
        for (size_t i : where)
            chroma.push_back(chroma_index(v, i));
        std::sort(chroma.begin(), chroma.end());
        chroma.erase(std::unique(chroma.begin(), chroma.end()), chroma.end());
    }
    for (int s = 0; s < n; ++s) {
        correlation_sums sums;
        const edge_cue* other = s % 2 ? v.even : v.odd;
        add_gradient_correlation(*v.planes[0], s, other[0], where, sums);
        for (int p = 1; p < 3 && v.planes[p]; ++p)
            add_gradient_correlation(*v.planes[p], s, other[p], chroma, sums);
        out[size_t(s)] = float(sums.value());
    }
    return out;
}

std::vector<logo_part> find_parts(const search_view& v, const sample_blocks& b, int corner,
                                  const search_sizes& z) {
    const grid g = v.g;
    // The edge cue's field less its surroundings, all planes: first less the median around
    // (which a large logo lifts, so that the picture next to it reads as a dip, and inside a
    // large one is the logo itself), then less the membrane spanned by what lies outside
    // what stood out the first time, with what it enclosed.
    field contrast(g.size(), 0.0f);
    for (int p = 0; p < 3 && v.planes[p]; ++p) {
        const edge_cue& c = v.cue[p];
        flags all(c.g.size(), 1);
        const int r = p == 0 ? z.radius : std::max(4, z.radius >> std::max(v.shift_x, v.shift_y));
        const field around = percentile_field(c.w, all, c.g, r, 0.5);
        flags out(c.g.size());
        for (size_t j = 0; j < c.g.size(); ++j)
            out[j] = std::fabs(c.w[j] - around[j]) > edge_contrast;
        const field fill = membrane_fill(c.w, grow(fill_holes(out, c.g), c.g, 2), c.g, all);
        for (size_t i = 0; i < g.size(); ++i) {
            const size_t j = p == 0 ? i : chroma_index(v, i);
            const float d = c.w[j] - fill[j];
            contrast[i] += d * d;
        }
    }
    flags on(g.size(), 0);
    for (size_t i = 0; i < g.size(); ++i)
        on[i] = v.picture[i] && std::sqrt(contrast[i]) > edge_contrast;
    std::vector<int> sizes;
    const std::vector<int> label = label_parts(on, g, sizes);
    std::vector<logo_part> parts(sizes.size());
    for (size_t id = 1; id < parts.size(); ++id) {
        parts[id].x0 = g.w;
        parts[id].y0 = g.h;
        parts[id].x1 = parts[id].y1 = -1;
    }
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t i = g.at(x, y);
            if (!label[i]) continue;
            logo_part& p = parts[size_t(label[i])];
            p.core.push_back(i);
            p.x0 = std::min(p.x0, x);
            p.x1 = std::max(p.x1, x);
            p.y0 = std::min(p.y0, y);
            p.y1 = std::max(p.y1, y);
        }
    parts.erase(parts.begin());
    const int n = v.planes[0]->count();
    const int inner_x = (corner & 1) ? 0 : g.w - 1, inner_y = (corner & 2) ? 0 : g.h - 1;
    for (logo_part& p : parts) {
        // Touching an inner edge (towards the middle of the picture) and running along most
        // of it: a stretch of the picture, such as the edge of a dark sky (a logo that only
        // touches the edge of a small corner band stays).
        const bool on_x = p.x0 == inner_x || p.x1 == inner_x, on_y = p.y0 == inner_y || p.y1 == inner_y;
        if (int(p.core.size()) < z.least_part || (on_x && (p.y1 - p.y0 + 1) * 10 > g.h * 6) ||
            (on_y && (p.x1 - p.x0 + 1) * 10 > g.w * 6))
            continue;
        // Judged on its own samples: its presence in each, the blocks it shows in.
        flags mask(g.size(), 0);
        for (size_t i : p.core)
            mask[i] = 1;
        mask = grow(mask, g, z.grow);
        std::vector<size_t> grown;
        for (size_t i = 0; i < g.size(); ++i)
            if (mask[i]) grown.push_back(i);
        p.presence = presence_of(v, grown);
        int blocks = 0;
        std::vector<float> here;
        p.shown_in.assign(size_t(b.count()), 0);
        for (int k = 0; k < b.count(); ++k) {
            here.assign(p.presence.begin() + b.first[size_t(k)],
                        p.presence.begin() + b.first[size_t(k) + 1]);
            if (here.empty()) continue;
            ++blocks;
            std::nth_element(here.begin(), here.begin() + long(here.size() / 2), here.end());
            p.shown_in[size_t(k)] = here[here.size() / 2] > presence_score;
            p.shown_blocks += p.shown_in[size_t(k)];
        }
        if (p.shown_blocks < 2 || 3 * p.shown_blocks < blocks) continue;
        // Its pixels are those whose spread, over the samples that show it, dips below the
        // spreads around: what the edge cue holds of the programme's steady picture (no
        // dip) is no logo.
        std::vector<float> take(size_t(n), 0.0f);
        int taken = 0;
        for (int s = 0; s < n; ++s)
            if (p.presence[size_t(s)] > presence_score) {
                take[size_t(s)] = 1;
                ++taken;
            }
        if (taken < 8) take.assign(size_t(n), 1.0f);
        plane_rect r;
        r.x = std::max(0, p.x0 - 2 * z.grow);
        r.y = std::max(0, p.y0 - 2 * z.grow);
        r.w = std::min(g.w, p.x1 + 2 * z.grow + 1) - r.x;
        r.h = std::min(g.h, p.y1 + 2 * z.grow + 1) - r.y;
        field mean, spread;
        weighted_moments(*v.planes[0], take, r, mean, spread);
        const grid rg{r.w, r.h};
        flags use(rg.size()), hole(rg.size());
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                use[rg.at(x, y)] = v.picture[g.at(r.x + x, r.y + y)];
                hole[rg.at(x, y)] = mask[g.at(r.x + x, r.y + y)];
            }
        // The spread the picture would have there: the larger of a percentile of the window
        // around (the logo's own inside a large one) and the membrane spanned by the spreads
        // around the part (none where the part meets a letterbox bar).
        const field around = percentile_field(spread, use, rg, z.radius, spread_rank);
        field reference = membrane_fill(spread, hole, rg, use);
        for (size_t j = 0; j < reference.size(); ++j)
            reference[j] = std::max(reference[j], around[j]);
        std::vector<size_t> core;
        for (size_t i : p.core) {
            const size_t j = rg.at(int(i % size_t(g.w)) - r.x, int(i / size_t(g.w)) - r.y);
            if (spread[j] < spread_dip * std::max(reference[j], 1e-3f)) core.push_back(i);
        }
        if (int(core.size()) < z.least_part) continue;
        p.core = core;
        std::fill(mask.begin(), mask.end(), 0);
        for (size_t i : p.core)
            mask[i] = 1;
        mask = grow(mask, g, z.grow);
        p.pixels.clear();
        for (size_t i = 0; i < g.size(); ++i)
            if (mask[i]) p.pixels.push_back(i);
        p.graphic = true;
    }
    return parts;
}
