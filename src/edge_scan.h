// Canny edge logo detector.
#pragma once

#include <cstdint>

#include "crop_delogo.h"

// Edge detector with the logo_detector interface: a mask bit ends 0 (candidate) when
// the pixel was a Canny edge often enough over the taking-part samples (sw.threshold).
// 0 on success, a negative code when a working buffer cannot be allocated.
int canny_logo(int band_w2, int band_h2, int region_width, int region_height, int start,
               const band_sample* samples, uint8_t* mask, int corner);
