// The logo model on plain buffers: samples of a corner region made here (moving textures, a
// still shot, logos of known opacity and colour blended in), the model estimated from them
// and held against what went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "logo/edge_cue.h"
#include "logo/logo_matting.h"
#include "logo/logo_model.h"
#include "logo/region_fields.h"

namespace {

// A logo: opacity and colour (Y, Cb, Cr) at a region pixel.
struct logo_pixel {
    float alpha = 0, y = 235, cb = 128, cr = 128;
};
using logo_fn = std::function<logo_pixel(int x, int y, int sample)>;

// Letters of a logo: three blocks of w x h with a hole, `gap` apart, from (x0, y0).
bool letters(int x, int y, int x0, int y0, int w, int h, int gap) {
    const int u = x - x0, v = y - y0;
    if (u < 0 || v < 0 || v >= h || u >= 3 * w + 2 * gap) return false;
    const int k = u % (w + gap);
    if (k >= w) return false;
    return !(k >= w / 3 && k < w - w / 3 && v >= h / 3 && v < h - h / 3);
}

// n samples of a w x h region (4:2:0), each a moving texture of its own, or in samples
// still_from..still_to-1 one still picture (dark poles, a bright sign, camera noise), with
// `logo` blended in; `scale` magnifies everything (the picture's size in 720-row units).
corner_samples make_samples(int w, int h, int n, const logo_fn& logo, int still_from = 0,
                            int still_to = 0, int scale = 1) {
    corner_samples s;
    s.shift_x = s.shift_y = 1;
    s.luma.width = w * scale;
    s.luma.height = h * scale;
    s.cb.width = s.cr.width = w * scale / 2;
    s.cb.height = s.cr.height = h * scale / 2;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> f(0.03f, 0.25f), phase(0.0f, 6.3f);
    std::normal_distribution<float> noise(0.0f, 1.5f);
    const int W = w * scale, H = h * scale;
    std::vector<float> Y(size_t(W) * H), U(Y.size()), V(Y.size());
    for (int k = 0; k < n; ++k) {
        const bool still = k >= still_from && k < still_to;
        const float a = f(rng), b = f(rng), c = f(rng), d = f(rng), p = phase(rng), q = phase(rng);
        const float level = 60.0f + 100.0f * float(k % 7) / 6.0f;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const float u = float(x) / scale, v = float(y) / scale;
                float l, cb, cr;
                if (still) {
                    const bool pole = int(u) % 29 < 4, sign = u > 60 && u < 90 && v > 10 && v < 30;
                    l = pole ? 30.0f : sign ? 210.0f : 140.0f + 20.0f * std::sin(0.05f * v);
                    cb = pole ? 120.0f : 135.0f;
                    cr = sign ? 160.0f : 125.0f;
                } else {
                    l = level + 45 * std::sin(a * u + b * v + p) + 25 * std::sin(c * u - d * v + q);
                    cb = 128 + 25 * std::sin(b * u + c * v + q);
                    cr = 128 + 25 * std::sin(d * u - a * v + p);
                }
                const logo_pixel g = logo(int(u), int(v), k);
                const size_t i = size_t(y) * W + x;
                Y[i] = g.alpha * g.y + (1 - g.alpha) * l + noise(rng);
                U[i] = g.alpha * g.cb + (1 - g.alpha) * cb + noise(rng);
                V[i] = g.alpha * g.cr + (1 - g.alpha) * cr + noise(rng);
            }
        auto put = [](std::vector<uint8_t>& out, float value) {
            out.push_back(uint8_t(std::clamp(std::lround(value), 0L, 255L)));
        };
        for (float value : Y)
            put(s.luma.values, value);
        for (int y = 0; y < H / 2; ++y)
            for (int x = 0; x < W / 2; ++x) {
                const size_t i = size_t(2 * y) * W + 2 * x;
                put(s.cb.values, (U[i] + U[i + 1] + U[i + W] + U[i + W + 1]) / 4);
                put(s.cr.values, (V[i] + V[i + 1] + V[i + W] + V[i + W + 1]) / 4);
            }
    }
    return s;
}

