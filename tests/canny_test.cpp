// Canny edge logo detector: kernel, gradient, suppression, hysteresis and the detector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <random>
#include <vector>

#include "delogo.h"
#include "edge_scan.h"
#include "hysteresis.h"

// A failed allocation comes back as null under AddressSanitizer too, as in a normal build.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// ---- Straightforward versions of the optimised code, for comparison ----------------------

struct gradient_images {
    std::vector<float> blurred;
    std::vector<int16_t> smoothed, dx, dy, magnitude;
};

// Blur, derivatives and magnitude one pixel at a time, every tap range-checked.
gradient_images reference_gradient(const uint8_t* region, ptrdiff_t stride, int width, int rows,
                                   const float* kernel, int size) {
    const int c0 = size / 2;
    const size_t n = size_t(width) * rows;
    gradient_images g{std::vector<float>(n), std::vector<int16_t>(n), std::vector<int16_t>(n),
                      std::vector<int16_t>(n), std::vector<int16_t>(n)};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            float dot = 0.0f, sum = 0.0f;
            for (int k = -c0; k <= c0; ++k)
                if (x + k >= 0 && x + k < width) {
                    dot += float(region[y * stride + x + k]) * kernel[c0 + k];
                    sum += kernel[c0 + k];
                }
            g.blurred[y * width + x] = dot / sum;
        }
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            float dot = 0.0f, sum = 0.0f;
            for (int k = -c0; k <= c0; ++k)
                if (y + k >= 0 && y + k < rows) {
                    dot += g.blurred[(y + k) * width + x] * kernel[c0 + k];
                    sum += kernel[c0 + k];
                }
            const double q = double(dot) * 90.0 / double(sum) + 0.5;
            g.smoothed[y * width + x] = std::isnan(q) ? 0 : int16_t(int(q));
        }
    auto s = [&](int x, int y) { return int(g.smoothed[y * width + x]); };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            int ddx = x == 0           ? s(1, y) - s(0, y)
                      : x == width - 1 ? s(x, y) - s(x - 1, y)
                                       : s(x + 1, y) - s(x - 1, y);
            int ddy = y == 0          ? s(x, 1) - s(x, 0)
                      : y == rows - 1 ? s(x, y) - s(x, y - 1)
                                      : s(x, y + 1) - s(x, y - 1);
            g.dx[y * width + x] = int16_t(ddx);
            g.dy[y * width + x] = int16_t(ddy);
            float sq = float(ddx * ddx) + float(ddy * ddy);
            g.magnitude[y * width + x] = int16_t(int(std::sqrt(double(sq)) + 0.5));
        }
    return g;
}

// Suppression written from the table of the eight octants: mag = (a - b) * xperp +
// (c - d) * yperp for two sets of neighbours.
enum nb { M, N, S, W, E, NW, NE, SW, SE };
struct octant_terms {
    nb a1, b1, c1, d1, a2, b2, c2, d2;
};
const octant_terms octants[8] = {
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
            auto at = [&](nb which) {
                const int dxs[] = {0, 0, 0, -1, 1, -1, 1, -1, 1};
                const int dys[] = {0, -1, 1, 0, 0, -1, -1, 1, 1};
                return int(mag[i + dys[which] * width + dxs[which]]);
            };
            if (mag[i] == 0) {
                out[i] = 255;
                continue;
            }
            const float xperp = float(-dx[i]) / float(mag[i]);
            const float yperp = float(dy[i]) / float(mag[i]);
            const octant_terms& t = octants[octant(dx[i], dy[i])];
            const float p1 = float(at(t.a1) - at(t.b1)) * xperp;
            const float q1 = float(at(t.c1) - at(t.d1)) * yperp;
            const float p2 = float(at(t.a2) - at(t.b2)) * xperp;
            const float q2 = float(at(t.c2) - at(t.d2)) * yperp;
            const float mag1 = p1 + q1, mag2 = p2 + q2;
            out[i] = (mag1 > 0 || mag2 > 0 || mag2 == 0) ? 255 : 128;
        }
    return out;
}

const int offsets_x[8] = {1, 1, 0, -1, -1, -1, 0, 1};
const int offsets_y[8] = {0, -1, -1, -1, 0, 1, 1, 1};

