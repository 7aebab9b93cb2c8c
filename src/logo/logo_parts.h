// Where a corner region may hold a logo, in parts, and each part judged on its own samples:
// a part is a graphic when it shows in several stretches of the recording (blocks), a
// still shot's objects show in one. Pure.
#pragma once

#include <vector>

#include "analysis/plane_samples.h"
#include "logo/edge_cue.h"
#include "logo/region_fields.h"
#include "logo/sample_blocks.h"

// The sizes of the search, in pixels of the grid searched.
struct search_sizes {
    int radius = 31;    // of the window whose spreads a logo's dip is measured against
    int least_part = 30; // smaller parts are noise
    int grow = 3;        // the parts grow by this, so that a fill starts outside a soft edge
};
// The sizes for a picture `scale` times a 720-row one.
search_sizes sizes_for(double scale);

// The region as searched: its planes (chroma subsampled by the shifts), with the edge cue
// of each plane (from all samples), and again from the even and from the odd samples alone
// (a sample's presence is measured against the cue of the others: a median of a few samples
// follows each of them), and where the picture is (no letterbox bar).
struct search_view {
    const plane_samples* planes[3] = {nullptr, nullptr, nullptr};
    int shift_x = 0, shift_y = 0;
    edge_cue cue[3], even[3], odd[3];
    flags picture;
    grid g;
};

// One part: its core (where the edge cue stands out and, over the samples that show it,
// the spread dips) and its pixels (the core grown), its bounding box (of the edge cue's
// part), its presence in each sample (the correlation of the sample's gradients with the
// cue's over its pixels, all planes), the blocks it shows in, and whether it is a graphic's.
struct logo_part {
    std::vector<size_t> core, pixels;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::vector<float> presence;
    std::vector<uint8_t> shown_in; // per block: 1 when the part shows there
    int shown_blocks = 0;
    bool graphic = false;
};

// The presence of the pixels `where` (luma grid) in every sample.
std::vector<float> presence_of(const search_view& v, const std::vector<size_t>& where);

// The parts of the region that may be logo: where the edge cue's field stands out of its
// surroundings, parts of least_part or more. Each judged on its own: presence in each
// sample, shown in a block when its median there is above the presence threshold, a
// graphic when shown in two blocks or more and a third of them or more; then its core
// where its spread over the samples that show it dips below the smooth spread around, of
// least_part or more. What reaches the region's inner edges (towards the middle of the
// picture: corner 0 NW .. 3 SE) along most of them is the programme, not a logo.
std::vector<logo_part> find_parts(const search_view& v, const sample_blocks& b, int corner,
                                  const search_sizes& z);

// A sample shows a graphic when its presence is above this.
constexpr float presence_score = 0.15f;
