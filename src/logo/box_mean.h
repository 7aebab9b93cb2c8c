// The mean of a square window around each pixel of a field. Pure.
#pragma once

#include <vector>

// For each pixel of the w x h field `f` (row after row), the mean of the (2 r + 1)^2
// square around it, the square cut at the field's border.
std::vector<float> box_mean(const std::vector<float>& f, int w, int h, int r);