// The mean opacity error over the pixels where the logo or the model has some, and the
// largest opacity the model gives farther than `reach` pixels from the logo.
struct opacity_check {
    double error = 0, stray = 0;
};
opacity_check check(const logo_model& m, const logo_fn& logo, int scale, int reach) {
    opacity_check c;
    int counted = 0;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const float truth = logo(x / scale, y / scale, 0).alpha, got = m.alpha[size_t(y) * m.width + x];
            if (truth > 0.05f || got > 0.05f) {
                c.error += std::fabs(truth - got);
                ++counted;
            }
            bool near = false;
            for (int v = y - reach; v <= y + reach && !near; ++v)
                for (int u = x - reach; u <= x + reach && !near; ++u)
                    near = logo(std::max(u, 0) / scale, std::max(v, 0) / scale, 0).alpha > 0;
            if (!near) c.stray = std::max(c.stray, double(got));
        }
    c.error /= std::max(counted, 1);
    return c;
}

constexpr int RW = 224, RH = 64; // a corner region of a 640 x 360 picture

// White letters at 50 % in the region's top right (corner 1).
logo_pixel half_logo(int x, int y, int) {
    logo_pixel p;
    p.alpha = letters(x, y, 120, 14, 24, 30, 8) ? 0.5f : 0.0f;
    return p;
}

TEST(LogoModelEstimate, FindsTheLogoAndNotTheStillShot) {
    // A still shot over a quarter of the samples: its poles and sign are still there
    // while the logo is, but in one stretch of the recording only.
    const corner_samples s = make_samples(RW, RH, 96, half_logo, 40, 64);
    const logo_model m = estimate_logo(s, 1, 16, 0.5);
    ASSERT_TRUE(m.found);
    EXPECT_NEAR(m.box_x, 120, 3);
    EXPECT_NEAR(m.box_y, 14, 3);
    EXPECT_NEAR(m.box_x + m.box_w, 120 + 3 * 24 + 2 * 8, 3);
    EXPECT_NEAR(m.box_y + m.box_h, 14 + 30, 3);
    const opacity_check c = check(m, half_logo, 1, 3);
    EXPECT_LT(c.error, 0.04);
    EXPECT_LT(c.stray, 0.1); // measured 0.078: one pixel by a still pole next to a letter
    EXPECT_EQ(m.graphics.size(), 1u);
}

TEST(LogoModelEstimate, NoLogoInAProgrammeWithAStillShot) {
    const corner_samples s = make_samples(RW, RH, 96, [](int, int, int) { return logo_pixel{}; }, 40, 64);
    for (int corner = 0; corner < 4; ++corner)
        EXPECT_FALSE(estimate_logo(s, corner, 16, 0.5).found) << corner;
}

// A light blue logo at 40 %: its luma is the programme's mean, it shows in chroma only.
logo_pixel blue_logo(int x, int y, int) {
    logo_pixel p{0.0f, 120.0f, 190.0f, 90.0f};
    p.alpha = letters(x, y, 120, 14, 24, 30, 8) ? 0.4f : 0.0f;
    return p;
}

TEST(LogoModelEstimate, ALogoOfChromaAloneIsFoundWithItsColour) {
    const corner_samples s = make_samples(RW, RH, 96, blue_logo);
    const logo_model m = estimate_logo(s, 1, 16, 0.5);
    ASSERT_TRUE(m.found);
    EXPECT_NEAR(m.box_x, 120, 3);
    EXPECT_NEAR(m.box_y + m.box_h, 14 + 30, 6);
    EXPECT_LT(check(m, blue_logo, 1, 3).error, 0.04);
    // Inside a stroke: its colour.
    const size_t c = size_t(14 + 3) / 2 * m.chroma_width + (120 + 3) / 2;
    EXPECT_NEAR(m.colour_cb[c], 190, 8);
    EXPECT_NEAR(m.colour_cr[c], 90, 8);
}

// White letters at 70 % over a black drop shadow at 40 %, 3 pixels down and right.
logo_pixel shadow_logo(int x, int y, int) {
    logo_pixel p;
    if (letters(x, y, 120, 14, 24, 30, 8)) {
        p.alpha = 0.7f;
    } else if (letters(x - 3, y - 3, 120, 14, 24, 30, 8)) {
        p.alpha = 0.4f;
        p.y = 16;
    }
    return p;
}

// The same letters and shadow, where a letter's soft edge meets its shadow (the shadow's
// pixels beside a letter's right or bottom edge) a grey blend of both, nearly the letter's
// opacity.
logo_pixel soft_shadow_logo(int x, int y, int k) {
    logo_pixel p = shadow_logo(x, y, k);
    const bool beside =
        shadow_logo(x - 1, y, k).alpha == 0.7f || shadow_logo(x, y - 1, k).alpha == 0.7f;
    if (p.alpha == 0.4f && beside) {
        p.alpha = 0.62f;
        p.y = 130;
    }
    return p;
}

