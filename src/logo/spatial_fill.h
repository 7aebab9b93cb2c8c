// Filling what no frame shows: the pixels still hidden after the temporal fill are
// solved as a membrane (the smoothest surface, Laplace's equation) held by the picture all
// around the logo's region: every source pixel on its boundary counts, not a few rays.
// Sources are only what the model calls picture (no rim, no bar); an interlaced frame is
// filled field by field. The same boundary gives the same fill: over a still shot a
// hidden pixel is filled alike from frame to frame. Pure.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// Solves Laplace's equation over the w x h field `v` (row after row) where `role` is 1
// (free) with the values where it is 0 (held) as boundary; where it is 2 (wall) the
// field is neither read nor written, and the free pixels next to it see no neighbour
// there. Free pixels that no held pixel reaches take the mean of all held ones (or stay).
// Coarse to fine: the held values averaged down a pyramid, then relaxed level by level.
void solve_membrane(std::vector<float>& v, int w, int h, const std::vector<uint8_t>& role);

// The hidden pixels of each plane of `f` filled (mixed with the undone sample by their
// hidden share), their `hidden` set to 0. `bars`: per luma row of the work area, 1 where
// the row is a black bar (its hidden pixels are filled from the bar, the others never
// read it); empty: none.
void fill_spatially(const restoration& r, work_frame& f, const std::vector<uint8_t>& bars);

// The rows of the frame's luma work area that are a black bar the crop kept: from the
// area's top or bottom inward, every row whose source pixels are all black and flat.
std::vector<uint8_t> bar_rows(const restoration& r, const work_plane& luma);

// The stage.
class spatial_stage : public frame_stage {
public:
    explicit spatial_stage(std::shared_ptr<const restoration> plan) : plan_(std::move(plan)) {}
    void run(frame_window& w) override;

private:
    std::shared_ptr<const restoration> plan_;
};
