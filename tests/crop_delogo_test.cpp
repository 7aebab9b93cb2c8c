// The analysis on hand-made band images: border crop, static-pixel detector, mask clean-up
// and ratios, logo box search, mask mode and the report. Optimised routines are compared
// with their straightforward versions on random input, the mask operations and the box
// search with their worked values; the end-to-end table covers the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analysis/border_crop.h"
#include "analysis/crop_delogo.h"
#include "helpers.h"
#include "analysis/logo_box.h"
#include "analysis/settings.h"
#include "analysis/static_pixels.h"

namespace {

using edges = std::array<int, 4>; // top, bottom, left, right
edges of(const box& b) {
    return {b.top, b.bottom, b.left, b.right};
}

bool in(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

// Changing background: every pixel differs by 160 from one sample to the next.
int moving(int s, int x, int y) {
    return (s % 2 ? 200 : 40) + (x + y) % 3 * 5;
}

// The analysis's standard output, run in a fresh working directory of the test (tests run
// in parallel processes) with settings `s`; the settings go back to the defaults afterwards.
std::string run_analysis(int w2, int h2, int fw, int fh, const std::vector<band_sample>& samples,
                         Settings s = Settings{}) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(
        fresh_dir("crop_delogo_" +
                  std::string(testing::UnitTest::GetInstance()->current_test_info()->name())));
    sw = s;
    sw.frames = static_cast<int>(samples.size());
    testing::internal::CaptureStdout();
    crop_delogo(w2, h2, fw, fh, samples.data());
    sw = Settings{};
    std::filesystem::current_path(previous);
    return testing::internal::GetCapturedStdout();
}

// Expects the static pixels of m to be exactly those where want(x, y).
void expect_static(const test_mask& m, const std::function<bool(int, int)>& want) {
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            ASSERT_EQ(m.is_static(x, y), want(x, y)) << x << "," << y;
}

// A mask drawn row by row, rows separated by '|', '#' for a static pixel.
test_mask drawn(const std::string& rows) {
    const int w = static_cast<int>(std::min(rows.find('|'), rows.size()));
    return test_mask(w, static_cast<int>(rows.size() + 1) / (w + 1),
                     [&](int x, int y) { return rows[y * (w + 1) + x] == '#'; });
}

template <typename T> T pick(std::mt19937& rng, T lo, T hi) {
    return std::uniform_int_distribution<T>(lo, hi)(rng);
}

// ---- Border crop ------------------------------------------------------------------------

// The border box as first defined: every candidate row and column tested pixel by pixel,
// from the middle outwards.
box plain_border(const uint8_t* image, int w2, int h2, int level) {
    auto dark = [&](bool row, int i) {
        for (int j = 0; j < (row ? w2 : h2); ++j)
            if (image[row ? static_cast<size_t>(i) * w2 + j : static_cast<size_t>(j) * w2 + i] >
                level)
                return false;
        return true;
    };
    auto first_dark = [&](bool row, int from, int step) {
        for (int i = from; i >= 0 && i < (row ? h2 : w2); i += step)
            if (dark(row, i)) return i;
        return -1;
    };
    const int top = first_dark(true, h2 / 2, -1), bottom = first_dark(true, h2 / 2 + 1, 1);
    const int left = first_dark(false, w2 / 2, -1), right = first_dark(false, w2 / 2 + 1, 1);
    return {top < 0 ? 0 : top + 1, bottom < 0 ? h2 : bottom, left < 0 ? 0 : left + 1,
            right < 0 ? w2 : right};
}

TEST(CropBox, BlockedColumnSearchMatchesPlainScan) {
    std::mt19937 rng(7);
    for (int round = 0; round < 4000; ++round) {
        const bool big = round % 500 == 0;
        const int w2 = big ? 1344 : pick(rng, 0, 299), h2 = big ? 388 : pick(rng, 0, 39);
        const int level = pick(rng, 0, 49) ? pick(rng, 0, 39) : pick(rng, -300, 299);
        const int dense = pick(rng, 0, 99), noise = pick(rng, 0, 3) == 0;
        // Dark pixels at some density, and dark pillars of random width on both sides.
        const int pillar_left = pick(rng, 0, w2) / 4, pillar_right = pick(rng, 0, w2) / 4;
        std::vector<uint8_t> image(static_cast<size_t>(w2) * h2);
        for (size_t i = 0; i < image.size(); ++i) {
            const int x = static_cast<int>(i % w2);
            const bool pillar = x < pillar_left || x >= w2 - pillar_right;
            image[i] = pillar                     ? pick(rng, 0, 23)
                       : pick(rng, 0, 99) < dense ? pick(rng, 0, 29)
                       : noise                    ? pick(rng, 0, 255)
                                                  : 200;
        }
        ASSERT_EQ(of(sample_border(image.data(), w2, h2, level)),
                  of(plain_border(image.data(), w2, h2, level)))
            << w2 << "x" << h2 << " level " << level;
    }
}

TEST(CropBox, UnionOfTheSamplesOddSizesAndNoPicture) {
    // Each edge from the most generous sample; an odd size loses its last column/row.
    const box two[2] = {{6, 30, 4, 60}, {2, 32, 8, 64}}, odd{10, 111, 50, 351};
    EXPECT_EQ(of(union_crop(two, 2, 64, 32)), (edges{2, 32, 4, 64}));
    EXPECT_EQ(of(union_crop(&odd, 1, 400, 200)), (edges{10, 110, 50, 350}));
    // No picture (no samples, or every pass failed): the starting box is no finding.
    EXPECT_EQ(run_analysis(112, 32, 160, 90, {}), "");
    EXPECT_EQ(run_analysis(112, 32, 160, 90, std::vector<band_sample>(3)), "");
}

// ---- Static-pixel detector and mask clean-up ----------------------------------------------

// Every pair of taking-part samples compared pixel by pixel.
void pairwise_logo(int band_w2, int rw, int rh, int start, const band_sample* samples,
                   uint8_t* mask, int corner) {
    auto part = [&](int s) {
        return (samples[s].corner_flags & (1 << corner)) && samples[s].image;
    };
    for (int i = 0; i < sw.frames; ++i)
        for (int j = i + 1; j < sw.frames; ++j)
            for (int k = 0; part(i) && part(j) && k < rw * rh; ++k) {
                const size_t p = static_cast<size_t>(start) + k / rw * band_w2 + k % rw;
                if (std::abs(samples[i].image[p] - samples[j].image[p]) > sw.level_delta)
                    mask[k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
            }
}

TEST(DistanceLogo, MatchesPairwiseComparisonOnRandomInput) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        // Every 50th round a region wider than the detector's working chunk.
        const int rw = 8 * (round % 50 == 0 ? pick(rng, 257, 300) : pick(rng, 1, 12));
        const int rh = pick(rng, 0, 9);
        const int w2 = 2 * ((rw + pick(rng, 0, 40)) / 2 + 1),
                  h2 = 2 * ((rh + pick(rng, 0, 6)) / 2 + 1);
        const int start = pick(rng, 0, h2 - rh) * w2 + pick(rng, 0, w2 - rw);
        const bool narrow = pick(rng, 0, 3) > 0; // values near the limit
        std::vector<band_sample> samples(pick(rng, 0, 9));
        for (auto& s : samples) {
            s.corner_flags = static_cast<uint8_t>(pick(rng, 0, 15));
            if (pick(rng, 0, 9) == 0) continue; // no band image: a failed pass
            s.image.reset(new uint8_t[static_cast<size_t>(w2) * h2]);
            for (int i = 0; i < w2 * h2; ++i)
                s.image[i] =
                    static_cast<uint8_t>(narrow ? 100 + pick(rng, 0, 70) : pick(rng, 0, 255));
        }
        sw.frames = static_cast<int>(samples.size());
        sw.level_delta = pick(rng, 0, 3) == 0 ? 255 : pick(rng, 1, 80);
        const int corner = pick(rng, 0, 3);
        std::vector<uint8_t> fast(static_cast<size_t>(rw / 8) * rh);
        for (auto& b : fast)
            b = pick(rng, 0, 2) ? 0 : static_cast<uint8_t>(pick(rng, 0, 255));
        std::vector<uint8_t> slow = fast;
        EXPECT_EQ(distance_logo(w2, h2, rw, rh, start, samples.data(), fast.data(), corner), 0);
        pairwise_logo(w2, rw, rh, start, samples.data(), slow.data(), corner);
        sw = Settings{};
        ASSERT_EQ(fast, slow) << "round " << round;
    }
}

