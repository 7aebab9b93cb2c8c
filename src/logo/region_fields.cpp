// Fields over a corner region: the logo model's building blocks.
#include "logo/region_fields.h"

#include <algorithm>
#include <cmath>
#include <deque>


field percentile_field(const field& f, const flags& use, grid g, int r, double rank) {
    constexpr int step = 4;
    const int gw = (g.w + step - 1) / step + 1, gh = (g.h + step - 1) / step + 1;
    std::vector<float> coarse(size_t(gw) * gh), window;
    for (int j = 0; j < gh; ++j)
        for (int i = 0; i < gw; ++i) {
            const int x = std::min(i * step, g.w - 1), y = std::min(j * step, g.h - 1);
            window.clear();
            for (int v = std::max(0, y - r); v <= std::min(g.h - 1, y + r); v += 3)
                for (int u = std::max(0, x - r); u <= std::min(g.w - 1, x + r); u += 3)
                    if (use[g.at(u, v)]) window.push_back(f[g.at(u, v)]);
            if (window.empty()) window.push_back(0.0f);
            const size_t k = size_t(rank * double(window.size() - 1) + 0.5);
            std::nth_element(window.begin(), window.begin() + long(k), window.end());
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

std::vector<int> label_parts(const flags& on, grid g, std::vector<int>& sizes) {
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
            ++sizes[size_t(id)];
            const int x = int(i % size_t(g.w)), y = int(i / size_t(g.w));
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

flags fill_holes(flags on, grid g) {
    flags off(g.size());
    for (size_t i = 0; i < g.size(); ++i)
        off[i] = !on[i];
    std::vector<int> sizes;
    const std::vector<int> label = label_parts(off, g, sizes);
    std::vector<uint8_t> outer(sizes.size(), 0);
    for (int x = 0; x < g.w; ++x) {
        outer[size_t(label[g.at(x, 0)])] = 1;
        outer[size_t(label[g.at(x, g.h - 1)])] = 1;
    }
    for (int y = 0; y < g.h; ++y) {
        outer[size_t(label[g.at(0, y)])] = 1;
        outer[size_t(label[g.at(g.w - 1, y)])] = 1;
    }
    for (size_t i = 0; i < g.size(); ++i)
        if (label[i] && !outer[size_t(label[i])]) on[i] = 1;
    return on;
}

flags grow(flags on, grid g, int steps) {
    for (int s = 0; s < steps; ++s) {
        flags next = on;
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

namespace {

// Conjugate gradients on a graph Laplacian: diag[k] x_k - sum of x over nb[4k..4k+3] = rhs,
// from the start x, at most `iterations` steps or until the residual is 1e-6 of the rhs.
void solve_laplacian(const std::vector<double>& diag, const std::vector<int>& nb,
                     const std::vector<double>& rhs, std::vector<double>& x, int iterations) {
    const size_t n = diag.size();
    auto apply = [&](const std::vector<double>& v, std::vector<double>& r) {
        for (size_t k = 0; k < n; ++k) {
            double s = diag[k] * v[k];
            for (int d = 0; d < 4; ++d)
                if (nb[4 * k + size_t(d)] >= 0) s -= v[size_t(nb[4 * k + size_t(d)])];
            r[k] = s;
        }
    };
    std::vector<double> r(n), p(n), q(n);
    apply(x, q);
    double rr = 0, bb = 0;
    for (size_t k = 0; k < n; ++k) {
        r[k] = rhs[k] - q[k];
        p[k] = r[k];
        rr += r[k] * r[k];
        bb += rhs[k] * rhs[k];
    }
    for (int it = 0; it < iterations && rr > 1e-12 * std::max(bb, 1.0); ++it) {
        apply(p, q);
        double pq = 0;
        for (size_t k = 0; k < n; ++k)
            pq += p[k] * q[k];
        if (pq <= 0) break; // a part with no value around it
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
}

} // namespace

field membrane_fill(const field& f, const flags& hole, grid g, const flags& picture) {
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
    std::vector<double> diag(n, 0), rhs(n, 0), x(n);
    std::vector<int> nb(4 * n, -1);
    for (size_t k = 0; k < n; ++k) {
        const int x0 = int(pixel[k] % size_t(g.w)), y0 = int(pixel[k] / size_t(g.w));
        const int nx[4] = {x0 - 1, x0 + 1, x0, x0}, ny[4] = {y0, y0, y0 - 1, y0 + 1};
        for (int d = 0; d < 4; ++d) {
            if (nx[d] < 0 || ny[d] < 0 || nx[d] >= g.w || ny[d] >= g.h) continue;
            const size_t j = g.at(nx[d], ny[d]);
            if (!picture[j]) continue; // a bar: no picture to continue
            diag[k] += 1;
            if (index[j] >= 0)
                nb[4 * k + size_t(d)] = index[j];
            else
                rhs[k] += f[j];
        }
        x[k] = f[pixel[k]];
    }
    solve_laplacian(diag, nb, rhs, x, 4000);
    for (size_t k = 0; k < n; ++k)
        out[pixel[k]] = float(x[k]);
    return out;
}

field masked_median(const field& value, const flags& valid, const flags& where, grid g, int r) {
    field out(g.size(), 0.0f);
    flags has(g.size(), 0);
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
            std::nth_element(window.begin(), window.begin() + long(window.size() / 2), window.end());
            out[g.at(x, y)] = window[window.size() / 2];
            has[g.at(x, y)] = 1;
            queue.push_back(g.at(x, y));
        }
    while (!queue.empty()) { // the rest from the nearest pixel that has one
        const size_t i = queue.front();
        queue.pop_front();
        const int x = int(i % size_t(g.w)), y = int(i / size_t(g.w));
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

field shrink(const field& f, grid g, int factor, grid& out) {
    out = grid{(g.w + factor - 1) / factor, (g.h + factor - 1) / factor};
    field s(out.size(), 0.0f);
    std::vector<int> count(out.size(), 0);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const size_t j = out.at(x / factor, y / factor);
            s[j] += f[g.at(x, y)];
            ++count[j];
        }
    for (size_t j = 0; j < s.size(); ++j)
        s[j] /= float(count[j]);
    return s;
}

field poisson_field(const field& gx, const field& gy, grid g) {
    field w(g.size(), 0.0f);
    if (g.size() == 0) return w;
    // Coarse to fine: the reconstruction of the halved gradients, spread back, starts the
    // solve here, so that a few steps of conjugate gradients do the rest.
    if (g.w >= 32 && g.h >= 32) {
        const grid c{(g.w + 1) / 2, (g.h + 1) / 2};
        field cx(c.size(), 0.0f), cy(c.size(), 0.0f);
        auto gxa = [&](int x, int y) { return x >= 0 && x < g.w - 1 ? gx[g.at(x, y)] : 0.0f; };
        auto gya = [&](int x, int y) { return y >= 0 && y < g.h - 1 ? gy[g.at(x, y)] : 0.0f; };
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                float sx = 0, sy = 0;
                int rows = 0, cols = 0;
                for (int v = 2 * y; v < std::min(g.h, 2 * y + 2); ++v, ++rows)
                    sx += gxa(2 * x + 1, v) + 0.5f * (gxa(2 * x, v) + gxa(2 * x + 2, v));
                for (int u = 2 * x; u < std::min(g.w, 2 * x + 2); ++u, ++cols)
                    sy += gya(u, 2 * y + 1) + 0.5f * (gya(u, 2 * y) + gya(u, 2 * y + 2));
                cx[c.at(x, y)] = sx / float(std::max(rows, 1));
                cy[c.at(x, y)] = sy / float(std::max(cols, 1));
            }
        const field cw = poisson_field(cx, cy, c);
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x)
                w[g.at(x, y)] = cw[c.at(x / 2, y / 2)];
    }
    const size_t n = g.size();
    std::vector<double> diag(n, 0), rhs(n, 0), x(n);
    std::vector<int> nb(4 * n, -1);
    for (int y = 0; y < g.h; ++y)
        for (int u = 0; u < g.w; ++u) {
            const size_t k = g.at(u, y);
            x[k] = w[k];
            if (u + 1 < g.w) { // the edge to the right: -gx to this pixel, +gx to the next
                diag[k] += 1;
                diag[k + 1] += 1;
                nb[4 * k + 1] = int(k + 1);
                nb[4 * (k + 1)] = int(k);
                rhs[k] -= gx[k];
                rhs[k + 1] += gx[k];
            }
            if (y + 1 < g.h) {
                const size_t d = k + size_t(g.w);
                diag[k] += 1;
                diag[d] += 1;
                nb[4 * k + 3] = int(d);
                nb[4 * d + 2] = int(k);
                rhs[k] -= gy[k];
                rhs[d] += gy[k];
            }
        }
    solve_laplacian(diag, nb, rhs, x, g.w >= 32 && g.h >= 32 ? 30 : 2000);
    double mean = 0;
    for (double v : x)
        mean += v;
    mean /= double(n);
    for (size_t k = 0; k < n; ++k)
        w[k] = float(x[k] - mean);
    return w;
}
