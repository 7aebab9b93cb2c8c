// Raw video frames passing through delogo-apply between two ffmpeg processes: NUT with
// uncompressed pictures read from one pipe and written to another, every frame's timestamp
// and the stream's time base carried over unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "video/av_ptr.h"

// The frames coming in: a NUT stream of raw pictures read from a file descriptor.
struct frame_pipe_input {
    input_ptr format;
    int stream = -1;
};

// Reads the header of the NUT stream on `fd` (left open: the caller owns it) and its first
// frames. "" or why it cannot be read.
std::string open_frame_pipe(int fd, frame_pipe_input& in);

// The stream's start, microseconds: the first frame's timestamp, as ffmpeg reading the same
// stream computes it.
int64_t start_time_us(const frame_pipe_input& in);

// The pictures' size, pixel format (an AVPixelFormat) and bits per sample.
struct frame_layout {
    int width = 0, height = 0, format = -1, depth = 8, planes = 0;
    int shift_x = 0, shift_y = 0; // chroma subsampling, log2
};
frame_layout layout_of(const frame_pipe_input& in);
// The layout of pictures of an AVPixelFormat and size.
frame_layout layout_for(int format, int width, int height);

// What is done to the frames on their way: each is first looked at when it arrives, and
// changed when `look_ahead` more frames have been looked at (or the stream has ended), in
// order; either may be empty. The planes' first samples and their row distances in bytes,
// in the layout above.
using frame_hook = std::function<void(uint8_t* planes[4], const int strides[4])>;
struct frame_change {
    int look_ahead = 0;
    frame_hook look, change;
};

// Passes every frame of `in` through `change`, then writes it as NUT to `fd` (closed at
// the end, so that the reader sees the end of the stream), until `in` ends, a write fails
// (the reader went away) or `stop` returns true. "" when all frames were passed and
// written.
std::string pass_frames(frame_pipe_input& in, int fd, const frame_change& change,
                        const std::function<bool()>& stop);
