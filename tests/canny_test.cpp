// Canny edge logo detector: gradient, suppression and hysteresis each against its
// straightforward version on random images; the worked hysteresis thresholds; then the
// kernel's sizes and weights and the detector's vote over samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "analysis/canny_gradient.h"
#include "helpers.h"
#include "analysis/hysteresis.h"
#include "analysis/settings.h"

// A failed allocation comes back as null under AddressSanitizer too, as in a normal build.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

struct gradient_images {
    explicit gradient_images(size_t n) : blurred(n), smoothed(n), dx(n), dy(n), magnitude(n) {}
    std::vector<float> blurred;
    std::vector<int16_t> smoothed, dx, dy, magnitude;
};

// Blur, derivatives and magnitude one pixel at a time, every tap range-checked.
gradient_images reference_gradient(const uint8_t* region, ptrdiff_t stride, int width, int rows,
                                   const float* kernel, int size) {
    const int c0 = size / 2;
    const size_t n = size_t(width) * rows;
    gradient_images g(n);
    auto blur = [&](int at, int length, auto value) {
        float dot = 0.0f, sum = 0.0f;
        for (int k = -c0; k <= c0; ++k)
            if (at + k >= 0 && at + k < length) {
                dot += value(at + k) * kernel[c0 + k];
                sum += kernel[c0 + k];
            }
        return std::make_pair(dot, sum);
    };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            auto [dot, sum] = blur(x, width, [&](int t) { return float(region[y * stride + t]); });
            g.blurred[y * width + x] = dot / sum;
        }
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            auto [dot, sum] = blur(y, rows, [&](int t) { return g.blurred[t * width + x]; });
            const double q = double(dot) * 90.0 / double(sum) + 0.5;
            g.smoothed[y * width + x] = std::isnan(q) ? 0 : int16_t(int(q));
        }
    auto s = [&](int x, int y) { return int(g.smoothed[y * width + x]); };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            const int ddx = s(std::min(x + 1, width - 1), y) - s(std::max(x - 1, 0), y);
            const int ddy = s(x, std::min(y + 1, rows - 1)) - s(x, std::max(y - 1, 0));
            g.dx[y * width + x] = int16_t(ddx);
            g.dy[y * width + x] = int16_t(ddy);
            const float sq = float(ddx * ddx) + float(ddy * ddy);
            g.magnitude[y * width + x] = int16_t(int(std::sqrt(double(sq)) + 0.5));
        }
    return g;
}

// Suppression written from the table of the eight octants: mag = (a - b) * xperp +
// (c - d) * yperp for two sets of neighbours.
enum nb { M, N, S, W, E, NW, NE, SW, SE };
const nb octants[8][8] = {
    {M, W, NW, W, M, E, SE, E}, {N, NW, N, M, S, SE, S, M}, {M, W, W, SW, M, E, E, NE},
    {S, SW, M, S, N, NE, M, N}, {E, M, NE, E, W, M, SW, W}, {NE, N, N, M, SW, S, S, M},
    {E, M, E, SE, W, M, W, NW}, {SE, S, M, S, NW, N, M, N},
};

int octant(int gx, int gy) {
    if (gx >= 0 && gy >= 0) return gx >= gy ? 0 : 1;
    if (gx >= 0) return gx >= -gy ? 2 : 3;
    if (gy >= 0) return -gx >= gy ? 4 : 5;
    return gx < gy ? 6 : 7;
}

std::vector<uint8_t> reference_suppression(const std::vector<int16_t>& mag,
                                           const std::vector<int16_t>& dx,
                                           const std::vector<int16_t>& dy, int rows, int width) {
    std::vector<uint8_t> out(size_t(rows) * width, 0);
    for (int y = 1; y < rows - 1; ++y)
        for (int x = 1; x < width - 1; ++x) {
            const int i = y * width + x;
            if (mag[i] == 0) {
                out[i] = 255;
                continue;
            }
            const int offset[] = {0,          -width,     width,     -1,       1,
                                  -width - 1, -width + 1, width - 1, width + 1};
            auto at = [&](nb which) { return float(mag[i + offset[which]]); };
            const float xperp = float(-dx[i]) / float(mag[i]);
            const float yperp = float(dy[i]) / float(mag[i]);
            const nb* t = octants[octant(dx[i], dy[i])];
            const float p1 = (at(t[0]) - at(t[1])) * xperp, q1 = (at(t[2]) - at(t[3])) * yperp;
            const float p2 = (at(t[4]) - at(t[5])) * xperp, q2 = (at(t[6]) - at(t[7])) * yperp;
            const float mag1 = p1 + q1, mag2 = p2 + q2;
            // One-sided tie-break: a plateau on the far side (mag2 == 0) suppresses.
            out[i] = (mag1 > 0 || mag2 > 0 || mag2 == 0) ? 255 : 128;
        }
    return out;
}

