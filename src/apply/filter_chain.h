// The FFmpeg command of delogo-apply, built from what the analysis found. Pure: strings
// and buffers only, no files, no processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis_result.h"

// r moved inside the one-pixel margin FFmpeg's delogo filter demands (x >= 1, y >= 1,
// x + w <= W - 1, y + h <= H - 1), giving up only the pixel on a side that touches the
// frame's edge. w or h is 0 or less when nothing is left.
frame_rect inside_margin(frame_rect r, int frame_width, int frame_height);

// A path as FFmpeg opens it as a file: with "file:" in front when it holds a ':' (which
// would name a protocol) or starts with '-' (which would be an option).
std::string file_url(const std::string& path);

// `value` escaped as a filter option value inside a filter graph: first for the option
// list (\ ' :), then for the graph (\ ' [ ] , ;).
std::string escape_filter_value(const std::string& value);

// The filter chain: a "delogo=" filter per rectangle (moved inside the margin), or in
// mask mode "removelogo=filename=MASK"; then "crop=". Logo filters work in frame
// coordinates, so they come before the crop. Empty when there is nothing to do.
std::string filter_chain(const analysis_result& r, const std::string& mask_path);

// The frame-sized greyscale mask of mask mode: 255 on the mask's logo pixels at their
// exact frame positions (those outside the frame dropped), 0 elsewhere. Row-major,
// frame_width bytes a row.
std::vector<uint8_t> frame_mask(const analysis_result& r);

// OUTPUT's file name with its extension replaced by ".mask.png", in OUTPUT's directory.
std::string mask_path_for(const std::string& output);

// Whether the container named by OUTPUT's extension takes copied subtitle streams as
// broadcasts carry them (DVB bitmaps, teletext): Matroska and MPEG-TS.
bool keeps_subtitles(const std::string& output);

// What the ffmpeg command is made of.
struct ffmpeg_job {
    std::string input;
    std::string output;
    std::string chain;     // empty: no -vf
    std::string pix_fmt;   // the input's pixel format name
    int video_stream = -1; // the analysed stream's index; -1: the first video stream
    bool overwrite = false;
    bool custom_encoder = false;      // the options after "--" were given
    std::vector<std::string> encoder; // those options
};

// The ffmpeg argv: the analysed video stream filtered and encoded (x264, CRF 18, preset
// medium, the input's pixel format when x264 takes it, else yuv420p; or the custom
// encoder options), every audio stream copied, subtitles copied when the container keeps
// them, progress as key=value lines on standard output.
std::vector<std::string> ffmpeg_command(const ffmpeg_job& job);

// argv as one line a POSIX shell reads back into the same words.
std::string shell_line(const std::vector<std::string>& argv);
