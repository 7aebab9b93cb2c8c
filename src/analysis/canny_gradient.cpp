// Canny edge logo detector: per sample a Gaussian blur, gradient, suppression and
// hysteresis; the edge maps are summed and judged against sw.threshold.
//
// Every pixel's arithmetic is done in a fixed order and precision so that the result
// does not depend on how the loops are arranged. The row loops work on blocks of a
// fixed number of pixels: inner loops with a constant trip count are vectorised across
// pixels, which changes nothing in any one pixel's order of operations.
#include "analysis/canny_gradient.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <vector>

#include "analysis/hysteresis.h"
#include "analysis/settings.h"
#include "analysis/workers.h"

namespace {

// Pixels per block of the row loops.
constexpr int block = 32;

// Calls body(x, count) over [begin, end) in blocks, where count is a
// std::integral_constant: `block` pixels at a time, then single pixels for the rest.
template <typename Body> void in_blocks(ptrdiff_t begin, ptrdiff_t end, Body body) {
    ptrdiff_t x = begin;
    for (; end - x >= block; x += block)
        body(x, std::integral_constant<int, block>{});
    for (; x < end; ++x)
        body(x, std::integral_constant<int, 1>{});
}

// `count` elements, or null when they cannot be had (never an exception).
template <typename T> std::unique_ptr<T[]> allocate(size_t count, bool zero_filled) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(zero_filled ? new (std::nothrow) T[count]()
                                            : new (std::nothrow) T[count]);
}

// Horizontal blur of pixel x of one row, leaving out the taps that fall outside the
// row and dividing by the sum of the weights used. Taps go left to right.
float blur_renormalised(const uint8_t* row, int x, int width, const float* kernel, int c0) {
    const int first = std::max(-c0, -x);
    const int last = std::min(c0, width - 1 - x);
    float dot = 0.0f;
    float sum = 0.0f;
    for (int k = first; k <= last; ++k) {
        dot += static_cast<float>(row[x + k]) * kernel[c0 + k];
        sum += kernel[c0 + k];
    }
    return dot / sum;
}

// Horizontal pass, region -> blurred. Columns whose taps all lie in the row share one
// weight sum (all weights, added in tap order); the others are renormalised.
void blur_rows(const uint8_t* region, ptrdiff_t stride, int width, int rows, const float* kernel,
               int size, float* blurred) {
    const int c0 = size / 2;
    const int lo = std::min(c0, width); // interior columns are [lo, hi)
    const int hi = std::max(lo, width - c0);
    float full_sum = 0.0f;
    if (lo < hi)
        for (int t = 0; t < size; ++t)
            full_sum += kernel[t];

    for (int y = 0; y < rows; ++y) {
        const uint8_t* src = region + y * stride;
        float* dst = blurred + static_cast<ptrdiff_t>(y) * width;
        for (int x = 0; x < lo; ++x)
            dst[x] = blur_renormalised(src, x, width, kernel, c0);
        for (int x = hi; x < width; ++x)
            dst[x] = blur_renormalised(src, x, width, kernel, c0);
        in_blocks(lo, hi, [&](ptrdiff_t x0, auto count) {
            constexpr int n = decltype(count)::value;
            float dot[n];
            for (int j = 0; j < n; ++j)
                dot[j] = 0.0f;
            for (int t = 0; t < size; ++t) {
                const float weight = kernel[t];
                const uint8_t* tap = src + x0 - c0 + t;
                for (int j = 0; j < n; ++j)
                    dot[j] += static_cast<float>(tap[j]) * weight;
            }
            for (int j = 0; j < n; ++j)
                dst[x0 + j] = dot[j] / full_sum;
        });
    }
}

// Vertical pass with gain 90, blurred -> smoothed. The taps that stay inside the region
// are the same for a whole row, so one weight sum serves the row.
void blur_columns(const float* blurred, int width, int rows, const float* kernel, int size,
                  int16_t* smoothed) {
    const ptrdiff_t c0 = size / 2;
    const ptrdiff_t w = width;
    for (ptrdiff_t y = 0; y < rows; ++y) {
        const ptrdiff_t first = std::max<ptrdiff_t>(0, c0 - y); // taps [first, last]
        const ptrdiff_t last = std::min<ptrdiff_t>(size - 1, c0 + (rows - 1 - y));
        float sum = 0.0f;
        for (ptrdiff_t t = first; t <= last; ++t)
            sum += kernel[t];
        const double weight_sum = sum;
        const float* top = blurred + (y - c0 + first) * w;
        int16_t* dst = smoothed + y * w;
        in_blocks(0, w, [&](ptrdiff_t x0, auto count) {
            constexpr int n = decltype(count)::value;
            float dot[n];
            for (int j = 0; j < n; ++j)
                dot[j] = 0.0f;
            for (ptrdiff_t t = first; t <= last; ++t) {
                const float weight = kernel[t];
                const float* tap = top + (t - first) * w + x0;
                for (int j = 0; j < n; ++j)
                    dot[j] += tap[j] * weight;
            }
            for (int j = 0; j < n; ++j) {
                double value = static_cast<double>(dot[j]) * 90.0 / weight_sum + 0.5;
                // A kernel that is not a number (sigma 0) smooths everything to 0.
                value = value == value ? value : 0.0;
                dst[x0 + j] = static_cast<int16_t>(static_cast<int>(value));
            }
        });
    }
}

