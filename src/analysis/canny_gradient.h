// Canny edge logo detector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "analysis/types.h"

// Edge detector with the logo_detector interface: a mask bit ends 0 (candidate) when
// the pixel was a Canny edge often enough over the taking-part samples (sw.threshold).
// 0 on success, a negative code when a working buffer cannot be allocated.
int canny_logo(int band_w2, int band_h2, int region_width, int region_height, int start,
               const band_sample* samples, uint8_t* mask, int corner);

// The Gaussian kernel of `sigma`: `size` (odd) single-precision weights normalised to
// sum 1, centre at size / 2. sigma 0 gives one weight that is not a number. When the
// kernel cannot be made, prints the kernel message on stderr and exits with status 1.
std::unique_ptr<float[]> gaussian_kernel(float sigma, int& size);

// One sample's smoothing and gradient over a region of width x rows pixels (both >= 2)
// whose rows lie `stride` bytes apart: `blurred` (horizontal pass), `smoothed` (vertical
// pass, luma x 90), `dx`, `dy` and `magnitude`, each width x rows, row-major.
void canny_gradient(const uint8_t* region, ptrdiff_t stride, int width, int rows,
                    const float* kernel, int size, float* blurred, int16_t* smoothed, int16_t* dx,
                    int16_t* dy, int16_t* magnitude);
