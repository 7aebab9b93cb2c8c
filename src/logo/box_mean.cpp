// The box mean shared by the logo model and the restoration.
#include "logo/box_mean.h"

#include <algorithm>
#include <cstddef>

std::vector<float> box_mean(const std::vector<float>& f, int w, int h, int r) {
    // Running sums along the rows, then along the columns.
    const struct {
        int w, h;
        size_t at(int x, int y) const { return size_t(y) * w + x; }
        size_t size() const { return size_t(w) * h; }
    } g{w, h};
    std::vector<float> rows(g.size()), out(g.size());
    for (int y = 0; y < g.h; ++y) {
        const float* in = f.data() + g.at(0, y);
        double s = 0;
        for (int u = 0; u <= std::min(r, g.w - 1); ++u)
            s += in[u];
        for (int x = 0; x < g.w; ++x) {
            const int a = std::max(0, x - r), b = std::min(g.w - 1, x + r);
            rows[g.at(x, y)] = float(s / (b - a + 1));
            if (x + r + 1 < g.w) s += in[x + r + 1];
            if (x - r >= 0) s -= in[x - r];
        }
    }
    std::vector<double> column(size_t(g.w), 0.0);
    for (int v = 0; v <= std::min(r, g.h - 1); ++v)
        for (int x = 0; x < g.w; ++x)
            column[size_t(x)] += rows[g.at(x, v)];
    for (int y = 0; y < g.h; ++y) {
        const int a = std::max(0, y - r), b = std::min(g.h - 1, y + r);
        for (int x = 0; x < g.w; ++x) {
            out[g.at(x, y)] = float(column[size_t(x)] / (b - a + 1));
            if (y + r + 1 < g.h) column[size_t(x)] += rows[g.at(x, y + r + 1)];
            if (y - r >= 0) column[size_t(x)] -= rows[g.at(x, y - r)];
        }
    }
    return out;
}

