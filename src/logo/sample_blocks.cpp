// Blocks of samples in time and their statistics.
#include "logo/sample_blocks.h"

#include <algorithm>
#include <cmath>

sample_blocks split_blocks(int samples) {
    sample_blocks b;
    // Six samples or more a block, four to eight blocks: a still shot of a tenth to a fifth of
    // the recording then fills one or two of them, a logo shows in all.
    const int blocks = samples < 12 ? 1 : std::clamp(samples / 6, 4, 8);
    for (int k = 0; k <= blocks; ++k)
        b.first.push_back(int(int64_t(k) * samples / std::max(blocks, 1)));
    return b;
}

void weighted_moments(const plane_samples& p, const std::vector<float>& weight, plane_rect r,
                      field& mean, field& spread) {
    const size_t n = size_t(r.w) * size_t(r.h);
    std::vector<double> sum(n, 0.0), squares(n, 0.0);
    double total = 0;
    for (int s = 0; s < p.count(); ++s) {
        const double w = weight[size_t(s)];
        if (w <= 0) continue;
        total += w;
        const uint8_t* v = p.sample(s);
        for (int y = 0; y < r.h; ++y) {
            const uint8_t* row = v + size_t(r.y + y) * size_t(p.width) + size_t(r.x);
            double* su = &sum[size_t(y) * size_t(r.w)];
            double* sq = &squares[size_t(y) * size_t(r.w)];
            for (int x = 0; x < r.w; ++x) {
                su[x] += w * row[x];
                sq[x] += w * double(row[x]) * row[x];
            }
        }
    }
    mean.assign(n, 0.0f);
    spread.assign(n, 0.0f);
    if (total <= 0) return;
    for (size_t i = 0; i < n; ++i) {
        const double mu = sum[i] / total;
        mean[i] = float(mu);
        spread[i] = float(std::sqrt(std::max(0.0, squares[i] / total - mu * mu)));
    }
}

plane_samples shrink_samples(const plane_samples& p, int factor) {
    if (factor <= 1) return p;
    plane_samples out;
    out.width = (p.width + factor - 1) / factor;
    out.height = (p.height + factor - 1) / factor;
    const int n = p.count();
    out.values.assign(size_t(n) * size_t(out.width) * size_t(out.height), 0);
    std::vector<int> sum(size_t(out.width)), count(size_t(out.width));
    for (int s = 0; s < n; ++s) {
        const uint8_t* v = p.sample(s);
        uint8_t* o = out.values.data() + size_t(s) * size_t(out.width) * size_t(out.height);
        for (int y = 0; y < out.height; ++y) {
            std::fill(sum.begin(), sum.end(), 0);
            std::fill(count.begin(), count.end(), 0);
            for (int v0 = y * factor; v0 < std::min(p.height, (y + 1) * factor); ++v0) {
                const uint8_t* row = v + size_t(v0) * size_t(p.width);
                for (int x = 0; x < p.width; ++x) {
                    sum[size_t(x / factor)] += row[x];
                    ++count[size_t(x / factor)];
                }
            }
            for (int x = 0; x < out.width; ++x)
                o[size_t(y) * size_t(out.width) + size_t(x)] =
                    uint8_t((sum[size_t(x)] + count[size_t(x)] / 2) / count[size_t(x)]);
        }
    }
    return out;
}