void reference_follow(std::vector<uint8_t>& edges, const std::vector<int16_t>& mag, int p,
                      int16_t low, int width) {
    for (int d = 0; d < 8; ++d) {
        const int q = p + offsets_y[d] * width + offsets_x[d];
        if (edges[q] == 128 && mag[q] > low) {
            edges[q] = 0;
            reference_follow(edges, mag, q, low, width);
        }
    }
}

// Hysteresis with the histogram scanned as a whole and a breadth-first flood.
std::vector<uint8_t> reference_hysteresis(const std::vector<int16_t>& mag,
                                          const std::vector<uint8_t>& supp, int rows, int width,
                                          float tlow, float thigh) {
    const int n = rows * width;
    std::vector<uint8_t> e(n);
    for (int i = 0; i < n; ++i) {
        const bool ring = i % width == 0 || i % width == width - 1 || i < width || i >= n - width;
        e[i] = supp[i] == 128 && !ring ? 128 : 255;
    }
    std::vector<int> hist(32768, 0);
    for (int i = 0; i < n; ++i)
        if (e[i] == 128) ++hist[mag[i]];
    int maximum = 0, total = 0;
    for (int m = 32767; m >= 1 && maximum == 0; --m)
        if (hist[m]) maximum = m;
    for (int m = 1; m < 32768; ++m)
        total += hist[m];
    const int high_count = int(float(total) * thigh + 0.5);
    int high = 1, running = hist[1];
    while (high < maximum - 1 && running < high_count)
        running += hist[++high];
    const int16_t low = int16_t(int(float(high) * tlow + 0.5));
    for (int i = 0; i < n; ++i) {
        if (e[i] != 128 || mag[i] < high) continue;
        e[i] = 0;
        std::deque<int> queue{i};
        while (!queue.empty()) {
            const int p = queue.front();
            queue.pop_front();
            for (int d = 0; d < 8; ++d) {
                const int q = p + offsets_y[d] * width + offsets_x[d];
                if (e[q] == 128 && mag[q] > low) {
                    e[q] = 0;
                    queue.push_back(q);
                }
            }
        }
    }
    for (auto& v : e)
        if (v != 0) v = 255;
    return e;
}

// ---- Samples ------------------------------------------------------------------------------

// A band image of w2 x h2 bytes filled by f(x, y).
template <typename F> band_sample make_sample(int w2, int h2, F f, uint8_t flags = 15) {
    band_sample s;
    s.image.reset(new uint8_t[size_t(w2) * h2]);
    for (int y = 0; y < h2; ++y)
        for (int x = 0; x < w2; ++x)
            s.image[size_t(y) * w2 + x] = uint8_t(f(x, y));
    s.corner_flags = flags;
    return s;
}

// Smooth waves with noise: plenty of edges of every direction.
band_sample textured_sample(int w2, int h2, unsigned seed, uint8_t flags = 15) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0, 6.28);
    const double a = phase(rng), b = phase(rng);
    return make_sample(
        w2, h2,
        [&](int x, int y) {
            const double v = 128 + 70 * std::sin(x * 0.31 + a) * std::cos(y * 0.23 + b) +
                             40 * ((x / 7 + y / 5) % 2) + double(rng() % 21) - 10;
            return v < 0 ? 0 : v > 255 ? 255 : int(v);
        },
        flags);
}

band_sample flat_sample(int w2, int h2, uint8_t flags = 15) {
    return make_sample(
        w2, h2, [](int, int) { return 90; }, flags);
}

// Dark left of column `at`, bright from it on.
band_sample step_sample(int w2, int h2, int at, uint8_t flags = 15) {
    return make_sample(
        w2, h2, [at](int x, int) { return x < at ? 30 : 200; }, flags);
}

bool bit(const std::vector<uint8_t>& mask, int i) {
    return mask[i / 8] & (128 >> (i % 8));
}

class CannyLogo : public ::testing::Test {
  protected:
    void TearDown() override { sw = Settings{}; }

