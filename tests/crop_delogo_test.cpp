// The analysis on hand-made band images: border crop, static-pixel detector, mask
// operations, logo box search, mask mode and the report lines and pictures.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "crop_delogo.h"
#include "delogo.h"
#include "helpers.h"

namespace {

// Resets the settings record after every test that changes it.
struct settings_reset {
    ~settings_reset() { sw = Settings{}; }
};

// Band images filled pixel by pixel: value(sample, x, y).
std::vector<band_sample> make_samples(int count, int band_w2, int band_h2,
                                      const std::function<int(int, int, int)>& value) {
    std::vector<band_sample> samples(count);
    for (int s = 0; s < count; ++s) {
        const size_t size = static_cast<size_t>(band_w2) * band_h2;
        samples[s].image.reset(new uint8_t[size ? size : 1]);
        samples[s].corner_flags = 15;
        for (int y = 0; y < band_h2; ++y)
            for (int x = 0; x < band_w2; ++x)
                samples[s].image[static_cast<size_t>(y) * band_w2 + x] =
                    static_cast<uint8_t>(value(s, x, y));
    }
    return samples;
}

std::string run_analysis(int band_w2, int band_h2, int frame_width, int frame_height,
                         const std::vector<band_sample>& samples) {
    sw.frames = static_cast<int>(samples.size());
    testing::internal::CaptureStdout();
    crop_delogo(band_w2, band_h2, frame_width, frame_height, samples.data());
    return testing::internal::GetCapturedStdout();
}

// Runs the test body inside a fresh working directory and returns to the old one.
struct work_dir {
    std::filesystem::path previous = std::filesystem::current_path();
    std::string path;
    explicit work_dir(const std::string& name) : path(fresh_dir("crop_delogo_" + name)) {
        std::filesystem::current_path(path);
    }
    ~work_dir() { std::filesystem::current_path(previous); }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path))
            names.push_back(e.path().filename().string());
        return names;
    }
};

// A mask of width x height bits, all 1 (nothing static), with helpers to mark pixels.
struct test_mask {
    int width, height;
    std::vector<uint8_t> bits;
    test_mask(int w, int h) : width(w), height(h), bits(static_cast<size_t>(w / 8) * h, 0xFF) {}
    uint8_t* data() { return bits.data(); }
    uint8_t* row(int y) { return bits.data() + static_cast<size_t>(y) * (width / 8); }
    void set_static(int x, int y) { row(y)[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8))); }
    bool is_static(int x, int y) const {
        return !(bits[static_cast<size_t>(y) * (width / 8) + x / 8] & (0x80 >> (x % 8)));
    }
    void block(int x0, int x1, int y0, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                set_static(x, y);
    }
};

void expect_box(const box& b, int top, int bottom, int left, int right) {
    EXPECT_EQ(b.top, top);
    EXPECT_EQ(b.bottom, bottom);
    EXPECT_EQ(b.left, left);
    EXPECT_EQ(b.right, right);
}

// Changing background: every pixel differs by 160 from one sample to the next.
int moving(int s, int x, int y) {
    return (s % 2 ? 200 : 40) + (x + y) % 3 * 5;
}

// The 160 x 90 video's band image (112 x 32): black bars on band rows 0..3 and 28..31,
// a logo of luma 235 on band rows 8..13, columns 82..97, the rest changing.
int small_video(int s, int x, int y) {
    if (y < 4 || y >= 28) return 0;
    if (y >= 8 && y <= 13 && x >= 82 && x <= 97) return 235;
    return moving(s, x, y);
}

// ---- Border crop ------------------------------------------------------------------

// The crop line as the all_corners path prints it from per-sample border boxes.
std::string crop_line(int band_w2, int band_h2, int fw, int fh, const std::vector<box>& borders) {
    if (borders.empty()) return "";
    box crop = union_crop(borders.data(), static_cast<int>(borders.size()), band_w2, band_h2);
    testing::internal::CaptureStdout();
    print_crop(crop, band_w2, band_h2, fw, fh);
    return testing::internal::GetCapturedStdout();
}

TEST(CropBox, DarkBarsAboveAndBelow) {
    // 1920 x 1080: 140 black rows at the top and bottom of the frame.
    auto samples = make_samples(3, 1344, 388, [](int s, int x, int y) {
        return y < 140 || y >= 248 ? 10 + s : 30 + (x * 7 + y) % 200;
    });
    std::vector<box> borders;
    for (auto& s : samples)
        borders.push_back(sample_border(s.image.get(), 1344, 388, 23));
    box crop = union_crop(borders.data(), 3, 1344, 388);
    expect_box(crop, 140, 248, 0, 1344);
    EXPECT_EQ(crop_line(1344, 388, 1920, 1080, borders), "crop=1920:800:0:140\n");
}

