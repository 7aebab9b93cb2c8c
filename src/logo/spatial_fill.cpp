// The membrane fill of what no frame shows, plane by plane and field by field.
#include "logo/spatial_fill.h"

#include <algorithm>
#include <cmath>

namespace {

// Gauss-Seidel rounds at each level of the pyramid, after the coarser level's solution:
// the coarse level carries the far boundary in, these rounds its detail.
constexpr int relax_rounds = 12;
// Each round moves a pixel this much past its neighbours' mean (successive over-relaxation:
// the detail settles in fewer rounds).
constexpr float over_relaxation = 1.5f;
// A bar: black (8-bit) and flat across its row.
constexpr float bar_black = 24.0f, bar_flat = 4.0f;
// How far beyond the hidden pixels the solve reaches across pixels it may not read.
constexpr int reach_across = rim_width + 2;
constexpr int least_bar_pixels = 8;

struct level {
    int w = 0, h = 0;
    std::vector<float> v;
    std::vector<uint8_t> role;
    std::vector<int> free; // indices of the free pixels, in order
};

void relax(level& l, int rounds) {
    for (int round = 0; round < rounds; ++round)
        for (const int i : l.free) {
            const int x = i % l.w, y = i / l.w;
            float sum = 0;
            int count = 0;
            if (x > 0 && l.role[size_t(i - 1)] != 2) sum += l.v[size_t(i - 1)], ++count;
            if (x + 1 < l.w && l.role[size_t(i + 1)] != 2) sum += l.v[size_t(i + 1)], ++count;
            if (y > 0 && l.role[size_t(i - l.w)] != 2) sum += l.v[size_t(i - l.w)], ++count;
            if (y + 1 < l.h && l.role[size_t(i + l.w)] != 2) sum += l.v[size_t(i + l.w)], ++count;
            if (count) l.v[size_t(i)] += over_relaxation * (sum / float(count) - l.v[size_t(i)]);
        }
}

} // namespace

void solve_membrane(std::vector<float>& v, int w, int h, const std::vector<uint8_t>& role) {
    std::vector<level> levels(1);
    levels[0].w = w;
    levels[0].h = h;
    levels[0].v = v;
    levels[0].role = role;
    double held_sum = 0;
    size_t held = 0;
    for (size_t i = 0; i < role.size(); ++i) {
        if (role[i] == 1) levels[0].free.push_back(int(i));
        if (role[i] == 0) held_sum += v[i], ++held;
    }
    if (levels[0].free.empty() || held == 0) return;
    // Down: a coarse pixel is held where any of its four is (their mean), free where any is
    // free, else a wall.
    while (levels.back().w > 2 || levels.back().h > 2) {
        const level& f = levels.back();
        level c;
        c.w = (f.w + 1) / 2;
        c.h = (f.h + 1) / 2;
        c.v.assign(size_t(c.w) * c.h, 0.0f);
        c.role.assign(c.v.size(), 2);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                float sum = 0;
                int n = 0;
                bool any_free = false;
                for (int k = 0; k < 4; ++k) {
                    const int fx = 2 * x + (k & 1), fy = 2 * y + (k >> 1);
                    if (fx >= f.w || fy >= f.h) continue;
                    const size_t j = size_t(fy) * f.w + fx;
                    if (f.role[j] == 0) sum += f.v[j], ++n;
                    any_free = any_free || f.role[j] == 1;
                }
                const size_t i = size_t(y) * c.w + x;
                if (n) c.v[i] = sum / float(n), c.role[i] = 0;
                else if (any_free) c.role[i] = 1, c.free.push_back(int(i));
            }
        const bool done = c.free.empty();
        levels.push_back(std::move(c));
        if (done) break;
    }
    // The coarsest level's free pixels start from the mean of everything held.
    level& coarsest = levels.back();
    for (const int i : coarsest.free)
        coarsest.v[size_t(i)] = float(held_sum / double(held));
    relax(coarsest, 4 * relax_rounds);
    // Up: each free pixel starts from its coarse pixel, then relaxes.
    for (size_t k = levels.size() - 1; k-- > 0;) {
        level& f = levels[k];
        const level& c = levels[k + 1];
        for (const int i : f.free) {
            const int x = i % f.w, y = i / f.w;
            f.v[size_t(i)] = c.v[size_t(y / 2) * c.w + x / 2];
        }
        relax(f, relax_rounds);
    }
    for (const int i : levels[0].free)
        v[size_t(i)] = levels[0].v[size_t(i)];
}

namespace {

// How much of the fill an edge pixel at (u, t) of a layer takes, 0..1: the fill's error
// against the undo's. The fill errs as much as the picture around varies: the spread of
// the pixels within two of it that the fill reads or that are undone (those carry the
// picture's detail under the logo too: a sharp edge of the picture lying under the logo's
// own is seen there, not in the flat picture beside it). The undo errs by edge_noise
// levels times 1 / (1 - opacity). Over a flat sky the edge is filled; over detail,
// undone and left alone: unlike a Wiener share (undo^2 / (undo^2 + spread)), the share
// falls to none, so that an exact blend over detail comes back exactly.
float edge_trust(const std::vector<float>& v, const std::vector<uint8_t>& role, int w, int h,
                 int u, int t, float alpha) {
    double sum = 0, squares = 0;
    int n = 0;
    for (int y = std::max(0, t - 2); y <= std::min(h - 1, t + 2); ++y)
        for (int x = std::max(0, u - 2); x <= std::min(w - 1, u + 2); ++x) {
            const size_t i = size_t(y) * w + x;
            if (role[i] == 2) continue;
            sum += v[i];
            squares += double(v[i]) * v[i];
            ++n;
        }
    if (n < 3) return 0.0f;
    const double spread = std::max(0.0, squares / n - (sum / n) * (sum / n));
    const double undo = edge_noise / (1.0 - alpha);
    return float(std::max(0.0, 1.0 - spread / (2.0 * undo * undo)));
}

} // namespace

