// Opening the video and reading key frames from it: the demuxer, the decoder, the seek
// of each pass and the one-thread loop over the passes, in the order the tool samples.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    // How the demuxer was opened, so that reopen_demuxer can do it again.
    std::string url;           // what avformat_open_input was given
    AVIOContext* io = nullptr; // the caller's I/O context, or null
    int64_t io_start = 0;      // bytes: where the caller's I/O context stood at the open
    bool rereadable = false;   // reading it again gives the same bytes: a regular file, or
                               // a seekable caller I/O context
};

// Opens `path` (through `io`, owned by the caller, when not null), finds the best video
// stream and opens its decoder, logging what failed through av_log. With `dump` the
// stream summary is logged as well. Returns 0 or FFmpeg's error code.
int open_video(const char* path, AVIOContext* io, bool dump, video_input& in);

// A second decoder for in's video stream, set up as open_video sets up in.dec_ctx.
// Returns 0 or FFmpeg's error code.
int open_another_decoder(const video_input& in, codec_ptr& decoder);

// Replaces in.fmt_ctx by a demuxer opened afresh on the same input (a rereadable one),
// probed as open_video probes it, so that the same calls give the same packets again.
// Returns 0 or FFmpeg's error code.
int reopen_demuxer(video_input& in);

// The container's duration in microseconds, or 0 when it is unknown or not positive.
int64_t known_duration(const video_input& in);

// The seek target of pass i of `passes` (from 1), microseconds in the container's clock:
// i * duration / (passes + 1) past the start time. Only for a known duration.
int64_t pass_target(const video_input& in, int i, int passes);

// The seek target of a pass: start_time + offset (both microseconds, not negative),
// saturated at INT64_MAX instead of wrapping.
int64_t seek_point(int64_t start_time, int64_t offset);

// Seeks the demuxer to the key frame at or before `target` (microseconds); a failed seek
// leaves the reading where it was.
void seek_demuxer(video_input& in, int64_t target);

// Seeks to pass i of `passes` and forgets what the decoder held. Only for a video with a
// known duration.
void seek_to_pass(video_input& in, int i, int passes);

// How a pass of reading ended.
enum class pass_end { captured, read_error, end_of_file, fatal };

// What reading a pass costs, for the decoding-floor benchmark.
struct read_counts {
    int64_t packets = 0;       // every packet the demuxer handed over
    int64_t video_packets = 0; // those sent to the decoder
    int64_t bytes = 0;         // payload bytes of all of them
};

// What one call of read_video_packet met.
enum class packet_read { video, end_of_file, read_error };

// Reads packets until one of the video stream, left in `packet` (logged at debug level),
// dropping the others. `reads` goes up by one per av_read_frame call, the last included.
packet_read read_video_packet(video_input& in, AVPacket* packet, int& reads,
                              read_counts* counts = nullptr);

// What the decoder made of one video packet.
enum class packet_outcome { read_on, captured, fatal };

// Sends a video packet (unreferenced here) to `decoder` and takes what it hands out: a
// key frame of in's size and pixel format is left in `frame` (captured); no frame, or
// another one, asks for the next packet. `code` receives the error of a fatal end, after
// its message was logged.
packet_outcome decode_packet(const video_input& in, AVCodecContext* decoder, AVPacket* packet,
                             AVFrame* frame, int& code);

// Reads packets until the decoder hands out a key frame of the size and pixel format it
// had when opened, left in `frame`. `code` receives the error of a fatal end (after its
// message was logged); `counts`, when not null, what was read.
pass_end read_key_frame(video_input& in, AVPacket* packet, AVFrame* frame, int& code,
                        read_counts* counts = nullptr);

// The passes of a sampling: each one's seek target (microseconds), or no_seek to read on
// from where the pass before it stopped, on the same decoder, without forgetting.
constexpr int64_t no_seek = INT64_MIN;

// Takes what it needs from the key frame of pass `pass` (from 1), decoded by decoder
// `worker` (from 0), before the frame is released. The parallel loop may call it for a
// pass that is then read again, or not used at all: only what a committed pass captured
// last counts, so it must write only its own pass's storage.
using capture_fn = std::function<void(int pass, int worker, const AVFrame* frame)>;
// Told, on the caller's thread and in pass order, how each pass ended; after an end of
// file or a fatal end no pass follows.
using commit_fn = std::function<void(int pass, pass_end end)>;

// The passes in order on in.dec_ctx, the reference that the parallel loop reproduces:
// pass i seeks to targets[i - 1] (flushing the decoder) unless it is no_seek, then reads
// up to a key frame. Stops after the first end of file or fatal end. Returns 0, or the
// error code of the fatal end.
int sample_in_order(video_input& in, AVPacket* packet, AVFrame* frame,
                    const std::vector<int64_t>& targets, const capture_fn& capture,
                    const commit_fn& commit);
