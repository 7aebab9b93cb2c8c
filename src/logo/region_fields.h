// Fields over a corner region (one float or flag per pixel, row after row) and the few
// operations the logo model builds on: percentiles of a window, connected parts, growing,
// membrane fills, medians over masks and the Poisson reconstruction of
// a field from its gradients. Pure: plain buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using field = std::vector<float>;
using flags = std::vector<uint8_t>;

// A w x h grid, pixel (x, y) at index y * w + x.
struct grid {
    int w = 0, h = 0;
    size_t at(int x, int y) const { return size_t(y) * size_t(w) + size_t(x); }
    size_t size() const { return size_t(w) * size_t(h); }
};

// A percentile (`rank` 0..1) of the (2r+1)^2 window around each pixel, read on every third
// pixel of the window where `use` is set, on a grid of every fourth pixel and linearly
// between: the smooth field that a logo stands out of.
field percentile_field(const field& f, const flags& use, grid g, int r, double rank);

// Connected parts (4-neighbours) of `on`: a label per pixel (0 off, parts from 1) and the
// size of each part (sizes[0] unused).
std::vector<int> label_parts(const flags& on, grid g, std::vector<int>& sizes);

// `on` with what it encloses (parts of the rest that do not reach the grid's border).
flags fill_holes(flags on, grid g);

// `on` grown by `steps` pixels (4-neighbours each step).
flags grow(flags on, grid g, int steps);

// `f` inside `hole` replaced by the membrane (harmonic) surface spanned by the values around
// it; pixels outside `picture` (letterbox bars) are no values to continue (no flux).
field membrane_fill(const field& f, const flags& hole, grid g, const flags& picture);

// Per pixel of `where`: the median of `value` over the pixels of `valid` within r; pixels
// with none take the nearest such median.
field masked_median(const field& value, const flags& valid, const flags& where, grid g, int r);

// The field whose gradients (forward differences gx, gy: f(x+1)-f(x), f(y+1)-f(y)) come
// closest to the given ones in least squares, with no flux across the border, its mean 0:
// the Poisson reconstruction, solved coarse to fine by conjugate gradients.
field poisson_field(const field& gx, const field& gy, grid g);

// A w x h field shrunk by `factor` (the mean of each factor x factor block; the last blocks
// cut at the border): size -(-w / factor) x -(-h / factor).
field shrink(const field& f, grid g, int factor, grid& out);
