// The arithmetic of bench/restore_score.
#include "score_math.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

rect grown(rect r, int by, int width, int height) {
    const int x0 = std::max(0, r.x - by), y0 = std::max(0, r.y - by);
    const int x1 = std::min(width, r.x + r.w + by), y1 = std::min(height, r.y + r.h + by);
    return {x0, y0, x1 - x0, y1 - y0};
}

rect united(rect a, rect b) {
    if (a.w <= 0 || a.h <= 0) return b;
    if (b.w <= 0 || b.h <= 0) return a;
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return {x0, y0, x1 - x0, y1 - y0};
}

namespace {

// `region` cut to the part a plane covers, in programme coordinates.
rect covered(rect r, const plane_view& p) {
    const int x0 = std::max(r.x, p.ox), y0 = std::max(r.y, p.oy);
    const int x1 = std::min(r.x + r.w, p.ox + p.width), y1 = std::min(r.y + r.h, p.oy + p.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

int at(const plane_view& p, int x, int y) {
    return p.data[size_t(y - p.oy) * p.stride + (x - p.ox)];
}

bool in(rect r, int x, int y) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

} // namespace

error_sum squared_error(const plane_view& a, const plane_view& b, rect region, rect hole) {
    const rect r = covered(covered(region, a), b);
    error_sum e;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) {
            if (in(hole, x, y)) continue;
            const double d = at(a, x, y) - at(b, x, y);
            e.sum += d * d;
            ++e.count;
        }
    return e;
}

double psnr(const error_sum& e, int peak) {
    if (e.count == 0) return std::numeric_limits<double>::quiet_NaN();
    if (e.sum == 0) return std::numeric_limits<double>::infinity();
    return 10 * std::log10(double(peak) * peak * e.count / e.sum);
}

error_sum change_error(const plane_view& out, const plane_view& out_before, const plane_view& truth,
                       const plane_view& truth_before, rect region) {
    const rect r = covered(covered(covered(covered(region, out), out_before), truth), truth_before);
    error_sum e;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) {
            const int d = (at(out, x, y) - at(out_before, x, y)) - (at(truth, x, y) - at(truth_before, x, y));
            e.sum += std::abs(d);
            ++e.count;
        }
    return e;
}

double faded_opacity(int alpha, double strength) { return std::floor(alpha * strength + 0.5) / 255; }

uint16_t undo_blend(uint16_t observed, uint16_t logo, double opacity, int peak) {
    if (opacity <= 0 || opacity >= 0.99) return observed;
    const double v = std::round((observed - opacity * logo) / (1 - opacity));
    return uint16_t(std::clamp(v, 0.0, double(peak)));
}

void best_offset(const plane_view& whole, const plane_view& small, int step, int& ox, int& oy) {
    double best = std::numeric_limits<double>::infinity();
    ox = oy = 0;
    for (int y = 0; y + small.height <= whole.height; ++y)
        for (int x = 0; x + small.width <= whole.width; ++x) {
            double se = 0;
            for (int v = 0; v < small.height && se < best; v += step)
                for (int u = 0; u < small.width; u += step) {
                    const double d = double(whole.data[size_t(y + v) * whole.stride + x + u]) -
                                     small.data[size_t(v) * small.stride + u];
                    se += d * d;
                }
            if (se < best) {
                best = se;
                ox = x;
                oy = y;
            }
        }
}
