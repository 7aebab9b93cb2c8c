// The restoration's plan: per plane the work area, the model over it, the graphics, the
// fills' sources, and per graphic the presence and strength tests' pixels.
#include "logo/restoration_plan.h"

#include <algorithm>
#include <cmath>

#include "logo/box_mean.h"

namespace {

// Opacities below this are taken as no logo at all (the model's 1/255 steps round to 0).
constexpr float no_alpha = 1.0f / 512;

} // namespace

std::vector<uint8_t> graphics_of(const std::vector<float>& alpha, int w, int h, float least,
                                 int join, int& count) {
    // Cells of join x join pixels: a cell holding logo belongs to the graphic of every
    // holding cell it touches (8 neighbours), so that the letters of one word, a few pixels
    // apart, are one graphic while a tag farther away is another.
    join = std::max(1, join);
    const int cw = (w + join - 1) / join, ch = (h + join - 1) / join;
    std::vector<int> cell(size_t(cw) * ch, -1); // -1 empty, 0 holding, then 1 + graphic
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (alpha[size_t(y) * w + x] >= least) cell[size_t(y / join) * cw + x / join] = 0;
    // Numbered in the order of each graphic's first pixel (row after row): walk the pixels.
    count = 0;
    std::vector<uint8_t> label(size_t(w) * h, 0);
    std::vector<int> stack;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (alpha[size_t(y) * w + x] < least) continue;
            const size_t c0 = size_t(y / join) * cw + x / join;
            if (cell[c0] == 0) {
                const int g = std::min(count + 1, 255);
                count = g;
                cell[c0] = g;
                stack.assign(1, int(c0));
                while (!stack.empty()) {
                    const int c = stack.back();
                    stack.pop_back();
                    const int cx = c % cw, cy = c / cw;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = cx + dx, ny = cy + dy;
                            if (nx < 0 || ny < 0 || nx >= cw || ny >= ch) continue;
                            const size_t n = size_t(ny) * cw + nx;
                            if (cell[n] != 0) continue;
                            cell[n] = g;
                            stack.push_back(int(n));
                        }
                }
            }
            label[size_t(y) * w + x] = uint8_t(cell[c0]);
        }
    return label;
}

