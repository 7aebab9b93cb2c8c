// A library of known logos: whether a known logo is in a recording (the lookup, on the
// samples the model reads), what a recording adds to what is known of it, its model
// worked out again from its statistics, and the logos of a run put together. Pure: plain
// buffers.
#pragma once

#include <vector>

#include "analysis/plane_samples.h"
#include "logo/logo_model.h"
#include "logo/logo_statistics.h"

// A sample shows a known logo when its gradients over the logo follow the ones the logo
// would add (the correlation above the model's presence_score) ...
// ... and the logo is in the recording when at least this share of the samples show it
// (and at least least_shown of them): a special-event logo shown for a part of the
// programme counts, a chance likeness in a sample or two does not ...
constexpr int shown_share = 4; // a quarter
constexpr int least_shown = 3;
// ... and the samples that show it show its opacity and colour: what is left once the
// logo's expected part is taken off each sample, projected on the logo's own edges, is
// within this many levels (8-bit, per plane, the median over the samples that show it) of
// nothing. Another logo at its place, the same logo in another colour or at another
// opacity, leave more.
constexpr float colour_tolerance = 20.0f;

// The lookup of one known logo in a recording's samples of one region.
struct logo_lookup {
    bool inside = false;          // the logo lies inside the region
    std::vector<float> presence;  // per sample: the correlation of its gradients with the logo's
    int shown = 0;                // samples whose presence is above presence_score
    float colour_error[3] = {0, 0, 0}; // per plane: the median left over (8-bit levels)
    bool present = false;         // the verdict
};

// Looks `logo` (placed in the frame) up in `s`, the samples of a region whose top-left luma
// pixel is frame pixel x, y (on whole chroma samples).
logo_lookup look_up(const frame_logo& logo, const corner_samples& s, int x, int y);

// The weights a recording's samples add to a logo's statistics: 1 for the samples that
// show it, 0 for the rest.
std::vector<float> shown_weights(const logo_lookup& l);

// Graphic k of `logo` alone: its pixels, its chroma samples and its box.
frame_logo graphic_of(const frame_logo& logo, int k);

// The rectangle whose statistics are kept for a logo whose box is `b` (frame pixels): the
// box and the margin the matte fills from (12 pixels at 720 rows, 6 at the least), on whole
// chroma samples, inside the frame.
plane_rect statistics_rect(const graphic_box& b, int frame_width, int frame_height, int shift_x,
                           int shift_y);

// The model of a known logo worked out again from its statistics: matted from their moments
// where `previous` (the logo as it was) has opacity and around it (as far as the model's
// parts grow), the letterbox bars (at most `black`, still) no picture. false, with `out`
// untouched, when the statistics hold no logo any more.
bool relearn(const logo_statistics& st, const frame_logo& previous, int black, frame_logo& out);

// Logos of frames of one size and layout (none overlapping) put together into one model:
// each graphic of each stays a graphic of its own, the main box is the first logo's.
frame_logo combined_logo(const std::vector<const frame_logo*>& logos);

// Whether two logos of one frame share a pixel with opacity.
bool logos_overlap(const frame_logo& a, const frame_logo& b);
