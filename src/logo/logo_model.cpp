// The logo model from many samples of a corner region, stage by stage: the samples cut into
// stretches of time (sample_blocks), where the logo may be and which parts are graphics
// (logo_parts, with the edge cue), then each graphic's opacity and colour (logo_matting).
// The search runs on a picture shrunk to about 720 rows; the matting on the samples as
// they are.
#include "logo/logo_model.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

#include "logo/edge_cue.h"
#include "logo/logo_matting.h"
#include "logo/logo_parts.h"
#include "logo/region_fields.h"
#include "logo/sample_blocks.h"

namespace {

struct part_box {
    int x0, y0, x1, y1;
};

// A graphic shown in at least this share of the samples that the most shown one is shown
// in is the programme's steady logo (a station logo missing for an ad break keeps 0.8 of
// its samples); less, an occasional one (a tag for half the programme). Two graphics of
// the estimate shown as often, by this share, may be one.
constexpr float steady_share = 0.7f;

// Groups of boxes that lie close: a gap (along x or y, the larger) below 0.6 of the taller
// box's height joins them, when `together` allows. Returns each box's group, groups
// numbered from 0.
std::vector<int> group_boxes(const std::vector<part_box>& b,
                             const std::function<bool(size_t, size_t)>& together) {
    std::vector<int> up(b.size());
    std::iota(up.begin(), up.end(), 0);
    auto root = [&](int i) {
        while (up[size_t(i)] != i)
            i = up[size_t(i)] = up[size_t(up[size_t(i)])];
        return i;
    };
    for (size_t i = 0; i < b.size(); ++i)
        for (size_t j = i + 1; j < b.size(); ++j) {
            const int gap_x = std::max(b[i].x0, b[j].x0) - std::min(b[i].x1, b[j].x1) - 1;
            const int gap_y = std::max(b[i].y0, b[j].y0) - std::min(b[i].y1, b[j].y1) - 1;
            const int tall = std::max(b[i].y1 - b[i].y0, b[j].y1 - b[j].y0) + 1;
            if (10 * std::max({gap_x, gap_y, 0}) <= 6 * tall && together(i, j))
                up[size_t(root(int(i)))] = root(int(j));
        }
    std::vector<int> group(b.size()), number(b.size(), -1);
    int groups = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const int r = root(int(i));
        if (number[size_t(r)] < 0) number[size_t(r)] = groups++;
        group[i] = number[size_t(r)];
    }
    return group;
}

// Two parts are of one graphic only when they show in the same stretches of the recording:
// a tag beside the logo for the first half is another graphic, however close. Letters of
// one logo may miss a block or two where the picture hides them (a white letter over a
// bright scene); a tag shown half the time differs in half the blocks.
bool same_presence(const logo_part& a, const logo_part& b) {
    int differ = 0;
    for (size_t k = 0; k < a.shown_in.size() && k < b.shown_in.size(); ++k)
        differ += a.shown_in[k] != b.shown_in[k];
    return 4 * differ <= int(a.shown_in.size());
}

} // namespace

// Letterbox bars: black and still in every sample, over much of a row or a column, are no
// picture: neither logo nor the picture around a logo. A logo over a bar is not black, and
// stays; so does a black part of a logo.
flags picture_of(const field& mean, const field& spread, grid g, int black) {
    flags still(g.size()), picture(g.size(), 1);
    std::vector<int> in_row(size_t(g.h), 0), in_column(size_t(g.w), 0);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t i = g.at(x, y);
            still[i] = mean[i] <= float(black) + 0.5f && spread[i] <= 8.0f;
            in_row[size_t(y)] += still[i];
            in_column[size_t(x)] += still[i];
        }
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x)
            picture[g.at(x, y)] = !(still[g.at(x, y)] && (in_row[size_t(y)] * 5 >= g.w * 2 ||
                                                          in_column[size_t(x)] * 5 >= g.h * 2));
    return picture;
}