// out[j] = plus[j] - minus[j] for n pixels; the output never overlaps the inputs.
template <int n>
void difference(const int16_t* __restrict plus, const int16_t* __restrict minus,
                int16_t* __restrict out) {
    for (int j = 0; j < n; ++j)
        out[j] = static_cast<int16_t>(plus[j] - minus[j]);
}

} // namespace

std::unique_ptr<float[]> gaussian_kernel(float sigma, int& size) {
    const double h = 2.5 * sigma;
    const double half = std::ceil(h);
    std::unique_ptr<float[]> kernel;
    // NaN, infinite, negative or too large for an int: no such kernel can be made.
    if (half >= 0.0 && half <= (INT_MAX - 1) / 2) {
        size = 2 * static_cast<int>(half) + 1;
        kernel = allocate<float>(static_cast<size_t>(size), true);
    }
    if (!kernel) {
        std::fputs("Error callocing the gaussian kernel array.\n", stderr);
        std::exit(1);
    }

    const int c0 = size / 2;
    const float s2 = sigma * sigma;
    float sum = 0.0f;
    // e rounded to 2.71828 and sqrt(2 pi) to 2.5066282731988805 on purpose: these exact
    // constants make the weights, and so every edge found, the same on every machine.
    // The kernel reaches 2.5 sigma each side, where a weight is below 5 % of the centre.
    for (int i = 0; i < size; ++i) {
        const float x = static_cast<float>(i - c0);
        kernel[i] =
            static_cast<float>(std::pow(2.71828, -0.5 * x * x / s2) / (2.5066282731988805 * sigma));
        sum += kernel[i];
    }
    for (int i = 0; i < size; ++i)
        kernel[i] /= sum;
    return kernel;
}

void canny_gradient(const uint8_t* region, ptrdiff_t stride, int width, int rows,
                    const float* kernel, int size, float* blurred, int16_t* smoothed, int16_t* dx,
                    int16_t* dy, int16_t* magnitude) {
    blur_rows(region, stride, width, rows, kernel, size, blurred);
    blur_columns(blurred, width, rows, kernel, size, smoothed);

    // Differences over two pixels inside, over one at the borders; none is halved.
    const ptrdiff_t w = width;
    for (ptrdiff_t y = 0; y < rows; ++y) {
        const int16_t* s = smoothed + y * w;
        int16_t* d = dx + y * w;
        d[0] = static_cast<int16_t>(s[1] - s[0]);
        d[w - 1] = static_cast<int16_t>(s[w - 1] - s[w - 2]);
        in_blocks(1, w - 1, [&](ptrdiff_t x0, auto count) {
            difference<decltype(count)::value>(s + x0 + 1, s + x0 - 1, d + x0);
        });
    }
    for (ptrdiff_t y = 0; y < rows; ++y) {
        const int16_t* above = smoothed + std::max<ptrdiff_t>(y - 1, 0) * w;
        const int16_t* below = smoothed + std::min<ptrdiff_t>(y + 1, rows - 1) * w;
        int16_t* d = dy + y * w;
        in_blocks(0, w, [&](ptrdiff_t x0, auto count) {
            difference<decltype(count)::value>(below + x0, above + x0, d + x0);
        });
    }

    // Squares as ints, their sum in single precision, the root and rounding in double.
    // (std::sqrt keeps this loop scalar: it may set errno.)
    in_blocks(0, w * rows, [&](ptrdiff_t i0, auto count) {
        for (int j = 0; j < decltype(count)::value; ++j) {
            const int gx = dx[i0 + j];
            const int gy = dy[i0 + j];
            const float sum = static_cast<float>(gx * gx) + static_cast<float>(gy * gy);
            magnitude[i0 + j] =
                static_cast<int16_t>(static_cast<int>(std::sqrt(static_cast<double>(sum)) + 0.5));
        }
    });
}