void reference_follow(std::vector<uint8_t>& edges, const std::vector<int16_t>& mag, int p,
                      int16_t low, int width) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int q = p + dy * width + dx;
            if (edges[q] == 128 && mag[q] > low) {
                edges[q] = 0;
                reference_follow(edges, mag, q, low, width);
            }
        }
}

// Hysteresis with the histogram scanned as a whole and recursive following.
std::vector<uint8_t> reference_hysteresis(const std::vector<int16_t>& mag,
                                          const std::vector<uint8_t>& supp, int rows, int width,
                                          float tlow, float thigh) {
    const int n = rows * width;
    std::vector<uint8_t> e(n);
    std::vector<int> hist(32768, 0);
    int maximum = 0, total = 0;
    for (int i = 0; i < n; ++i) {
        const bool ring = i % width == 0 || i % width == width - 1 || i < width || i >= n - width;
        e[i] = supp[i] == 128 && !ring ? 128 : 255;
        if (e[i] == 128) {
            ++hist[mag[i]];
            maximum = std::max<int>(maximum, mag[i]);
            total += mag[i] > 0;
        }
    }
    const int high_count = int(float(total) * thigh + 0.5);
    int high = 1, running = hist[1];
    while (high < maximum - 1 && running < high_count)
        running += hist[++high];
    const int16_t low = int16_t(int(float(high) * tlow + 0.5));
    for (int i = 0; i < n; ++i)
        if (e[i] == 128 && mag[i] >= high) {
            e[i] = 0;
            reference_follow(e, mag, i, low, width);
        }
    std::replace(e.begin(), e.end(), uint8_t(128), uint8_t(255));
    return e;
}

bool bit(const std::vector<uint8_t>& mask, int i) {
    return mask[i / 8] & (128 >> (i % 8));
}

class CannyLogo : public ::testing::Test {
  protected:
    void TearDown() override { sw = Settings{}; }

    // Runs the detector on a 48 x 32 region, by default at the top of the NE quadrant.
    std::vector<uint8_t> run(const std::vector<band_sample>& samples, uint8_t fill = 0,
                             int start = 48) {
        sw.frames = int(samples.size());
        std::vector<uint8_t> mask(48 * 32 / 8, fill);
        EXPECT_EQ(0, canny_logo(w2, h2, 48, 32, start, samples.data(), mask.data(), 1));
        return mask;
    }
    const int w2 = 96, h2 = 64;
};

} // namespace

TEST(CannyGradient, MatchesStraightforwardVersionBitForBit) {
    std::mt19937 rng(7);
    const int sizes[][2] = {{2, 2}, {2, 9}, {9, 2}, {5, 7}, {17, 3}, {40, 33}, {67, 45}, {100, 12}};
    for (const auto& wh : sizes)
        for (float sigma : {0.3f, 0.4f, 1.0f, 1.2f, 2.0f, 3.3f, 0.0f}) {
            const int w = wh[0], h = wh[1], stride = w + 11;
            std::vector<uint8_t> band(size_t(stride) * (h + 4));
            for (auto& v : band)
                v = uint8_t(rng() % 4 == 0 ? rng() : (rng() % 3) * 100);
            const uint8_t* region = band.data() + 2 * stride + 5;
            int size = 0;
            const auto kernel = gaussian_kernel(sigma, size);
            const auto ref = reference_gradient(region, stride, w, h, kernel.get(), size);
            const size_t n = size_t(w) * h;
            gradient_images got(n);
            canny_gradient(region, stride, w, h, kernel.get(), size, got.blurred.data(),
                           got.smoothed.data(), got.dx.data(), got.dy.data(), got.magnitude.data());
            SCOPED_TRACE(testing::Message() << w << "x" << h << " sigma " << sigma);
            EXPECT_EQ(0, std::memcmp(ref.blurred.data(), got.blurred.data(), n * sizeof(float)));
            EXPECT_EQ(ref.smoothed, got.smoothed);
            EXPECT_EQ(ref.dx, got.dx);
            EXPECT_EQ(ref.dy, got.dy);
            EXPECT_EQ(ref.magnitude, got.magnitude);
        }
}