    // Runs the detector on the NE quadrant of 2*band_w x 2*band_h images.
    std::vector<uint8_t> run(const std::vector<band_sample>& samples, int rw, int rh,
                             uint8_t fill = 0, int corner = 1) {
        sw.frames = int(samples.size());
        std::vector<uint8_t> mask(size_t(rw) * rh / 8, fill);
        EXPECT_EQ(0, canny_logo(w2, h2, rw, rh, w2 / 2, samples.data(), mask.data(), corner));
        return mask;
    }
    int w2 = 96, h2 = 64;
};

} // namespace

// ---- Kernel -------------------------------------------------------------------------------

TEST(GaussianKernel, SizesFollowSigma) {
    const float sigmas[] = {1.0f, 1.2f, 0.4f, 0.3f, 2.0f, 0.0f};
    const int sizes[] = {7, 9, 5, 3, 11, 1};
    for (int i = 0; i < 6; ++i) {
        int size = 0;
        gaussian_kernel(sigmas[i], size);
        EXPECT_EQ(sizes[i], size) << "sigma " << sigmas[i];
    }
}

TEST(GaussianKernel, DefaultWeightsAreSymmetricAndNormalised) {
    int size = 0;
    const auto k = gaussian_kernel(1.2f, size);
    ASSERT_EQ(9, size);
    const double expected[] = {0.001285, 0.014609, 0.082907, 0.234954, 0.332490};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(expected[i], k[i], 1e-6) << i;
        EXPECT_EQ(k[i], k[8 - i]) << i;
    }
}

TEST(GaussianKernel, SigmaZeroIsNotANumber) {
    int size = 0;
    const auto k = gaussian_kernel(0.0f, size);
    ASSERT_EQ(1, size);
    EXPECT_TRUE(std::isnan(k[0]));
}

TEST(GaussianKernelDeathTest, KernelThatCannotBeMadeEndsTheProcess) {
    const float sigmas[] = {std::numeric_limits<float>::infinity(), 1e10f,
                            std::numeric_limits<float>::quiet_NaN()};
    std::vector<band_sample> samples;
    samples.push_back(flat_sample(32, 16));
    for (float sigma : sigmas) {
        EXPECT_EXIT(
            {
                sw.sigma = sigma;
                sw.frames = 1;
                uint8_t mask[8] = {};
                canny_logo(32, 16, 16, 4, 0, samples.data(), mask, 0);
            },
            ::testing::ExitedWithCode(1), "^Error callocing the gaussian kernel array\\.\n$")
            << "sigma " << sigma;
    }
}

// ---- Gradient -----------------------------------------------------------------------------

TEST(CannyGradient, MatchesStraightforwardVersionBitForBit) {
    std::mt19937 rng(7);
    const int sizes[][2] = {{2, 2}, {2, 9}, {9, 2}, {5, 7}, {17, 3}, {40, 33}, {67, 45}, {100, 12}};
    const float sigmas[] = {0.3f, 0.4f, 1.0f, 1.2f, 2.0f, 3.3f, 0.0f};
    for (const auto& wh : sizes)
        for (float sigma : sigmas) {
            const int w = wh[0], h = wh[1], stride = w + 11;
            std::vector<uint8_t> band(size_t(stride) * (h + 4));
            for (auto& v : band)
                v = uint8_t(rng() % 4 == 0 ? rng() : (rng() % 3) * 100);
            const uint8_t* region = band.data() + 2 * stride + 5;
            int size = 0;
            const auto kernel = gaussian_kernel(sigma, size);
            const auto ref = reference_gradient(region, stride, w, h, kernel.get(), size);
            const size_t n = size_t(w) * h;
            std::vector<float> blurred(n);
            std::vector<int16_t> smoothed(n), dx(n), dy(n), mag(n);
            canny_gradient(region, stride, w, h, kernel.get(), size, blurred.data(),
                           smoothed.data(), dx.data(), dy.data(), mag.data());
            SCOPED_TRACE(testing::Message() << w << "x" << h << " sigma " << sigma);
            EXPECT_EQ(0, std::memcmp(ref.blurred.data(), blurred.data(), n * sizeof(float)));
            EXPECT_EQ(ref.smoothed, smoothed);
            EXPECT_EQ(ref.dx, dx);
            EXPECT_EQ(ref.dy, dy);
            EXPECT_EQ(ref.magnitude, mag);
        }
}

// ---- Suppression --------------------------------------------------------------------------