namespace {

struct plane_geometry {
    int width = 0, height = 0; // the plane
    const float* alpha = nullptr;
    const float* colour = nullptr;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // the kept picture in the plane, x1 and y1 past it
    int sx = 0, sy = 0;                 // its subsampling against luma
};

// The plane's work area around the logo, the model over it, and the sources; `label` is the
// luma plane's graphic of each frame pixel.
plane_restoration plan_plane(const plane_geometry& g, int margin_x, int margin_y,
                             const std::vector<uint8_t>& label, int luma_width, bool interlaced) {
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
    int top = std::max(g.y0, by0 - margin_y);
    const int bottom = std::min(g.y1, by1 + margin_y + 1);
    // An interlaced frame's area starts on a top field's row: its rows of even place in the
    // area are that field's in every plane.
    if (interlaced && top % 2) top += top > g.y0 ? -1 : 1;
    p.x = std::max(g.x0, bx0 - margin_x);
    p.y = top;
    p.w = std::min(g.x1, bx1 + margin_x + 1) - p.x;
    p.h = bottom - top;
    p.lx = bx0 - p.x;
    p.ly = by0 - p.y;
    p.lw = bx1 - bx0 + 1;
    p.lh = by1 - by0 + 1;
    const size_t n = size_t(p.w) * p.h;
    p.alpha.assign(n, 0.0f);
    p.colour.assign(n, 0.0f);
    p.graphic.assign(n, 0);
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            const size_t i = size_t(v) * p.w + u;
            const size_t j = size_t(p.y + v) * g.width + (p.x + u);
            if (g.alpha[j] < no_alpha) continue;
            p.alpha[i] = std::min(g.alpha[j], 1.0f);
            p.colour[i] = g.colour[j];
            // A chroma pixel belongs to the graphic of the luma pixels it covers.
            const int lx = (p.x + u) << g.sx, ly = (p.y + v) << g.sy;
            for (int k = 0; k < (1 << (g.sx + g.sy)) && !p.graphic[i]; ++k) {
                const size_t l = size_t(ly + (k >> g.sx)) * luma_width + size_t(lx + (k & ((1 << g.sx) - 1)));
                if (l < label.size()) p.graphic[i] = label[l];
            }
            if (!p.graphic[i]) p.graphic[i] = 1;
        }
    // Sources: the model says picture, or the inside of a translucent part (only undone,
    // its opacity flat around it: the undone picture there is as sure as the model, and a
    // stroke hidden inside an emblem is filled from the emblem around it, not from the
    // picture beyond it); and the pixel is not the rim of what may be filled (the opacity
    // at which the fill's share starts, in some frame at full strength).
    const int rim = std::max(1, rim_width >> std::max(g.sx, g.sy));
    p.source.assign(n, 0);
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            const size_t i = size_t(v) * p.w + u;
            const float a = p.alpha[i];
            bool flat = a <= fill_from && u > 0 && v > 0 && u + 1 < p.w && v + 1 < p.h;
            for (int dv = -1; dv <= 1 && flat; ++dv)
                for (int du = -1; du <= 1; ++du)
                    flat = flat && std::fabs(p.alpha[i + size_t(dv * p.w + du)] - a) <= flat_alpha;
            p.source[i] = a < picture_alpha || flat;
        }
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            if (p.alpha[size_t(v) * p.w + u] <= fill_from) continue;
            for (int dv = -rim; dv <= rim; ++dv)
                for (int du = -rim; du <= rim; ++du) {
                    const int x = u + du, y = v + dv;
                    if (x >= 0 && y >= 0 && x < p.w && y < p.h) p.source[size_t(y) * p.w + x] = 0;
                }
        }
    // The logo's edges: where its opacity steps, the undo is least sure (the model's edge
    // a fraction of a pixel off, coding ringing times 1 / (1 - opacity)).
    p.edge.assign(n, 0);
    bool any_edge = false;
    for (int v = 1; v + 1 < p.h; ++v)
        for (int u = 1; u + 1 < p.w; ++u) {
            const size_t i = size_t(v) * p.w + u;
            const float a = p.alpha[i];
            if (a < edge_least || a > fill_from) continue;
            float step = 0;
            for (const size_t j : {i - 1, i + 1, i - size_t(p.w), i + size_t(p.w)})
                step = std::max(step, std::fabs(p.alpha[j] - a));
            if (step >= edge_step) p.edge[i] = 1, any_edge = true;
        }
    if (!any_edge) p.edge.clear();
    return p;
}