TEST(NonMaxSupp, MatchesOctantTableOnRandomImages) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        // Down to a single row or column: all border ring.
        const int rows = 1 + int(rng() % 11), width = 1 + int(rng() % 11);
        const bool small = round % 2 == 0; // small values: many ties and zeros
        const size_t n = size_t(rows) * width;
        std::vector<int16_t> mag(n), dx(n), dy(n);
        for (size_t i = 0; i < n; ++i) {
            mag[i] = int16_t(small ? rng() % 5 : rng() % 32768);
            dx[i] = int16_t(small ? int(rng() % 7) - 3 : int(rng() % 45901) - 22950);
            dy[i] = int16_t(small ? int(rng() % 7) - 3 : int(rng() % 45901) - 22950);
        }
        std::vector<uint8_t> out(n, 77);
        non_max_supp(mag.data(), dx.data(), dy.data(), rows, width, out.data());
        ASSERT_EQ(reference_suppression(mag, dx, dy, rows, width), out) << "round " << round;
    }
}

TEST(Hysteresis, MatchesStraightforwardVersionOnRandomImages) {
    std::mt19937 rng(5);
    const float fractions[] = {0.1f, 0.3f, 0.5f, 0.8f, 1.0f};
    for (int round = 0; round < 300; ++round) {
        const int rows = 1 + int(rng() % 24), width = 1 + int(rng() % 24);
        const int n = rows * width;
        std::vector<int16_t> mag(n);
        std::vector<uint8_t> supp(n), edges(n, 77);
        const int range = round % 3 == 0 ? 4 : round % 3 == 1 ? 40 : 32768;
        for (int i = 0; i < n; ++i) {
            mag[i] = int16_t(rng() % range);
            supp[i] = rng() % 3 == 0 ? 255 : rng() % 5 == 0 ? 0 : 128;
        }
        const float tlow = fractions[rng() % 5], thigh = fractions[rng() % 5];
        apply_hysteresis(mag.data(), supp.data(), rows, width, edges.data(), tlow, thigh);
        ASSERT_EQ(reference_hysteresis(mag, supp, rows, width, tlow, thigh), edges)
            << "round " << round;
    }
}

TEST(Hysteresis, LongSnakeNeedsNoDeepRecursion) {
    // Rows 1, 3, 5, ... of a 1002 x 402 image joined at alternating ends: one edge of
    // about 200,000 pixels of equal magnitude, followed from its first pixel.
    const int w = 1002, rows = 402;
    std::vector<int16_t> mag(size_t(w) * rows, 0);
    std::vector<uint8_t> supp(mag.size(), 255), edges(mag.size()), expected(mag.size(), 255);
    for (int y = 1; y < rows - 2; ++y)
        for (int x = 1; x < w - 1; ++x)
            if (y % 2 == 1 || x == ((y / 2) % 2 == 1 ? w - 2 : 1)) {
                supp[y * w + x] = 128;
                mag[y * w + x] = 300;
                expected[y * w + x] = 0;
            }
    apply_hysteresis(mag.data(), supp.data(), rows, w, edges.data(), 0.3f, 0.8f);
    EXPECT_EQ(expected, edges);
}

TEST(Hysteresis, WorkedThresholds) {
    // A 7 x 3 image whose five inner pixels are candidates of the magnitudes given, thigh 0.8:
    // the thresholds, and which of the five end as edges (#).
    // clang-format off
    const struct { int16_t magnitudes[5]; float tlow; int high, low; const char* edges; } cases[] = {
        {{0, 0, 5, 0, 0}, 0.3f, 4, 1, "..#.."},  // one candidate: high count 1, high 5 - 1
        {{0, 0, 0, 0, 0}, 0.3f, 1, 0, "....."},  // no magnitude above 0
        {{0, 0, 0, 0, 0}, 0.5f, 1, 1, "....."},
        {{10, 0, 0, 0, 9}, 0.3f, 9, 3, "#...#"}, // 9 equals high: starts an edge
        {{10, 3, 0, 0, 0}, 0.3f, 9, 3, "#...."}, // 3 equals low: not joined
        {{10, 4, 0, 0, 0}, 0.3f, 9, 3, "##..."},
        {{10, 9, 0, 0, 0}, 1.0f, 9, 9, "##..."}}; // low = high: not joined, but starts itself
    // clang-format on
    for (const auto& c : cases) {
        std::vector<int16_t> mag(21, 0);
        std::vector<uint8_t> supp(21, 255), edges(21), want(21, 255);
        for (int x = 0; x < 5; ++x) {
            mag[8 + x] = c.magnitudes[x];
            supp[8 + x] = 128;
            want[8 + x] = c.edges[x] == '#' ? 0 : 255;
        }
        int high = 0;
        int16_t low = 0;
        hysteresis_thresholds(mag.data(), supp.data(), 21, c.tlow, 0.8f, high, low);
        EXPECT_EQ(std::make_pair(high, int(low)), std::make_pair(c.high, c.low)) << c.edges;
        apply_hysteresis(mag.data(), supp.data(), 3, 7, edges.data(), c.tlow, 0.8f);
        EXPECT_EQ(edges, want) << c.edges;
    }
}

