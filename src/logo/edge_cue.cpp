// The gradients every stretch of the recording shares, and their Poisson reconstruction.
#include "logo/edge_cue.h"

#include <algorithm>
#include <cmath>

namespace {

// The samples of block k that are taken, at most `most`, spread over the block.
std::vector<int> chosen(const sample_blocks& b, int k, const flags& take, int most) {
    std::vector<int> all;
    for (int s = b.first[size_t(k)]; s < b.first[size_t(k) + 1]; ++s)
        if (take[size_t(s)]) all.push_back(s);
    if (int(all.size()) <= most) return all;
    std::vector<int> some;
    for (int j = 0; j < most; ++j)
        some.push_back(all[size_t(j) * all.size() / size_t(most)]);
    return some;
}

// The median of n values (the mean of the middle two for even n); sorted in place by
// insertion, which for the few values of a block is quicker than a selection.
float median_of(float* v, int n) {
    for (int i = 1; i < n; ++i) {
        const float x = v[i];
        int j = i;
        for (; j > 0 && v[j - 1] > x; --j)
            v[j] = v[j - 1];
        v[j] = x;
    }
    return n % 2 ? v[n / 2] : 0.5f * (v[n / 2 - 1] + v[n / 2]);
}

} // namespace

edge_cue edge_cue_of(const plane_samples& p, const sample_blocks& b, const flags& take,
                     bool with_field) {
    constexpr int most = 7;
    edge_cue e;
    e.g = grid{p.width, p.height};
    const grid g = e.g;
    const size_t n = g.size();
    std::vector<field> block_x, block_y;
    std::vector<float> vx(n * most), vy(n * most);
    for (int k = 0; k < b.count(); ++k) {
        const std::vector<int> use = chosen(b, k, take, most);
        if (use.empty()) continue;
        const int m = int(use.size());
        for (int j = 0; j < m; ++j) {
            const uint8_t* v = p.sample(use[size_t(j)]);
            for (int y = 0; y < g.h; ++y)
                for (int x = 0; x < g.w; ++x) {
                    const size_t i = g.at(x, y);
                    vx[i * most + size_t(j)] = x + 1 < g.w ? float(v[i + 1]) - v[i] : 0.0f;
                    vy[i * most + size_t(j)] = y + 1 < g.h ? float(v[i + size_t(g.w)]) - v[i] : 0.0f;
                }
        }
        field mx(n), my(n);
        for (size_t i = 0; i < n; ++i) {
            mx[i] = median_of(&vx[i * most], m);
            my[i] = median_of(&vy[i * most], m);
        }
        block_x.push_back(std::move(mx));
        block_y.push_back(std::move(my));
    }
    e.gx.assign(n, 0.0f);
    e.gy.assign(n, 0.0f);
    const int blocks = int(block_x.size());
    if (blocks == 0) {
        if (with_field) e.w.assign(n, 0.0f);
        return e;
    }
    std::vector<float> a(static_cast<size_t>(blocks)), c(static_cast<size_t>(blocks));
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < blocks; ++k) {
            a[size_t(k)] = block_x[size_t(k)][i];
            c[size_t(k)] = block_y[size_t(k)][i];
        }
        e.gx[i] = median_of(a.data(), blocks);
        e.gy[i] = median_of(c.data(), blocks);
    }
    if (with_field) e.w = poisson_field(e.gx, e.gy, g);
    return e;
}

double correlation_sums::value() const {
    return cross / std::sqrt(sample * cue + 1e-9);
}

void add_gradient_correlation(const plane_samples& p, int s, const edge_cue& cue,
                              const std::vector<size_t>& where, correlation_sums& sums) {
    const uint8_t* v = p.sample(s);
    const grid g = cue.g;
    for (size_t i : where) {
        const int x = int(i % size_t(g.w)), y = int(i / size_t(g.w));
        const float dx = x + 1 < g.w ? float(v[i + 1]) - v[i] : 0.0f;
        const float dy = y + 1 < g.h ? float(v[i + size_t(g.w)]) - v[i] : 0.0f;
        sums.cross += double(dx) * cue.gx[i] + double(dy) * cue.gy[i];
        sums.sample += double(dx) * dx + double(dy) * dy;
        sums.cue += double(cue.gx[i]) * cue.gx[i] + double(cue.gy[i]) * cue.gy[i];
    }
}