TEST(CropBox, NoDarkLineGivesWholeImageAndNoLine) {
    auto samples = make_samples(1, 64, 32, [](int, int x, int y) { return 24 + (x + y) % 9; });
    box b = sample_border(samples[0].image.get(), 64, 32, 23);
    expect_box(b, 0, 32, 0, 64);
    EXPECT_EQ(crop_line(64, 32, 200, 100, {b}), "");
}

TEST(CropBox, ScansStartOnTheBottomAndRightBands) {
    // Whole top band dark, bottom band bright: the first dark row above row bh is bh - 1.
    auto top_dark = make_samples(1, 64, 32, [](int, int, int y) { return y < 16 ? 0 : 99; });
    EXPECT_EQ(sample_border(top_dark[0].image.get(), 64, 32, 23).top, 16);
    // Row bh dark: top is bh + 1; rows bh and bh + 1 dark: bottom is bh + 1.
    auto line =
        make_samples(1, 64, 32, [](int, int, int y) { return y == 16 || y == 17 ? 0 : 99; });
    box b = sample_border(line[0].image.get(), 64, 32, 23);
    EXPECT_EQ(b.top, 17);
    EXPECT_EQ(b.bottom, 17);
    // Columns alike: column bw dark gives left bw + 1, column bw + 1 dark gives right bw + 1.
    auto cols =
        make_samples(1, 64, 32, [](int, int x, int) { return x == 32 || x == 33 ? 0 : 99; });
    b = sample_border(cols[0].image.get(), 64, 32, 23);
    EXPECT_EQ(b.left, 33);
    EXPECT_EQ(b.right, 33);
}

TEST(CropBox, DarkLineThroughRowBhKeepsTopAtBh) {
    settings_reset reset;
    auto bars = [](int s, int x, int y) { return y < 4 || y >= 28 ? 0 : moving(s, x, y); };
    EXPECT_EQ(run_analysis(112, 32, 160, 90, make_samples(4, 112, 32, bars)), "crop=160:82:0:4\n");
    // Frame row 74 is band row 16 = bh.
    auto with_line = [&](int s, int x, int y) { return y == 16 ? 0 : bars(s, x, y); };
    EXPECT_EQ(run_analysis(112, 32, 160, 90, make_samples(4, 112, 32, with_line)),
              "crop=160:70:0:16\n");
}

TEST(CropBox, LevelBlackIsInclusive) {
    for (int level : {23, 24}) {
        auto samples =
            make_samples(1, 32, 16, [&](int, int, int y) { return y == 2 ? level : 90; });
        EXPECT_EQ(sample_border(samples[0].image.get(), 32, 16, 23).top, level == 23 ? 3 : 0);
    }
}

TEST(CropBox, OddUnionLowersRightAndBottomOnly) {
    // Dark columns 49 and 351 and dark rows 9 and 111 of a 400 x 200 band image: the
    // union is 301 x 101 and is cut to 300 x 100 on the right and at the bottom.
    auto samples = make_samples(1, 400, 200, [](int, int x, int y) {
        return x == 49 || x == 351 || y == 9 || y == 111 ? 5 : 200;
    });
    box b = sample_border(samples[0].image.get(), 400, 200, 23);
    expect_box(b, 10, 111, 50, 351);
    expect_box(union_crop(&b, 1, 400, 200), 10, 110, 50, 350);
}

TEST(CropBox, MostGenerousSampleWins) {
    // Sample 0: row 5 and column 3 dark. Sample 1: the same but one bright pixel in each.
    auto samples = make_samples(2, 64, 32, [](int s, int x, int y) {
        if (s == 1 && x == 40 && y == 5) return 200;
        if (s == 1 && x == 3 && y == 20) return 200;
        return y == 5 || x == 3 ? 0 : 150;
    });
    box a = sample_border(samples[0].image.get(), 64, 32, 23);
    box b = sample_border(samples[1].image.get(), 64, 32, 23);
    expect_box(a, 6, 32, 4, 64);
    expect_box(b, 0, 32, 0, 64);
    box both[2] = {a, b};
    expect_box(union_crop(both, 2, 64, 32), 0, 32, 0, 64);
}

TEST(CropBox, NoPictureNoCropLine) {
    settings_reset reset;
    expect_box(union_crop(nullptr, 0, 112, 32), 16, 16, 56, 56);
    // The starting box alone is no finding: it would crop to the frame's middle.
    EXPECT_EQ(run_analysis(112, 32, 160, 90, {}), "");
    EXPECT_EQ(run_analysis(0, 0, 20, 10, {}), "");
    std::vector<band_sample> failed_passes(3); // every pass failed: no band image
    EXPECT_EQ(run_analysis(112, 32, 160, 90, failed_passes), "");
}

