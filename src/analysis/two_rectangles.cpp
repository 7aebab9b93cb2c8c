// Two-rectangle logo cover.
//
// Along each side of the logo box we look for a background strip of some depth that is
// interrupted by a single bar of the logo reaching that side. The box less the strip and
// the bar across the box then cover the logo; the side and depth leaving the most
// background uncovered win.
//
// Everything is driven by per-line background runs measured from each side. A split
// (t, s, e) along a side is feasible when the lines 0..s and e..n all have runs longer than
// t, so with prefix minima from the front and suffix minima from the back the widest
// feasible (s, e) for a depth is found by two binary searches instead of trying every pair.
#include "analysis/two_rectangles.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/settings.h"

namespace {

// Column of the leftmost (most significant) set bit of a nonzero byte, 0..7.
inline int first_bit(unsigned v) {
    return __builtin_clz(v) - 24;
}
// Column of the rightmost set bit of a nonzero byte, 0..7.
inline int last_bit(unsigned v) {
    return 7 - __builtin_ctz(v);
}

// The logo box as seen in the bytes of a mask row.
struct box_bytes {
    int first;          // byte holding column left
    int last;           // byte holding column right
    uint8_t first_keep; // bits of `first` inside the box
    uint8_t last_keep;  // bits of `last` inside the box
};

box_bytes bytes_of(const box& b) {
    box_bytes bb;
    bb.first = b.left >> 3;
    bb.last = b.right >> 3;
    bb.first_keep = uint8_t(0xFFu >> (b.left & 7));
    bb.last_keep = uint8_t(0xFFu << (7 - (b.right & 7)));
    return bb;
}

// Logo pixels (set bits, MSB = leftmost column) of byte i of `row`, limited to the box.
inline unsigned logo_bits(const uint8_t* row, int i, const box_bytes& bb) {
    unsigned v = uint8_t(~row[i]);
    if (i == bb.first) v &= bb.first_keep;
    if (i == bb.last) v &= bb.last_keep;
    return v;
}

// Background runs of every box row from the left edge and from the right edge, capped at
// the row's width.
void row_runs(const uint8_t* mask, size_t stride, const box& lb, const box_bytes& bb,
              uint32_t* left_runs, uint32_t* right_runs) {
    const int h = lb.bottom - lb.top;
    const uint32_t full = uint32_t(lb.right - lb.left + 1);
    for (int r = 0; r <= h; ++r) {
        const uint8_t* row = mask + size_t(lb.top + r) * stride;
        left_runs[r] = full;
        for (int i = bb.first; i <= bb.last; ++i) {
            const unsigned v = logo_bits(row, i, bb);
            if (v) {
                left_runs[r] = uint32_t(i * 8 + first_bit(v) - lb.left);
                break;
            }
        }
        right_runs[r] = full;
        for (int i = bb.last; i >= bb.first; --i) {
            const unsigned v = logo_bits(row, i, bb);
            if (v) {
                right_runs[r] = uint32_t(lb.right - (i * 8 + last_bit(v)));
                break;
            }
        }
    }
}

// Background runs of every box column from the top (from_top) or bottom edge, capped at
// the column's height. Walks the rows from that edge, remembering in `seen` (one byte per
// mask byte of the box) which columns have met the logo, and stops once all have.
void column_runs(const uint8_t* mask, size_t stride, const box& lb, const box_bytes& bb,
                 bool from_top, uint32_t* runs, uint8_t* seen) {
    const int h = lb.bottom - lb.top;
    const int w = lb.right - lb.left;
    std::fill(runs, runs + w + 1, uint32_t(h + 1));
    std::memset(seen, 0, size_t(bb.last - bb.first + 1));
    int open = w + 1;
    for (int k = 0; k <= h && open > 0; ++k) {
        const int y = from_top ? lb.top + k : lb.bottom - k;
        const uint8_t* row = mask + size_t(y) * stride;
        for (int i = bb.first; i <= bb.last; ++i) {
            uint8_t& done = seen[i - bb.first];
            unsigned v = logo_bits(row, i, bb) & ~unsigned(done);
            if (!v) continue;
            done = uint8_t(done | v);
            while (v) {
                const int bit = first_bit(v);
                runs[i * 8 + bit - lb.left] = uint32_t(k);
                --open;
                v &= ~(0x80u >> bit);
            }
        }
    }
}

// A box-relative rectangle moved into region coordinates, widened by `band` on every side
// and kept inside the logo box.
box place(const box& rel, const box& lb, int band) {
    box out;
    out.top = std::max(rel.top + lb.top - band, lb.top);
    out.bottom = std::min(rel.bottom + lb.top + band, lb.bottom);
    out.left = std::max(rel.left + lb.left - band, lb.left);
    out.right = std::min(rel.right + lb.left + band, lb.right);
    return out;
}

} // namespace

