// NUT read from one pipe and written to another through libavformat: delogo-apply sits
// between the decoding and the encoding ffmpeg and hands every packet on, changing only the
// pixels of the raw video frames. This file knows nothing of what is changed: it reads a
// packet and writes a packet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "video/av_ptr.h"

// The NUT coming in on a file descriptor (left open: the caller owns it). Not moved once
// opened: its reader points at it.
struct nut_input {
    int fd = -1;
    av_bytes_io io; // the descriptor's reader
    input_ptr format;
};

// Reads the header of the NUT on `fd`. "" or why it cannot be read.
std::string open_nut_input(int fd, nut_input& in);

// Reads the next packet into `packet`: 1, 0 at the end, or -1 and `error`.
int read_nut_packet(nut_input& in, AVPacket* packet, std::string& error);

// The NUT going out on a file descriptor (closed by close_nut_output, so that the reader
// sees the end).
// Not moved once opened: its writer points at it.
struct nut_output {
    int fd = -1;
    av_bytes_io io; // the descriptor's writer
    output_ptr format;
    bool reader_gone = false; // a write found the pipe closed by its reader (EPIPE)
    ~nut_output();
};

// Writes the header of a NUT with the streams of `in` (codec parameters, time bases,
// metadata, dispositions), its metadata and chapters, the chapters moved by
// `chapter_shift_us` microseconds, on `out.fd` (set by the caller, and owned by `out`).
// "" or why it cannot.
std::string open_nut_output(const nut_input& in, int64_t chapter_shift_us, nut_output& out);

// Writes `packet` (of `in`'s stream packet->stream_index, in that stream's time base) and
// takes its contents. "" or why it could not be written (the reader went away: "Broken pipe").
std::string write_nut_packet(const nut_input& in, nut_output& out, AVPacket* packet);

// Writes the trailer and closes the descriptor. "" or the error.
std::string close_nut_output(nut_output& out);

// The pictures' size, pixel format (an AVPixelFormat) and bits per sample.
struct frame_layout {
    int width = 0, height = 0, format = -1, depth = 8, planes = 0;
    int shift_x = 0, shift_y = 0; // chroma subsampling, log2
    // The bytes of one picture packed as rawvideo packs it (rows without padding).
    int64_t bytes = 0;
};
// The layout of pictures of an AVPixelFormat and size.
frame_layout layout_for(int format, int width, int height);
// The layout of raw video stream `index` of `in`; format -1 when it is not raw video.
frame_layout layout_of(const nut_input& in, int index);

// The planes of a raw picture packed in `data` (as rawvideo packs it), their first
// samples and their row distances in bytes.
void picture_planes(const frame_layout& l, uint8_t* data, uint8_t* planes[4], int strides[4]);