TEST(MaskCleanUp, WorkedValues) {
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(zeroes[v], 8 - std::bitset<8>(v).count()) << v;

    // clean_rows on one row of `len` bits, clean_columns on column 13 of a 16-bit mask of
    // `len` rows, the first n pixels of the line static (and column 12 beside it): only more
    // than nine tenths erase the line, its pixels that were 1 already included.
    // clang-format off
    const struct { bool row; int len, n; bool erased; } lines[] = {
        {true, 64, 57, false}, {true, 64, 58, true}, {true, 80, 72, false}, {true, 80, 73, true},
        {false, 10, 9, false}, {false, 10, 10, true}, {false, 20, 18, false}, {false, 20, 19, true},
        {false, 100, 90, false}, {false, 100, 91, true}};
    // clang-format on
    for (const auto& c : lines) {
        SCOPED_TRACE(testing::Message() << (c.row ? "row " : "column ") << c.len << " " << c.n);
        const auto on = [&](int x, int y) {
            return c.row ? x < c.n : x == 12 || (x == 13 && y < c.n);
        };
        test_mask m(c.row ? c.len : 16, c.row ? 1 : c.len, on);
        c.row ? clean_rows(c.len, m.data()) : clean_columns(16, c.len, 0x80 >> 5, m.data() + 1);
        expect_static(m,
                      [&](int x, int y) { return on(x, y) && !(c.erased && (c.row || x == 13)); });
    }

    // Per mille of the static pixels (#) left of (hratio) or above (vratio) `split`: the
    // split column or row itself counts to the right or below; the quotient is truncated.
    // clang-format off
    const struct { bool by_row; const char* mask; int split, want; } ratios[] = {
        {false, "...#............|.........#......", 0, 0},
        {false, "...#............|.........#......", 10, 1000},
        {false, ".........#......|.........#......", 9, 0},
        {false, "..#......#......|.........#......", 9, 333},
        {false, "........#.#.##..", 13, 750}, // split inside a byte: 8-12 left, 13-15 right
        {false, "....########....", 6, 250}, {false, "....########....", 9, 625},
        {false, "....########....", 10, 750},
        {true, "#.......|#.......|#.......", 0, 0}, {true, "#.......|#.......|#.......", 3, 1000},
        {true, "#.......|#.......|#.......", 2, 666}};
    // clang-format on
    for (const auto& r : ratios) {
        const test_mask m = drawn(r.mask);
        EXPECT_EQ((r.by_row ? vratio : hratio)(m.width, m.height, r.split, m.bits.data()), r.want)
            << r.mask << " split " << r.split;
    }
}

