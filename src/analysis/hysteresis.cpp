// Non-maximum suppression and hysteresis of the Canny edge detector.
#include "analysis/hysteresis.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace {

constexpr uint8_t border = 0;      // suppression map: the one-pixel ring
constexpr uint8_t candidate = 128; // suppression and edge map: not yet decided
constexpr uint8_t not_edge = 255;  // suppression and edge map
constexpr uint8_t edge = 0;        // edge map

// Magnitudes are 0..32767; one counter per value.
constexpr int histogram_size = 32768;

// Truncation toward zero that stays defined for any double: NaN gives 0 and values
// beyond the int range are held at its limits.
int truncate_to_int(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT_MAX;
    if (value <= -2147483648.0) return INT_MIN;
    return static_cast<int>(value);
}

// a * xperp + b * yperp with the differences converted to single precision and every
// product and the sum rounded to single precision, first product first.
float interpolated(int a, int b, float xperp, float yperp) {
    const float first = static_cast<float>(a) * xperp;
    const float second = static_cast<float>(b) * yperp;
    return first + second;
}

} // namespace

void non_max_supp(const int16_t* magnitude, const int16_t* dx, const int16_t* dy, int rows,
                  int width, uint8_t* suppressed) {
    if (rows <= 0 || width <= 0) return;
    const ptrdiff_t w = width;
    std::memset(suppressed, border, w);
    std::memset(suppressed + (rows - 1) * w, border, w);
    for (int y = 0; y < rows; ++y) {
        suppressed[y * w] = border;
        suppressed[y * w + w - 1] = border;
    }

    // The pixel is compared with magnitudes interpolated on both sides of it along the
    // gradient. The octant of the gradient picks the neighbours: in each octant
    // mag1 = (A - B) * xperp + (C - D) * yperp and mag2 likewise, A to D given here as
    // offsets from the pixel (M itself is offset 0). Looking them up instead of
    // branching keeps the loop free of unpredictable jumps on textured pictures.
    const ptrdiff_t m_ = 0, n_ = -w, s_ = w, w_ = -1, e_ = 1;
    const ptrdiff_t nw = -w - 1, ne = -w + 1, sw = w - 1, se = w + 1;
    const ptrdiff_t terms[8][8] = {
        {m_, w_, nw, w_, m_, e_, se, e_}, // gx >= 0, gy >= 0, gx >= gy
        {n_, nw, n_, m_, s_, se, s_, m_}, // gx >= 0, gy >= 0, gx < gy
        {m_, w_, w_, sw, m_, e_, e_, ne}, // gx >= 0, gy < 0, gx >= -gy
        {s_, sw, m_, s_, n_, ne, m_, n_}, // gx >= 0, gy < 0, gx < -gy
        {e_, m_, ne, e_, w_, m_, sw, w_}, // gx < 0, gy >= 0, -gx >= gy
        {ne, n_, n_, m_, sw, s_, s_, m_}, // gx < 0, gy >= 0, -gx < gy
        {e_, m_, e_, se, w_, m_, w_, nw}, // gx < 0, gy < 0, gx < gy
        {se, s_, m_, s_, nw, n_, m_, n_}, // gx < 0, gy < 0, gx >= gy
    };

    // Both values are worked out for a run of pixels before any is judged: judging
    // each pixel at once lets the compiler skip mag2 behind a branch that textured
    // pictures make unpredictable.
    constexpr int run = 64;
    float mag1[run], mag2[run];
    for (int y = 1; y < rows - 1; ++y) {
        const int16_t* here = magnitude + y * w;
        const int16_t* gx_row = dx + y * w;
        const int16_t* gy_row = dy + y * w;
        uint8_t* out = suppressed + y * w;
        for (int x0 = 1; x0 < width - 1; x0 += run) {
            const int count = std::min(run, width - 1 - x0);
            for (int j = 0; j < count; ++j) {
                const int x = x0 + j;
                const int16_t* at = here + x;
                const int m = *at;
                const int gx = gx_row[x];
                const int gy = gy_row[x];
                // A zero magnitude is judged below without these values; 1 only keeps
                // the division harmless.
                const float divisor = static_cast<float>(m != 0 ? m : 1);
                const float xperp = static_cast<float>(-gx) / divisor;
                const float yperp = static_cast<float>(gy) / divisor;

                const bool left = gx < 0, up = gy < 0;
                const int ax = left ? -gx : gx, ay = up ? -gy : gy;
                // On the diagonal |gx| == |gy| the second octant of a quadrant is taken
                // only when both are negative.
                const bool steep = left && up ? ax <= ay : ax < ay;
                const ptrdiff_t* t = terms[4 * left + 2 * up + steep];
                mag1[j] = interpolated(at[t[0]] - at[t[1]], at[t[2]] - at[t[3]], xperp, yperp);
                mag2[j] = interpolated(at[t[4]] - at[t[5]], at[t[6]] - at[t[7]], xperp, yperp);
            }
            for (int j = 0; j < count; ++j) {
                // A candidate when mag1 <= 0 and mag2 < 0: the tie-break is one-sided, a
                // plateau on the far side (mag2 == 0) suppresses, on the near side not.
                const int suppress =
                    (here[x0 + j] == 0) | (mag1[j] > 0) | (mag2[j] > 0) | (mag2[j] == 0);
                out[x0 + j] = static_cast<uint8_t>(candidate + suppress * (not_edge - candidate));
            }
        }
    }
}

