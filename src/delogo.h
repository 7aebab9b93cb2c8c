// Command line, settings and key-frame sampling: the only module that talks to FFmpeg.
#pragma once

#include <cstdint>
#include <string>

// Bits of Settings::flags.
enum : uint8_t {
    FLAG_INFO = 1,
    FLAG_CANNY = 2,
    FLAG_TWO_RECTANGLES = 4,
    FLAG_SAVE_AS_PCX = 8,
    FLAG_REMOVELOGO = 16,
    FLAG_ALL_CORNERS = 32,
};

// The run's settings; each field is named after its long option. The member
// initialisers are the defaults that program_options writes before parsing.
struct Settings {
    uint8_t flags = 0;        // FLAG_* bits
    uint8_t corner_mask = 15; // bit 1 << c: corner c (0 NW, 1 NE, 2 SW, 3 SE) is searched
    int pixel_ratio = 0;      // percent of the logo box below which mask mode is used
    int frames = 64;          // key frames to sample (lowered when the file ends early)
    int width_bands = 35;     // corner band width, percent of the frame width
    int height_bands = 18;    // corner band height, percent of the frame height
    int level_black = 23;     // highest luma counted as black (inclusive)
    int level_delta = 65;     // largest luma change of a static pixel (inclusive)
    int border_black = 15;    // pixels around the logo box searched for more logo
    int border_band = 4;      // margin added around the logo box, pixels
    int threshold = 170;      // Canny edge threshold 0..255
    float sigma = 1.2f;       // Canny Gaussian sigma
    float tlow = 0.3f;        // Canny low hysteresis fraction, (0, 1]
    float thigh = 0.8f;       // Canny high hysteresis fraction, (0, 1]
    std::string video_file;   // the positional argument
};

// The one settings record of the run.
extern Settings sw;

// Parses argv into `out` (defaults first, then options in order). Returns 0 when a
// video file was named, 1 when the help text is due (help asked, bad option, no file).
int parse_options(int argc, char** argv, Settings& out);

// Fills sw from the command line; prints the help text and exits 0 when parsing fails.
void program_options(int argc, char** argv);

// Prints the help text for program name `prog` (values shown are sw's) and exits 0.
[[noreturn]] void usage(const char* prog);

// A duration in microseconds, rounded to whole seconds (half up) and split into hours,
// minutes and seconds as the duration line prints them.
void split_duration(int64_t microseconds, int& hours, int& minutes, int& seconds);

// The seek target of a pass: start_time + offset (both microseconds, not negative),
// saturated at INT64_MAX instead of wrapping.
int64_t seek_point(int64_t start_time, int64_t offset);

struct AVIOContext;

// The run after the command line: opens sw.video_file (or reads it through `io`, which
// the caller owns, when not null), samples key frames, analyses them and prints the
// summary. Returns the exit status: 0, or 1 after "Error occurred: ..." on stderr.
int process_video(AVIOContext* io);
