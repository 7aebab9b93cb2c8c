// The quality bench's arithmetic (bench/score_math): where it could mislead every figure
// the bench prints — the regions, the PSNR's peak, a cropped output's place, the blend's
// inverse.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "score_math.h"

namespace {

plane_view view(const std::vector<uint16_t>& p, int w, int h, int ox = 0, int oy = 0) {
    return plane_view{p.data(), w, h, w, ox, oy};
}

TEST(ScoreRegions, BoxGrownAndClippedRingLeavesTheBoxOut) {
    // A box in the top right corner of a 64 x 48 frame, grown by 2 and by 18.
    const rect logo{50, 1, 10, 6};
    const rect box = grown(logo, 2, 64, 48), ring = grown(logo, 18, 64, 48);
    EXPECT_EQ(box.x, 48);
    EXPECT_EQ(box.y, 0);
    EXPECT_EQ(box.w, 14);
    EXPECT_EQ(box.h, 9);
    EXPECT_EQ(ring.x, 32);
    EXPECT_EQ(ring.w, 32);
    EXPECT_EQ(ring.h, 25);
    const rect both = united(logo, rect{40, 3, 6, 4});
    EXPECT_EQ(both.x, 40);
    EXPECT_EQ(both.w, 20);
    EXPECT_EQ(united(rect{}, logo).w, logo.w);

    // Every pixel differs by 1: the ring counts the ring's pixels only.
    std::vector<uint16_t> a(64 * 48, 100), b(64 * 48, 101);
    const error_sum e = squared_error(view(a, 64, 48), view(b, 64, 48), ring, box);
    EXPECT_EQ(e.count, 32 * 25 - 14 * 9);
    EXPECT_EQ(e.sum, double(e.count));
}

TEST(ScoreRegions, PsnrPeakFollowsTheBitDepth) {
    const error_sum one{100, 100}; // a mean squared error of 1
    EXPECT_NEAR(psnr(one, 255), 48.131, 0.001);
    EXPECT_NEAR(psnr(one, 1023), 60.198, 0.001);
    EXPECT_TRUE(std::isinf(psnr(error_sum{0, 10}, 255)));
    EXPECT_TRUE(std::isnan(psnr(error_sum{}, 255)));
}

TEST(ScoreRegions, CroppedOutputFoundAndScoredInPlace) {
    // A 40 x 30 frame of noise; the output is its rows 6..23 (bars cropped off).
    std::mt19937 rng(3);
    std::vector<uint16_t> whole(40 * 30), part;
    for (auto& v : whole) v = uint16_t(rng() % 256);
    part.assign(whole.begin() + 6 * 40, whole.begin() + 24 * 40);
    int ox = -1, oy = -1;
    best_offset(view(whole, 40, 30), view(part, 40, 18), 2, ox, oy);
    EXPECT_EQ(ox, 0);
    EXPECT_EQ(oy, 6);
    // In place, it matches where it covers and counts nothing where it does not.
    const plane_view placed = view(part, 40, 18, 0, 6);
    const error_sum e = squared_error(view(whole, 40, 30), placed, rect{0, 0, 40, 30});
    EXPECT_EQ(e.sum, 0);
    EXPECT_EQ(e.count, 40 * 18);
    // Flicker: the output's changes against the programme's, not the changes themselves.
    std::vector<uint16_t> later(whole), part_later(part);
    for (auto& v : later) v = uint16_t(v + 5);
    for (auto& v : part_later) v = uint16_t(v + 7);
    const error_sum f = change_error(view(part_later, 40, 18, 0, 6), placed, view(later, 40, 30),
                                     view(whole, 40, 30), rect{0, 0, 40, 30});
    EXPECT_EQ(f.count, 40 * 18);
    EXPECT_EQ(f.sum, 2.0 * f.count);
}

TEST(ScoreRegions, BlendUndoneAsTheOverlayMadeIt) {
    // The overlay's rounding (8-bit) undone to within one level; opaque pixels kept.
    for (int a : {26, 77, 128, 200}) {
        const double op = faded_opacity(a, 1);
        for (int picture = 0; picture < 256; picture += 15) {
            const int blended = (picture * (255 - a) + 235 * a + 128) * 257 >> 16;
            EXPECT_NEAR(undo_blend(uint16_t(blended), 235, op, 255), picture, 255.0 / (255 - a))
                << a << " " << picture;
        }
    }
    EXPECT_EQ(undo_blend(90, 235, faded_opacity(255, 1), 255), 90);
    EXPECT_EQ(undo_blend(90, 235, 0, 255), 90);
    EXPECT_EQ(undo_blend(10, 235, 0.5, 1023), 0); // clamped at black
    // A fade's opacity: alpha bytes rounded as make-recording's filter rounds them.
    EXPECT_DOUBLE_EQ(faded_opacity(128, 0.5), 64 / 255.0);
    EXPECT_DOUBLE_EQ(faded_opacity(127, 0.5), 64 / 255.0);
    EXPECT_DOUBLE_EQ(faded_opacity(255, 1 / 12.0), 21 / 255.0);
}

} // namespace