// The border box as first defined: every candidate row and column tested pixel by pixel.
box plain_border(const uint8_t* image, int w2, int h2, int level) {
    auto dark_row = [&](int y) {
        for (int x = 0; x < w2; ++x)
            if (image[static_cast<size_t>(y) * w2 + x] > level) return false;
        return true;
    };
    auto dark_column = [&](int x) {
        for (int y = 0; y < h2; ++y)
            if (image[static_cast<size_t>(y) * w2 + x] > level) return false;
        return true;
    };
    const int bw = w2 / 2, bh = h2 / 2;
    box b{0, h2, 0, w2};
    for (int y = std::min(bh, h2 - 1); y >= 0; --y)
        if (dark_row(y)) {
            b.top = y + 1;
            break;
        }
    for (int y = bh + 1; y < h2; ++y)
        if (dark_row(y)) {
            b.bottom = y;
            break;
        }
    for (int x = std::min(bw, w2 - 1); x >= 0; --x)
        if (dark_column(x)) {
            b.left = x + 1;
            break;
        }
    for (int x = bw + 1; x < w2; ++x)
        if (dark_column(x)) {
            b.right = x;
            break;
        }
    return b;
}

TEST(CropBox, BlockedColumnSearchMatchesPlainScan) {
    std::mt19937 rng(7);
    for (int round = 0; round < 4000; ++round) {
        int w2 = static_cast<int>(rng() % 300), h2 = static_cast<int>(rng() % 40);
        if (round % 500 == 0) w2 = 1344, h2 = 388;
        int level = static_cast<int>(rng() % 40);
        if (rng() % 50 == 0) level = static_cast<int>(rng() % 600) - 300;
        const int dense = static_cast<int>(rng() % 100);
        const bool noise = rng() % 4 == 0;
        // Dark pixels at some density, and dark pillars of random width on both sides.
        std::vector<uint8_t> image(static_cast<size_t>(w2) * h2 + 1);
        for (uint8_t& v : image)
            v = static_cast<int>(rng() % 100) < dense ? rng() % 30 : noise ? rng() % 256 : 200;
        const int pillar_left = w2 ? static_cast<int>(rng() % (w2 + 1)) / 4 : 0;
        const int pillar_right = w2 ? static_cast<int>(rng() % (w2 + 1)) / 4 : 0;
        for (int y = 0; y < h2; ++y)
            for (int x = 0; x < w2; ++x)
                if (x < pillar_left || x >= w2 - pillar_right)
                    image[static_cast<size_t>(y) * w2 + x] = rng() % 24;
        const box want = plain_border(image.data(), w2, h2, level);
        const box got = sample_border(image.data(), w2, h2, level);
        ASSERT_EQ((std::vector<int>{want.top, want.bottom, want.left, want.right}),
                  (std::vector<int>{got.top, got.bottom, got.left, got.right}))
            << w2 << "x" << h2 << " level " << level;
    }
}

// ---- Static-pixel detector ------------------------------------------------------------

