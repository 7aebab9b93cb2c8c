// The restoration under a logo: the plan made once from the model, then per frame a pass
// over the logo's rectangle in each plane.
#include "apply/restore.h"

#include <algorithm>
#include <cmath>

#include "apply/box_mean.h"

namespace {

// Opacities below this are taken as no logo at all (the model's 1/255 steps round to 0).
constexpr float no_alpha = 1.0f / 512;
// Undone samples this far (8-bit levels) beyond black or white cannot be a picture's.
constexpr float out_of_range = 24.0f;
// A frame with more than this share of its undone pixels out of range has no logo.
constexpr double impossible_share = 0.25;
// The ring around the logo tells when this share of it would be out of range under the
// logo, and it has at least least_ring pixels (as the logo's translucent part).
constexpr double telling_ring = 0.15;
constexpr size_t least_ring = 64;
// The high-pass: a pixel less the mean of the (2 r + 1)^2 square around it.
constexpr int high_pass_radius = 3;
// The logo's expected signal must reach this many levels (8-bit, root mean square) for a
// frame to tell anything: a picture the logo's colour hides it.
constexpr double least_signal = 1.0;
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
                p.offset[i] = a * g.colour[j] * scale / (1.0f - a);
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
    if (p.w <= 0 || r.support.empty()) return cannot_tell;
    std::vector<float> observed, restored;
    read_plane<T>(p, d, float(r.max_value), observed, restored);
    const double scale = double(r.max_value + 1) / 256.0;
    // Undone, a picture that had no logo comes out below black (or above white) wherever
    // it was darker (lighter) than the logo's share: no picture has such samples.
    const float margin = float(out_of_range * scale);
    size_t impossible = 0;
    for (int i : r.undone) {
        const float u = observed[size_t(i)] * p.gain[size_t(i)] - p.offset[size_t(i)];
        impossible += u < -margin || u > float(r.max_value) + margin;
    }
    const double inside = r.undone.empty() ? 0 : double(impossible) / double(r.undone.size());
    if (inside > impossible_share) return 2.0;
    // The same for the picture just around the logo, as if it were under the logo's mean
    // opacity and colour: where that picture is dark (light) enough to give such samples
    // and the logo's own pixels give none, the logo is there, however textured the
    // picture; where both give them alike, it is not.
    if (r.ring.size() >= least_ring && r.undone.size() >= least_ring) {
        const float gain = 1.0f / (1.0f - r.ring_alpha);
        const float offset = r.ring_alpha * r.ring_colour * float(scale) * gain;
        size_t would = 0;
        for (int i : r.ring) {
            const float u = observed[size_t(i)] * gain - offset;
            would += u < -margin || u > float(r.max_value) + margin;
        }
        const double around = double(would) / double(r.ring.size());
        if (around >= telling_ring) {
            if (inside < 0.2 * around) return 0.0;
            if (inside > 0.6 * around) return 2.0;
        }
    }
    // The logo adds alpha (colour - picture): in the high-pass, about hp(alpha colour) -
    // hp(alpha) times the picture's local mean. The frame's high-pass is held against
    // that: a picture's own texture does not follow the logo's shape, the logo does.
    const std::vector<float> mean = box_mean(observed, p.w, p.h, high_pass_radius);
    const size_t n = r.support.size();
    std::vector<double> expected(n);
    for (size_t k = 0; k < n; ++k) {
        const size_t i = size_t(r.support[k]);
        expected[k] = r.hp_alpha_colour[k] * scale - r.hp_alpha[k] * mean[i];
    }
    double sh = 0, ss = 0, shh = 0, sss = 0, shs = 0;
    for (size_t k = 0; k < n; ++k) {
        const size_t i = size_t(r.support[k]);
        const double h = observed[i] - mean[i];
        const double e = expected[k];
        sh += h;
        ss += e;
        shh += h * h;
        sss += e * e;
        shs += h * e;
    }
    const double vh = shh - sh * sh / double(n), ve = sss - ss * ss / double(n);
    if (ve < least_signal * least_signal * scale * scale * double(n) || vh <= 0)
        return cannot_tell;
    const double correlation = (shs - sh * ss / double(n)) / std::sqrt(vh * ve);
    // 0 for a perfect match, 1 for none, 2 for the logo's negative.
    return 1.0 - correlation;
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
    if (std::isnan(evidence)) return present;
    if (present && evidence > 1.0 - drop_correlation) present = false;
    else if (!present && evidence < 1.0 - take_correlation) present = true;
    return present;
}

void presence_window::add(double evidence) {
    evidence_.push_back(evidence);
}

bool presence_window::decide() {
    std::vector<double> around;
    for (long long f = std::max(first_, next_ - reach);
         f <= next_ + reach && f - first_ < static_cast<long long>(evidence_.size()); ++f) {
        const double e = evidence_[size_t(f - first_)];
        if (!std::isnan(e)) around.push_back(e);
    }
    double median = cannot_tell;
    if (!around.empty()) {
        std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
        median = around[around.size() / 2];
    }
    const bool present = state_.update(median);
    ++next_;
    while (first_ < next_ - reach && !evidence_.empty()) {
        evidence_.pop_front();
        ++first_;
    }
    return present;
}
