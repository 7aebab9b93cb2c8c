// The logo model from many samples of a corner region.
//
// Under a translucent logo every sample reads O = a + b * B, with b = 1 - alpha and
// a = alpha * colour constant and B the picture. Over many samples the picture's temporal
// mean and spread vary smoothly across the region, so inside the logo they are taken from
// around it (a membrane fill), and then b = spread(O) / spread(B) and a = mean(O) - b *
// mean(B). Matching the spreads, rather than regressing each pixel on a neighbour, is not
// pulled towards zero by the picture's own detail (a neighbour is never quite the pixel).
// The colour of a logo varies little, so it is smoothed with a median over the logo; the
// opacity is smoothed with a filter guided by the logo's contrast, which keeps its edges.
#include "logo/logo_model.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "logo/box_mean.h"

namespace {

using field = std::vector<float>;

struct grid {
    int w, h;
    size_t at(int x, int y) const { return size_t(y) * w + x; }
    size_t size() const { return size_t(w) * h; }
};

// Temporal mean and standard deviation of every pixel over the samples taken.
void moments(const plane_samples& p, const std::vector<uint8_t>& take, field& mean, field& spread) {
    const size_t n = size_t(p.width) * p.height;
    std::vector<double> sum(n, 0.0), squares(n, 0.0);
    int count = 0;
    for (int s = 0; s < p.count(); ++s) {
        if (!take[s]) continue;
        ++count;
        const uint8_t* v = p.sample(s);
        for (size_t i = 0; i < n; ++i) {
            sum[i] += v[i];
            squares[i] += double(v[i]) * v[i];
        }
    }
    mean.assign(n, 0.0f);
    spread.assign(n, 0.0f);
    if (count == 0) return;
    for (size_t i = 0; i < n; ++i) {
        const double m = sum[i] / count;
        mean[i] = float(m);
        spread[i] = float(std::sqrt(std::max(0.0, squares[i] / count - m * m)));
    }
}

// A percentile (`rank` 0..1) of a (2r+1)^2 window, read on every third pixel of the window
// that belongs to the picture, on a grid of every fourth pixel and linearly between: the
// smooth field that a logo stands out of.
field median_field(const field& f, const std::vector<uint8_t>& picture, grid g, int r,
                   double rank) {
    constexpr int step = 4;
    const int gw = (g.w + step - 1) / step + 1, gh = (g.h + step - 1) / step + 1;
    std::vector<float> coarse(size_t(gw) * gh), window;
    for (int j = 0; j < gh; ++j)
        for (int i = 0; i < gw; ++i) {
            const int x = std::min(i * step, g.w - 1), y = std::min(j * step, g.h - 1);
            window.clear();
            for (int v = std::max(0, y - r); v <= std::min(g.h - 1, y + r); v += 3)
                for (int u = std::max(0, x - r); u <= std::min(g.w - 1, x + r); u += 3)
                    if (picture[g.at(u, v)]) window.push_back(f[g.at(u, v)]);
            if (window.empty()) window.push_back(0.0f);
            const size_t k = size_t(rank * double(window.size() - 1) + 0.5);
            std::nth_element(window.begin(), window.begin() + k, window.end());
            coarse[size_t(j) * gw + i] = window[k];
        }
    field out(g.size());
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const int i = x / step, j = y / step;
            const float fx = float(x % step) / step, fy = float(y % step) / step;
            const float* c = &coarse[size_t(j) * gw + i];
            out[g.at(x, y)] = (c[0] * (1 - fx) + c[1] * fx) * (1 - fy) +
                              (c[gw] * (1 - fx) + c[gw + 1] * fx) * fy;
        }
    return out;
}

// Connected parts (4-neighbours) of `on`: a label per pixel (0 off, parts from 1) and the
// size of each part.
std::vector<int> parts(const std::vector<uint8_t>& on, grid g, std::vector<int>& sizes) {
    std::vector<int> label(g.size(), 0);
    sizes.assign(1, 0);
    std::deque<size_t> queue;
    for (size_t start = 0; start < g.size(); ++start) {
        if (!on[start] || label[start]) continue;
        const int id = int(sizes.size());
        sizes.push_back(0);
        label[start] = id;
        queue.push_back(start);
        while (!queue.empty()) {
            const size_t i = queue.front();
            queue.pop_front();
            ++sizes[id];
            const int x = int(i % g.w), y = int(i / g.w);
            const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
            for (int k = 0; k < 4; ++k) {
                if (nx[k] < 0 || ny[k] < 0 || nx[k] >= g.w || ny[k] >= g.h) continue;
                const size_t j = g.at(nx[k], ny[k]);
                if (on[j] && !label[j]) {
                    label[j] = id;
                    queue.push_back(j);
                }
            }
        }
    }
    return label;
}

