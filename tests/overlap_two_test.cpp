// Two-rectangle cover: the fast side search and the whole cover, fallbacks to one box
// included, against exhaustive versions on random runs and masks; then the worked T, L
// and cross-shaped logos.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "helpers.h"
#include "analysis/settings.h"
#include "analysis/two_rectangles.h"

namespace {

// Split found (1) or not (0), then rect_a and rect_b as top, bottom, left, right.
using cover = std::array<int, 9>;

cover make_cover(bool split, const box& a, const box& b) {
    return {split, a.top, a.bottom, a.left, a.right, b.top, b.bottom, b.left, b.right};
}

cover run_cover(const test_mask& m, const box& lb, int border_band) {
    sw = Settings{};
    sw.border_band = border_band;
    box a{-9, -9, -9, -9}, b = a;
    const int result = overlap_tworect(m.bits.data(), m.width, m.height, lb, a, b);
    sw = Settings{};
    return make_cover(result == 0, a, b);
}

// Score, depth, s, e; the last three mean nothing without a score.
std::array<int64_t, 4> key(const side_split& x) {
    return x.score ? std::array<int64_t, 4>{x.score, x.depth, x.s, x.e} : std::array<int64_t, 4>{};
}

// ---- The straightforward version, pixel by pixel and pair by pair ---------------------

// Background runs counted one pixel at a time from side 0 right, 1 bottom, 2 left, 3 top.
std::vector<uint32_t> plain_runs(const test_mask& m, const box& lb, int side) {
    const bool rows = side % 2 == 0;
    const int h = lb.bottom - lb.top, w = lb.right - lb.left, len = rows ? w : h;
    std::vector<uint32_t> runs(size_t(rows ? h : w) + 1, 0);
    for (int line = 0; line < int(runs.size()); ++line)
        for (uint32_t& n = runs[line]; int(n) <= len; ++n) {
            const int k = side < 2 ? len - int(n) : int(n);
            if (rows ? m.is_static(lb.left + k, lb.top + line)
                     : m.is_static(lb.left + line, lb.top + k))
                break;
        }
    return runs;
}

// Every depth in order, every start ascending, every end descending; the first strictly
// better score wins.
side_split exhaustive_side(const std::vector<uint32_t>& v, int n, int deepest, bool deepest_first) {
    side_split best{0, 0, 0, 0};
    for (int k = 0; k < deepest; ++k) {
        const int t = deepest_first ? deepest - k : 1 + k;
        for (int s = 0; s < n; ++s)
            for (int e = n; e > s; --e) {
                bool feasible = true;
                for (int i = 0; i <= n; ++i)
                    feasible &= (i > s && i < e) || v[i] > uint32_t(t);
                const int64_t score = int64_t(t) * (s + n - e);
                if (feasible && score > best.score) best = side_split{t, s, e, score};
            }
    }
    return best;
}

side_split fast_side(const std::vector<uint32_t>& v, int n, int deepest, bool deepest_first) {
    std::vector<uint32_t> scratch(2 * (v.size() + 1));
    return best_side_split(v.data(), n, deepest, deepest_first, scratch.data());
}

using side_search = side_split (*)(const std::vector<uint32_t>&, int, int, bool);

std::array<side_split, 4> all_sides(const test_mask& m, const box& lb, side_search search) {
    const int h = lb.bottom - lb.top, w = lb.right - lb.left;
    return {search(plain_runs(m, lb, 0), h, w, true), search(plain_runs(m, lb, 1), w, h, true),
            search(plain_runs(m, lb, 2), h, w - 1, false),
            search(plain_runs(m, lb, 3), w, h, false)};
}

cover exhaustive_cover(const test_mask& m, const box& lb, int band) {
    const auto sides = all_sides(m, lb, exhaustive_side);
    int slot = -1;
    for (int i = 0; i < 4; ++i)
        if (sides[i].score > (slot < 0 ? 0 : sides[slot].score)) slot = i;
    if (slot < 0) return make_cover(false, lb, box{0, 0, 0, 0});
    const int h = lb.bottom - lb.top, w = lb.right - lb.left;
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
    return make_cover(true, place(rel[slot][0]), place(rel[slot][1]));
}

// Random logo box in a random mask, with random pixels outside the box that must be
// ignored; inside, speckle or 1-3 blocks, folded left-right and/or top-bottom at times
// so that opposite sides tie.
test_mask random_logo(std::mt19937& rng, box& lb) {
    auto r = [&](int n) { return int(rng() % unsigned(n)); };
    const int w = 1 + r(40), h = 1 + r(24);
    lb.top = r(6), lb.left = r(20), lb.bottom = lb.top + h - 1, lb.right = lb.left + w - 1;
    test_mask m((lb.right + 8 + r(16)) / 8 * 8, lb.bottom + 1 + r(4));
    std::vector<bool> inside(size_t(w) * h);
    const int density = r(4) ? 0 : 2 + r(6);
    for (size_t i = 0; i < inside.size(); ++i)
        inside[i] = density && r(density) == 0;
    for (int k = density ? 0 : 1 + r(3); k > 0; --k) {
        const int x0 = r(w), y0 = r(h), x1 = x0 + r(w - x0), y1 = y0 + r(h - y0);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                inside[size_t(y) * w + x] = true;
    }
    const int fold = r(4);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const int bx = x - lb.left, by = y - lb.top;
            const int fx = fold & 1 ? std::min(bx, w - 1 - bx) : bx;
            const int fy = fold & 2 ? std::min(by, h - 1 - by) : by;
            if (bx < 0 || by < 0 || bx >= w || by >= h ? r(2) : inside[size_t(fy) * w + fx])
                m.set(x, y);
        }
    return m;
}

} // namespace

