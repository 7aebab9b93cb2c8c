// The restoration under a logo: the plan made once from the model, then per frame a pass
// over the logo's rectangle in each plane.
#include "apply/restore.h"

#include <algorithm>
#include <cmath>

namespace {

// Opacities below this are taken as no logo at all (the model's 1/255 steps round to 0).
constexpr float no_alpha = 1.0f / 512;
// Pairs across the outline differ by at least this much opacity.
constexpr float outline_step = 0.1f;
// Fewer votes than this tell nothing about a frame.
constexpr int least_votes = 16;
// A pixel or pair fitting both ways within this many levels (8-bit) does not vote.
constexpr float undecided = 1.0f;
// The picture just outside the outline counts as flat within this many levels (8-bit).
constexpr float flat_outside = 6.0f;
// Undone samples this far (8-bit levels) beyond black or white cannot be a picture's.
constexpr float out_of_range = 24.0f;
// How far a fill looks for restored picture along each direction, pixels.
constexpr int farthest_source = 96;

// Sixteen directions spread evenly enough around the circle: a pixel deep inside a wide
// opaque part still sees the picture on every side, and each side weighs by nearness.
constexpr int directions[16][2] = {{1, 0},  {2, 1},   {1, 1},   {1, 2},  {0, 1},   {-1, 2},
                                   {-1, 1}, {-2, 1},  {-1, 0},  {-2, -1}, {-1, -1}, {-1, -2},
                                   {0, -1}, {1, -2},  {1, -1},  {2, -1}};

struct plane_geometry {
    int width = 0, height = 0; // the plane
    const float* alpha = nullptr;
    const float* colour = nullptr;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // the kept picture in the plane, x1 and y1 past it
};

plane_restoration plan_plane(const plane_geometry& g, float scale, bool interlaced) {
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
    // Around the logo, the picture the fills read (two rows deeper when they skip a field).
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
                p.offset[i] = a * g.colour[j] * scale / (1.0f - a);
            }
            const float low = undo_limit - feather_width;
            if (a > low) p.fill_share[i] = std::min(1.0f, (a - low) / feather_width);
        }
    p.first_source.push_back(0);
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            const size_t i = size_t(v) * p.w + u;
            if (p.fill_share[i] <= 0) continue;
            const size_t start = p.source.size();
            float total = 0;
            for (const auto& d : directions) {
                const int dx = d[0], dy = interlaced ? 2 * d[1] : d[1];
                // The first restored pixel along the direction, and one step past it: the
                // pixel next to a logo's edge carries some of the edge's coding ringing.
                int found = -1, steps = 0;
                for (int k = 1; k <= farthest_source; ++k) {
                    const int x = u + k * dx, y = v + k * dy;
                    if (x < 0 || y < 0 || x >= p.w || y >= p.h) break;
                    const size_t s = size_t(y) * p.w + x;
                    if (p.fill_share[s] > 0) continue;
                    found = int(s);
                    steps = k;
                    const int xn = x + dx, yn = y + dy;
                    if (xn >= 0 && yn >= 0 && xn < p.w && yn < p.h &&
                        p.fill_share[size_t(yn) * p.w + xn] <= 0) {
                        found = yn * p.w + xn;
                        steps = k + 1;
                    }
                    break;
                }
                if (found < 0) continue;
                const float distance = float(steps) * std::hypot(float(dx), float(dy));
                p.source.push_back(found);
                p.weight.push_back(1.0f / distance);
                total += 1.0f / distance;
            }
            if (p.source.size() == start) {
                // Nothing of the picture in reach: the pixel stays as it is.
                p.fill_share[i] = 0;
                p.gain[i] = 1.0f;
                p.offset[i] = 0;
                continue;
            }
            for (size_t k = start; k < p.source.size(); ++k)
                p.weight[k] /= total;
            p.filled.push_back(int(i));
            p.first_source.push_back(int(p.source.size()));
        }
    return p;
}

