// Checks of the analysis's output as FFmpeg and the user would take it.
#pragma once

#include <string>

#include "settings.h"

// Prints `what` and the output on standard error and aborts: a finding.
[[noreturn]] void fail(const std::string& what, const std::string& report);

// Removes the mask pictures a run may write in the working directory.
void remove_pictures();

// Checks the analysis lines of one run: `report` holds only crop=, delogo= and
// removelogo= lines (anything else is a finding), `run` the settings before the run.
// Crop and delogo boxes lie inside the frame, a delogo box inside its corner's band; at
// most one corner is reported, with one line per rectangle; every picture a line names
// was written to the working directory and decodes with FFmpeg's own decoders at the
// size it must have.
void check_report(const std::string& report, const Settings& run, int band_w2, int band_h2,
                  int frame_width, int frame_height);