TEST(NonMaxSupp, OctantsMatchTheTableOnRandomImages) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const int rows = 3 + int(rng() % 9), width = 3 + int(rng() % 9);
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

TEST(NonMaxSupp, TieBreakIsOneSided) {
    // 5 x 3, gradient pointing right at the middle pixel (2, 1): mag1 looks left (W),
    // mag2 right (E).
    auto centre = [](int west, int east) {
        std::vector<int16_t> mag = {0, 0, 0, 0, 0, 0, int16_t(west), 10, int16_t(east),
                                    0, 0, 0, 0, 0, 0};
        std::vector<int16_t> dx(15, 10), dy(15, 0);
        std::vector<uint8_t> out(15);
        non_max_supp(mag.data(), dx.data(), dy.data(), 3, 5, out.data());
        return out[7];
    };
    EXPECT_EQ(128, centre(5, 5));   // strict maximum
    EXPECT_EQ(128, centre(10, 5));  // equal on the near side: kept
    EXPECT_EQ(255, centre(5, 10));  // equal on the far side: suppressed
    EXPECT_EQ(255, centre(10, 10)); // plateau
    EXPECT_EQ(255, centre(5, 11));  // not a maximum
}

TEST(NonMaxSupp, BorderRingAndZeroMagnitude) {
    std::vector<int16_t> mag(16, 9), dx(16, 3), dy(16, -2);
    mag[5] = 0;
    std::vector<uint8_t> out(16, 77);
    non_max_supp(mag.data(), dx.data(), dy.data(), 4, 4, out.data());
    for (int i : {0, 1, 2, 3, 4, 7, 8, 11, 12, 13, 14, 15})
        EXPECT_EQ(0, out[i]) << i;
    EXPECT_EQ(255, out[5]);
    for (int rows = 1; rows <= 2; ++rows) { // every pixel on the ring
        std::vector<uint8_t> thin(8, 77);
        non_max_supp(mag.data(), dx.data(), dy.data(), rows, 4, thin.data());
        EXPECT_EQ(std::vector<uint8_t>(size_t(rows) * 4, 0),
                  std::vector<uint8_t>(thin.begin(), thin.begin() + rows * 4));
    }
}

// ---- Hysteresis ---------------------------------------------------------------------------

TEST(Hysteresis, ThresholdsWithoutCandidates) {
    const int16_t mag[3] = {0, 0, 7};
    const uint8_t edges[3] = {128, 128, 255};
    int high = -1;
    int16_t low = -1;
    hysteresis_thresholds(mag, edges, 3, 0.3f, 0.8f, high, low);
    EXPECT_EQ(1, high);
    EXPECT_EQ(0, low);
    hysteresis_thresholds(mag, edges, 3, 0.5f, 0.8f, high, low);
    EXPECT_EQ(1, low);

    std::vector<int16_t> m9(9, 0);
    std::vector<uint8_t> s9(9, 128), e9(9, 77);
    apply_hysteresis(m9.data(), s9.data(), 3, 3, e9.data(), 0.3f, 0.8f);
    EXPECT_EQ(std::vector<uint8_t>(9, 255), e9);
}

TEST(Hysteresis, SingleCandidateOfMagnitudeFive) {
    std::vector<int16_t> mag(9, 0);
    std::vector<uint8_t> supp(9, 255), edges(9);
    mag[4] = 5;
    supp[4] = 128;
    int high = 0;
    int16_t low = 0;
    hysteresis_thresholds(mag.data(), supp.data(), 9, 0.3f, 0.8f, high, low);
    EXPECT_EQ(4, high);
    EXPECT_EQ(1, low);
    apply_hysteresis(mag.data(), supp.data(), 3, 3, edges.data(), 0.3f, 0.8f);
    std::vector<uint8_t> expected(9, 255);
    expected[4] = 0;
    EXPECT_EQ(expected, edges);
}

// Candidates on a 9 x 5 image; returns the edge map.
static std::vector<uint8_t> candidates_9x5(std::vector<std::pair<int, int16_t>> at, float tlow,
                                           int& high, int16_t& low) {
    std::vector<int16_t> mag(45, 0);
    std::vector<uint8_t> supp(45, 255), edges(45);
    for (auto [i, m] : at) {
        mag[i] = m;
        supp[i] = 128;
    }
    hysteresis_thresholds(mag.data(), supp.data(), 45, tlow, 0.8f, high, low);
    apply_hysteresis(mag.data(), supp.data(), 5, 9, edges.data(), tlow, 0.8f);
    return edges;
}

