// A logo model as a picture: an RGBA PNG of the frame's size, the logo's colour in RGB and
// its opacity in alpha, that a person can look at and delogo-apply can apply again.
#pragma once

#include <string>

#include "analysis/picture_writers.h"
#include "logo/logo_model.h"

// Writes `logo` as a PNG to `file` (BT.601 colours, opacity * 255) and closes it. Returns ""
// or what went wrong.
std::string save_logo(const frame_logo& logo, file_ptr file);

// Reads a picture written by save_logo into `logo` for frames whose chroma is subsampled
// by the shifts; the box is found from its opacities. Returns "" or what went wrong.
std::string load_logo(const std::string& path, int shift_x, int shift_y, frame_logo& logo);
