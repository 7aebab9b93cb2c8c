// Static-pixel logo detector and the clean-up and measures of its masks.
#include "analysis/static_pixels.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "analysis/settings.h"

// Zero bits of each byte value, built two bits at a time: for the low pair 00, 01, 10,
// 11 the count drops by 0, 1, 1, 2.
#define ZEROES_2(n) n, n - 1, n - 1, n - 2
#define ZEROES_4(n) ZEROES_2(n), ZEROES_2(n - 1), ZEROES_2(n - 1), ZEROES_2(n - 2)
#define ZEROES_6(n) ZEROES_4(n), ZEROES_4(n - 1), ZEROES_4(n - 1), ZEROES_4(n - 2)
const uint8_t zeroes[256] = {ZEROES_6(8), ZEROES_6(7), ZEROES_6(7), ZEROES_6(6)};
#undef ZEROES_6
#undef ZEROES_4
#undef ZEROES_2

namespace {

// lo and hi take in the values of p. The buffers never overlap, and the fixed-size
// blocks let the compiler's cheapest vectorisation model turn each block into a few
// vector minimum and maximum instructions.
constexpr int range_block = 32;

inline void widen_block(uint8_t* __restrict lo, uint8_t* __restrict hi,
                        const uint8_t* __restrict p) {
    for (int k = 0; k < range_block; ++k) {
        const uint8_t v = p[k];
        lo[k] = v < lo[k] ? v : lo[k];
        hi[k] = v > hi[k] ? v : hi[k];
    }
}

void widen_range(uint8_t* lo, uint8_t* hi, const uint8_t* p, int len) {
    int i = 0;
    for (; i + range_block <= len; i += range_block)
        widen_block(lo + i, hi + i, p + i);
    for (; i < len; ++i) {
        lo[i] = std::min(lo[i], p[i]);
        hi[i] = std::max(hi[i], p[i]);
    }
}

} // namespace

int distance_logo(int band_w2, int, int region_width, int region_height, int start,
                  const band_sample* samples, uint8_t* mask, int corner) {
    const int n = sw.frames;
    if (n <= 1 || region_width <= 0 || region_height <= 0) return 0;
    const unsigned corner_bit = 1u << corner;
    auto takes_part = [&](int s) {
        return (samples[s].corner_flags & corner_bit) && samples[s].image;
    };
    int taking_part = 0;
    for (int s = 0; s < n && taking_part < 2; ++s)
        taking_part += takes_part(s);
    if (taking_part < 2) return 0; // no pair to compare

    // A pixel changed between some two samples exactly when its largest and smallest
    // values over all samples lie more than level_delta apart, so one pass keeping a
    // running minimum and maximum per pixel replaces the comparison of every pair. The
    // pass goes sample by sample, so each band image is read in long runs.
    const size_t pixels = static_cast<size_t>(region_width) * region_height;
    std::unique_ptr<uint8_t[]> lo(new (std::nothrow) uint8_t[pixels]);
    std::unique_ptr<uint8_t[]> hi(new (std::nothrow) uint8_t[pixels]);
    if (!lo || !hi) return -1;
    bool first = true;
    for (int s = 0; s < n; ++s) {
        if (!takes_part(s)) continue;
        const uint8_t* image = samples[s].image.get() + start;
        for (int y = 0; y < region_height; ++y) {
            const uint8_t* p = image + static_cast<size_t>(y) * band_w2;
            const size_t at = static_cast<size_t>(y) * region_width;
            if (first) {
                memcpy(lo.get() + at, p, region_width);
                memcpy(hi.get() + at, p, region_width);
            } else {
                widen_range(lo.get() + at, hi.get() + at, p, region_width);
            }
        }
        first = false;
    }
    // Pixels already marked stay marked; only the others can gain a bit.
    const int delta = sw.level_delta;
    for (size_t j = 0; j < pixels / 8; ++j) {
        if (mask[j] == 0xFF) continue;
        const uint8_t* l = lo.get() + 8 * j;
        const uint8_t* h = hi.get() + 8 * j;
        unsigned bits = 0;
        for (int k = 0; k < 8; ++k)
            bits = (bits << 1) | (h[k] - l[k] > delta ? 1u : 0u);
        mask[j] = static_cast<uint8_t>(mask[j] | bits);
    }
    return 0;
}

int count_static(const uint8_t* mask, size_t bytes) {
    int count = 0;
    for (size_t i = 0; i < bytes; ++i)
        count += zeroes[mask[i]];
    return count;
}

void clean_rows(int region_width, uint8_t* mask) {
    const int b = region_width / 8;
    if (b == 0) return;
    if (count_static(mask, b) > region_width * 9 / 10) memset(mask, 0xFF, b);
}

void clean_columns(int region_width, int region_height, int bit, uint8_t* mask) {
    if (region_height <= 0) return;
    const size_t row_bytes = static_cast<size_t>(region_width) / 8;
    int count = 0;
    for (int y = 0; y < region_height; ++y)
        count += (mask[y * row_bytes] & bit) == 0;
    if (count > region_height * 9 / 10)
        for (int y = 0; y < region_height; ++y)
            mask[y * row_bytes] |= static_cast<uint8_t>(bit);
}

// Per mille of part in part + rest, 0 for an empty mask (the callers never ask then).
namespace {
int per_mille(long long part, long long rest) {
    return part + rest > 0 ? static_cast<int>(part * 1000 / (part + rest)) : 0;
}
} // namespace

int hratio(int region_width, int region_height, int split, const uint8_t* mask) {
    const int b = region_width / 8;
    const int split_byte = split / 8;
    const unsigned split_bit = 0x80u >> (split % 8);
    long long left = 0, right = 0;
    for (int y = 0; y < region_height; ++y) {
        const uint8_t* row = mask + static_cast<size_t>(y) * b;
        for (int j = 0; j < b; ++j) {
            const uint8_t v = row[j];
            if (v == 0xFF) continue;
            if (j < split_byte) {
                left += zeroes[v];
            } else if (j > split_byte) {
                right += zeroes[v];
            } else {
                for (unsigned g = 0x80; g; g >>= 1)
                    if (!(v & g)) (g > split_bit ? left : right) += 1;
            }
        }
    }
    return per_mille(left, right);
}

int vratio(int region_width, int region_height, int split, const uint8_t* mask) {
    const size_t b = static_cast<size_t>(region_width) / 8;
    const int above = std::max(0, std::min(split, region_height));
    const long long top = count_static(mask, above * b);
    if (split >= region_height) return 1000;
    const long long bottom = count_static(mask + above * b, (region_height - above) * b);
    return per_mille(top, bottom);
}

void clean_edges(uint8_t* mask, int region_width, int region_height) {
    const size_t row_bytes = static_cast<size_t>(region_width) / 8;
    for (int k = 0; k < region_height / 20; ++k) {
        clean_rows(region_width, mask + k * row_bytes);
        clean_rows(region_width, mask + (region_height - 1 - k) * row_bytes);
    }
    for (int k = 0; k < region_width / 20; ++k) {
        const int right = region_width - 1 - k;
        clean_columns(region_width, region_height, 0x80 >> (k % 8), mask + k / 8);
        clean_columns(region_width, region_height, 0x80 >> (right % 8), mask + right / 8);
    }
}