// The presence and strength tests of graphic `g` (1 + its number) over the luma plane.
graphic_test plan_graphic(const plane_restoration& p, int g) {
    graphic_test t;
    std::vector<float> alpha(size_t(p.w) * p.h, 0.0f), alpha_colour(alpha.size(), 0.0f);
    int x0 = p.w, y0 = p.h, x1 = -1, y1 = -1;
    for (size_t i = 0; i < alpha.size(); ++i)
        if (p.graphic[i] == g) {
            alpha[i] = p.alpha[i];
            alpha_colour[i] = p.alpha[i] * p.colour[i];
            const int u = int(i % size_t(p.w)), v = int(i / size_t(p.w));
            x0 = std::min(x0, u), x1 = std::max(x1, u), y0 = std::min(y0, v), y1 = std::max(y1, v);
        }
    if (x1 < 0) return t;
    // The box of the graphic's high-pass, the means' reach beyond it.
    const int r = 2 * high_pass_radius;
    t.bx = std::max(0, x0 - r);
    t.by = std::max(0, y0 - r);
    t.bw = std::min(p.w, x1 + r + 1) - t.bx;
    t.bh = std::min(p.h, y1 + r + 1) - t.by;
    const std::vector<float> ma = box_mean(alpha, p.w, p.h, high_pass_radius),
                             mc = box_mean(alpha_colour, p.w, p.h, high_pass_radius);
    for (int v = t.by; v < t.by + t.bh; ++v)
        for (int u = t.bx; u < t.bx + t.bw; ++u) {
            const size_t i = size_t(v) * p.w + u;
            // Another graphic's pixels tell nothing of this one.
            if (p.graphic[i] != 0 && p.graphic[i] != g) continue;
            if (ma[i] > 0.002f) {
                t.support.push_back(int(i));
                t.hp_alpha.push_back(alpha[i] - ma[i]);
                t.hp_alpha_colour.push_back(alpha_colour[i] - mc[i]);
            }
            // Inside a translucent part, not on its edges: at an edge the opacity is least
            // sure, and an opaque logo's estimated edge is no translucent part.
            bool flat = u > 0 && v > 0 && u + 1 < p.w && v + 1 < p.h;
            for (const size_t j : {i - 1, i + 1, i - size_t(p.w), i + size_t(p.w)})
                flat = flat && std::fabs(alpha[j] - alpha[i]) <= flat_alpha;
            if (flat && alpha[i] >= 0.25f && alpha[i] <= fill_from) {
                t.undone.push_back(int(i));
                t.ring_alpha += alpha[i];
                t.ring_colour += alpha_colour[i] / alpha[i];
            }
            if (ma[i] > 0.002f && p.alpha[i] == 0.0f) t.ring.push_back(int(i));
        }
    if (!t.undone.empty()) {
        t.ring_alpha /= float(t.undone.size());
        t.ring_colour /= float(t.undone.size());
    }
    return t;
}

} // namespace

restoration plan_restoration(const frame_logo& logo, const frame_rect& picture, int planes,
                             int depth, bool interlaced, float margin) {
    restoration r;
    r.planes = planes == 1 ? 1 : 3;
    r.depth = depth;
    r.top = float((1 << depth) - 1) * 256.0f / float(1 << depth);
    r.interlaced = interlaced;
    r.shift_x = logo.shift_x;
    r.shift_y = logo.shift_y;
    if (logo.alpha.size() != size_t(logo.width) * logo.height || logo.alpha.empty()) return r;
    // The graphics: parts of the logo about a sixtieth of the frame's height apart or more.
    int count = 0;
    const std::vector<uint8_t> label =
        graphics_of(logo.alpha, logo.width, logo.height, no_alpha, std::max(4, logo.height / 120), count);
    const int reach = int(std::lround(margin * float(logo.height)));
    const int cw = -(-logo.width >> logo.shift_x), ch = -(-logo.height >> logo.shift_y);
    for (int k = 0; k < r.planes; ++k) {
        plane_geometry g;
        const bool luma = k == 0;
        g.width = luma ? logo.width : cw;
        g.height = luma ? logo.height : ch;
        g.alpha = luma ? logo.alpha.data() : logo.alpha_c.data();
        g.colour = luma ? logo.colour.data() : k == 1 ? logo.colour_cb.data() : logo.colour_cr.data();
        g.sx = luma ? 0 : logo.shift_x;
        g.sy = luma ? 0 : logo.shift_y;
        if (!luma && logo.alpha_c.size() != size_t(cw) * ch) continue;
        g.x0 = std::max(0, picture.x >> g.sx);
        g.y0 = std::max(0, picture.y >> g.sy);
        g.x1 = std::min(g.width, -(-(picture.x + picture.w) >> g.sx));
        g.y1 = std::min(g.height, -(-(picture.y + picture.h) >> g.sy));
        // (small frames too need picture around the logo to measure its motion on)
        const int mx = std::max(least_margin, reach) >> g.sx, my = std::max(least_margin, reach) >> g.sy;
        r.plane[k] = plan_plane(g, mx, my, label, logo.width, interlaced);
    }
    const plane_restoration& p = r.plane[0];
    if (p.w > 0) {
        int most = 0;
        for (const uint8_t g : p.graphic)
            most = std::max(most, int(g));
        for (int g = 1; g <= most; ++g)
            r.graphics.push_back(plan_graphic(p, g));
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