TEST(LogoModelEstimate, ADropShadowIsPartOfTheLogoInItsOwnColour) {
    const corner_samples s = make_samples(RW, RH, 96, soft_shadow_logo);
    const logo_model m = estimate_logo(s, 1, 16, 0.5);
    ASSERT_TRUE(m.found);
    EXPECT_NEAR(m.box_y + m.box_h, 14 + 30 + 3, 3);
    EXPECT_LT(check(m, soft_shadow_logo, 1, 3).error, 0.05);
    // The shadow's pixels under the first letter's bottom bar and the letter's own.
    double shadow = 0, letter = 0;
    for (int x = 124; x < 140; ++x) {
        shadow += m.colour[size_t(14 + 31) * m.width + x] / 16;
        letter += m.colour[size_t(14 + 27) * m.width + x] / 16;
    }
    EXPECT_LT(shadow, 60);
    EXPECT_GT(letter, 200);
    // The seam undone over a mid grey: the model's colour there off by D leaves a speckle of
    // D * opacity / (1 - opacity); the letter's white taken for the seam's grey, 170 levels.
    double error = 0;
    int seam = 0;
    for (int y = 0; y < RH; ++y)
        for (int x = 0; x < RW; ++x) {
            const logo_pixel p = soft_shadow_logo(x, y, 0);
            if (p.alpha != 0.62f) continue;
            const size_t i = size_t(y) * m.width + x;
            const double seen = p.alpha * p.y + (1 - p.alpha) * 128.0;
            error += std::fabs((seen - m.alpha[i] * m.colour[i]) / (1 - m.alpha[i]) - 128.0);
            ++seam;
        }
    ASSERT_GT(seam, 100);
    EXPECT_LT(error / seam, 8); // measured 4.1; with each stroke's median alone 30.3
}

TEST(LogoModelEstimate, SizesFollowThePicture) {
    // The same region at three times the size (a 4K picture's): the same logo, three times
    // as large, as well estimated.
    const corner_samples s = make_samples(RW, RH, 96, half_logo, 40, 64, 3);
    const logo_model m = estimate_logo(s, 1, 16, 1.5);
    ASSERT_TRUE(m.found);
    EXPECT_NEAR(m.box_x, 3 * 120, 6);
    EXPECT_NEAR(m.box_y, 3 * 14, 6);
    EXPECT_NEAR(m.box_x + m.box_w, 3 * (120 + 88), 6);
    EXPECT_NEAR(m.box_y + m.box_h, 3 * 44, 6);
    const opacity_check c = check(m, half_logo, 3, 9);
    EXPECT_LT(c.error, 0.04);
    EXPECT_LT(c.stray, 0.06); // measured 0.051: noise in the ring the coarse search grew
}

// The logo, and beside it, closer than the letters are tall and stronger, a tag for the
// first two thirds of the samples.
logo_pixel logo_and_tag(int x, int y, int k) {
    logo_pixel p = half_logo(x, y, k);
    if (k < 64 && x >= 70 && x < 114 && y >= 12 && y < 48) p = logo_pixel{0.8f, 200, 100, 200};
    return p;
}

TEST(LogoModelEstimate, ATagShownPartOfTheTimeIsAGraphicOfItsOwn) {
    const corner_samples s = make_samples(RW, RH, 96, logo_and_tag);
    const logo_model m = estimate_logo(s, 1, 16, 0.5);
    ASSERT_TRUE(m.found);
    ASSERT_EQ(m.graphics.size(), 2u);
    // The logo comes first, the tag has its own box and pixels.
    EXPECT_NEAR(m.box_x, 120, 2);
    EXPECT_NEAR(m.box_w, 88, 4);
    const graphic_box& tag = m.graphics[1];
    EXPECT_NEAR(tag.x, 70, 2);
    EXPECT_NEAR(tag.y, 12, 2);
    EXPECT_NEAR(tag.w, 44, 4);
    EXPECT_NEAR(tag.h, 36, 4);
    EXPECT_GT(tag.strength, m.strength);
    EXPECT_EQ(m.graphic[size_t(30) * m.width + 90], 2);
    EXPECT_EQ(m.graphic[size_t(16) * m.width + 121], 1);
    // Estimated from the samples that show it: its own opacity, not two thirds of it.
    EXPECT_NEAR(m.alpha[size_t(30) * m.width + 90], 0.8, 0.08);
}