TEST(OverlapTwo, SideSearchMatchesExhaustiveOnRandomRuns) {
    std::mt19937 rng(12345);
    for (int iter = 0; iter < 40000; ++iter) {
        const int n = int(rng() % 12), cap = 1 + int(rng() % 10);
        std::vector<uint32_t> v(size_t(n) + 1);
        for (auto& x : v)
            x = uint32_t(rng() % (cap + 1));
        if (rng() % 3 == 0) // mirror-symmetric runs make equal scores at both ends
            std::copy(v.begin(), v.begin() + n / 2 + 1, v.rbegin());
        const int deepest = int(rng() % (cap + 2));
        const bool deepest_first = rng() % 2;
        ASSERT_EQ(key(fast_side(v, n, deepest, deepest_first)),
                  key(exhaustive_side(v, n, deepest, deepest_first)))
            << "iteration " << iter;
    }
}

TEST(OverlapTwo, CoverMatchesExhaustiveOnRandomMasksAndLeavesThemAlone) {
    std::mt19937 rng(777);
    int splits = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        box lb{};
        const test_mask m = random_logo(rng, lb);
        const int band = int(rng() % 7);
        const cover want = exhaustive_cover(m, lb, band);
        const std::vector<uint8_t> before = m.bits;
        ASSERT_EQ(run_cover(m, lb, band), want) << "iteration " << iter;
        ASSERT_EQ(m.bits, before) << "iteration " << iter;
        splits += want[0];
    }
    EXPECT_GT(splits, 500); // both outcomes exercised
    EXPECT_LT(splits, 2900);
}

TEST(OverlapTwo, WorkedShapes) {
    // T, L and cross-shaped logos made of bars (top, bottom, left, right) in a region 32 wide:
    // the best score of the right, bottom, left and top searches, and the cover.
    // clang-format off
    const struct { std::vector<std::array<int, 4>> bars; box lb; int band; std::array<int64_t, 4> scores;
                   cover want; } cases[] = {
        {{{2, 4, 2, 20}, {2, 15, 9, 13}}, {2, 15, 2, 20}, 0, {0, 120, 0, 0}, {1, 2, 5, 2, 20, 2, 15, 8, 14}},
        {{{2, 4, 2, 20}, {2, 15, 9, 13}}, {2, 15, 2, 20}, 4, {0, 120, 0, 0}, {1, 2, 9, 2, 20, 2, 15, 4, 18}},
        // Right and top tie at 165: the right search wins.
        {{{2, 15, 2, 5}, {13, 15, 2, 20}}, {1, 16, 1, 21}, 0, {165, 0, 0, 165}, {1, 1, 16, 1, 6, 12, 16, 1, 21}},
        {{{2, 15, 2, 5}, {13, 15, 2, 20}}, {1, 16, 1, 21}, 4, {165, 0, 0, 165}, {1, 1, 16, 1, 10, 8, 16, 1, 21}},
        {{{6, 9, 2, 21}, {2, 15, 10, 13}}, {2, 15, 2, 21}, 0, {56, 70, 56, 42}, {1, 2, 10, 2, 21, 2, 15, 9, 14}}};
    // clang-format on
    for (const auto& c : cases) {
        const test_mask m(32, 18, [&](int x, int y) {
            return std::any_of(c.bars.begin(), c.bars.end(), [&](const std::array<int, 4>& r) {
                return y >= r[0] && y <= r[1] && x >= r[2] && x <= r[3];
            });
        });
        const auto sides = all_sides(m, c.lb, fast_side);
        EXPECT_EQ((std::array<int64_t, 4>{sides[0].score, sides[1].score, sides[2].score,
                                          sides[3].score}),
                  c.scores);
        EXPECT_EQ(run_cover(m, c.lb, c.band), c.want) << c.lb.right << " " << c.band;
    }
}