std::vector<uint8_t> dilate(std::vector<uint8_t> on, grid g, int steps) {
    for (int s = 0; s < steps; ++s) {
        std::vector<uint8_t> next = on;
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x)
                if (on[g.at(x, y)]) {
                    if (x > 0) next[g.at(x - 1, y)] = 1;
                    if (x + 1 < g.w) next[g.at(x + 1, y)] = 1;
                    if (y > 0) next[g.at(x, y - 1)] = 1;
                    if (y + 1 < g.h) next[g.at(x, y + 1)] = 1;
                }
        on.swap(next);
    }
    return on;
}

// `f` inside `hole` replaced by the membrane (harmonic) surface spanned by the values
// around the hole: the discrete Laplace equation, solved by conjugate gradients. Pixels of
// the region's border, and next to pixels outside `picture` (letterbox bars), have fewer
// neighbours (no flux across the border).
field membrane_fill(const field& f, const std::vector<uint8_t>& hole, grid g,
                    const std::vector<uint8_t>& picture) {
    std::vector<int> index(g.size(), -1);
    std::vector<size_t> pixel;
    for (size_t i = 0; i < g.size(); ++i)
        if (hole[i]) {
            index[i] = int(pixel.size());
            pixel.push_back(i);
        }
    const size_t n = pixel.size();
    field out = f;
    if (n == 0) return out;
    std::vector<double> diag(n, 0), rhs(n, 0);
    std::vector<int> nb(4 * n, -1);
    for (size_t k = 0; k < n; ++k) {
        const int x = int(pixel[k] % g.w), y = int(pixel[k] / g.w);
        const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int d = 0; d < 4; ++d) {
            if (nx[d] < 0 || ny[d] < 0 || nx[d] >= g.w || ny[d] >= g.h) continue;
            const size_t j = g.at(nx[d], ny[d]);
            if (!picture[j]) continue; // a bar: no picture to continue
            diag[k] += 1;
            if (index[j] >= 0)
                nb[4 * k + d] = index[j];
            else
                rhs[k] += f[j];
        }
    }
    auto apply = [&](const std::vector<double>& v, std::vector<double>& r) {
        for (size_t k = 0; k < n; ++k) {
            double s = diag[k] * v[k];
            for (int d = 0; d < 4; ++d)
                if (nb[4 * k + d] >= 0) s -= v[size_t(nb[4 * k + d])];
            r[k] = s;
        }
    };
    std::vector<double> x(n), r(n), p(n), q(n);
    for (size_t k = 0; k < n; ++k)
        x[k] = f[pixel[k]];
    apply(x, q);
    double rr = 0, bb = 0;
    for (size_t k = 0; k < n; ++k) {
        r[k] = rhs[k] - q[k];
        p[k] = r[k];
        rr += r[k] * r[k];
        bb += rhs[k] * rhs[k];
    }
    for (int it = 0; it < 4000 && rr > 1e-12 * std::max(bb, 1.0); ++it) {
        apply(p, q);
        double pq = 0;
        for (size_t k = 0; k < n; ++k)
            pq += p[k] * q[k];
        if (pq <= 0) break; // a part of the hole with no value around it
        const double step = rr / pq;
        double next = 0;
        for (size_t k = 0; k < n; ++k) {
            x[k] += step * p[k];
            r[k] -= step * q[k];
            next += r[k] * r[k];
        }
        for (size_t k = 0; k < n; ++k)
            p[k] = r[k] + next / rr * p[k];
        rr = next;
    }
    for (size_t k = 0; k < n; ++k)
        out[pixel[k]] = float(x[k]);
    return out;
}

field box_mean(const field& f, grid g, int r) {
    return ::box_mean(f, g.w, g.h, r);
}