TEST(FindLogo, GraphicsAreTheCloseGroupsOfPartsStrongestFirst) {
    logo_model m;
    m.width = 200;
    m.height = 60;
    m.alpha.assign(size_t(m.width) * m.height, 0.0f);
    auto fill = [&](int x0, int y0, int w, int h, float a) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                m.alpha[size_t(y) * m.width + x] = a;
    };
    fill(100, 10, 10, 30, 0.5f); // two letters 12 apart (less than 0.6 of their height): one graphic
    fill(122, 10, 10, 30, 0.5f);
    fill(10, 10, 20, 10, 0.3f);  // a tag, 70 pixels away: a graphic of its own, weaker
    fill(60, 50, 5, 5, 0.9f);    // 25 pixels: too small to be any
    fill(60, 30, 10, 10, 0.05f); // too faint
    find_logo(m, 1.0);
    ASSERT_TRUE(m.found);
    ASSERT_EQ(m.graphics.size(), 2u);
    EXPECT_EQ(m.box_x, 100);
    EXPECT_EQ(m.box_w, 32);
    EXPECT_EQ(m.graphics[1].x, 10);
    EXPECT_EQ(m.graphics[1].w, 20);
    EXPECT_EQ(m.graphic[size_t(15) * m.width + 125], 1);
    EXPECT_EQ(m.graphic[size_t(15) * m.width + 15], 2);
    EXPECT_EQ(m.alpha[size_t(52) * m.width + 62], 0.0f);
    EXPECT_EQ(m.alpha[size_t(35) * m.width + 65], 0.0f);
    // At twice the size a part must be four times as large.
    m.alpha.assign(m.alpha.size(), 0.0f);
    fill(100, 10, 8, 8, 0.5f); // 64 pixels: a part at 720 rows, not at 1440
    find_logo(m, 1.0);
    EXPECT_TRUE(m.found);
    find_logo(m, 2.0);
    EXPECT_FALSE(m.found);
}

TEST(FindLogo, TheEstimatesGraphicsShownMuchLessStayApartAndComeLater) {
    // Graphics of an estimate, each with its label and the share of the samples that showed
    // it. A stronger one shown 0.66 of the time stays apart from the steady one it touches
    // and comes after every one shown 0.74 of it or more (a logo gone for the ad breaks);
    // two steady ones touching are one (the estimate cut a logo in two), and so is an
    // unlabelled part beside them.
    logo_model m;
    m.width = 300;
    m.height = 60;
    m.alpha.assign(size_t(m.width) * m.height, 0.0f);
    m.graphic.assign(m.alpha.size(), 0);
    auto fill = [&](int x0, int y0, int w, int h, float a, uint8_t label) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                m.alpha[size_t(y) * m.width + x] = a;
                m.graphic[size_t(y) * m.width + x] = label;
            }
    };
    fill(10, 10, 20, 20, 0.3f, 1);  // steady, weak: 120
    fill(34, 10, 40, 20, 0.5f, 3);  // 4 px beside it, shown 0.66: 400
    fill(110, 10, 20, 20, 0.6f, 2); // shown 0.74: 240
    fill(200, 10, 10, 10, 0.5f, 4); // steady: 50
    fill(214, 10, 10, 10, 0.5f, 5); // steady: 50 more
    fill(228, 10, 10, 10, 0.5f, 0); // unlabelled: 50 more
    m.graphics.resize(5);
    const float shown[5] = {1.0f, 0.74f, 0.66f, 1.0f, 0.95f};
    for (int k = 0; k < 5; ++k)
        m.graphics[size_t(k)].shown = shown[k];
    find_logo(m, 1.0);
    ASSERT_EQ(m.graphics.size(), 4u);
    EXPECT_EQ(m.box_x, 110);
    EXPECT_EQ(m.box_w, 20);
    EXPECT_EQ(m.graphics[1].x, 200);
    EXPECT_EQ(m.graphics[1].w, 38);
    EXPECT_FLOAT_EQ(m.graphics[1].shown, 1.0f);
    EXPECT_EQ(m.graphics[2].x, 10);
    EXPECT_EQ(m.graphics[2].w, 20);
    EXPECT_EQ(m.graphics[3].x, 34);
    EXPECT_FLOAT_EQ(m.graphics[3].shown, 0.66f);
    EXPECT_EQ(m.graphic[size_t(15) * m.width + 50], 4);
}

