// Logo box search in the best corner, and the mask-mode decision.
#include "analysis/logo_box.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "analysis/mask_bits.h"
#include "analysis/settings.h"
#include "analysis/static_pixels.h"

// Largest c <= n - 2 whose ratio is at most (at_most) or below `limit`, by bisection.
int pick_corner(const int static_count[4], int region_width, int region_height) {
    // More than 1/150 of the region must be static: a few stray still pixels in a
    // moving picture are noise, a logo covers far more.
    const int limit = region_width * region_height / 150;
    int best = -1, best_count = 0;
    for (int c = 0; c < 4; ++c)
        if (static_count[c] > limit && static_count[c] > best_count) {
            best = c;
            best_count = static_count[c];
        }
    return best;
}

namespace {

template <typename Ratio> int bisect(int n, int limit, bool at_most, Ratio ratio) {
    int lo = 0, hi = n - 1, previous = 0;
    while (true) {
        const int mid = (lo + hi) / 2;
        const int r = ratio(mid);
        if (at_most ? r <= limit : r < limit)
            lo = mid;
        else
            hi = mid;
        if (mid == previous) return mid;
        previous = mid;
    }
}

} // namespace

box quartile_box(const uint8_t* mask, int region_width, int region_height) {
    auto h = [&](int c) { return hratio(region_width, region_height, c, mask); };
    auto v = [&](int r) { return vratio(region_width, region_height, r, mask); };
    box b;
    b.left = bisect(region_width, 250, true, h);
    b.right = bisect(region_width, 750, false, h);
    b.top = bisect(region_height, 250, true, v);
    b.bottom = bisect(region_height, 750, false, v);
    return b;
}

bool grow_box(const uint8_t* mask, int region_width, int region_height, int border_black, box& b) {
    const int rb = region_width / 8;
    // Every pass that changes something moves an edge by one pixel; a box that settles
    // does so long before this many passes.
    const long long pass_limit = 8LL * (region_width + region_height) + 64;
    for (long long pass = 0; pass < pass_limit; ++pass) {
        const box before = b;
        // Left edge.
        int reach = std::max(b.left - border_black, 0);
        if (reach != b.left) {
            if (any_static(mask, rb, reach, b.left - 1, b.top, b.bottom))
                --b.left;
            else if (!any_static(mask, rb, b.left, b.left, b.top, b.bottom))
                ++b.left;
        }
        // Right edge.
        reach = std::min(b.right + border_black, region_width - 1);
        if (reach != b.right) {
            if (any_static(mask, rb, b.right + 1, reach, b.top, b.bottom))
                ++b.right;
            else if (!any_static(mask, rb, b.right, b.right, b.top, b.bottom))
                --b.right;
        }
        // Top edge.
        reach = std::max(b.top - border_black, 0);
        if (reach != b.top) {
            if (any_static(mask, rb, b.left, b.right, reach, b.top - 1))
                --b.top;
            else if (!any_static(mask, rb, b.left, b.right, b.top, b.top))
                ++b.top;
        }
        // Bottom edge.
        reach = std::min(b.bottom + border_black, region_height - 1);
        if (reach != b.bottom) {
            if (any_static(mask, rb, b.left, b.right, b.bottom + 1, reach))
                ++b.bottom;
            else if (!any_static(mask, rb, b.left, b.right, b.bottom, b.bottom))
                --b.bottom;
        }
        // Only a box still empty after all four steps is lost: a step may empty it (the
        // top edge passing a one-row box) and a later step of the same pass repair it
        // (the bottom edge growing over static rows below). Within one pass every read
        // stays inside the region, since each edge moves at most one pixel from a box
        // that was whole when the pass began.
        if (b.right < b.left || b.bottom < b.top) return false;
        if (before.top == b.top && before.bottom == b.bottom && before.left == b.left &&
            before.right == b.right)
            return true;
    }
    return true; // never settled: keep the box as it stands
}

bool fit_logo_box(uint8_t* mask, int region_width, int region_height, box& logo_box) {
    box b = quartile_box(mask, region_width, region_height);
    if (!grow_box(mask, region_width, region_height, sw.border_black, b)) return false;
    if (b.right - b.left <= 4 || b.bottom - b.top <= 4) return false;
    for (int i = 0; i < sw.border_band; ++i) {
        if (b.left > 0) --b.left;
        if (b.right < region_width - 2) ++b.right;
        if (b.top > 0) --b.top;
        if (b.bottom < region_height - 2) ++b.bottom;
    }
    // Erase everything outside the box.
    const size_t rb = static_cast<size_t>(region_width) / 8;
    for (int y = 0; y < region_height; ++y) {
        uint8_t* row = mask + y * rb;
        if (y < b.top || y > b.bottom) {
            memset(row, 0xFF, rb);
            continue;
        }
        if (b.left > 0) put_bits(row, 0, b.left - 1, true);
        if (b.right < region_width - 1) put_bits(row, b.right + 1, region_width - 1, true);
    }
    logo_box = b;
    return true;
}

int fill_logo(uint8_t* filled, int region_width, const box& b) {
    const size_t rb = static_cast<size_t>(region_width) / 8;
    for (int r = b.top; r <= b.bottom; ++r) {
        uint8_t* row = filled + r * rb;
        int first = -1, last = -1;
        for (int x = b.left; x <= b.right; ++x)
            if (is_static(row, x)) {
                if (first < 0) first = x;
                last = x;
            }
        if (first >= 0 && last > first + 1) put_bits(row, first + 1, last - 1, false);
    }
    int fill_count = 0;
    for (int x = b.left; x <= b.right; ++x) {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        uint8_t* column = filled + (x >> 3);
        int first = -1, last = -1;
        for (int r = b.top; r <= b.bottom; ++r)
            if (!(column[r * rb] & bit)) {
                if (first < 0) first = r;
                last = r;
            }
        if (first < 0 || last <= first) continue;
        fill_count += last - first + 1;
        for (int r = first + 1; r < last; ++r)
            column[r * rb] &= static_cast<uint8_t>(~bit);
    }
    return fill_count;
}

int mask_mode_step(uint8_t* mask, int region_width, int region_height, const box& b) {
    const size_t size = static_cast<size_t>(region_width) / 8 * region_height;
    std::unique_ptr<uint8_t[]> filled(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!filled) return -1;
    memcpy(filled.get(), mask, size);
    const long long fill_count = fill_logo(filled.get(), region_width, b);
    const long long area =
        static_cast<long long>(b.bottom - b.top + 1) * static_cast<long long>(b.right - b.left + 1);
    const int coverage = static_cast<int>(fill_count * 100 / area);
    if ((sw.flags & FLAG_REMOVELOGO) || coverage < sw.pixel_ratio) {
        memcpy(mask, filled.get(), size);
        sw.flags |= FLAG_REMOVELOGO;
    }
    return coverage;
}