// Every pair of taking-part samples compared pixel by pixel.
void pairwise_logo(int band_w2, int region_width, int region_height, int start,
                   const band_sample* samples, uint8_t* mask, int corner) {
    const int n = sw.frames;
    if (n <= 1) return;
    const int bit = 1 << corner;
    auto part = [&](int s) { return (samples[s].corner_flags & bit) && samples[s].image; };
    for (int i = 0; i < n - 1; ++i) {
        if (!part(i)) continue;
        for (int j = i + 1; j < n; ++j) {
            if (!part(j)) continue;
            for (int y = 0; y < region_height; ++y)
                for (int x = 0; x < region_width; ++x) {
                    const int k = y * region_width + x;
                    if (mask[k / 8] & (0x80 >> (k % 8))) continue;
                    const size_t p = static_cast<size_t>(start) + y * band_w2 + x;
                    const int d = samples[i].image[p] - samples[j].image[p];
                    if (d > sw.level_delta || d < -sw.level_delta)
                        mask[k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
                }
        }
    }
}

TEST(DistanceLogo, MatchesPairwiseComparisonOnRandomInput) {
    settings_reset reset;
    std::mt19937 rng(12345);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 300; ++round) {
        // Every 50th round a region wider than the detector's working chunk.
        const int region_width = 8 * (round % 50 == 0 ? pick(257, 300) : pick(1, 12));
        const int region_height = pick(0, 9);
        const int band_w2 = 2 * ((region_width + pick(0, 40)) / 2 + 1);
        const int band_h2 = 2 * ((region_height + pick(0, 6)) / 2 + 1);
        const int x0 = pick(0, band_w2 - region_width), y0 = pick(0, band_h2 - region_height);
        const int n = pick(0, 9);
        const int spread = pick(0, 3); // narrow value ranges give values near the limit
        std::vector<band_sample> samples(n);
        for (auto& s : samples) {
            s.corner_flags = static_cast<uint8_t>(pick(0, 15));
            if (pick(0, 9) == 0) continue; // no band image: a failed pass
            s.image.reset(new uint8_t[static_cast<size_t>(band_w2) * band_h2]);
            for (int i = 0; i < band_w2 * band_h2; ++i)
                s.image[i] = static_cast<uint8_t>(spread == 0 ? pick(0, 255) : 100 + pick(0, 70));
        }
        sw.frames = n;
        sw.level_delta = pick(0, 3) == 0 ? 255 : pick(1, 80);
        const int corner = pick(0, 3);
        const size_t bytes = static_cast<size_t>(region_width / 8) * region_height;
        std::vector<uint8_t> incoming(bytes);
        for (auto& b : incoming)
            b = pick(0, 2) ? 0 : static_cast<uint8_t>(pick(0, 255));
        std::vector<uint8_t> fast = incoming, slow = incoming;
        const int start = y0 * band_w2 + x0;
        EXPECT_EQ(distance_logo(band_w2, band_h2, region_width, region_height, start,
                                samples.data(), fast.data(), corner),
                  0);
        pairwise_logo(band_w2, region_width, region_height, start, samples.data(), slow.data(),
                      corner);
        ASSERT_EQ(fast, slow) << "round " << round;
    }
}

// ---- Mask operations ------------------------------------------------------------------

TEST(MaskOps, ZeroesTable) {
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(zeroes[v], 8 - __builtin_popcount(v)) << v;
}

TEST(MaskOps, CleanRowsLimitIsStrictNineTenths) {
    for (int zero_bits : {57, 58}) {
        test_mask m(64, 1);
        for (int x = 0; x < zero_bits; ++x)
            m.set_static(x, 0);
        std::vector<uint8_t> before = m.bits;
        clean_rows(64, m.data());
        if (zero_bits == 57)
            EXPECT_EQ(m.bits, before);
        else
            EXPECT_EQ(m.bits, std::vector<uint8_t>(8, 0xFF));
    }
    uint8_t narrow = 0;
    clean_rows(7, &narrow);
    EXPECT_EQ(narrow, 0);
}

TEST(MaskOps, CleanColumnsLimitIsStrictNineTenths) {
    // Column 10 of a 24-bit-wide mask with 10 rows: 9 static keep it, 10 erase it.
    for (int static_rows : {9, 10}) {
        test_mask m(24, 10);
        m.block(0, 23, 0, 9);
        for (int y = static_rows; y < 10; ++y)
            m.row(y)[1] |= 0x20;
        clean_columns(24, 10, 0x20, m.data() + 1);
        int erased = 0;
        for (int y = 0; y < 10; ++y)
            erased += !m.is_static(10, y);
        EXPECT_EQ(erased, static_rows == 9 ? 1 : 10);
        // Neighbouring columns are untouched.
        for (int y = 0; y < 10; ++y)
            EXPECT_TRUE(m.is_static(9, y) && m.is_static(11, y));
    }
    uint8_t byte = 0;
    clean_columns(8, 0, 0x80, &byte);
    EXPECT_EQ(byte, 0);
}

TEST(MaskOps, HorizontalRatio) {
    test_mask m(16, 2);
    m.set_static(3, 0);
    m.set_static(12, 1);
    m.set_static(15, 1);
    EXPECT_EQ(hratio(16, 2, 0, m.data()), 0);
    EXPECT_EQ(hratio(16, 2, 8, m.data()), 333);  // truncated, not rounded
    EXPECT_EQ(hratio(16, 2, 12, m.data()), 333); // column split counts to the right
    EXPECT_EQ(hratio(16, 2, 13, m.data()), 666); // split inside a byte
    EXPECT_EQ(hratio(16, 2, 15, m.data()), 666);
    test_mask only_split(16, 1);
    only_split.set_static(13, 0);
    EXPECT_EQ(hratio(16, 1, 13, only_split.data()), 0);
    EXPECT_EQ(hratio(16, 1, 14, only_split.data()), 1000);
}

