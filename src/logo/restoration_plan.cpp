// The restoration's plan: per plane the logo's rectangle and each pixel's undoing and fill
// sources, and the presence test's pixels.
#include "logo/restoration_plan.h"

#include <algorithm>
#include <cmath>

#include "logo/box_mean.h"

namespace {

// Opacities below this are taken as no logo at all (the model's 1/255 steps round to 0).
constexpr float no_alpha = 1.0f / 512;
// How far a fill looks for restored picture along each direction, pixels.
constexpr int farthest_source = 96;

// Sixteen directions spread evenly enough around the circle: a pixel deep inside a wide
// opaque part still sees the picture on every side.
constexpr int directions[16][2] = {{1, 0},  {2, 1},   {1, 1},   {1, 2},  {0, 1},   {-1, 2},
                                   {-1, 1}, {-2, 1},  {-1, 0},  {-2, -1}, {-1, -1}, {-1, -2},
                                   {0, -1}, {1, -2},  {1, -1},  {2, -1}};

struct plane_geometry {
    int width = 0, height = 0; // the plane
    const float* alpha = nullptr;
    const float* colour = nullptr;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // the kept picture in the plane, x1 and y1 past it
};

plane_restoration plan_plane(const plane_geometry& g, bool interlaced) {
    plane_restoration p;
    int bx0 = g.x1, by0 = g.y1, bx1 = g.x0 - 1, by1 = g.y0 - 1;
    for (int y = g.y0; y < g.y1; ++y)
        for (int x = g.x0; x < g.x1; ++x)
            if (g.alpha[size_t(y) * g.width + x] >= no_alpha) {
                bx0 = std::min(bx0, x);
                bx1 = std::max(bx1, x);
                by0 = std::min(by0, y);
                by1 = std::max(by1, y);
            }
    if (bx1 < bx0) return p;
    // Around the logo, the picture the fills read (deeper when they skip a field).
    const int reach = interlaced ? 4 : 3;
    p.x = std::max(g.x0, bx0 - reach);
    p.y = std::max(g.y0, by0 - reach);
    p.w = std::min(g.x1, bx1 + reach + 1) - p.x;
    p.h = std::min(g.y1, by1 + reach + 1) - p.y;
    const size_t n = size_t(p.w) * p.h;
    p.gain.assign(n, 1.0f);
    p.offset.assign(n, 0.0f);
    p.fill_share.assign(n, 0.0f);
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            const size_t i = size_t(v) * p.w + u, j = size_t(p.y + v) * g.width + (p.x + u);
            const float a = g.alpha[j] >= no_alpha ? std::min(g.alpha[j], 1.0f) : 0.0f;
            if (a > 0 && a <= undo_limit) {
                p.gain[i] = 1.0f / (1.0f - a);
                p.offset[i] = a * g.colour[j] / (1.0f - a);
            }
            const float low = undo_limit - feather_width;
            if (a > low) p.fill_share[i] = std::min(1.0f, (a - low) / feather_width);
        }
    // Sources: the pixels only undone (or untouched), as the plan stood before the fills.
    std::vector<uint8_t> source(n);
    for (size_t i = 0; i < n; ++i)
        source[i] = p.fill_share[i] <= 0;
    p.first_source.push_back(0);
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            const size_t i = size_t(v) * p.w + u;
            if (p.fill_share[i] <= 0) continue;
            const size_t start = p.source.size();
            float total = 0;
            for (const auto& d : directions) {
                const int dx = d[0], dy = interlaced ? 2 * d[1] : d[1];
                // The first restored pixel along the direction.
                int found = -1;
                for (int k = 1; k <= farthest_source; ++k) {
                    const int x = u + k * dx, y = v + k * dy;
                    if (x < 0 || y < 0 || x >= p.w || y >= p.h) break;
                    const size_t s = size_t(y) * p.w + x;
                    if (source[s]) {
                        found = int(s);
                        break;
                    }
                }
                if (found < 0) continue;
                // All directions weigh alike, whatever their distance: seen from a pixel,
                // the picture around fills the same angle in each, and a membrane (the
                // smoothest fill) is the mean of its boundary weighted by angle. Weighing by
                // nearness instead measured 0.5 to 0.7 dB worse on an opaque block.
                p.source.push_back(found);
                p.weight.push_back(1.0f);
                total += 1.0f;
            }
            if (p.source.size() == start) {
                // Nothing of the picture in reach: the pixel is only undone, or stays as it
                // is where it is opaque (its gain 1, its offset 0).
                p.fill_share[i] = 0;
                continue;
            }
            for (size_t k = start; k < p.source.size(); ++k)
                p.weight[k] /= total;
            p.filled.push_back(int(i));
            p.first_source.push_back(int(p.source.size()));
        }
    return p;
}

} // namespace

