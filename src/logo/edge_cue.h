// The logo's edges as every stretch of the recording shows them: a logo adds the same
// gradients to every picture, the programme's own gradients change from picture to picture
// (Dekel et al., "On the effectiveness of visible watermarks", CVPR 2017). Pure.
#pragma once

#include "analysis/plane_samples.h"
#include "logo/region_fields.h"
#include "logo/sample_blocks.h"

// Of one plane: the gradients (forward differences) shared by the samples, and the field
// they are the gradients of, its mean 0 (opacity times the logo's contrast with the
// programme, plus the programme's slow mean picture).
struct edge_cue {
    grid g;
    field gx, gy, w;
};

// Per block the median over its samples that `take` marks (seven of them at the most, spread
// over the block) of each pixel's differences, then the median of those over the blocks:
// a still shot's edges, in one block or two, are not a median's. Then, with `with_field`, the
// Poisson reconstruction of w (else w is empty).
edge_cue edge_cue_of(const plane_samples& p, const sample_blocks& b, const flags& take,
                     bool with_field = true);

// How well the gradients of sample `s` over the pixels `where` follow the cue's: their
// correlation's numerator and the two energies, to be summed over planes.
struct correlation_sums {
    double cross = 0, sample = 0, cue = 0;
    double value() const;
};
void add_gradient_correlation(const plane_samples& p, int s, const edge_cue& cue,
                              const std::vector<size_t>& where, correlation_sums& sums);