// ---- Logo box search ----------------------------------------------------------------------

// The growth loop as written out: whole passes of the four steps, pixel by pixel, until a
// pass changes nothing; a box still empty at the end of a pass is lost.
bool plain_grow(const test_mask& m, int border, box& x) {
    // A static pixel in columns c0..c1 of rows r0..r1?
    auto any = [&](int c0, int c1, int r0, int r1) {
        for (int y = r0; y <= r1; ++y)
            for (int c = c0; c <= c1; ++c) {
                EXPECT_TRUE(in(c, 0, m.width - 1) && in(y, 0, m.height - 1)) << c << "," << y;
                if (m.is_static(c, y)) return true;
            }
        return false;
    };
    int* sides[4] = {&x.left, &x.right, &x.top, &x.bottom};
    for (int pass = 0; pass < 8 * (m.width + m.height) + 64; ++pass) {
        const edges before = of(x);
        for (int k = 0; k < 4; ++k) { // left, right, top, bottom
            int& edge = *sides[k];
            const int out = k % 2 ? 1 : -1, last = (k < 2 ? m.width : m.height) - 1;
            const int reach = std::clamp(edge + out * border, 0, last);
            // Static pixels between the edge and its reach, or on the edge's own line.
            auto found = [&](int a, int b) {
                return k < 2 ? any(std::min(a, b), std::max(a, b), x.top, x.bottom)
                             : any(x.left, x.right, std::min(a, b), std::max(a, b));
            };
            if (reach == edge) continue;
            if (found(edge + out, reach)) {
                edge += out;
            } else if (!found(edge, edge)) {
                edge -= out;
            }
        }
        if (x.right < x.left || x.bottom < x.top) return false;
        if (of(x) == before) return true;
    }
    return true;
}

