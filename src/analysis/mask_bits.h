// Bit masks of a corner region: row after row of region_width bits, column x at bit
// value 128 >> (x % 8) of byte x / 8, a 0 bit a static pixel (logo candidate), a 1 bit a
// pixel that changed or was erased. Column ranges below are inclusive and never empty
// unless said. Includes nothing of the project.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint8_t first_byte_bits(int x0) {
    return static_cast<uint8_t>(0xFF >> (x0 & 7));
}
inline uint8_t last_byte_bits(int x1) {
    return static_cast<uint8_t>(0xFF << (7 - (x1 & 7)));
}

// True when some column x0..x1 of the row holds a 0 bit.
inline bool row_has_static(const uint8_t* row, int x0, int x1) {
    const int b0 = x0 >> 3, b1 = x1 >> 3;
    if (b0 == b1) return (~row[b0] & first_byte_bits(x0) & last_byte_bits(x1)) != 0;
    if (~row[b0] & first_byte_bits(x0)) return true;
    for (int b = b0 + 1; b < b1; ++b)
        if (row[b] != 0xFF) return true;
    return (~row[b1] & last_byte_bits(x1)) != 0;
}

// Sets (value true) or clears the bits of columns x0..x1.
inline void put_bits(uint8_t* row, int x0, int x1, bool value) {
    const int b0 = x0 >> 3, b1 = x1 >> 3;
    auto apply = [&](int b, uint8_t bits) {
        row[b] = value ? static_cast<uint8_t>(row[b] | bits) : static_cast<uint8_t>(row[b] & ~bits);
    };
    if (b0 == b1) {
        apply(b0, first_byte_bits(x0) & last_byte_bits(x1));
        return;
    }
    apply(b0, first_byte_bits(x0));
    for (int b = b0 + 1; b < b1; ++b)
        row[b] = value ? 0xFF : 0x00;
    apply(b1, last_byte_bits(x1));
}

inline bool is_static(const uint8_t* row, int x) {
    return (row[x >> 3] & (0x80 >> (x & 7))) == 0;
}

// True when a static pixel lies in columns x0..x1 of rows y0..y1 (empty ranges: false).
inline bool any_static(const uint8_t* mask, int row_bytes, int x0, int x1, int y0, int y1) {
    if (x0 > x1) return false;
    for (int y = y0; y <= y1; ++y)
        if (row_has_static(mask + static_cast<size_t>(y) * row_bytes, x0, x1)) return true;
    return false;
}