// The guided filter: `p` smoothed where the guide is flat, its steps kept where the guide
// has them (the logo's edges).
field guided(const field& guide, const field& p, grid g, int r, float eps) {
    field ip(g.size()), ii(g.size());
    for (size_t i = 0; i < g.size(); ++i) {
        ip[i] = guide[i] * p[i];
        ii[i] = guide[i] * guide[i];
    }
    const field mi = box_mean(guide, g, r), mp = box_mean(p, g, r), mip = box_mean(ip, g, r),
                mii = box_mean(ii, g, r);
    field a(g.size()), b(g.size());
    for (size_t i = 0; i < g.size(); ++i) {
        a[i] = (mip[i] - mi[i] * mp[i]) / (mii[i] - mi[i] * mi[i] + eps);
        b[i] = mp[i] - a[i] * mi[i];
    }
    const field ma = box_mean(a, g, r), mb = box_mean(b, g, r);
    field out(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        out[i] = ma[i] * guide[i] + mb[i];
    return out;
}

// Per pixel of `where`: the median of `value` over the pixels of `valid` within r; pixels
// with none take the nearest such median.
field masked_median(const field& value, const std::vector<uint8_t>& valid,
                    const std::vector<uint8_t>& where, grid g, int r) {
    field out(g.size(), 0.0f);
    std::vector<uint8_t> has(g.size(), 0);
    std::vector<float> window;
    std::deque<size_t> queue;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            if (!where[g.at(x, y)]) continue;
            window.clear();
            for (int v = std::max(0, y - r); v <= std::min(g.h - 1, y + r); ++v)
                for (int u = std::max(0, x - r); u <= std::min(g.w - 1, x + r); ++u)
                    if (valid[g.at(u, v)]) window.push_back(value[g.at(u, v)]);
            if (window.empty()) continue;
            std::nth_element(window.begin(), window.begin() + window.size() / 2, window.end());
            out[g.at(x, y)] = window[window.size() / 2];
            has[g.at(x, y)] = 1;
            queue.push_back(g.at(x, y));
        }
    while (!queue.empty()) { // the rest from the nearest pixel that has one
        const size_t i = queue.front();
        queue.pop_front();
        const int x = int(i % g.w), y = int(i / g.w);
        const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k) {
            if (nx[k] < 0 || ny[k] < 0 || nx[k] >= g.w || ny[k] >= g.h) continue;
            const size_t j = g.at(nx[k], ny[k]);
            if (where[j] && !has[j]) {
                has[j] = 1;
                out[j] = out[i];
                queue.push_back(j);
            }
        }
    }
    return out;
}

// Tuning, measured on recordings with known logos (scripts/make-recording): a pixel is a
// logo candidate when its spread falls 7 % below the 70th percentile of the spreads within
// 31 pixels (a percentile above the median, so that a solid logo filling much of the
// window does not become the reference); parts smaller than 30 pixels are noise; the
// candidates grow by 3 pixels so that the fill starts outside the logo's soft edge.
constexpr int median_radius = 31;
constexpr float spread_dip = 0.93f;
constexpr double spread_rank = 0.7;
constexpr int least_part = 30;
constexpr int grow = 3;
constexpr float colour_alpha = 0.15f; // opacities below it give no colour reading
constexpr float own_colour_alpha = 0.6f; // from it on a pixel's colour is its own reading
constexpr float opaque_b = 0.1f;         // 1 - opacity below it: a clearly opaque pixel
constexpr float presence_score = 0.15f;
// The median presence score a logo reaches: 0.48 to 0.97 for the logos of scripts/bench-model,
// 0.001 for the stretches of programme that dip in spread.
constexpr float consistent_score = 0.25f;