TEST(MaskOps, VerticalRatio) {
    test_mask m(8, 4);
    m.set_static(0, 0);
    m.set_static(5, 1);
    m.set_static(2, 3);
    EXPECT_EQ(vratio(8, 4, 0, m.data()), 0);
    EXPECT_EQ(vratio(8, 4, 2, m.data()), 666);
    EXPECT_EQ(vratio(8, 4, 3, m.data()), 666); // the split row counts to the bottom
    EXPECT_EQ(vratio(8, 4, 4, m.data()), 1000);
    test_mask empty(8, 4);
    EXPECT_EQ(vratio(8, 4, 9, empty.data()), 1000);
}

// ---- Logo box search --------------------------------------------------------------------

TEST(LogoBox, QuartilesOfEvenColumns) {
    test_mask m(16, 8);
    m.block(4, 11, 0, 7);
    box b = quartile_box(m.data(), 16, 8);
    EXPECT_EQ(b.left, 6);
    EXPECT_EQ(b.right, 9);
}

TEST(LogoBox, SolidBlockGrowsToItselfThenTakesTheMargin) {
    settings_reset reset;
    test_mask m(16, 12);
    m.block(6, 11, 3, 8);
    box b = quartile_box(m.data(), 16, 12);
    expect_box(b, 4, 7, 7, 10);
    box grown = b;
    ASSERT_TRUE(grow_box(m.data(), 16, 12, 15, grown));
    expect_box(grown, 3, 8, 6, 11);
    box still = b;
    ASSERT_TRUE(grow_box(m.data(), 16, 12, 0, still));
    expect_box(still, 4, 7, 7, 10);
    box fitted;
    ASSERT_TRUE(fit_logo_box(m.data(), 16, 12, fitted));
    expect_box(fitted, 0, 10, 2, 14);
}

TEST(LogoBox, GrowthReachesExactlyBorderBlack) {
    for (int distance : {15, 16}) {
        test_mask m(64, 16);
        m.block(30, 40, 4, 11);
        m.set_static(30 - distance, 6);
        box b{4, 11, 30, 40};
        ASSERT_TRUE(grow_box(m.data(), 64, 16, 15, b));
        EXPECT_EQ(b.left, distance == 15 ? 15 : 30);
        EXPECT_EQ(b.right, 40);
    }
}

TEST(LogoBox, BoxWithoutStaticPixelShrinksAwayAndEnds) {
    test_mask m(64, 64);
    m.set_static(0, 0);
    box b{30, 33, 30, 33};
    EXPECT_FALSE(grow_box(m.data(), 64, 64, 2, b));
}

TEST(LogoBox, SizeTestNeedsSixColumns) {
    settings_reset reset;
    sw.border_band = 0;
    for (int columns : {5, 6}) {
        test_mask m(32, 24);
        m.block(10, 9 + columns, 8, 15);
        box b;
        EXPECT_EQ(fit_logo_box(m.data(), 32, 24, b), columns == 6);
        if (columns == 6) expect_box(b, 8, 15, 10, 15);
    }
}

TEST(LogoBox, MarginStopsShortOfLastColumnAndRow) {
    settings_reset reset;
    test_mask m(16, 12);
    m.block(2, 13, 3, 8);
    box b;
    ASSERT_TRUE(fit_logo_box(m.data(), 16, 12, b));
    expect_box(b, 0, 10, 0, 14);
}

TEST(LogoBox, EverythingOutsideTheBoxIsErased) {
    settings_reset reset;
    sw.border_band = 1;
    test_mask m(64, 40);
    m.block(20, 35, 10, 25);
    for (int x = 22; x < 34; x += 3)
        m.row(15)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    m.set_static(60, 2); // far from the logo: not grown into
    m.set_static(1, 38);
    test_mask before = m;
    box b;
    ASSERT_TRUE(fit_logo_box(m.data(), 64, 40, b));
    expect_box(b, 9, 26, 19, 36);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool inside = y >= b.top && y <= b.bottom && x >= b.left && x <= b.right;
            EXPECT_EQ(m.is_static(x, y), inside && before.is_static(x, y)) << x << "," << y;
        }
}

TEST(CornerChoice, StrictLimitAndTiesToLowerCorner) {
    // 56 x 12 region: the limit is 4 static pixels.
    const int at_limit[4] = {4, 4, 0, 0};
    EXPECT_EQ(pick_corner(at_limit, 56, 12), -1);
    const int tie[4] = {0, 9, 5, 9};
    EXPECT_EQ(pick_corner(tie, 56, 12), 1);
    const int last[4] = {5, 6, 7, 8};
    EXPECT_EQ(pick_corner(last, 56, 12), 3);
}

