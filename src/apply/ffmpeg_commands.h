// The ffmpeg command lines of delogo-apply: the one command of FFmpeg's filters, and the
// two between which delogo-apply restores the frames. Pure: words only.
#pragma once

#include <string>
#include <vector>

#include "apply/stream_plan.h"

// The ffmpeg argv of FFmpeg's filters: quiet, no standard input, -y (`overwrite`: a
// temporary file of ours, or --force) or -n, INPUT, the stream arguments, "-vf CHAIN"
// unless the chain is empty, the encoder arguments, progress as key=value lines on
// standard output, OUTPUT. Paths go through file_url.
std::vector<std::string> ffmpeg_command(const std::string& input,
                                        const std::vector<std::string>& streams,
                                        const std::string& chain,
                                        const std::vector<std::string>& encoder, bool overwrite,
                                        const std::string& output);

// The NUT between the two ffmpegs holds the plain transcode's timestamps moved later by
// this much, microseconds: NUT holds no negative timestamp, and its muxer would otherwise
// move every stream by the most negative one (audio primed before the first picture),
// which the encoding side could not tell from the input's own timing. The encoding side
// reads the NUT with -copyts and moves it back by as much; a NUT has no jumps or wraps
// to mend, so -copyts changes nothing else there. Chapters, which the muxer's offset does
// not move, are moved by delogo-apply.
constexpr int64_t nut_offset_us = int64_t{1000} * 1000000;

// How the streams of the restoring run travel. The decoding ffmpeg reads INPUT with
// ffmpeg's own timestamp handling and writes one NUT (with INPUT's metadata and chapters):
// the video decoded to raw pictures first, then every kept stream it can carry (see
// through_nut), copied. The encoding ffmpeg reads that NUT as its first input, and every
// other kept stream (text subtitles, attachments) from INPUT itself, read as its second
// input and moved back by INPUT's start as a plain transcode moves it.
struct frame_route {
    int video = -1;               // INPUT's video stream
    std::vector<int> in_nut;      // INPUT's streams copied into the NUT after the video
    std::vector<std::string> map; // the encoding side's "-map" source of each output stream
    std::vector<std::string> codecs; // "-c:K copy|ENCODER" of the output streams after the video
    bool reads_input = false;        // the encoding ffmpeg reads INPUT too
    int64_t input_start_us = 0;      // INPUT's start, as ffmpeg computes it
    int queued_pictures = 8;         // the encoding side's queue of the NUT when it reads two inputs
};
// `picture_bytes`: the size of one raw picture (its queue is kept to about 48 MB).
frame_route route_frames(int video, const stream_plan& plan,
                         const std::vector<input_stream>& streams, int64_t input_start_us,
                         int64_t picture_bytes);

// The frame-rate words of both sides. By default the decoding ffmpeg drops, doubles and
// times the frames exactly as a plain transcode into OUTPUT's format would
// (`-fps_mode MODE`: what ffmpeg picks by itself for that format), in the encoder's time
// base a plain transcode gives them (the inverse of `video`'s frame rate), and the
// encoding ffmpeg keeps every frame as it comes, at that rate's time base. Where the words after "--" say how frames are timed (-r,
// -fps_mode, -vsync, -enc_time_base), the decoding side passes every frame as decoded and
// the encoding side does what the words say.
struct frame_timing {
    std::vector<std::string> decoder, encoder;
};
frame_timing frame_timing_for(const AVOutputFormat* muxer, const input_stream& video,
                              int input_streams, const std::vector<std::string>& words);

// The decoding ffmpeg: INPUT in its coded orientation (the logo model's), on the NUT
// route above, to its standard output.
std::vector<std::string> decoder_command(const std::string& input, const frame_route& route,
                                         const frame_timing& timing);

// The encoding ffmpeg: the NUT on its standard input (and INPUT where the route says),
// "-vf CHAIN", the timing words, `encoder` (the encoder arguments), progress lines, OUTPUT.
std::vector<std::string> encoder_command(const std::string& input, const frame_route& route,
                                         const std::string& chain, const frame_timing& timing,
                                         const std::vector<std::string>& encoder,
                                         bool overwrite, const std::string& output);

// argv as one line a POSIX shell reads back into the same words.
std::string shell_line(const std::vector<std::string>& argv);