// The support (pixels that may be logo) of a region: where the spread dips below the
// smooth spread around.
std::vector<uint8_t> logo_support(const field& spread, const std::vector<uint8_t>& picture,
                                  grid g) {
    const field ms = median_field(spread, picture, g, median_radius, spread_rank);
    std::vector<uint8_t> raw(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        raw[i] = picture[i] && spread[i] < spread_dip * std::max(ms[i], 1e-3f);
    std::vector<int> sizes;
    const std::vector<int> label = parts(raw, g, sizes);
    for (size_t i = 0; i < g.size(); ++i)
        raw[i] = label[i] && sizes[size_t(label[i])] >= least_part;
    return dilate(raw, g, grow);
}

// The high-pass of a picture: itself less its 7 x 7 mean. The logo's outline lives there.
field high_pass(const field& f, grid g) {
    const field low = box_mean(f, g, 3);
    field out(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        out[i] = f[i] - low[i];
    return out;
}

// How clearly the logo shows in each sample: the correlation over the support of the
// sample's high-pass with the high-pass of the mean picture, which holds the logo's
// outline. Only the support's bounding box (and the filter's reach around it) is read.
std::vector<float> presence(const plane_samples& p, const field& mean,
                            const std::vector<uint8_t>& support, grid g) {
    std::vector<float> out(size_t(p.count()), 0.0f);
    int x0 = g.w, y0 = g.h, x1 = -1, y1 = -1;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x)
            if (support[g.at(x, y)]) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) return out;
    x0 = std::max(0, x0 - 3);
    y0 = std::max(0, y0 - 3);
    x1 = std::min(g.w - 1, x1 + 3);
    y1 = std::min(g.h - 1, y1 + 3);
    const grid b{x1 - x0 + 1, y1 - y0 + 1};
    field part(b.size());
    std::vector<size_t> in;
    for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x) {
            part[b.at(x, y)] = mean[g.at(x0 + x, y0 + y)];
            if (support[g.at(x0 + x, y0 + y)]) in.push_back(b.at(x, y));
        }
    const field t = high_pass(part, b);
    double tm = 0;
    for (size_t i : in)
        tm += t[i];
    tm /= double(in.size());
    for (int s = 0; s < p.count(); ++s) {
        const uint8_t* v = p.sample(s);
        for (int y = 0; y < b.h; ++y)
            for (int x = 0; x < b.w; ++x)
                part[b.at(x, y)] = v[g.at(x0 + x, y0 + y)];
        const field h = high_pass(part, b);
        double hm = 0;
        for (size_t i : in)
            hm += h[i];
        hm /= double(in.size());
        double ht = 0, hh = 0, tt = 0;
        for (size_t i : in) {
            ht += (h[i] - hm) * (t[i] - tm);
            hh += (h[i] - hm) * (h[i] - hm);
            tt += (t[i] - tm) * (t[i] - tm);
        }
        out[size_t(s)] = float(ht / std::sqrt(hh * tt + 1e-9));
    }
    return out;
}

// Opacity and colour of one plane where the support is known, from the samples taken.
// `b` (1 - opacity) is given for chroma (from luma) and estimated for luma.
void plane_model(const plane_samples& p, const std::vector<uint8_t>& take,
                 const std::vector<uint8_t>& support, const std::vector<uint8_t>& picture,
                 grid g, field& b, field& colour, bool estimate_b) {
    field mean, spread;
    moments(p, take, mean, spread);
    const field mb = membrane_fill(mean, support, g, picture);
    if (estimate_b) {
        const field sb = membrane_fill(spread, support, g, picture);
        b.assign(g.size(), 1.0f);
        field guide(g.size());
        float top = 1.0f;
        for (size_t i = 0; i < g.size(); ++i) {
            if (support[i]) b[i] = std::min(1.0f, spread[i] / std::max(sb[i], 1e-3f));
            guide[i] = mean[i] - mb[i];
            top = std::max(top, std::fabs(guide[i]));
        }
        for (float& v : guide)
            v /= top;
        const field raw = b;
        b = guided(guide, b, g, 2, 1e-3f);
        // The smoothing would thin an opaque stroke of two or three pixels into a
        // translucent one: where a pixel alone is clearly opaque, it stays so.
        for (size_t i = 0; i < g.size(); ++i)
            b[i] = support[i] ? std::clamp(raw[i] < opaque_b ? std::min(b[i], raw[i]) : b[i],
                                           0.0f, 1.0f)
                              : 1.0f;
    }
    field reading(g.size(), 0.0f);
    std::vector<uint8_t> valid(g.size(), 0);
    for (size_t i = 0; i < g.size(); ++i) {
        const float alpha = 1.0f - b[i];
        if (support[i] && alpha > colour_alpha) {
            reading[i] = (mean[i] - b[i] * mb[i]) / alpha;
            valid[i] = 1;
        }
    }
    colour = masked_median(reading, valid, support, g, 3);
    // The median steadies faint pixels' colour; an opaque logo's own pattern (a black
    // outline around white letters) is read where it is strong, pixel by pixel.
    for (size_t i = 0; i < g.size(); ++i)
        if (valid[i] && 1.0f - b[i] >= own_colour_alpha) colour[i] = reading[i];
}

} // namespace