TEST(CornerChoice, CleanEdgesRowsFirstThenColumns) {
    // 40 x 40: two rows and two columns on each side are looked at. An all-static mask
    // loses its outer rows; the outer columns then hold only 36 of 40 and stay.
    test_mask m(40, 40);
    m.block(0, 39, 0, 39);
    clean_edges(m.data(), 40, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(m.is_static(x, y), y >= 2 && y <= 37) << x << "," << y;
    // Four changed pixels keep each outer row (36 static is not above 36); the columns
    // are then all static and go.
    test_mask n(40, 40);
    n.block(0, 39, 0, 39);
    for (int y : {0, 1, 38, 39})
        for (int x = 10; x < 14; ++x)
            n.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    test_mask before = n;
    clean_edges(n.data(), 40, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(n.is_static(x, y), x >= 2 && x <= 37 && before.is_static(x, y))
                << x << "," << y;
}

// ---- Mask mode --------------------------------------------------------------------------

TEST(MaskMode, CoverageOfBlockAndPixelRatioSwitch) {
    settings_reset reset;
    const box b{0, 9, 0, 19}; // 20 x 10
    for (int ratio : {36, 37}) {
        sw = Settings{};
        sw.pixel_ratio = ratio;
        test_mask m(24, 12);
        m.block(4, 15, 2, 7); // 12 x 6: fill count 72 of 200
        test_mask before = m;
        EXPECT_EQ(mask_mode_step(m.data(), 24, 12, b), 36);
        EXPECT_EQ((sw.flags & FLAG_REMOVELOGO) != 0, ratio == 37);
        EXPECT_EQ(m.bits, before.bits); // a solid block fills nothing new
    }
}

TEST(MaskMode, RingIsFilledSolid) {
    settings_reset reset;
    sw.flags = FLAG_REMOVELOGO;
    test_mask m(32, 16);
    for (int x = 5; x <= 14; ++x)
        m.set_static(x, 3), m.set_static(x, 10);
    for (int y = 3; y <= 10; ++y)
        m.set_static(5, y), m.set_static(14, y);
    test_mask copy = m;
    const box b{2, 12, 3, 20};
    EXPECT_EQ(fill_logo(copy.data(), 32, b), 80);
    mask_mode_step(m.data(), 32, 16, b);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            EXPECT_EQ(m.is_static(x, y), x >= 5 && x <= 14 && y >= 3 && y <= 10);
}

TEST(MaskMode, DiagonalFillsNothing) {
    settings_reset reset;
    sw.pixel_ratio = 1;
    test_mask m(16, 16);
    for (int i = 0; i < 10; ++i)
        m.set_static(3 + i, 2 + i);
    test_mask before = m;
    EXPECT_EQ(mask_mode_step(m.data(), 16, 16, box{2, 11, 3, 12}), 0);
    EXPECT_TRUE(sw.flags & FLAG_REMOVELOGO); // 0 < 1 switches
    EXPECT_EQ(m.bits, before.bits);
}

// ---- delogo lines ---------------------------------------------------------------------

std::string delogo_line(int corner, const box& crop, int band_w2, int band_h2, int fw, int fh,
                        int rw, int rh, const box& b) {
    testing::internal::CaptureStdout();
    delogo_box(corner, band_w2, band_h2, fw, fh, rw, rh, crop, b.top, b.bottom, b.left, b.right);
    return testing::internal::GetCapturedStdout();
}

TEST(DelogoBox, FrameCoordinatesPerCorner) {
    const box crop{0, 388, 0, 1344};
    EXPECT_EQ(delogo_line(1, crop, 1344, 388, 1920, 1080, 672, 194, {20, 69, 500, 599}),
              "delogo=x=1748:y=20:w=100:h=50 corner 1\n");
    EXPECT_EQ(delogo_line(3, crop, 1344, 388, 1920, 1080, 672, 194, {150, 179, 500, 599}),
              "delogo=x=1748:y=1036:w=100:h=30 corner 3\n");
    EXPECT_EQ(delogo_line(0, crop, 1344, 388, 1920, 1080, 672, 194, {10, 39, 30, 129}),
              "delogo=x=30:y=10:w=100:h=30 corner 0\n");
    // SW of a cropped picture: the region starts at crop.bottom - region_height.
    EXPECT_EQ(
        delogo_line(2, box{140, 248, 0, 1344}, 1344, 388, 1920, 1080, 672, 54, {10, 29, 5, 44}),
        "delogo=x=5:y=896:w=40:h=20 corner 2\n");
}

TEST(DelogoBox, ClampsToTheBandImage) {
    // Reaching past the right and bottom edges cuts w and h, the position stays.
    EXPECT_EQ(delogo_line(1, box{0, 32, 0, 112}, 112, 32, 160, 90, 56, 16, {10, 19, 50, 59}),
              "delogo=x=154:y=10:w=6:h=10 corner 1\n");
    EXPECT_EQ(delogo_line(0, box{0, 32, 0, 112}, 112, 32, 160, 90, 56, 16, {28, 35, 0, 3}),
              "delogo=x=0:y=28:w=4:h=4 corner 0\n");
    // An origin left of column 0 moves x to 0 without changing w.
    EXPECT_EQ(delogo_line(1, box{0, 32, 0, 4}, 112, 32, 160, 90, 8, 16, {0, 5, 0, 5}),
              "delogo=x=48:y=0:w=6:h=6 corner 1\n");
}

// ---- The whole analysis -------------------------------------------------------------------

// Index of pixel (x, y) of a decoded picture.
int index_at(const decoded_image& img, int x, int y) {
    return img.index[y * img.width + x];
}

TEST(Report, RemovelogoPictureOfWidthNotMultipleOfEight) {
    // A 704-pixel-wide video: band_w 246, band image 492 x 64. Logo in the SE corner.
    settings_reset reset;
    for (bool pcx : {false, true}) {
        work_dir dir(pcx ? "odd_width_pcx" : "odd_width_png");
        sw = Settings{};
        sw.flags = FLAG_REMOVELOGO | (pcx ? FLAG_SAVE_AS_PCX : 0);
        auto samples = make_samples(5, 492, 64, [](int s, int x, int y) {
            if (y >= 50 && y <= 57 && x >= 440 && x <= 470) return 230;
            return moving(s, x, y);
        });
        const std::string ext = pcx ? "pcx" : "png";
        std::string out = run_analysis(492, 64, 704, 180, samples);
        EXPECT_EQ(out, "removelogo=removelogo_3." + ext + "\n");
        decoded_image img;
        ASSERT_EQ(decode_image_file(dir.path + "/removelogo_3." + ext, img), "");
        ASSERT_EQ(img.width, 492);
        ASSERT_EQ(img.height, 64);
        // Region origin column 492 - 248 = 244, copied from byte 30 on: column 240.
        // The logo lands 4 columns left of its place.
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 492; ++x) {
                const bool logo = y >= 50 && y <= 57 && x >= 436 && x <= 466;
                ASSERT_EQ(index_at(img, x, y), logo ? 6 : 15) << x << "," << y;
            }
    }
}

TEST(Report, LinesPrintedWhenFileCannotBeCreated) {
    settings_reset reset;
    work_dir dir("blocked");
    std::filesystem::create_directory(dir.path + "/delogo_1.png");
    std::string out = run_analysis(112, 32, 160, 90, make_samples(4, 112, 32, small_video));
    EXPECT_EQ(out, "crop=160:82:0:4\ndelogo=x=126:y=4:w=24:h=11 corner 1\n");
}

TEST(Report, AllCornersModeEndsAfterCropLine) {
    settings_reset reset;
    work_dir dir("all_corners");
    sw.flags = FLAG_ALL_CORNERS | FLAG_CANNY;
    std::string out = run_analysis(112, 32, 160, 90, make_samples(4, 112, 32, small_video));
    EXPECT_EQ(out, "crop=160:82:0:4\n");
    EXPECT_TRUE(dir.files().empty());
}

// 320 x 180 frame: band image 224 x 64, regions 112 x 32. `logo` marks static pixels of
// the region of `corner` (region coordinates).
std::vector<band_sample> corner_logos(const std::function<bool(int, int, int)>& logo) {
    return make_samples(4, 224, 64, [&](int s, int x, int y) {
        const int corner = (x >= 112) + 2 * (y >= 32);
        return logo(corner, x % 112, y % 32) ? 220 : moving(s, x, y);
    });
}

TEST(Report, OnlyTheBestCornerIsReportedTiesToLower) {
    settings_reset reset;
    work_dir dir("best_corner");
    auto block = [](int x, int y) { return x >= 40 && x <= 59 && y >= 10 && y <= 19; };
    // The same logo in NE and SE: NE wins the tie.
    std::string out = run_analysis(224, 64, 320, 180, corner_logos([&](int c, int x, int y) {
                                       return (c == 1 || c == 3) && block(x, y);
                                   }));
    EXPECT_EQ(out, "delogo=x=244:y=6:w=28:h=18 corner 1\n");
    // A larger logo in SW beats NE.
    out = run_analysis(224, 64, 320, 180, corner_logos([&](int c, int x, int y) {
                           return (c == 1 && block(x, y)) ||
                                  (c == 2 && x >= 30 && x <= 59 && y >= 10 && y <= 19);
                       }));
    EXPECT_EQ(out, "delogo=x=26:y=154:w=38:h=18 corner 2\n");
    // corner_mask leaves SW out: NE again.
    sw.corner_mask = 1 | 2 | 8;
    out = run_analysis(224, 64, 320, 180, corner_logos([&](int c, int x, int y) {
                           return (c == 1 && block(x, y)) ||
                                  (c == 2 && x >= 30 && x <= 59 && y >= 10 && y <= 19);
                       }));
    EXPECT_EQ(out, "delogo=x=244:y=6:w=28:h=18 corner 1\n");
}

TEST(Report, TwoRectanglesOrFallbackToOneBox) {
    settings_reset reset;
    work_dir dir("two_rectangles");
    sw.flags = FLAG_TWO_RECTANGLES;
    sw.border_band = 0;
    // A T in NE: bar rows 8..10 of columns 40..70, stem columns 52..58 down to row 24.
    auto t_shape = [](int c, int x, int y) {
        return c == 1 && ((y >= 8 && y <= 10 && x >= 40 && x <= 70) ||
                          (y >= 8 && y <= 24 && x >= 52 && x <= 58));
    };
    std::string out = run_analysis(224, 64, 320, 180, corner_logos(t_shape));
    std::vector<std::string> lines = lines_starting(out, "delogo=");
    ASSERT_EQ(lines.size(), 2u) << out;
    for (const auto& line : lines)
        EXPECT_NE(line.find(" corner 1"), std::string::npos);
    EXPECT_NE(lines[0], lines[1]);
    // A solid block has no split: one line for the box, as without two rectangles.
    auto solid = [](int c, int x, int y) {
        return c == 1 && x >= 40 && x <= 59 && y >= 10 && y <= 19;
    };
    out = run_analysis(224, 64, 320, 180, corner_logos(solid));
    EXPECT_EQ(out, "delogo=x=248:y=10:w=20:h=10 corner 1\n");
    decoded_image img;
    ASSERT_EQ(decode_image_file(dir.path + "/delogo_1.png", img), "");
    EXPECT_EQ(index_at(img, 40, 10), 6);
}

TEST(Report, NoLogoPrintsNothingAfterCrop) {
    settings_reset reset;
    work_dir dir("no_logo");
    std::string out =
        run_analysis(224, 64, 320, 180, corner_logos([](int, int, int) { return false; }));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(dir.files().empty());
}

TEST(Report, TinyAndOddBandImagesStayInsideTheirBuffers) {
    // Random small geometries, bars and settings: whatever the outcome, nothing may be
    // read or written outside the buffers (checked by the sanitizer build), and the
    // output starts with the crop line that the per-sample border boxes give, as the
    // command line's all_corners path prints it.
    settings_reset reset;
    work_dir dir("tiny");
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 400; ++round) {
        sw = Settings{};
        sw.flags = static_cast<uint8_t>(pick(0, 1) ? FLAG_REMOVELOGO : 0) |
                   static_cast<uint8_t>(pick(0, 1) ? FLAG_TWO_RECTANGLES : 0);
        sw.border_black = pick(0, 4);
        sw.border_band = pick(0, 5);
        sw.pixel_ratio = pick(0, 100);
        const int band_w2 = 2 * pick(0, 14), band_h2 = 2 * pick(0, 14);
        const int dark_col = pick(-1, band_w2), dark_row = pick(-1, band_h2);
        auto samples = make_samples(pick(0, 5), band_w2, band_h2, [&](int s, int x, int y) {
            if ((x == dark_col || y == dark_row) && s != 2) return 0;
            return (x + 2 * y) % 5 == 0 ? 180 : moving(s, x, y);
        });
        if (samples.size() > 1 && pick(0, 3) == 0) {
            samples[1].image.reset();
            samples[1].corner_flags = 0;
        }
        std::vector<box> borders;
        for (auto& s : samples)
            if (s.image) borders.push_back(sample_border(s.image.get(), band_w2, band_h2, 23));
        const int fw = band_w2 + 10, fh = band_h2 + 6;
        const std::string crop = crop_line(band_w2, band_h2, fw, fh, borders);
        std::string out = run_analysis(band_w2, band_h2, fw, fh, samples);
        ASSERT_EQ(out.compare(0, crop.size(), crop), 0) << out;
        const std::string rest = out.substr(crop.size());
        EXPECT_TRUE(rest.empty() || rest.compare(0, 7, "delogo=") == 0 ||
                    rest.compare(0, 11, "removelogo=") == 0)
            << rest;
    }
}

} // namespace