TEST(LogoBox, GrowthMatchesThePlainLoopAlsoWhenAStepEmptiesTheBox) {
    // A one-row box over an empty row, static pixels three rows below: the top step
    // empties it, the bottom step of the same pass repairs it, and it walks down to them.
    const test_mask m(24, 16, [](int x, int y) { return y == 9 && in(x, 3, 5); });
    box b{6, 6, 0, 23}, literal = b;
    ASSERT_TRUE(grow_box(m.bits.data(), 24, 16, 3, b) && plain_grow(m, 3, literal));
    EXPECT_EQ(of(b), (edges{9, 9, 0, 23}));
    EXPECT_EQ(of(literal), of(b));
    // Small masks and boxes, so that steps empty the box (the straightforward loop
    // repairs it within the pass) and boxes walk towards their static pixels.
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        const int w = 8 * pick(rng, 1, 4), h = pick(rng, 1, 24), density = pick(rng, 1, 40);
        test_mask r(w, h, [&](int, int) { return pick(rng, 0, 99) < density / 4; });
        const int x0 = pick(rng, 0, w - 1), y0 = pick(rng, 0, h - 1);
        box start{y0, pick(rng, y0, h - 1), x0, pick(rng, x0, w - 1)};
        box fast = start, plain = start;
        const int border = pick(rng, 0, 6);
        const bool kept = grow_box(r.data(), w, h, border, fast);
        ASSERT_EQ(kept, plain_grow(r, border, plain)) << round;
        if (kept) {
            ASSERT_EQ(of(fast), of(plain)) << round;
        }
    }
}

TEST(LogoBox, WorkedValues) {
    // A corner needs more than region_width * region_height / 150 static pixels (16 for
    // 48 x 50); the greatest count wins, ties to the lower corner.
    const int counts[][5] = {
        {16, 0, 0, 16, -1}, {17, 0, 0, 0, 0}, {16, 17, 17, 0, 1}, {0, 17, 30, 29, 2}};
    for (const auto& c : counts)
        EXPECT_EQ(pick_corner(c, 48, 50), c[4]) << c[0] << "," << c[1];

    // Clean-up of a wholly static mask (width, height, rows and columns erased at each end),
    // rows first: 97 rows lose 4 at each end, 19 none; 40 columns lose 2 at each side,
    // unless the rows erased before leave them only 18 of 20 static pixels.
    for (const auto& c : {std::array<int, 4>{16, 97, 4, 0}, {40, 19, 0, 2}, {40, 20, 1, 0}}) {
        test_mask m(c[0], c[1], [](int, int) { return true; });
        clean_edges(m.data(), c[0], c[1]);
        expect_static(m, [&](int x, int y) {
            return in(y, c[2], c[1] - 1 - c[2]) && in(x, c[3], c[0] - 1 - c[3]);
        });
    }

    // A block of static pixels (top, bottom, left, right) and single pixels (x, y) in a
    // region: the quartile box, the box grown with border_black, and the box after the size
    // test and the default margin of 4, with the mask erased outside it ({} when dropped).
    // clang-format off
    const struct { int w, h; edges block; std::vector<std::array<int, 2>> single; int border_black;
                   edges quartile, grown, fitted; } boxes[] = {
        {16, 12, {3, 8, 6, 11}, {}, 15, {4, 7, 7, 10}, {3, 8, 6, 11}, {0, 10, 2, 14}},
        {16, 12, {3, 8, 6, 11}, {}, 0, {4, 7, 7, 10}, {4, 7, 7, 10}, {}},
        {16, 12, {3, 8, 4, 11}, {}, 15, {4, 7, 6, 9}, {3, 8, 4, 11}, {0, 10, 0, 14}},
        {16, 12, {3, 8, 6, 10}, {}, 15, {4, 7, 7, 9}, {3, 8, 6, 10}, {}}, // 5 columns
        {16, 12, {3, 7, 6, 11}, {}, 15, {4, 6, 7, 10}, {3, 7, 6, 11}, {}}, // 5 rows
        {16, 12, {2, 9, 6, 11}, {}, 15, {4, 7, 7, 10}, {2, 9, 6, 11}, {0, 10, 2, 14}}, // 8 rows: vratio 250 at 4
        {16, 12, {3, 8, 2, 13}, {{15, 0}, {0, 11}, {15, 11}}, 15, {4, 7, 4, 11}, {3, 8, 2, 13}, {0, 10, 0, 14}},
        // A pixel 15 columns left of the box pulls its left edge out, one 16 columns away not.
        {48, 12, {3, 8, 30, 35}, {{15, 5}}, 15, {4, 7, 31, 34}, {3, 8, 15, 35}, {0, 10, 11, 39}},
        {48, 12, {3, 8, 30, 35}, {{14, 5}}, 15, {4, 7, 31, 34}, {3, 8, 30, 35}, {0, 10, 26, 39}}};
    // clang-format on
    for (const auto& c : boxes) {
        SCOPED_TRACE(testing::Message()
                     << "block at " << c.block[2] << ", border_black " << c.border_black);
        const auto on = [&](int x, int y) {
            return (in(y, c.block[0], c.block[1]) && in(x, c.block[2], c.block[3])) ||
                   std::count(c.single.begin(), c.single.end(), std::array<int, 2>{x, y});
        };
        test_mask m(c.w, c.h, on);
        box grown = quartile_box(m.data(), c.w, c.h), fitted{};
        EXPECT_EQ(of(grown), c.quartile);
        EXPECT_TRUE(grow_box(m.data(), c.w, c.h, c.border_black, grown));
        EXPECT_EQ(of(grown), c.grown);
        sw.border_black = c.border_black;
        const bool kept = fit_logo_box(m.data(), c.w, c.h, fitted);
        sw = Settings{};
        EXPECT_EQ(kept ? of(fitted) : edges{}, c.fitted);
        expect_static(m, [&](int x, int y) {
            return on(x, y) && (!kept || (in(y, fitted.top, fitted.bottom) &&
                                          in(x, fitted.left, fitted.right)));
        });
    }
}