logo_model estimate_logo(const corner_samples& s, int corner, int black) {
    logo_model m;
    const grid g{s.luma.width, s.luma.height};
    m.width = g.w;
    m.height = g.h;
    const int n = s.luma.count();
    if (g.w < 8 || g.h < 8 || n < 8) return m;

    // A first reading with every sample, then again with the samples that show the logo.
    std::vector<uint8_t> take(size_t(n), 1);
    std::vector<uint8_t> support, picture(g.size(), 1);
    std::vector<float> scores;
    for (int round = 0; round < 3; ++round) {
        field mean, spread;
        moments(s.luma, take, mean, spread);
        // Letterbox bars (black and still in every sample, over much of a row or a column)
        // are no picture: neither logo nor the picture around a logo. A logo over a bar is
        // not black, and stays; so does a black part of a logo.
        if (round == 0) {
            std::vector<uint8_t> still(g.size());
            std::vector<int> in_row(size_t(g.h), 0), in_column(size_t(g.w), 0);
            for (int y = 0; y < g.h; ++y)
                for (int x = 0; x < g.w; ++x) {
                    const size_t i = g.at(x, y);
                    still[i] = mean[i] <= black + 0.5f && spread[i] <= 8.0f;
                    in_row[size_t(y)] += still[i];
                    in_column[size_t(x)] += still[i];
                }
            for (int y = 0; y < g.h; ++y)
                for (int x = 0; x < g.w; ++x)
                    picture[g.at(x, y)] = !(still[g.at(x, y)] && (in_row[size_t(y)] * 5 >= g.w * 2 ||
                                                                  in_column[size_t(x)] * 5 >= g.h * 2));
        }
        support = logo_support(spread, picture, g);
        scores = presence(s.luma, mean, support, g);
        std::vector<uint8_t> shown(scores.size());
        for (size_t k = 0; k < scores.size(); ++k)
            shown[k] = scores[k] > presence_score;
        if (round == 2 || shown == take) break;
        if (std::count(shown.begin(), shown.end(), 1) < 8) break;
        take = shown;
    }
    m.present = take;
    size_t supported = size_t(std::count(support.begin(), support.end(), 1));
    // A support over most of the region is no logo but a region without motion.
    if (supported == 0 || supported > g.size() * 6 / 10) return m;

    field b;
    plane_model(s.luma, take, support, picture, g, b, m.colour, true);
    // Opacities in steps of 1/255, as a saved model holds them: the model read back from its
    // picture finds the same logo.
    m.alpha.resize(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        m.alpha[i] = float(std::lround(255.0f * (1.0f - b[i])) / 255.0);
    {
        std::vector<uint8_t> on(g.size());
        for (size_t i = 0; i < g.size(); ++i)
            on[i] = m.alpha[i] > 0.0f;
        std::vector<int> sizes;
        const std::vector<int> label = parts(on, g, sizes);
        // Touching an inner edge and running along most of it, or across the whole region: a
        // stretch of the picture, such as the edge of a dark sky (a logo that only touches
        // the edge of a small corner band stays).
        const size_t n_parts = sizes.size();
        std::vector<int> x0(n_parts, g.w), x1(n_parts, -1), y0(n_parts, g.h), y1(n_parts, -1);
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x) {
                const size_t id = size_t(label[g.at(x, y)]);
                x0[id] = std::min(x0[id], x);
                x1[id] = std::max(x1[id], x);
                y0[id] = std::min(y0[id], y);
                y1[id] = std::max(y1[id], y);
            }
        const int inner_x = (corner & 1) ? 0 : g.w - 1, inner_y = (corner & 2) ? 0 : g.h - 1;
        std::vector<uint8_t> inner(n_parts, 0);
        for (size_t id = 1; id < n_parts; ++id) {
            const bool on_x = x0[id] == inner_x || x1[id] == inner_x;
            const bool on_y = y0[id] == inner_y || y1[id] == inner_y;
            inner[id] = (on_x && (y1[id] - y0[id] + 1) * 10 > g.h * 6) ||
                        (on_y && (x1[id] - x0[id] + 1) * 10 > g.w * 6) ||
                        (x0[id] == 0 && x1[id] == g.w - 1) || (y0[id] == 0 && y1[id] == g.h - 1);
        }
        for (size_t i = 0; i < g.size(); ++i)
            if (label[i] && inner[size_t(label[i])]) m.alpha[i] = 0.0f;
    }

    find_logo(m);
    // A logo shows in most samples, its outline in the picture's detail; a dip in the
    // spread that no sample's detail follows (a still or slow stretch of the programme)
    // is none.
    if (m.found && !scores.empty()) {
        std::vector<float> sorted = scores;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        if (sorted[sorted.size() / 2] < consistent_score) m.found = false;
    }

    // Chroma: the opacity of a chroma sample is the mean of the luma opacities it covers.
    const grid c{s.cb.width, s.cb.height};
    m.chroma_width = c.w;
    m.chroma_height = c.h;
    if (c.w == 0 || c.h == 0 || s.cb.count() != n || s.cr.count() != n) return m;
    field bc(c.size(), 1.0f);
    std::vector<uint8_t> csupport(c.size(), 0), cpicture(c.size(), 0);
    m.alpha_c.assign(c.size(), 0.0f);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            double a = 0;
            int k = 0;
            for (int v = y << s.shift_y; v < std::min(g.h, (y + 1) << s.shift_y); ++v)
                for (int u = x << s.shift_x; u < std::min(g.w, (x + 1) << s.shift_x); ++u) {
                    a += m.alpha[g.at(u, v)];
                    csupport[c.at(x, y)] |= support[g.at(u, v)];
                    cpicture[c.at(x, y)] |= picture[g.at(u, v)];
                    ++k;
                }
            m.alpha_c[c.at(x, y)] = k ? float(a / k) : 0.0f;
            bc[c.at(x, y)] = 1.0f - m.alpha_c[c.at(x, y)];
        }
    plane_model(s.cb, take, csupport, cpicture, c, bc, m.colour_cb, false);
    plane_model(s.cr, take, csupport, cpicture, c, bc, m.colour_cr, false);
    return m;
}

