// A run with a logo library: the known logos looked up in the recording's samples, each one
// found learnt from them and applied, the recording's own new logos added to the library.
#pragma once

#include <string>
#include <vector>

#include "logo/logo_model.h"
#include "video/picture_sampler.h"

struct library_request {
    std::string dir;   // the library's directory (made when missing, unless a dry run)
    std::string name;  // the name of the recording's strongest new logo ("": generated)
    bool dry_run = false; // look up and say, but change nothing in the library
    int black = 23;    // highest black luma (letterbox bars)
};

// What the library did in a run.
struct library_outcome {
    std::vector<std::string> lines; // for standard output: "logo: NAME", "logo: NAME (new)"
    std::vector<std::string> notes; // for standard error
};

// With the samples `s` the model read and its estimate (`logo`, `found`): the library's logos
// shown in the samples replace the estimate's graphics at their place, each learns from the
// samples that show it; of the estimate's other graphics the run's own logo (the strongest,
// when no known logo is found or q.name names it) is added, the rest wait as candidates
// until another recording shows them. `logo` and `found` become what the run applies. Returns "" or
// why the library could not be changed (the run then stops: a user asked for it).
std::string use_library(const library_request& q, const picture_samples& s, frame_logo& logo,
                        bool& found, library_outcome& out);
