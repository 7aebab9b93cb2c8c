// Opening the video and sampling its key frames: the only FFmpeg code of the tools.
#pragma once

#include <cstdint>

#include "analysis/analysis_result.h"
#include "video/av_ptr.h"

// One opened video: the demuxer, the chosen video stream and its decoder.
struct video_input {
    input_ptr fmt_ctx;
    codec_ptr dec_ctx;
    int video_stream_index = -1;
    // The decoder's frame size and pixel format when it was opened: the only ones
    // sampled, whatever the stream changes to later.
    int width = 0;
    int height = 0;
    int pix_fmt = -1;
};

// Where the 8-bit luma of a decoded pixel format comes from, read from its descriptor.
enum class luma_path {
    bytes,     // plane 0 holds 8-bit luma one byte per sample: its bytes as they are
    shifted,   // plane 0 holds 9- to 16-bit luma two bytes per sample: the top 8 bits
    converted, // RGB, packed YUV, palette, float, Bayer: libswscale makes 8-bit gray
    none,      // hardware surfaces, bit-packed formats and what libswscale cannot read
};
luma_path luma_path_of(AVPixelFormat format);

// Frame size and corner band size of a run, pixels.
struct band_geometry {
    int width, height;
    int band_w, band_h;
};

// Takes the corner bands' 8-bit luma from frames of one pixel format and geometry.
struct band_reader {
    band_geometry g{};
    luma_path path = luma_path::none;
    int shift = 0;           // shifted: right shift from a stored sample to its top 8 bits
    bool big_endian = false; // shifted: samples stored big endian
    sws_ptr sws;             // converted: to gray, a picture of `rows` rows a call
    int rows = 0;            // converted: the frame's height, or the rows of one band picture
    bool palette = false;    // converted: data[1] is a palette, not rows
    av_bytes gray;           // converted: the gray pictures, gray_stride bytes a row
    int gray_stride = 0;
};

// Prepares `reader` for frames of `format` and geometry `g`. Returns false when the
// format gives no luma (luma_path::none, or libswscale refusing it).
bool open_band_reader(AVPixelFormat format, const band_geometry& g, band_reader& reader);

// Copies the corner bands of the frame's luma (a frame of the reader's format and size)
// into `image`, 2*band_w x 2*band_h bytes: left and right band side by side, the top
// band's rows above the bottom band's.
void read_bands(band_reader& reader, const AVFrame* frame, uint8_t* image);

// Opens `path` (through `io`, owned by the caller, when not null), finds the best video
// stream and opens its decoder, logging what failed through av_log. With `dump` the
// stream summary is logged as well. Returns 0 or FFmpeg's error code.
int open_video(const char* path, AVIOContext* io, bool dump, video_input& in);

// The container's duration in microseconds, or 0 when it is unknown or not positive.
int64_t known_duration(const video_input& in);

// Seeks to pass i of `passes` (from 1): i * duration / (passes + 1) past the start time,
// the key frame at or before it, and forgets what the decoder held. Only for a video
// with a known duration.
void seek_to_pass(video_input& in, int i, int passes);

// The seek target of a pass: start_time + offset (both microseconds, not negative),
// saturated at INT64_MAX instead of wrapping.
int64_t seek_point(int64_t start_time, int64_t offset);

// How a pass of reading ended.
enum class pass_end { captured, read_error, end_of_file, fatal };

// What reading a pass costs, for the decoding-floor benchmark.
struct read_counts {
    int64_t packets = 0;       // every packet the demuxer handed over
    int64_t video_packets = 0; // those sent to the decoder
    int64_t bytes = 0;         // payload bytes of all of them
};

// Reads packets until the decoder hands out a key frame of the size and pixel format it
// had when opened, left in `frame`. `code` receives the error of a fatal end (after its
// message was logged); `counts`, when not null, what was read.
pass_end read_key_frame(video_input& in, AVPacket* packet, AVFrame* frame, int& code,
                        read_counts* counts = nullptr);

// A duration in microseconds, rounded to whole seconds (half up) and split into hours,
// minutes and seconds as the duration line prints them.
void split_duration(int64_t microseconds, int& hours, int& minutes, int& seconds);

// The run after the command line: opens sw.video_file (or reads it through `io`, which
// the caller owns, when not null), samples key frames, analyses them and prints the
// summary. Returns the exit status: 0, or 1 after "Error occurred: ..." on stderr.
// `result`, when not null, receives the frame size, duration and what the analysis printed
// (and the stream dump is left out). The passes of a file opened by path with a known
// duration run on worker_threads() threads (at most one per pass), each with its own
// demuxer and decoder, and print what the one-thread run prints; all_corners mode, info
// mode, a file without a duration and input through `io` are read in order on one decoder.
int process_video(AVIOContext* io, analysis_result* result = nullptr);