void find_logo(logo_model& m) {
    const grid g{m.width, m.height};
    std::vector<uint8_t> on(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        on[i] = m.alpha[i] > 0.04f;
    std::vector<int> sizes;
    const std::vector<int> label = parts(on, g, sizes);
    std::vector<double> sum(sizes.size(), 0.0);
    for (size_t i = 0; i < g.size(); ++i)
        sum[size_t(label[i])] += m.alpha[i];
    int x0 = g.w, y0 = g.h, x1 = -1, y1 = -1;
    m.strength = 0;
    for (size_t i = 0; i < g.size(); ++i) {
        const size_t id = size_t(label[i]);
        if (!id || sizes[id] < least_part || sum[id] < 0.08 * sizes[id]) continue;
        const int x = int(i % g.w), y = int(i / g.w);
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
        m.strength += m.alpha[i];
    }
    m.found = x1 >= 0;
    m.box_x = m.found ? x0 : 0;
    m.box_y = m.found ? y0 : 0;
    m.box_w = m.found ? x1 - x0 + 1 : 0;
    m.box_h = m.found ? y1 - y0 + 1 : 0;
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
    f.alpha_c.assign(size_t(cw) * ch, 0.0f);
    f.colour_cb.assign(f.alpha_c.size(), 128.0f);
    f.colour_cr.assign(f.alpha_c.size(), 128.0f);
    for (int v = 0; v < m.height; ++v)
        for (int u = 0; u < m.width; ++u) {
            if (x + u < 0 || y + v < 0 || x + u >= width || y + v >= height) continue;
            const size_t i = size_t(v) * m.width + u, j = size_t(y + v) * width + (x + u);
            f.alpha[j] = m.alpha[i];
            f.colour[j] = m.colour[i];
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
    f.box_x = x + m.box_x;
    f.box_y = y + m.box_y;
    f.box_w = m.box_w;
    f.box_h = m.box_h;
    return f;
}

int strongest_corner(const logo_model models[4]) {
    int best = -1;
    for (int c = 0; c < 4; ++c)
        if (models[c].found && (best < 0 || models[c].strength > models[best].strength)) best = c;
    return best;
}