// The moments of an emblem at 60 % whose opacity falls to 0 over its outer 10 pixels, over
// a picture whose spread and mean vary evenly, the spread read with 3 % of noise.
TEST(Matting, AnEmblemsSoftRimGrowsOnTheSupportGiven) {
    const grid g{160, 80};
    const auto depth = [](int x, int y) { return std::min({x - 30, 129 - x, y - 16, 63 - y}) + 1; };
    const auto alpha = [&](int x, int y) { return 0.06f * float(std::clamp(depth(x, y), 0, 10)); };
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    graphic_moments m;
    flags core(g.size()), given(g.size()), picture(g.size(), 1);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const float a = alpha(x, y);
            const float spread = 36.0f + 0.1f * x, mean = 100.0f + 0.5f * y;
            m.spread.push_back((1 - a) * spread * (1 + 0.03f * noise(rng)));
            m.mean.push_back(a * 150.0f + (1 - a) * (mean + noise(rng)));
            // What the search gives: the emblem but for its faint outer rim, and beside its
            // left end picture that it took in.
            given[g.at(x, y)] = depth(x, y) >= 4 || (x >= 26 && x < 30 && depth(x + 4, y) >= 1);
            core[g.at(x, y)] = depth(x, y) >= 8;
        }
    const graphic_matte t = matte_from_moments(m, {0, 0, g.w, g.h}, core, given, picture, 1.0);
    int rim = 0, kept = 0, inside = 0;
    double sum = 0;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            const int d = depth(x, y);
            if (d == 2 || d == 3) {
                ++rim;
                kept += t.alpha[g.at(x, y)] > 0.06f;
            } else if (d > 10) {
                ++inside;
                sum += t.alpha[g.at(x, y)];
            }
        }
    printf("rim %d of %d, inside %.3f\n", kept, rim, sum / inside);
    EXPECT_GT(kept, rim / 4);                // measured 254 of 560; none without the rim
    EXPECT_NEAR(sum / inside, 0.6, 0.04);    // measured 0.575; without the rim 0.535
}

TEST(PoissonField, RebuildsAFieldFromItsGradients) {
    const grid g{97, 61};
    field f(g.size()), gx(g.size(), 0.0f), gy(g.size(), 0.0f);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x)
            f[g.at(x, y)] = 40 * std::sin(0.07f * x) * std::cos(0.11f * y) + ((x - 30) * (x - 30) + (y - 20) * (y - 20) < 100 ? 50 : 0);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            if (x + 1 < g.w) gx[g.at(x, y)] = f[g.at(x + 1, y)] - f[g.at(x, y)];
            if (y + 1 < g.h) gy[g.at(x, y)] = f[g.at(x, y + 1)] - f[g.at(x, y)];
        }
    double mean = 0;
    for (float v : f)
        mean += v;
    mean /= double(f.size());
    const field w = poisson_field(gx, gy, g);
    double worst = 0;
    for (size_t i = 0; i < f.size(); ++i)
        worst = std::max(worst, std::fabs(w[i] - (f[i] - mean)));
    EXPECT_LT(worst, 0.5);
}

TEST(EdgeCue, KeepsTheGradientsEveryStretchShares) {
    // Over random pictures, a step every sample has; in the third of the samples that show
    // one still picture, another step: the first is the cue's, the second not.
    plane_samples p;
    p.width = 40;
    p.height = 8;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> level(40, 200), pixel(-8, 8);
    const int n = 48;
    for (int k = 0; k < n; ++k) {
        const int l = level(rng);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                int v = k >= 16 && k < 32 ? (x >= 30 ? 160 : 60) : l + pixel(rng);
                if (x >= 10 && x < 20) v = std::min(255, v / 2 + 120);
                p.values.push_back(uint8_t(v));
            }
    }
    const sample_blocks b = split_blocks(n);
    EXPECT_EQ(b.count(), 8);
    const edge_cue e = edge_cue_of(p, b, flags(size_t(n), 1));
    double at_logo = 0, at_still = 0;
    for (int y = 0; y < p.height; ++y) {
        at_logo += e.gx[size_t(y) * p.width + 9] / p.height;
        at_still += std::fabs(e.gx[size_t(y) * p.width + 29]) / p.height;
    }
    EXPECT_GT(at_logo, 40);
    EXPECT_LT(at_still, 15);
    // The field: the logo stands out of its surroundings.
    EXPECT_GT(e.w[size_t(4) * p.width + 15] - e.w[size_t(4) * p.width + 5], 40);
}

} // namespace