logo_model estimate_logo(const corner_samples& s, int corner, int black, double scale) {
    logo_model m;
    const grid g{s.luma.width, s.luma.height};
    m.width = g.w;
    m.height = g.h;
    m.chroma_width = s.cb.width;
    m.chroma_height = s.cb.height;
    const int n = s.luma.count();
    if (g.w < 8 || g.h < 8 || n < 8) return m;
    const bool colour = s.cb.width > 0 && s.cb.height > 0 && s.cb.count() == n && s.cr.count() == n;
    const sample_blocks blocks = split_blocks(n);
    const flags every(size_t(n), 1);
    const std::vector<float> weights(size_t(n), 1.0f);
    field mean, spread;
    weighted_moments(s.luma, weights, {0, 0, g.w, g.h}, mean, spread);
    const flags picture = picture_of(mean, spread, g, black);

    // The search, on the samples shrunk to about 720 rows.
    const int factor = std::max(1, int(std::lround(scale)));
    const plane_samples luma = shrink_samples(s.luma, factor);
    const plane_samples cb = colour ? shrink_samples(s.cb, factor) : plane_samples{};
    const plane_samples cr = colour ? shrink_samples(s.cr, factor) : plane_samples{};
    search_view v;
    v.planes[0] = &luma;
    if (colour) {
        v.planes[1] = &cb;
        v.planes[2] = &cr;
        v.shift_x = s.shift_x;
        v.shift_y = s.shift_y;
    }
    v.g = grid{luma.width, luma.height};
    {
        field bars(g.size());
        for (size_t i = 0; i < g.size(); ++i)
            bars[i] = picture[i];
        grid shrunk;
        const field p = shrink(bars, g, factor, shrunk);
        v.picture.resize(shrunk.size());
        for (size_t i = 0; i < shrunk.size(); ++i)
            v.picture[i] = p[i] >= 0.5f;
    }
    flags parity[2] = {flags(size_t(n), 0), flags(size_t(n), 0)};
    for (int i = 0; i < n; ++i)
        parity[i % 2][size_t(i)] = 1;
    for (int p = 0; p < 3 && v.planes[p]; ++p) {
        // The cue of all samples: the two halves' gradients averaged, and their field.
        v.even[p] = edge_cue_of(*v.planes[p], blocks, parity[0], false);
        v.odd[p] = edge_cue_of(*v.planes[p], blocks, parity[1], false);
        edge_cue& c = v.cue[p];
        c.g = v.even[p].g;
        c.gx.resize(v.even[p].gx.size());
        c.gy.resize(c.gx.size());
        for (size_t i = 0; i < c.gx.size(); ++i) {
            c.gx[i] = 0.5f * (v.even[p].gx[i] + v.odd[p].gx[i]);
            c.gy[i] = 0.5f * (v.even[p].gy[i] + v.odd[p].gy[i]);
        }
        c.w = poisson_field(c.gx, c.gy, c.g);
    }
    const std::vector<logo_part> parts = find_parts(v, blocks, corner, sizes_for(scale / factor));

    std::vector<part_box> boxes;
    std::vector<const logo_part*> kept;
    for (const logo_part& p : parts)
        if (p.graphic) {
            boxes.push_back({p.x0, p.y0, p.x1, p.y1});
            kept.push_back(&p);
        }
    const std::vector<int> group =
        group_boxes(boxes, [&](size_t i, size_t j) { return same_presence(*kept[i], *kept[j]); });
    const int groups = group.empty() ? 0 : *std::max_element(group.begin(), group.end()) + 1;

    m.alpha.assign(g.size(), 0.0f);
    m.colour.assign(g.size(), 0.0f);
    m.graphic.assign(g.size(), 0);
    if (colour) {
        m.alpha_c.assign(s.cb.width * size_t(s.cb.height), 0.0f);
        m.colour_cb.assign(m.alpha_c.size(), 128.0f);
        m.colour_cr.assign(m.alpha_c.size(), 128.0f);
    }
    const int ax = colour ? (1 << s.shift_x) - 1 : 0, ay = colour ? (1 << s.shift_y) - 1 : 0;
    const int margin = factor * sizes_for(scale / factor).grow + 2 + soft_rim_band(scale);
    for (int k = 0; k < groups; ++k) {
        std::vector<size_t> pixels;
        int x0 = v.g.w, y0 = v.g.h, x1 = -1, y1 = -1;
        for (size_t j = 0; j < kept.size(); ++j)
            if (group[j] == k) {
                pixels.insert(pixels.end(), kept[j]->pixels.begin(), kept[j]->pixels.end());
                x0 = std::min(x0, kept[j]->x0);
                y0 = std::min(y0, kept[j]->y0);
                x1 = std::max(x1, kept[j]->x1);
                y1 = std::max(y1, kept[j]->y1);
            }
        // The samples that show this graphic (all of them when too few do).
        const std::vector<float> presence = presence_of(v, pixels);
        std::vector<float> take(weights);
        int taken = 0;
        for (int i = 0; i < n; ++i)
            if (presence[size_t(i)] > presence_score)
                ++taken;
            else
                take[size_t(i)] = 0;
        m.graphics.push_back(graphic_box{});
        m.graphics.back().shown = float(taken) / float(n);
        if (taken < 8) take = weights;
        // Its rectangle in the samples as they are, on whole chroma samples.
        plane_rect r;
        r.x = std::max(0, x0 * factor - margin) & ~ax;
        r.y = std::max(0, y0 * factor - margin) & ~ay;
        r.w = ((std::min(g.w, (x1 + 1) * factor + margin) - r.x) + ax) & ~ax;
        r.h = ((std::min(g.h, (y1 + 1) * factor + margin) - r.y) + ay) & ~ay;
        r.w = std::min(r.w, (g.w - r.x) & ~ax);
        r.h = std::min(r.h, (g.h - r.y) & ~ay);
        if (r.w <= 0 || r.h <= 0) continue;
        flags in_graphic(v.g.size(), 0), in_core(v.g.size(), 0);
        for (size_t i : pixels)
            in_graphic[i] = 1;
        for (size_t j = 0; j < kept.size(); ++j)
            if (group[j] == k)
                for (size_t i : kept[j]->core)
                    in_core[i] = 1;
        const grid rg{r.w, r.h};
        flags support(rg.size()), core(rg.size()), here(rg.size());
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                support[rg.at(x, y)] = in_graphic[v.g.at((r.x + x) / factor, (r.y + y) / factor)];
                core[rg.at(x, y)] = in_core[v.g.at((r.x + x) / factor, (r.y + y) / factor)];
                here[rg.at(x, y)] = picture[g.at(r.x + x, r.y + y)];
            }
        const graphic_matte matte =
            matte_graphic(s, take, r, core, support, here, std::max(scale, 1.0));
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                const size_t i = rg.at(x, y), j = g.at(r.x + x, r.y + y);
                if (!matte.support[i]) continue;
                m.alpha[j] = matte.alpha[i];
                m.colour[j] = matte.colour[i];
                m.graphic[j] = uint8_t(std::min(k + 1, 255));
            }
        if (!colour) continue;
        const grid cg{matte.rc.w, matte.rc.h};
        for (int y = 0; y < cg.h; ++y)
            for (int x = 0; x < cg.w; ++x) {
                const size_t i = cg.at(x, y), j = size_t(matte.rc.y + y) * size_t(s.cb.width) + size_t(matte.rc.x + x);
                if (matte.alpha_c[i] <= 0) continue;
                m.alpha_c[j] = matte.alpha_c[i];
                m.colour_cb[j] = matte.colour_cb[i];
                m.colour_cr[j] = matte.colour_cr[i];
            }
    }
    // Opacities in steps of 1/255, as a saved model holds them: the model read back from its
    // picture finds the same logo.
    for (float& a : m.alpha)
        a = float(std::lround(255.0f * a) / 255.0);
    find_logo(m, scale);
    if (colour) // chroma opacity where the luma's parts were dropped: none
        for (int y = 0; y < s.cb.height; ++y)
            for (int x = 0; x < s.cb.width; ++x) {
                double a = 0;
                int k = 0;
                for (int yy = y << s.shift_y; yy < std::min(g.h, (y + 1) << s.shift_y); ++yy)
                    for (int xx = x << s.shift_x; xx < std::min(g.w, (x + 1) << s.shift_x); ++xx) {
                        a += m.alpha[g.at(xx, yy)];
                        ++k;
                    }
                m.alpha_c[size_t(y) * size_t(s.cb.width) + size_t(x)] = k ? float(a / k) : 0.0f;
            }
    return m;
}