TEST(Hysteresis, StartsAtHighAndJoinsAboveLow) {
    // 5 and 6 either side of a 10, an isolated 11: total 4, high count 3, so high 10 and
    // low 5. The 10 starts an edge, joins the 6 but not the 5.
    int high = 0;
    int16_t low = 0;
    const int s = 2 * 9 + 2, j = s + 1, k = s - 1, z = 9 + 6;
    auto e = candidates_9x5({{s, 10}, {j, 6}, {k, 5}, {z, 11}}, 0.5f, high, low);
    EXPECT_EQ(10, high);
    EXPECT_EQ(5, low);
    EXPECT_EQ(0, e[s]);
    EXPECT_EQ(0, e[j]);
    EXPECT_EQ(255, e[k]);
    EXPECT_EQ(0, e[z]);

    // tlow 1: low equals high; a neighbour at 10 is not joined but starts on its own.
    e = candidates_9x5({{s, 10}, {j, 10}, {k, 9}, {z, 11}}, 1.0f, high, low);
    EXPECT_EQ(10, high);
    EXPECT_EQ(10, low);
    EXPECT_EQ(0, e[s]);
    EXPECT_EQ(0, e[j]);
    EXPECT_EQ(255, e[k]);
}

TEST(Hysteresis, SpiralIsMarkedFromOnePixel) {
    // A square spiral of candidates in a 21 x 21 image, arms two pixels apart, so that
    // the only way along it is the chain itself. Followed from its inner end.
    const int w = 21;
    int x = 10, y = 10;
    std::vector<int> path{y * w + x};
    const int sx[4] = {1, 0, -1, 0}, sy[4] = {0, 1, 0, -1};
    for (int len = 2, dir = 0;; ++dir) {
        int s = 0;
        for (; s < len; ++s) {
            x += sx[dir % 4];
            y += sy[dir % 4];
            if (x < 1 || x > w - 2 || y < 1 || y > w - 2) break;
            path.push_back(y * w + x);
        }
        if (s < len) break;
        if (dir % 2 == 1) len += 2;
    }
    ASSERT_GT(path.size(), 150u);
    std::vector<int16_t> mag(w * w, 0);
    std::vector<uint8_t> edges(w * w, 255);
    for (int p : path) {
        edges[p] = 128;
        mag[p] = 20;
    }
    const int start = path.front();
    edges[start] = 0;
    std::vector<uint8_t> cut = edges;
    follow_edges(&edges[start], &mag[start], 19, w);
    for (int p : path)
        EXPECT_EQ(0, edges[p]) << p;

    // A pixel at the low threshold halfway along ends the chain there.
    mag[path[path.size() / 2]] = 19;
    std::vector<uint8_t> ref = cut;
    follow_edges(&cut[start], &mag[start], 19, w);
    reference_follow(ref, mag, start, 19, w);
    EXPECT_EQ(ref, cut);
    EXPECT_EQ(0, cut[path[path.size() / 2 - 1]]);
    EXPECT_EQ(128, cut[path[path.size() / 2]]);
    EXPECT_EQ(128, cut[path.back()]);
}

TEST(Hysteresis, FollowingMatchesRecursiveVersionOnRandomMaps) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const int rows = 3 + int(rng() % 20), width = 3 + int(rng() % 20);
        const int n = rows * width;
        std::vector<int16_t> mag(n);
        std::vector<uint8_t> edges(n);
        for (int i = 0; i < n; ++i) {
            mag[i] = int16_t(rng() % 12);
            const bool ring =
                i % width == 0 || i % width == width - 1 || i < width || i >= n - width;
            edges[i] = ring || rng() % 3 == 0 ? 255 : 128;
        }
        const int start = (1 + int(rng() % (rows - 2))) * width + 1 + int(rng() % (width - 2));
        const auto low = int16_t(rng() % 6);
        edges[start] = 0;
        std::vector<uint8_t> ref = edges;
        follow_edges(&edges[start], &mag[start], low, width);
        reference_follow(ref, mag, start, low, width);
        ASSERT_EQ(ref, edges) << "round " << round;
    }
}