side_split best_side_split(const uint32_t* runs, int n, int deepest, bool deepest_first,
                           uint32_t* scratch) {
    side_split best{0, 0, 0, 0};
    if (n < 1 || deepest < 1) return best;

    // head[i] = min runs[0..i] (never grows), tail[i] = min runs[i..n] (never shrinks).
    uint32_t* head = scratch;
    uint32_t* tail = scratch + n + 1;
    head[0] = runs[0];
    for (int i = 1; i <= n; ++i)
        head[i] = std::min(head[i - 1], runs[i]);
    tail[n] = runs[n];
    for (int i = n - 1; i >= 0; --i)
        tail[i] = std::min(tail[i + 1], runs[i]);

    for (int k = 0; k < deepest; ++k) {
        const int t = deepest_first ? deepest - k : 1 + k;
        const uint32_t depth = uint32_t(t);
        // Feasible starts: 0..s_max, the lines whose prefix runs are all deeper than t.
        const uint32_t* start_end =
            std::partition_point(head, head + n, [depth](uint32_t v) { return v > depth; });
        if (start_end == head) continue;
        const int s_max = int(start_end - head) - 1;
        // Feasible ends: e_min..n, the lines whose suffix runs are all deeper than t.
        const uint32_t* end_begin = std::partition_point(
            tail + 1, tail + n + 1, [depth](uint32_t v) { return v <= depth; });
        const int e_min = int(end_begin - tail);
        if (e_min > n) continue;
        // The widest pair is (s_max, e_min) when they do not cross. They cross only when
        // every line is deeper than t (then s_max = n - 1, e_min = 1): all adjacent pairs
        // (s, s + 1) score the same, and the first in start order, (0, 1), is the one to report.
        const int s = s_max < e_min ? s_max : 0;
        const int e = s_max < e_min ? e_min : 1;
        const int64_t score = int64_t(t) * (s + n - e);
        if (score > best.score) best = side_split{t, s, e, score};
    }
    return best;
}

int overlap_tworect(const uint8_t* mask, int region_width, int region_height, const box& logo_box,
                    box& rect_a, box& rect_b) {
    // Without a split the caller reports the logo box alone.
    rect_a = logo_box;
    rect_b = box{0, 0, 0, 0};

    const box& lb = logo_box;
    if (!mask || region_width <= 0 || region_width % 8 != 0 || lb.top < 0 || lb.left < 0 ||
        lb.bottom < lb.top || lb.right < lb.left || lb.right >= region_width ||
        lb.bottom >= region_height)
        return 1;

    const int h = lb.bottom - lb.top;
    const int w = lb.right - lb.left;
    const size_t rows = size_t(h) + 1;
    const size_t cols = size_t(w) + 1;
    const box_bytes bb = bytes_of(lb);

    // Four run arrays and the search scratch in one block.
    std::unique_ptr<uint32_t[]> counts(
        new (std::nothrow) uint32_t[2 * rows + 2 * cols + 2 * std::max(rows, cols)]);
    std::unique_ptr<uint8_t[]> seen(new (std::nothrow) uint8_t[size_t(bb.last - bb.first + 1)]);
    if (!counts || !seen) return 1;
    uint32_t* left_runs = counts.get();
    uint32_t* right_runs = left_runs + rows;
    uint32_t* top_runs = right_runs + rows;
    uint32_t* bottom_runs = top_runs + cols;
    uint32_t* scratch = bottom_runs + cols;

    const size_t stride = size_t(region_width) / 8;
    row_runs(mask, stride, lb, bb, left_runs, right_runs);
    column_runs(mask, stride, lb, bb, true, top_runs, seen.get());
    column_runs(mask, stride, lb, bb, false, bottom_runs, seen.get());

    // Slots in the order that settles equal scores: right, bottom, left, top. The right
    // and bottom strips are tried deepest first, the left and top ones shallowest first.
    const side_split splits[4] = {
        best_side_split(right_runs, h, w, true, scratch),
        best_side_split(bottom_runs, w, h, true, scratch),
        best_side_split(left_runs, h, w - 1, false, scratch),
        best_side_split(top_runs, w, h, false, scratch),
    };
    int slot = -1;
    int64_t best = 0;
    for (int i = 0; i < 4; ++i) {
        if (splits[i].score > best) {
            best = splits[i].score;
            slot = i;
        }
    }
    if (slot < 0) return 1;

    const int t = splits[slot].depth, s = splits[slot].s, e = splits[slot].e;
    box a{}, b{};
    switch (slot) {
    case 0: // strip along the right side, bar across the rows s..e
        a = box{0, h, 0, w - t};
        b = box{s, e, 0, w};
        break;
    case 1: // strip along the bottom, bar down the columns s..e
        a = box{0, h - t, 0, w};
        b = box{0, h, s, e};
        break;
    case 2: // strip along the left side
        a = box{0, h, t, w};
        b = box{s, e, 0, w};
        break;
    default: // strip along the top
        a = box{t, h, 0, w};
        b = box{0, h, s, e};
        break;
    }
    // A negative margin would shrink the rectangles off the logo.
    const int band = std::max(sw.border_band, 0);
    rect_a = place(a, lb, band);
    rect_b = place(b, lb, band);
    return 0;
}