template <typename T> T* row_of(const plane_data& d, int y) {
    return reinterpret_cast<T*>(d.data + y * d.stride);
}

// The plane's rectangle as it is (observed) and undone, clamped (restored).
template <typename T>
void read_plane(const plane_restoration& p, const plane_data& d, float max_value,
                std::vector<float>& observed, std::vector<float>& restored) {
    observed.resize(size_t(p.w) * p.h);
    restored.resize(observed.size());
    for (int v = 0; v < p.h; ++v) {
        const T* row = row_of<T>(d, p.y + v) + p.x;
        const size_t base = size_t(v) * p.w;
        for (int u = 0; u < p.w; ++u) {
            const float o = float(row[u]);
            observed[base + u] = o;
            restored[base + u] =
                std::clamp(o * p.gain[base + u] - p.offset[base + u], 0.0f, max_value);
        }
    }
}

template <typename T>
void restore_plane(const plane_restoration& p, const plane_data& d, float max_value) {
    if (p.w <= 0) return;
    std::vector<float> observed, restored;
    read_plane<T>(p, d, max_value, observed, restored);
    std::vector<float> out = restored;
    for (size_t k = 0; k < p.filled.size(); ++k) {
        const size_t i = size_t(p.filled[k]);
        float fill = 0;
        for (int s = p.first_source[k]; s < p.first_source[k + 1]; ++s)
            fill += p.weight[size_t(s)] * restored[size_t(p.source[size_t(s)])];
        const float share = p.fill_share[i];
        out[i] = share >= 1.0f ? fill : (1.0f - share) * restored[i] + share * fill;
    }
    for (int v = 0; v < p.h; ++v) {
        T* row = row_of<T>(d, p.y + v) + p.x;
        const size_t base = size_t(v) * p.w;
        for (int u = 0; u < p.w; ++u)
            row[u] = T(std::lrint(std::clamp(out[base + u], 0.0f, max_value)));
    }
}

template <typename T> double evidence(const restoration& r, const plane_data& d) {
    const plane_restoration& p = r.plane[0];
    if (p.w <= 0) return 1.0;
    std::vector<float> observed, restored;
    read_plane<T>(p, d, float(r.max_value), observed, restored);
    const float scale = float(r.max_value + 1) / 256.0f;
    // Each pair and each opaque pixel votes for the logo when the frame fits it better
    // with the logo than without; what fits both alike (a flat picture the logo's colour,
    // a sharp texture) does not vote. Votes, not sums: a few strong edges of the picture
    // cannot outvote the many small ones of the logo.
    int with = 0, without = 0;
    auto vote = [&](float fits_logo, float fits_picture) {
        if (std::fabs(fits_logo - fits_picture) <= undecided * scale) return;
        (fits_logo < fits_picture ? with : without) += 1;
    };
    for (size_t k = 0; k < r.pair_a.size(); ++k) {
        const size_t a = size_t(r.pair_a[k]), b = size_t(r.pair_b[k]), c = size_t(r.pair_c[k]);
        // Where the picture has an edge of its own just outside the outline it may run on
        // under the logo, and the outline tells nothing (a black and white pattern would
        // outvote the logo).
        if (std::fabs(observed[c] - observed[a]) > flat_outside * scale) continue;
        // With the logo, its outline is gone once undone; without, the frame had none.
        vote(std::fabs(restored[a] - restored[b]), std::fabs(observed[a] - observed[b]));
    }
    // Undone, a picture that had no logo comes out below black (or above white) wherever it
    // was darker (lighter) than the logo's share: no picture has such samples, so each
    // such pixel votes against the logo, whatever the texture.
    const float margin = out_of_range * scale;
    for (int i : r.undone) {
        const float u = observed[size_t(i)] * p.gain[size_t(i)] - p.offset[size_t(i)];
        if (u < -margin || u > float(r.max_value) + margin) without += 1;
    }
    for (size_t j = 0; j < r.opaque.size(); ++j) {
        // With the logo, an opaque pixel shows its colour; without, it continues the
        // picture around it.
        const size_t k = size_t(r.opaque[j]), i = size_t(p.filled[k]);
        float around = 0;
        for (int s = p.first_source[k]; s < p.first_source[k + 1]; ++s)
            around += p.weight[size_t(s)] * observed[size_t(p.source[size_t(s)])];
        vote(std::fabs(observed[i] - r.opaque_colour[j]), std::fabs(observed[i] - around));
    }
    if (with + without < least_votes) return 1.0;
    return 2.0 * without / (with + without);
}

} // namespace