TEST(Hysteresis, MatchesBreadthFirstVersionOnRandomImages) {
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
    // about 200,000 pixels, all of equal magnitude.
    const int w = 1002, rows = 402;
    std::vector<int16_t> mag(size_t(w) * rows, 0);
    std::vector<uint8_t> supp(size_t(w) * rows, 255), edges(size_t(w) * rows);
    size_t length = 0;
    auto put = [&](int x, int y) {
        supp[size_t(y) * w + x] = 128;
        mag[size_t(y) * w + x] = 300;
        ++length;
    };
    for (int y = 1; y < rows - 1; y += 2) {
        for (int x = 1; x < w - 1; ++x)
            put(x, y);
        if (y + 2 < rows - 1) put((y / 2) % 2 == 0 ? w - 2 : 1, y + 1);
    }
    ASSERT_GT(length, 100000u);
    apply_hysteresis(mag.data(), supp.data(), rows, w, edges.data(), 0.3f, 0.8f);
    size_t marked = 0;
    for (size_t i = 0; i < edges.size(); ++i)
        marked += edges[i] == 0 && supp[i] == 128;
    EXPECT_EQ(length, marked);

    // The same from one pixel, with every other pixel below the high threshold.
    std::vector<uint8_t> map(edges.size());
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = supp[i];
    map[w + 1] = 0;
    follow_edges(&map[w + 1], &mag[w + 1], 299, w);
    for (size_t i = 0; i < map.size(); ++i)
        ASSERT_EQ(supp[i] == 128 ? 0 : 255, map[i]) << i;
}

// ---- The detector -------------------------------------------------------------------------

TEST_F(CannyLogo, FlatRegionHasNoEdges) {
    std::vector<band_sample> samples;
    samples.push_back(flat_sample(w2, h2));
    samples.push_back(flat_sample(w2, h2));
    EXPECT_EQ(std::vector<uint8_t>(48 * 32 / 8, 0xff), run(samples, 48, 32));
}

TEST_F(CannyLogo, WithoutTakingPartEveryPixelIsCandidate) {
    std::vector<band_sample> samples;
    samples.push_back(textured_sample(w2, h2, 1, 1 | 4 | 8)); // not corner 1
    samples.emplace_back();                                   // never captured
    EXPECT_EQ(std::vector<uint8_t>(48 * 32 / 8, 0), run(samples, 48, 32, 0xff));
}

TEST_F(CannyLogo, SigmaZeroFindsNoEdges) {
    sw.sigma = 0.0f;
    std::vector<band_sample> samples;
    samples.push_back(textured_sample(w2, h2, 2));
    EXPECT_EQ(std::vector<uint8_t>(48 * 32 / 8, 0xff), run(samples, 48, 32));
}

TEST_F(CannyLogo, ThresholdsAtTheEnds) {
    std::vector<band_sample> samples;
    samples.push_back(textured_sample(w2, h2, 3));
    samples.push_back(textured_sample(w2, h2, 4));
    sw.threshold = 255; // no mean can exceed 255: every bit cleared
    EXPECT_EQ(std::vector<uint8_t>(48 * 32 / 8, 0), run(samples, 48, 32, 0xff));
    sw.threshold = 0; // set unless an edge in every sample
    const auto mask = run(samples, 48, 32);
    int zeros = 0;
    for (int i = 0; i < 48 * 32; ++i)
        zeros += !bit(mask, i);
    EXPECT_GT(zeros, 0);
    EXPECT_LT(zeros, 48 * 32 / 4);
}