void find_logo(logo_model& m, double scale) {
    const grid g{m.width, m.height};
    // The estimate's graphics, when given: their pixels' labels and the share of the
    // samples that showed each.
    const bool hinted = m.graphic.size() == g.size();
    const std::vector<uint8_t> hint = hinted ? m.graphic : std::vector<uint8_t>{};
    std::vector<float> hint_shown;
    for (const graphic_box& b : m.graphics)
        hint_shown.push_back(b.shown);
    flags on(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        on[i] = m.alpha[i] > 0.04f;
    std::vector<int> sizes;
    const std::vector<int> label = label_parts(on, g, sizes);
    std::vector<double> sum(sizes.size(), 0.0);
    std::vector<part_box> box(sizes.size(), part_box{g.w, g.h, -1, -1});
    // Each part's graphic in the estimate: the label most of its opacity has (0: none).
    std::vector<std::vector<double>> votes(sizes.size(),
                                           std::vector<double>(hint_shown.size() + 1, 0.0));
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t i = g.at(x, y), id = size_t(label[i]);
            if (hinted && hint[i] <= hint_shown.size()) votes[id][hint[i]] += m.alpha[i];
            sum[id] += m.alpha[i];
            box[id] = {std::min(box[id].x0, x), std::min(box[id].y0, y), std::max(box[id].x1, x),
                       std::max(box[id].y1, y)};
        }
    const double s = std::max(scale, 1.0);
    const int least_part = int(std::lround(30 * s * s));
    std::vector<part_box> kept;
    std::vector<int> kept_id(sizes.size(), -1), kept_hint;
    for (size_t id = 1; id < sizes.size(); ++id)
        if (sizes[id] >= least_part && sum[id] >= 0.08 * sizes[id]) {
            kept_id[id] = int(kept.size());
            kept.push_back(box[id]);
            kept_hint.push_back(
                int(std::max_element(votes[id].begin(), votes[id].end()) - votes[id].begin()));
        }
    // Parts of two of the estimate's graphics join when close and shown about as often: the
    // estimate cuts a logo half over a letterbox bar in two (its parts are the edge cue's,
    // smaller than the opacity's), but a tag shown for half the programme stays apart.
    const std::vector<int> group = group_boxes(kept, [&](size_t i, size_t j) {
        if (!kept_hint[i] || !kept_hint[j] || kept_hint[i] == kept_hint[j]) return true;
        const float a = hint_shown[size_t(kept_hint[i] - 1)],
                    b = hint_shown[size_t(kept_hint[j] - 1)];
        return std::min(a, b) >= steady_share * std::max(a, b);
    });
    const int groups = group.empty() ? 0 : *std::max_element(group.begin(), group.end()) + 1;
    std::vector<graphic_box> graphics(static_cast<size_t>(groups));
    std::vector<float> shown(graphics.size(), 0.0f); // the most of its labelled parts
    for (size_t j = 0; j < kept.size(); ++j)
        if (kept_hint[j])
            shown[size_t(group[j])] =
                std::max(shown[size_t(group[j])], hint_shown[size_t(kept_hint[j] - 1)]);
    for (size_t k = 0; k < graphics.size(); ++k)
        if (shown[k] > 0) graphics[k].shown = shown[k];
    std::vector<part_box> extent(static_cast<size_t>(groups), part_box{g.w, g.h, -1, -1});
    for (size_t id = 1; id < sizes.size(); ++id) {
        if (kept_id[id] < 0) continue;
        const size_t k = size_t(group[size_t(kept_id[id])]);
        graphics[k].strength += sum[id];
        extent[k] = {std::min(extent[k].x0, box[id].x0), std::min(extent[k].y0, box[id].y0),
                     std::max(extent[k].x1, box[id].x1), std::max(extent[k].y1, box[id].y1)};
    }
    for (size_t k = 0; k < graphics.size(); ++k) {
        graphics[k].x = extent[k].x0;
        graphics[k].y = extent[k].y0;
        graphics[k].w = extent[k].x1 - extent[k].x0 + 1;
        graphics[k].h = extent[k].y1 - extent[k].y0 + 1;
    }
    // The strongest first, of those shown for most of the time the most shown one is: a
    // tag shown for half the programme comes after the station's logo, however strong.
    // Pixels of dropped parts lose their opacity.
    float most_shown = 0;
    for (const graphic_box& b : graphics)
        most_shown = std::max(most_shown, b.shown);
    auto steady = [&](size_t k) { return graphics[k].shown >= steady_share * most_shown; };
    std::vector<size_t> order(graphics.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (steady(a) != steady(b)) return steady(a);
        return graphics[a].strength > graphics[b].strength;
    });
    std::vector<int> rank(graphics.size());
    m.graphics.clear();
    for (size_t r = 0; r < order.size(); ++r) {
        rank[order[r]] = int(r);
        m.graphics.push_back(graphics[order[r]]);
    }
    m.graphic.assign(g.size(), 0);
    for (size_t i = 0; i < g.size(); ++i) {
        const size_t id = size_t(label[i]);
        if (id && kept_id[id] >= 0)
            m.graphic[i] = uint8_t(std::min(255, rank[size_t(group[size_t(kept_id[id])])] + 1));
        else if (m.alpha[i] <= 0.04f || id)
            m.alpha[i] = 0.0f;
    }
    m.found = !m.graphics.empty();
    const graphic_box main = m.found ? m.graphics.front() : graphic_box{};
    m.box_x = main.x;
    m.box_y = main.y;
    m.box_w = main.w;
    m.box_h = main.h;
    m.strength = main.strength;
}