TEST_F(CannyLogo, KernelSizesWeightsAndTheVoteOfTheSamples) {
    // 2 ceil(2.5 sigma) + 1 weights of the single-precision sigma; sigma 0: one, 0 / 0.
    const std::pair<float, int> sizes[] = {{0.3f, 3}, {0.4f, 5},  {1.0f, 7},
                                           {1.2f, 9}, {2.0f, 11}, {0.0f, 1}};
    for (const auto& [sigma, want] : sizes) {
        int size = 0;
        EXPECT_TRUE(std::isnan(gaussian_kernel(sigma, size)[0]) == (sigma == 0) && size == want)
            << sigma << ": " << size;
    }
    int size = 0;
    const auto kernel = gaussian_kernel(1.2f, size);
    const double weights[] = {0.001285, 0.014609, 0.082907, 0.234954, 0.332490}; // outside in
    for (int i = 0; i < size; ++i)
        EXPECT_NEAR(kernel[i], weights[std::min(i, size - 1 - i)], 1e-6) << i;

    // `steps` samples with a step at column 20 of the region, `flats` flat ones, and one
    // with a step elsewhere that leaves corner 1 out.
    auto samples = [&](int steps, int flats) {
        std::vector<band_sample> v;
        for (int i = 0; i <= steps + flats; ++i) {
            const int at = i < steps ? w2 / 2 + 20 : i < steps + flats ? 0 : w2 / 2 + 10;
            v.push_back(std::move(
                make_samples(1, w2, h2, [at](int, int x, int) { return x < at ? 30 : 200; })[0]));
            v.back().corner_flags = i < steps + flats ? 15 : 1 | 4 | 8;
        }
        return v;
    };
    // Threshold 0: candidate only where always an edge, the columns either side of the step.
    sw.threshold = 0;
    const auto edge = run(samples(1, 0));
    int near_step = 0, zeros = 0;
    for (int i = 0; i < 48 * 32; ++i) {
        near_step += !bit(edge, i) && std::abs(i % 48 - 20) <= 1;
        zeros += !bit(edge, i);
    }
    EXPECT_GE(near_step, 28);
    EXPECT_EQ(near_step, zeros);
    const std::vector<uint8_t> none(48 * 32 / 8, 0xff), all(48 * 32 / 8, 0);
    sw.threshold = 170;
    EXPECT_EQ(edge, run(samples(1, 2))); // an edge in 1 of 3: candidate
    EXPECT_EQ(none, run(samples(1, 3))); // 1 of 4: not
    EXPECT_EQ(edge, run(samples(2, 2))); // 2 of 4: candidate
    // No mean can exceed 255: every bit cleared; and when no sample takes part (one never
    // captured, one without corner 1), even at threshold 0.
    sw.threshold = 255;
    EXPECT_EQ(all, run(samples(1, 1), 0xff));
    sw.threshold = 0;
    auto absent = samples(1, 0);
    absent[0] = band_sample{};
    EXPECT_EQ(all, run(absent, 0xff));
}

TEST_F(CannyLogo, BufferThatCannotBeAllocatedReturnsItsCode) {
    uint8_t mask[4] = {1, 2, 3, 4};
    // 2^46 pixels: the first buffer alone would need 256 TiB.
    EXPECT_EQ(-2, canny_logo(w2, h2, 1 << 20, 1 << 26, 0, nullptr, mask, 1));
    EXPECT_EQ(1, mask[0]);
    EXPECT_EQ(4, mask[3]);
}
