#include "overlap_two.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "delogo.h"
#include "helpers.h"

namespace {

// A corner mask: all background (1 bits) until logo pixels are drawn.
struct test_mask {
    int width;
    int height;
    std::vector<uint8_t> bytes;

    test_mask(int w, int h) : width(w), height(h), bytes(size_t(w / 8) * h, 0xFF) {}
    uint8_t& byte_of(int x, int y) { return bytes[size_t(y) * (width / 8) + x / 8]; }
    void logo(int x, int y) { byte_of(x, y) &= uint8_t(~(0x80 >> (x % 8))); }
    void background(int x, int y) { byte_of(x, y) |= uint8_t(0x80 >> (x % 8)); }
    bool is_logo(int x, int y) const {
        return !(bytes[size_t(y) * (width / 8) + x / 8] & (0x80 >> (x % 8)));
    }
    // Logo pixels in columns x0..x1 of rows y0..y1.
    void fill(int x0, int x1, int y0, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                logo(x, y);
    }
};

struct cover {
    int result;
    box a;
    box b;
};

cover run_cover(const test_mask& m, const box& lb, int border_band) {
    sw = Settings{};
    sw.border_band = border_band;
    cover c{-1, {-9, -9, -9, -9}, {-9, -9, -9, -9}};
    c.result = overlap_tworect(m.bytes.data(), m.width, m.height, lb, c.a, c.b);
    sw = Settings{};
    return c;
}

void expect_box(const box& got, int top, int bottom, int left, int right) {
    EXPECT_EQ(got.top, top);
    EXPECT_EQ(got.bottom, bottom);
    EXPECT_EQ(got.left, left);
    EXPECT_EQ(got.right, right);
}

bool same_box(const box& x, const box& y) {
    return x.top == y.top && x.bottom == y.bottom && x.left == y.left && x.right == y.right;
}

// ---- The straightforward version, pixel by pixel and pair by pair ---------------------

// Runs of background pixels, counted one pixel at a time: index 0 right, 1 bottom, 2 left,
// 3 top.
std::vector<uint32_t> plain_runs(const test_mask& m, const box& lb, int side) {
    const int h = lb.bottom - lb.top, w = lb.right - lb.left;
    std::vector<uint32_t> runs;
    const bool by_row = side == 0 || side == 2;
    for (int line = 0; line <= (by_row ? h : w); ++line) {
        uint32_t n = 0;
        for (int k = 0; k <= (by_row ? w : h); ++k) {
            int x = 0, y = 0;
            switch (side) {
            case 0:
                x = lb.right - k, y = lb.top + line;
                break;
            case 1:
                x = lb.left + line, y = lb.bottom - k;
                break;
            case 2:
                x = lb.left + k, y = lb.top + line;
                break;
            default:
                x = lb.left + line, y = lb.top + k;
                break;
            }
            if (m.is_logo(x, y)) break;
            ++n;
        }
        runs.push_back(n);
    }
    return runs;
}

// Every depth in order, every start ascending, every end descending; the first strictly
// better score wins.
side_split exhaustive_side(const std::vector<uint32_t>& v, int n, int deepest, bool deepest_first) {
    side_split best{0, 0, 0, 0};
    for (int k = 0; k < deepest; ++k) {
        const int t = deepest_first ? deepest - k : 1 + k;
        for (int s = 0; s < n; ++s) {
            for (int e = n; e > s; --e) {
                bool feasible = true;
                for (int i = 0; i <= s; ++i)
                    feasible = feasible && v[i] > uint32_t(t);
                for (int i = e; i <= n; ++i)
                    feasible = feasible && v[i] > uint32_t(t);
                const int64_t score = int64_t(t) * (s + n - e);
                if (feasible && score > best.score) best = side_split{t, s, e, score};
            }
        }
    }
    return best;
}

side_split fast_side(const std::vector<uint32_t>& v, int n, int deepest, bool deepest_first) {
    std::vector<uint32_t> scratch(2 * (v.size() + 1));
    return best_side_split(v.data(), n, deepest, deepest_first, scratch.data());
}

// Best split of each side, slots right, bottom, left, top, with the fast search.
std::vector<side_split> side_splits(const test_mask& m, const box& lb) {
    const int h = lb.bottom - lb.top, w = lb.right - lb.left;
    return {fast_side(plain_runs(m, lb, 0), h, w, true),
            fast_side(plain_runs(m, lb, 1), w, h, true),
            fast_side(plain_runs(m, lb, 2), h, w - 1, false),
            fast_side(plain_runs(m, lb, 3), w, h, false)};
}

cover exhaustive_cover(const test_mask& m, const box& lb, int band) {
    const int h = lb.bottom - lb.top, w = lb.right - lb.left;
    const side_split sides[4] = {
        exhaustive_side(plain_runs(m, lb, 0), h, w, true),
        exhaustive_side(plain_runs(m, lb, 1), w, h, true),
        exhaustive_side(plain_runs(m, lb, 2), h, w - 1, false),
        exhaustive_side(plain_runs(m, lb, 3), w, h, false),
    };
    int slot = -1;
    for (int i = 0; i < 4; ++i)
        if (sides[i].score > (slot < 0 ? 0 : sides[slot].score)) slot = i;
    if (slot < 0) return cover{1, lb, box{0, 0, 0, 0}};
    const int t = sides[slot].depth, s = sides[slot].s, e = sides[slot].e;
    const box rel[4][2] = {{{0, h, 0, w - t}, {s, e, 0, w}},
                           {{0, h - t, 0, w}, {0, h, s, e}},
                           {{0, h, t, w}, {s, e, 0, w}},
                           {{t, h, 0, w}, {0, h, s, e}}};
    auto place = [&](const box& r) {
        return box{std::max(r.top + lb.top - band, lb.top),
                   std::min(r.bottom + lb.top + band, lb.bottom),
                   std::max(r.left + lb.left - band, lb.left),
                   std::min(r.right + lb.left + band, lb.right)};
    };
    return cover{0, place(rel[slot][0]), place(rel[slot][1])};
}

} // namespace

