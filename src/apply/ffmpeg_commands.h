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

// How the streams of the restoring run travel. The decoding ffmpeg reads INPUT with
// ffmpeg's own timestamp handling and writes one NUT: the video decoded to raw pictures
// first, then every kept stream whose codec NUT carries, copied (with INPUT's metadata and
// chapters). The encoding ffmpeg reads that NUT as its first input; a kept stream NUT
// cannot carry (text subtitles, attachments, some data) it maps from INPUT itself, read
// as its second input, whose timestamps it handles as a plain transcode does.
struct frame_route {
    int video = -1;               // INPUT's video stream
    std::vector<int> in_nut;      // INPUT's streams copied into the NUT after the video
    std::vector<std::string> map; // the encoding side's "-map" source of each output stream
    std::vector<std::string> codecs; // "-c:K copy|ENCODER" of the output streams after the video
    bool reads_input = false;        // the encoding ffmpeg reads INPUT too
};
frame_route route_frames(int video, const stream_plan& plan,
                         const std::vector<input_stream>& streams);

// The frame-rate words of both sides. By default the decoding ffmpeg drops, doubles and
// times the frames exactly as a plain transcode into OUTPUT's format would
// (`-fps_mode MODE`: what ffmpeg picks by itself for that format), in the encoder's time
// base a plain transcode gives them, and the encoding ffmpeg keeps every frame as it
// comes, in that time base. Where the words after "--" say how frames are timed (-r,
// -fps_mode, -vsync, -enc_time_base), the decoding side passes every frame as decoded and
// the encoding side does what the words say.
struct frame_timing {
    std::vector<std::string> decoder, encoder;
};
frame_timing frame_timing_for(const AVOutputFormat* muxer, int input_streams,
                              const std::vector<std::string>& words);

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