namespace {

// One thread's working buffers and its sums of edge-map values.
struct canny_scratch {
    std::unique_ptr<float[]> blurred;
    std::unique_ptr<int16_t[]> smoothed, dx, dy, magnitude;
    std::unique_ptr<uint8_t[]> suppressed, edges;
    std::unique_ptr<int32_t[]> accumulator; // zero-filled
};

// The buffers for regions of `count` pixels: 0, or the negative code of the first that
// cannot be allocated.
int allocate_scratch(size_t count, canny_scratch& s) {
    if (!(s.blurred = allocate<float>(count, false))) return -2;
    if (!(s.smoothed = allocate<int16_t>(count, false))) return -3;
    if (!(s.dx = allocate<int16_t>(count, false))) return -4;
    if (!(s.dy = allocate<int16_t>(count, false))) return -5;
    if (!(s.magnitude = allocate<int16_t>(count, false))) return -7;
    if (!(s.suppressed = allocate<uint8_t>(count, false))) return -8;
    if (!(s.edges = allocate<uint8_t>(count, false))) return -9;
    if (!(s.accumulator = allocate<int32_t>(count, true))) return -10;
    return 0;
}

// Adds one region's edge map (edge pixels 0, the others 255) to s.accumulator.
void add_edge_map(const uint8_t* region, int band_w2, int width, int rows, const float* kernel,
                  int size, canny_scratch& s) {
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(rows);
    canny_gradient(region, band_w2, width, rows, kernel, size, s.blurred.get(), s.smoothed.get(),
                   s.dx.get(), s.dy.get(), s.magnitude.get());
    non_max_supp(s.magnitude.get(), s.dx.get(), s.dy.get(), rows, width, s.suppressed.get());
    apply_hysteresis(s.magnitude.get(), s.suppressed.get(), rows, width, s.edges.get(), sw.tlow,
                     sw.thigh);
    in_blocks(0, static_cast<ptrdiff_t>(count), [&](ptrdiff_t p0, auto n) {
        for (int j = 0; j < decltype(n)::value; ++j)
            s.accumulator[p0 + j] += s.edges[p0 + j];
    });
}

} // namespace

int canny_logo(int band_w2, int /*band_h2*/, int region_width, int region_height, int start,
               const band_sample* samples, uint8_t* mask, int corner) {
    const int width = std::max(region_width, 0);
    const int rows = std::max(region_height, 0);
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(rows);

    canny_scratch first; // the caller's thread's, and the sums of all in the end
    if (const int code = allocate_scratch(count, first)) return code;
    int size = 0;
    const auto kernel = gaussian_kernel(sw.sigma, size);

    // Without two pixels in every row and column there is no gradient and so no edge.
    // Such a region has no candidate at all, whatever the samples and the threshold.
    if (width < 2 || rows < 2) {
        for (size_t p = 0; p < count; ++p)
            mask[p >> 3] |= static_cast<uint8_t>(128u >> (p & 7));
        return 0;
    }
    const unsigned corner_bit = corner >= 0 && corner < 8 ? 1u << corner : 0u;
    std::vector<const uint8_t*> regions; // of the samples taking part
    for (int i = 0; i < sw.frames; ++i) {
        const band_sample& sample = samples[i];
        if ((sample.corner_flags & corner_bit) && sample.image)
            regions.push_back(sample.image.get() + static_cast<unsigned>(start));
    }
    const int taking_part = static_cast<int>(regions.size());

    // The samples are shared out among the threads as they come free; each sums into its
    // own accumulator. The sums are of integers, so the total is the same however the
    // samples fell.
    const int threads = std::min(worker_threads(), taking_part);
    std::vector<canny_scratch> others(static_cast<size_t>(std::max(threads - 1, 0)));
    std::atomic<int> next{0};
    run_workers(threads, [&](int k) {
        canny_scratch& s = k == 0 ? first : others[static_cast<size_t>(k - 1)];
        // A thread without buffers leaves its share to the others.
        if (k > 0 && allocate_scratch(count, s) != 0) return;
        for (int r; (r = next.fetch_add(1)) < taking_part;)
            add_edge_map(regions[static_cast<size_t>(r)], band_w2, width, rows, kernel.get(), size,
                         s);
    });
    int32_t* accumulator = first.accumulator.get();
    for (const canny_scratch& s : others)
        if (s.accumulator)
            for (size_t p = 0; p < count; ++p)
                accumulator[p] += s.accumulator[p];

    // A pixel stays a candidate (0) when its mean edge-map value is at most threshold.
    const int limit = taking_part * sw.threshold;
    for (size_t p = 0; p < count; ++p) {
        const auto bit = static_cast<uint8_t>(128u >> (p & 7));
        if (accumulator[p] > limit)
            mask[p >> 3] |= bit;
        else
            mask[p >> 3] &= static_cast<uint8_t>(~bit);
    }
    return 0;
}
