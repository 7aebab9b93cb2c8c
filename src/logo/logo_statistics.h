// A known logo's statistics, summed over every recording that showed it: what its matte
// is worked out from again whenever one more recording adds its samples, so that ten
// recordings of a channel give one model better than any of them alone. And the bytes of
// its file in a logo library. Pure: plain buffers (zlib for the file's payload).
#pragma once

#include <string>
#include <vector>

#include "analysis/plane_samples.h"
#include "logo/logo_matting.h"
#include "logo/sample_blocks.h"

// The file format's version; a file of a later version is refused, not misread.
constexpr int statistics_version = 1;

// Per plane and per pixel of a rectangle of the frame (the logo's box and a margin, the
// picture around it that the matte fills from): the weighted mean of the samples that
// showed the logo and their weighted sum of squared deviations from it (8-bit), with the
// total weight. Means and deviations rather than raw sums: merging them (Chan et al.'s
// pairwise update) loses nothing, and the spread read back never cancels catastrophically.
struct logo_statistics {
    int frame_width = 0, frame_height = 0; // the frames the logo belongs to
    int shift_x = 1, shift_y = 1;          // their chroma subsampling (log2)
    int planes = 3;                        // 1 for grey pictures
    plane_rect r;                          // frame luma pixels, on whole chroma samples
    double weight = 0;                     // the samples' summed weight
    int recordings = 0, samples = 0;       // that added samples; samples taken
    std::vector<float> mean[3], deviation[3]; // luma r-sized, chroma r on the chroma grid
};

// Plane p's rectangle of `st` (chroma: r on the chroma grid).
plane_rect plane_rect_of(const logo_statistics& st, int p);

// Empty statistics of rectangle `r` for frames of that size and layout.
logo_statistics empty_statistics(int frame_width, int frame_height, int shift_x, int shift_y,
                                 int planes, plane_rect r);

// Adds one recording's samples `s` (a region whose top-left luma pixel is frame pixel x, y
// and which holds st.r), each with its weight (0: left out). false when st.r is not inside
// the region or no sample has weight (then nothing changes).
bool add_recording(logo_statistics& st, const corner_samples& s, int x, int y,
                   const std::vector<float>& weight);

// Adds `more` (the same rectangle and frames) to `st`. false, and nothing changed, when
// they do not fit together.
bool add_statistics(logo_statistics& st, const logo_statistics& more);

// The moments a matte is worked out from, over st.r.
graphic_moments moments_of(const logo_statistics& st);

// The file's bytes: a text line naming it, the version, the sizes, the zlib-compressed
// means and deviations, and a CRC-32 of everything before it.
std::string encode_statistics(const logo_statistics& st);

// Reads bytes written by encode_statistics. Returns "" or what is wrong with them (damaged,
// of a later version, not such a file).
std::string decode_statistics(const std::string& bytes, logo_statistics& st);