restoration plan_restoration(const frame_logo& logo, const frame_rect& picture, int planes,
                             int depth, bool interlaced) {
    restoration r;
    r.planes = planes == 1 ? 1 : 3;
    r.depth = depth;
    r.top = float((1 << depth) - 1) * 256.0f / float(1 << depth);
    const int cw = -(-logo.width >> logo.shift_x), ch = -(-logo.height >> logo.shift_y);
    for (int k = 0; k < r.planes; ++k) {
        plane_geometry g;
        const bool luma = k == 0;
        g.width = luma ? logo.width : cw;
        g.height = luma ? logo.height : ch;
        g.alpha = luma ? logo.alpha.data() : logo.alpha_c.data();
        g.colour = luma ? logo.colour.data() : k == 1 ? logo.colour_cb.data() : logo.colour_cr.data();
        const int sx = luma ? 0 : logo.shift_x, sy = luma ? 0 : logo.shift_y;
        g.x0 = std::max(0, picture.x >> sx);
        g.y0 = std::max(0, picture.y >> sy);
        g.x1 = std::min(g.width, -(-(picture.x + picture.w) >> sx));
        g.y1 = std::min(g.height, -(-(picture.y + picture.h) >> sy));
        if (g.alpha == nullptr || size_t(g.width) * g.height == 0) continue;
        r.plane[k] = plan_plane(g, interlaced);
    }
    // The presence test reads the luma rectangle: where the logo's high-pass is (within the
    // high-pass' reach of the logo), and the pixels that are only undone.
    const plane_restoration& p = r.plane[0];
    if (p.w > 0) {
        std::vector<float> alpha(size_t(p.w) * p.h), alpha_colour(alpha.size());
        for (int v = 0; v < p.h; ++v)
            for (int u = 0; u < p.w; ++u) {
                const size_t j = size_t(p.y + v) * logo.width + (p.x + u), i = size_t(v) * p.w + u;
                alpha[i] = logo.alpha[j] >= no_alpha ? logo.alpha[j] : 0.0f;
                alpha_colour[i] = alpha[i] * logo.colour[j];
            }
        const std::vector<float> ma = box_mean(alpha, p.w, p.h, high_pass_radius),
                                 mc = box_mean(alpha_colour, p.w, p.h, high_pass_radius);
        const float low = undo_limit - feather_width;
        for (size_t i = 0; i < alpha.size(); ++i) {
            if (ma[i] > 0.002f) {
                r.support.push_back(int(i));
                r.hp_alpha.push_back(alpha[i] - ma[i]);
                r.hp_alpha_colour.push_back(alpha_colour[i] - mc[i]);
            }
            // Inside a translucent part, not on its edges: at an edge the opacity is least
            // sure, and an opaque logo's estimated edge is no translucent part.
            const int u = int(i) % p.w, v = int(i) / p.w;
            bool flat = u > 0 && v > 0 && u + 1 < p.w && v + 1 < p.h;
            for (const int j : {int(i) - 1, int(i) + 1, int(i) - p.w, int(i) + p.w})
                flat = flat && std::fabs(alpha[size_t(j)] - alpha[i]) <= 0.05f;
            if (flat && alpha[i] >= 0.25f && alpha[i] <= low) {
                r.undone.push_back(int(i));
                r.ring_alpha += alpha[i];
                r.ring_colour += alpha_colour[i] / alpha[i];
            }
            if (ma[i] > 0.002f && alpha[i] == 0.0f) r.ring.push_back(int(i));
        }
        if (!r.undone.empty()) {
            r.ring_alpha /= float(r.undone.size());
            r.ring_colour /= float(r.undone.size());
        }
    }
    return r;
}

work_layout layout_of(const restoration& r) {
    work_layout l;
    l.planes = r.planes;
    l.depth = r.depth;
    for (int k = 0; k < r.planes; ++k) {
        l.x[k] = r.plane[k].x;
        l.y[k] = r.plane[k].y;
        l.w[k] = r.plane[k].w;
        l.h[k] = r.plane[k].h;
    }
    return l;
}