frame_logo logo_in_frame(const logo_model& m, int corner, int x, int y, int width, int height,
                         int shift_x, int shift_y) {
    frame_logo f;
    f.width = width;
    f.height = height;
    f.shift_x = shift_x;
    f.shift_y = shift_y;
    f.corner = corner;
    const int cw = -(-width >> shift_x), ch = -(-height >> shift_y);
    f.alpha.assign(size_t(width) * height, 0.0f);
    f.colour.assign(f.alpha.size(), 0.0f);
    f.graphic.assign(f.alpha.size(), 0);
    f.alpha_c.assign(size_t(cw) * ch, 0.0f);
    f.colour_cb.assign(f.alpha_c.size(), 128.0f);
    f.colour_cr.assign(f.alpha_c.size(), 128.0f);
    for (int v = 0; v < m.height; ++v)
        for (int u = 0; u < m.width; ++u) {
            if (x + u < 0 || y + v < 0 || x + u >= width || y + v >= height) continue;
            const size_t i = size_t(v) * m.width + u, j = size_t(y + v) * width + (x + u);
            f.alpha[j] = m.alpha[i];
            f.colour[j] = m.colour[i];
            if (!m.graphic.empty()) f.graphic[j] = m.graphic[i];
        }
    for (int v = 0; v < m.chroma_height && !m.alpha_c.empty(); ++v)
        for (int u = 0; u < m.chroma_width; ++u) {
            const int cx = (x >> shift_x) + u, cy = (y >> shift_y) + v;
            if (cx < 0 || cy < 0 || cx >= cw || cy >= ch) continue;
            const size_t i = size_t(v) * m.chroma_width + u, j = size_t(cy) * cw + cx;
            f.alpha_c[j] = m.alpha_c[i];
            f.colour_cb[j] = m.colour_cb[i];
            f.colour_cr[j] = m.colour_cr[i];
        }
    for (graphic_box b : m.graphics) {
        b.x += x;
        b.y += y;
        f.graphics.push_back(b);
    }
    f.box_x = x + m.box_x;
    f.box_y = y + m.box_y;
    f.box_w = m.box_w;
    f.box_h = m.box_h;
    return f;
}

void add_logo(frame_logo& logo, const frame_logo& other) {
    const uint8_t first = uint8_t(logo.graphics.size());
    for (size_t i = 0; i < logo.alpha.size() && i < other.alpha.size(); ++i)
        if (other.alpha[i] > 0) {
            logo.alpha[i] = other.alpha[i];
            logo.colour[i] = other.colour[i];
            if (other.graphic[i]) logo.graphic[i] = uint8_t(std::min(255, first + other.graphic[i]));
        }
    for (size_t i = 0; i < logo.alpha_c.size() && i < other.alpha_c.size(); ++i)
        if (other.alpha_c[i] > 0) {
            logo.alpha_c[i] = other.alpha_c[i];
            logo.colour_cb[i] = other.colour_cb[i];
            logo.colour_cr[i] = other.colour_cr[i];
        }
    logo.graphics.insert(logo.graphics.end(), other.graphics.begin(), other.graphics.end());
}

int strongest_corner(const logo_model models[4]) {
    int best = -1;
    for (int c = 0; c < 4; ++c)
        if (models[c].found && (best < 0 || models[c].strength > models[best].strength)) best = c;
    return best;
}
