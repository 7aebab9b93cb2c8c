// The samples of a recording in stretches of time (blocks): a logo shows in every stretch
// of the recording, a still shot only in its own. And the samples' statistics. Pure.
#pragma once

#include <vector>

#include "analysis/plane_samples.h"
#include "logo/region_fields.h"

// Samples 0..count-1 in time order, cut into blocks of consecutive samples: block k holds
// samples first[k] up to first[k + 1] - 1.
struct sample_blocks {
    std::vector<int> first;
    int count() const { return first.empty() ? 0 : int(first.size()) - 1; }
};

// The blocks for `samples` samples: a sixth of them, at least 4 and at most 8 (one block
// below 12 samples).
sample_blocks split_blocks(int samples);

// A rectangle of a plane, plane pixels.
struct plane_rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The mean and spread (standard deviation) of every pixel of rectangle `r` of plane `p`
// over the samples, each with its weight (0: left out).
void weighted_moments(const plane_samples& p, const std::vector<float>& weight, plane_rect r,
                      field& mean, field& spread);

// A plane's samples shrunk by `factor` (each factor x factor square's mean, rounded).
plane_samples shrink_samples(const plane_samples& p, int factor);