// ---- Worked shapes ---------------------------------------------------------------------

TEST(OverlapTwo, TShapeSplitsAlongTheBottom) {
    test_mask m(32, 20);
    m.fill(2, 20, 2, 4);
    m.fill(9, 13, 2, 15);
    const box lb{2, 15, 2, 20};

    const auto sides = side_splits(m, lb);
    EXPECT_EQ(sides[0].score, 0);
    EXPECT_EQ(sides[2].score, 0);
    EXPECT_EQ(sides[3].score, 0);
    EXPECT_EQ(sides[1].depth, 10);
    EXPECT_EQ(sides[1].s, 6);
    EXPECT_EQ(sides[1].e, 12);
    EXPECT_EQ(sides[1].score, 120);

    cover c = run_cover(m, lb, 0);
    EXPECT_EQ(c.result, 0);
    expect_box(c.a, 2, 5, 2, 20);
    expect_box(c.b, 2, 15, 8, 14);

    c = run_cover(m, lb, 4);
    EXPECT_EQ(c.result, 0);
    expect_box(c.a, 2, 9, 2, 20);
    expect_box(c.b, 2, 15, 4, 18);
}

TEST(OverlapTwo, LShapeTieGoesToTheRightSide) {
    test_mask m(32, 20);
    m.fill(2, 5, 2, 15);
    m.fill(2, 20, 13, 15);
    const box lb{1, 16, 1, 21};

    const auto sides = side_splits(m, lb);
    EXPECT_EQ(sides[0].depth, 15);
    EXPECT_EQ(sides[0].s, 11);
    EXPECT_EQ(sides[0].e, 15);
    EXPECT_EQ(sides[0].score, 165);
    EXPECT_EQ(sides[3].depth, 11);
    EXPECT_EQ(sides[3].s, 0);
    EXPECT_EQ(sides[3].e, 5);
    EXPECT_EQ(sides[3].score, 165);

    cover c = run_cover(m, lb, 0);
    EXPECT_EQ(c.result, 0);
    expect_box(c.a, 1, 16, 1, 6);
    expect_box(c.b, 12, 16, 1, 21);

    c = run_cover(m, lb, 4);
    EXPECT_EQ(c.result, 0);
    expect_box(c.a, 1, 16, 1, 10);
    expect_box(c.b, 8, 16, 1, 21);
}

TEST(OverlapTwo, CrossPrefersTheBestScoringSide) {
    test_mask m(32, 20);
    m.fill(2, 21, 6, 9);
    m.fill(10, 13, 2, 15);
    const box lb{2, 15, 2, 21};

    const auto sides = side_splits(m, lb);
    EXPECT_EQ(sides[0].score, 56);
    EXPECT_EQ(sides[1].score, 70);
    EXPECT_EQ(sides[2].score, 56);
    EXPECT_EQ(sides[3].score, 42);

    const cover c = run_cover(m, lb, 0);
    EXPECT_EQ(c.result, 0);
    expect_box(c.a, 2, 10, 2, 21);
    expect_box(c.b, 2, 15, 9, 14);
}

// A box row that is background from edge to edge is feasible at the full width, and logo
// pixels just outside the box do not shorten it.
TEST(OverlapTwo, FullBackgroundRowIsFeasibleAtFullWidth) {
    test_mask m(40, 16);
    const box lb{2, 11, 9, 24}; // 10 rows, 16 columns: H 9, W 15
    m.fill(9, 24, 6, 7);        // a bar across the box
    for (int y = 0; y < 16; ++y) {
        m.logo(8, y);
        m.logo(25, y);
    }
    m.fill(0, 39, 0, 1);
    m.fill(0, 39, 12, 15);

    const auto sides = side_splits(m, lb);
    EXPECT_EQ(sides[0].depth, 15);
    EXPECT_EQ(sides[0].s, 3);
    EXPECT_EQ(sides[0].e, 6);
    EXPECT_EQ(sides[0].score, 90);

    const cover c = run_cover(m, lb, 0);
    EXPECT_EQ(c.result, 0);
    expect_box(c.a, 2, 11, 9, 9);
    expect_box(c.b, 5, 8, 9, 24);
}