TEST_F(CannyLogo, EdgeCountAgainstDefaultThreshold) {
    auto with = [&](int steps, int flats) {
        std::vector<band_sample> samples;
        for (int i = 0; i < steps; ++i)
            samples.push_back(step_sample(w2, h2, w2 / 2 + 20));
        for (int i = 0; i < flats; ++i)
            samples.push_back(flat_sample(w2, h2));
        samples.push_back(step_sample(w2, h2, w2 / 2 + 10, 1 | 4 | 8)); // other corners
        return run(samples, 48, 32);
    };
    // The edge of the step alone (threshold 0: candidate only where always an edge).
    sw.threshold = 0;
    const auto edge = with(1, 0);
    sw.threshold = 170;
    int edge_pixels = 0;
    for (int i = 0; i < 48 * 32; ++i)
        if (!bit(edge, i)) {
            ++edge_pixels;
            EXPECT_NEAR(20, i % 48, 1) << i;
        }
    EXPECT_GE(edge_pixels, 28);
    EXPECT_EQ(edge, with(1, 2));                                    // an edge in 1 of 3: candidate
    EXPECT_EQ(std::vector<uint8_t>(48 * 32 / 8, 0xff), with(1, 3)); // 1 of 4: not
    EXPECT_EQ(edge, with(2, 2));                                    // 2 of 4: candidate
}

TEST_F(CannyLogo, IgnoresBytesOutsideTheRegion) {
    // Regions inside the NE quadrant and at the very end of the image (SE).
    for (int start : {w2 / 2 + 4 + 3 * w2, w2 / 2 + (h2 / 2) * w2}) {
        std::vector<band_sample> samples;
        for (unsigned seed = 0; seed < 4; ++seed)
            samples.push_back(textured_sample(w2, h2, 10 + seed));
        sw.frames = 4;
        const int rw = 40, rh = 32;
        std::vector<uint8_t> before(rw * rh / 8), after(rw * rh / 8);
        ASSERT_EQ(0, canny_logo(w2, h2, rw, rh, start, samples.data(), before.data(), 1));
        std::mt19937 rng(1);
        for (auto& s : samples)
            for (int i = 0; i < w2 * h2; ++i) {
                const int x = i % w2 - start % w2, y = i / w2 - start / w2;
                if (x < 0 || x >= rw || y < 0 || y >= rh) s.image[i] = uint8_t(rng());
            }
        ASSERT_EQ(0, canny_logo(w2, h2, rw, rh, start, samples.data(), after.data(), 1));
        EXPECT_EQ(before, after);
        int zeros = 0;
        for (int i = 0; i < rw * rh; ++i)
            zeros += !bit(before, i);
        EXPECT_GT(zeros, 0);
    }
}

TEST_F(CannyLogo, RegionsWithoutTwoRowsAndColumns) {
    std::vector<band_sample> samples;
    samples.push_back(textured_sample(w2, h2, 5));
    sw.frames = 1;
    const int sizes[][2] = {{0, 0}, {0, 9}, {16, 0}, {16, 1}, {8, 1}, {1, 8}, {1, 1}};
    for (const auto& wh : sizes) {
        const int bits = wh[0] * wh[1];
        std::vector<uint8_t> mask((bits + 7) / 8 + 2, 0x5a); // two guard bytes
        if (bits % 8) mask[bits / 8] = 0;
        ASSERT_EQ(0, canny_logo(w2, h2, wh[0], wh[1], w2 / 2, samples.data(), mask.data(), 1));
        for (int i = 0; i < bits; ++i)
            EXPECT_TRUE(bit(mask, i)) << wh[0] << "x" << wh[1] << " bit " << i;
        EXPECT_EQ(0x5a, mask[(bits + 7) / 8]);
        EXPECT_EQ(0x5a, mask[(bits + 7) / 8 + 1]);
    }
    // No candidate either when no sample takes part or the threshold is at its top.
    sw.threshold = 255;
    samples[0].corner_flags = 0;
    std::vector<uint8_t> mask(2, 0);
    ASSERT_EQ(0, canny_logo(w2, h2, 16, 1, w2 / 2, samples.data(), mask.data(), 1));
    EXPECT_EQ(std::vector<uint8_t>(2, 0xff), mask);
}

TEST_F(CannyLogo, BufferThatCannotBeAllocatedReturnsItsCode) {
    std::vector<band_sample> samples;
    samples.push_back(flat_sample(w2, h2));
    sw.frames = 1;
    uint8_t mask[4] = {1, 2, 3, 4};
    // 2^46 pixels: the first buffer alone would need 256 TiB.
    EXPECT_EQ(-2, canny_logo(w2, h2, 1 << 20, 1 << 26, 0, samples.data(), mask, 1));
    EXPECT_EQ(1, mask[0]);
    EXPECT_EQ(4, mask[3]);
}