void hysteresis_thresholds(const int16_t* magnitude, const uint8_t* edges, size_t count, float tlow,
                           float thigh, int& high, int16_t& low) {
    // Counted without a branch per pixel, which candidates scattered over a textured
    // picture would make unpredictable: a pixel that is not counted goes to one of a
    // few spare counters past the histogram, taken in turn so that successive ones do
    // not wait on each other.
    constexpr int spare = 16;
    std::array<int32_t, histogram_size + spare> histogram{};
    int maximum = 0;
    long long counted = 0;
    for (size_t i = 0; i < count; ++i) {
        const int m = magnitude[i];
        const bool counts = (edges[i] == candidate) & (m >= 0); // < 0 is no magnitude
        const int keep = -static_cast<int>(counts);             // all ones or zero
        const size_t take = static_cast<size_t>(static_cast<ptrdiff_t>(keep));
        ++histogram[(static_cast<size_t>(m) & take) |
                    ((histogram_size + (i & (spare - 1))) & ~take)];
        counted += counts;
        maximum = std::max(maximum, m & keep);
    }
    const long long total = counted - histogram[0]; // candidates of magnitude 1 or more

    const int high_count =
        truncate_to_int(static_cast<double>(static_cast<float>(total) * thigh) + 0.5);
    int r = 1;
    long long running = histogram[1];
    while (r < maximum - 1 && running < high_count) {
        ++r;
        running += histogram[r];
    }
    high = r;
    low = static_cast<int16_t>(
        truncate_to_int(static_cast<double>(static_cast<float>(high) * tlow) + 0.5));
}

void follow_edges(uint8_t* edge_at, const int16_t* magnitude_at, int16_t low, int width) {
    // Depth first without recursion or a stack: a pixel that is being followed holds
    // 1 + the direction it was entered by, so the way back is read from the map; it
    // becomes an edge (0) once none of its neighbours can be joined any more. Only
    // candidates (128) are entered, so a pixel in progress is never entered twice.
    const ptrdiff_t w = width;
    // E, NE, N, NW, W, SW, S, SE
    const ptrdiff_t step[8] = {1, 1 - w, -w, -1 - w, -1, w - 1, w, w + 1};
    ptrdiff_t at = 0; // offset of the current pixel from the start
    for (;;) {
        int d = 0;
        for (; d < 8; ++d) {
            const ptrdiff_t next = at + step[d];
            if (edge_at[next] == candidate && magnitude_at[next] > low) break;
        }
        if (d < 8) {
            at += step[d];
            edge_at[at] = static_cast<uint8_t>(1 + d);
            continue;
        }
        if (at == 0) return; // the start pixel was set to 0 by the caller
        const int entered_by = edge_at[at] - 1;
        edge_at[at] = edge;
        at -= step[entered_by];
    }
}

void apply_hysteresis(const int16_t* magnitude, const uint8_t* suppressed, int rows, int width,
                      uint8_t* edges, float tlow, float thigh) {
    if (rows <= 0 || width <= 0) return;
    const ptrdiff_t w = width;
    const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(width);
    for (size_t i = 0; i < count; ++i)
        edges[i] = suppressed[i] == candidate ? candidate : not_edge;
    // No candidate on the border ring: following never needs a bounds test.
    for (int y = 0; y < rows; ++y) {
        edges[y * w] = not_edge;
        edges[y * w + w - 1] = not_edge;
    }
    std::memset(edges, not_edge, w);
    std::memset(edges + (rows - 1) * w, not_edge, w);

    int high = 0;
    int16_t low = 0;
    hysteresis_thresholds(magnitude, edges, count, tlow, thigh, high, low);

    for (size_t i = 0; i < count; ++i) {
        if ((edges[i] == candidate) & (magnitude[i] >= high)) {
            edges[i] = edge;
            follow_edges(edges + i, magnitude + i, low, width);
        }
    }
    for (size_t i = 0; i < count; ++i)
        edges[i] = edges[i] == edge ? edge : not_edge;
}