TEST(OverlapTwo, SolidRectangleFallsBackToTheLogoBox) {
    test_mask m(24, 16);
    m.fill(3, 12, 2, 9);
    const box lb{2, 9, 3, 12};
    const cover c = run_cover(m, lb, 4);
    EXPECT_NE(c.result, 0);
    expect_box(c.a, 2, 9, 3, 12);
    expect_box(c.b, 0, 0, 0, 0);
}

TEST(OverlapTwo, BoxOutsideTheMaskFallsBack) {
    test_mask m(16, 8);
    const box outside[] = {{0, 8, 0, 7}, {0, 5, 2, 16}, {-1, 5, 0, 7}, {3, 2, 0, 7}};
    for (const box& lb : outside) {
        const cover c = run_cover(m, lb, 0);
        EXPECT_NE(c.result, 0);
        EXPECT_TRUE(same_box(c.a, lb));
        expect_box(c.b, 0, 0, 0, 0);
    }
}

// ---- Fast search against the exhaustive one ----------------------------------------------

TEST(OverlapTwo, SideSearchMatchesExhaustiveOnRandomRuns) {
    std::mt19937 rng(12345);
    for (int iter = 0; iter < 40000; ++iter) {
        const int n = int(rng() % 12);
        const int cap = 1 + int(rng() % 10);
        std::vector<uint32_t> v(size_t(n) + 1);
        for (auto& x : v)
            x = uint32_t(rng() % (cap + 1));
        if (rng() % 3 == 0) // mirror-symmetric runs make equal scores at both ends
            for (int i = 0; i <= n / 2; ++i)
                v[size_t(n - i)] = v[size_t(i)];
        const int deepest = int(rng() % (cap + 2));
        const bool deepest_first = rng() % 2;
        const side_split want = exhaustive_side(v, n, deepest, deepest_first);
        const side_split got = fast_side(v, n, deepest, deepest_first);
        ASSERT_EQ(got.score, want.score) << "iteration " << iter;
        if (want.score == 0) continue;
        ASSERT_EQ(got.depth, want.depth) << "iteration " << iter;
        ASSERT_EQ(got.s, want.s) << "iteration " << iter;
        ASSERT_EQ(got.e, want.e) << "iteration " << iter;
    }
}

namespace {

// Random logo: a few bars and blocks (optionally mirrored) or speckle, plus junk outside
// the box that must be ignored.
test_mask random_logo(std::mt19937& rng, box& lb) {
    const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 24);
    lb.left = int(rng() % 20);
    lb.top = int(rng() % 6);
    lb.right = lb.left + w - 1;
    lb.bottom = lb.top + h - 1;
    const int width = ((lb.right + 1 + int(rng() % 16)) + 7) / 8 * 8;
    test_mask m(width, lb.bottom + 1 + int(rng() % 4));
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            if (rng() % 2) m.logo(x, y);
    for (int y = lb.top; y <= lb.bottom; ++y)
        for (int x = lb.left; x <= lb.right; ++x)
            m.background(x, y);

    if (rng() % 4 == 0) {
        const int density = 2 + int(rng() % 6);
        for (int y = lb.top; y <= lb.bottom; ++y)
            for (int x = lb.left; x <= lb.right; ++x)
                if (rng() % density == 0) m.logo(x, y);
    } else {
        const int blocks = 1 + int(rng() % 3);
        for (int k = 0; k < blocks; ++k) {
            const int x0 = int(rng() % w), y0 = int(rng() % h);
            const int x1 = x0 + int(rng() % (w - x0)), y1 = y0 + int(rng() % (h - y0));
            m.fill(lb.left + x0, lb.left + x1, lb.top + y0, lb.top + y1);
        }
    }
    const int mirror = int(rng() % 4); // 1: left-right, 2: top-bottom, 3: both
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool on = m.is_logo(lb.left + x, lb.top + y);
            if (mirror & 1) on = on || m.is_logo(lb.right - x, lb.top + y);
            if (mirror & 2) on = on || m.is_logo(lb.left + x, lb.bottom - y);
            if (on) m.logo(lb.left + x, lb.top + y);
        }
    return m;
}

} // namespace

TEST(OverlapTwo, CoverMatchesExhaustiveOnRandomMasksAndLeavesThemAlone) {
    std::mt19937 rng(777);
    int splits = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        box lb{};
        const test_mask m = random_logo(rng, lb);
        const int band = int(rng() % 7);
        const cover want = exhaustive_cover(m, lb, band);
        const test_mask before = m;
        const cover got = run_cover(m, lb, band);
        ASSERT_EQ(m.bytes, before.bytes) << "iteration " << iter;
        ASSERT_EQ(got.result == 0, want.result == 0) << "iteration " << iter;
        ASSERT_TRUE(same_box(got.a, want.a)) << "iteration " << iter;
        ASSERT_TRUE(same_box(got.b, want.b)) << "iteration " << iter;
        splits += want.result == 0;
    }
    // Both outcomes must have been exercised.
    EXPECT_GT(splits, 500);
    EXPECT_LT(splits, 2900);
}