std::vector<uint8_t> bar_rows(const restoration& r, const work_plane& luma) {
    const plane_restoration& p = r.plane[0];
    std::vector<uint8_t> bars(size_t(std::max(0, p.h)), 0);
    auto is_bar = [&](int t) {
        int n = 0;
        float low = 255, high = 0;
        for (int u = 0; u < p.w; ++u) {
            const size_t i = size_t(t) * p.w + u;
            if (!p.source[i]) continue;
            ++n;
            low = std::min(low, luma.v[i]);
            high = std::max(high, luma.v[i]);
        }
        return n >= least_bar_pixels && high <= bar_black && high - low <= bar_flat;
    };
    for (int t = 0; t < p.h && is_bar(t); ++t)
        bars[size_t(t)] = 1;
    for (int t = p.h - 1; t >= 0 && !bars[size_t(t)] && is_bar(t); --t)
        bars[size_t(t)] = 1;
    return bars;
}

void fill_spatially(const restoration& r, work_frame& f, const std::vector<uint8_t>& bars) {
    for (int k = 0; k < r.planes; ++k) {
        const plane_restoration& p = r.plane[k];
        work_plane& wp = f.plane[k];
        if (wp.hidden.empty() || p.w <= 0) continue;
        bool any = false;
        for (const float s : wp.hidden)
            any = any || s > 0;
        if (!any) {
            std::fill(wp.hidden.begin(), wp.hidden.end(), 0.0f);
            continue;
        }
        const int sy = k ? r.shift_y : 0;
        // (negative: found by the temporal fill, picture to read)
        // Each field alone in an interlaced frame; the whole area otherwise.
        const int fields = r.interlaced && p.h > 1 ? 2 : 1;
        for (int field = 0; field < fields; ++field) {
            const int rows = (p.h - field + fields - 1) / fields;
            const size_t n = size_t(p.w) * rows;
            std::vector<float> v(n);
            std::vector<uint8_t> zone(n), role(n);
            for (int t = 0; t < rows; ++t) {
                const int row = t * fields + field;
                const int luma_row = ((p.y + row) << sy) - r.plane[0].y;
                const bool bar = luma_row >= 0 && size_t(luma_row) < bars.size() && bars[size_t(luma_row)];
                for (int u = 0; u < p.w; ++u) {
                    const size_t i = size_t(t) * p.w + u, j = size_t(row) * p.w + u;
                    v[i] = wp.v[j];
                    zone[i] = bar;
                }
            }
            // Pixels neither read nor filled count in the solve only near what is filled
            // (the rim the fill reaches across); farther out (a translucent part, only
            // undone) they are walls: the membrane needs no more, and costs less.
            std::vector<uint8_t> across(n, 0), near(n, 0);
            for (int t = 0; t < rows; ++t)
                for (int u = 0; u < p.w; ++u)
                    if (wp.hidden[size_t(t * fields + field) * p.w + u] > 0)
                        for (int uu = std::max(0, u - reach_across); uu <= std::min(p.w - 1, u + reach_across); ++uu)
                            across[size_t(t) * p.w + uu] = 1;
            for (int t = 0; t < rows; ++t)
                for (int u = 0; u < p.w; ++u)
                    if (across[size_t(t) * p.w + u])
                        for (int tt = std::max(0, t - reach_across); tt <= std::min(rows - 1, t + reach_across); ++tt)
                            near[size_t(tt) * p.w + u] = 1;
            // The picture and the bar apart: each hidden pixel from its own side.
            for (const uint8_t z : {0, 1}) {
                bool any_here = false;
                for (int t = 0; t < rows; ++t)
                    for (int u = 0; u < p.w; ++u) {
                        const size_t i = size_t(t) * p.w + u, j = size_t(t * fields + field) * p.w + u;
                        if (zone[i] != z) role[i] = 2;
                        else if ((wp.hidden[j] <= 0 && p.source[j]) || wp.hidden[j] < 0) role[i] = 0;
                        else if (!near[i]) role[i] = 2;
                        else role[i] = 1, any_here = any_here || wp.hidden[j] > 0;
                    }
                if (!any_here) continue;
                std::vector<float> solved = v;
                solve_membrane(solved, p.w, rows, role);
                for (int t = 0; t < rows; ++t)
                    for (int u = 0; u < p.w; ++u) {
                        const size_t i = size_t(t) * p.w + u, j = size_t(t * fields + field) * p.w + u;
                        float s = wp.hidden[j];
                        if (zone[i] != z || s <= 0) continue;
                        // (An edge is translucent: its share so far is the strength.)
                        if (!p.edge.empty() && p.edge[j])
                            s *= edge_trust(v, role, p.w, rows, u, t, p.alpha[j]);
                        wp.v[j] = (1.0f - s) * wp.v[j] + s * solved[i];
                    }
            }
        }
        std::fill(wp.hidden.begin(), wp.hidden.end(), 0.0f);
    }
}

void spatial_stage::run(frame_window& w) {
    work_frame& f = w.current();
    fill_spatially(*plan_, f, bar_rows(*plan_, f.plane[0]));
}