// ---- Mask mode ------------------------------------------------------------------------------

TEST(MaskMode, BelowThePixelRatioSwitchesAndFillsTheLogoSolid) {
    // A 10 x 8 ring in an 18 x 11 box: filled solid, 80 of 198 pixels, coverage 40.
    const std::function<bool(int, int)> solid = [](int x, int y) {
        return in(x, 5, 14) && in(y, 3, 10);
    };
    const test_mask ring(
        32, 16, [&](int x, int y) { return solid(x, y) && !(in(x, 6, 13) && in(y, 4, 9)); });
    for (int ratio : {40, 41}) {
        sw.pixel_ratio = ratio;
        test_mask m = ring;
        EXPECT_EQ(mask_mode_step(m.data(), 32, 16, box{2, 12, 3, 20}), 40);
        EXPECT_EQ((sw.flags & FLAG_REMOVELOGO) != 0, ratio == 41);
        expect_static(
            m, ratio == 41 ? solid : [&](int x, int y) { return ring.is_static(x, y); });
        sw = Settings{};
    }
    // A diagonal line encloses nothing: no fill, coverage 0.
    sw.flags = FLAG_REMOVELOGO;
    const test_mask diagonal(16, 16, [](int x, int y) { return x == y + 1 && in(x, 3, 12); });
    test_mask m = diagonal;
    EXPECT_EQ(mask_mode_step(m.data(), 16, 16, box{2, 11, 3, 12}), 0);
    EXPECT_EQ(m.bits, diagonal.bits);
    sw = Settings{};
}

// ---- Report -----------------------------------------------------------------------------

TEST(Report, OnlyTheBestCornerIsReported) {
    // 320 x 180 frame: band image 224 x 64, regions 112 x 32; logo blocks on region rows
    // 10-19 in NE (columns 40-59) and, larger, in SW (columns 30-59): SW alone is reported.
    const auto samples = make_samples(4, 224, 64, [](int s, int x, int y) {
        const int x0 = x >= 112 ? (y < 32 ? 40 : 0) : (y >= 32 ? 30 : 0);
        return x0 && in(x % 112, x0, 59) && in(y % 32, 10, 19) ? 220 : moving(s, x, y);
    });
    EXPECT_EQ(run_analysis(224, 64, 320, 180, samples), "delogo=x=26:y=154:w=38:h=18 corner 2\n");
}

TEST(Report, OnlyTheSearchedCornersMustFitTheBandImage) {
    // A 16 x 90 frame: band image 10 x 32, the crop ends at column 6 (dark in every sample),
    // so the regions are 8 wide: NW and SW fit, NE and SE would start at column -2.
    auto samples = make_samples(4, 10, 32, [](int s, int x, int y) {
        return x == 6 ? 0 : in(x, 1, 5) && in(y, 3, 10) ? 220 : moving(s, x, y);
    });
    EXPECT_EQ(run_analysis(10, 32, 16, 90, samples), "crop=12:90:0:0\n");
    Settings s;
    s.corner_mask = 1;
    EXPECT_EQ(run_analysis(10, 32, 16, 90, samples, s),
              "crop=12:90:0:0\ndelogo=x=0:y=0:w=7:h=16 corner 0\n");
}

} // namespace