restoration plan_restoration(const frame_logo& logo, const frame_rect& picture, int planes,
                             int depth, bool interlaced) {
    restoration r;
    r.planes = planes == 1 ? 1 : 3;
    r.wide = depth > 8;
    r.max_value = (1 << depth) - 1;
    const float scale = float(1 << depth) / 256.0f;
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
        r.plane[k] = plan_plane(g, scale, interlaced);
    }
    // The presence test reads the luma rectangle: pairs of pixels that are only undone,
    // across the outline, and the opaque pixels that are filled.
    const plane_restoration& p = r.plane[0];
    const int down = interlaced ? 2 : 1;
    const float low = undo_limit - feather_width;
    auto alpha_at = [&](int u, int v) {
        return logo.alpha[size_t(p.y + v) * logo.width + (p.x + u)];
    };
    for (int v = 0; v < p.h; ++v)
        for (int u = 0; u < p.w; ++u) {
            const float a = alpha_at(u, v);
            if (a > low) continue;
            const int steps[2][2] = {{1, 0}, {0, down}};
            for (const auto& d : steps) {
                const int x = u + d[0], y = v + d[1];
                if (x >= p.w || y >= p.h) continue;
                const float b = alpha_at(x, y);
                if (b > low || std::fabs(a - b) < outline_step) continue;
                // a: the side of less opacity, b: the other, c: one step further out from a.
                int ax = u, ay = v, bx = x, by = y;
                if (b < a) std::swap(ax, bx), std::swap(ay, by);
                const int cx = 2 * ax - bx, cy = 2 * ay - by;
                if (cx < 0 || cy < 0 || cx >= p.w || cy >= p.h) continue;
                r.pair_a.push_back(ay * p.w + ax);
                r.pair_b.push_back(by * p.w + bx);
                r.pair_c.push_back(cy * p.w + cx);
            }
        }
    for (int i = 0; i < p.w * p.h; ++i) {
        const float a = alpha_at(i % p.w, i / p.w);
        if (a >= 0.25f && a <= low) r.undone.push_back(i);
    }
    for (size_t k = 0; k < p.filled.size(); ++k) {
        const int i = p.filled[k];
        if (p.fill_share[size_t(i)] < 1.0f) continue;
        r.opaque.push_back(int(k));
        r.opaque_colour.push_back(logo.colour[size_t(p.y + i / p.w) * logo.width + (p.x + i % p.w)] *
                                  scale);
    }
    return r;
}

double logo_evidence(const restoration& r, const plane_data frame[3]) {
    return r.wide ? evidence<uint16_t>(r, frame[0]) : evidence<uint8_t>(r, frame[0]);
}

void restore_frame(const restoration& r, plane_data frame[3]) {
    for (int k = 0; k < r.planes; ++k) {
        if (r.wide)
            restore_plane<uint16_t>(r.plane[k], frame[k], float(r.max_value));
        else
            restore_plane<uint8_t>(r.plane[k], frame[k], float(r.max_value));
    }
}

bool presence_state::update(double evidence) {
    if (present && evidence > 1.9) present = false;
    else if (!present && evidence < 0.8) present = true;
    return present;
}
