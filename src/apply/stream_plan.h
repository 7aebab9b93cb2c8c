// Which of INPUT's streams go into OUTPUT and how: copied when OUTPUT's muxer holds their
// codec, converted when it does not but a sound conversion exists, otherwise left out
// with one line saying so. The analysed video stream is the filter chain's and the
// encoder's business, not the plan's.
#pragma once

#include <string>
#include <vector>

#include "apply/input_streams.h"

// OUTPUT's muxer: the one named by `format_name` (ffmpeg's -f) when not empty, else the
// one FFmpeg guesses from OUTPUT's name. nullptr when there is none.
const AVOutputFormat* output_muxer(const std::string& output, const std::string& format_name);

// Whether `muxer` holds `codec`: 1 yes, 0 no, -1 unknown. libavformat's answer
// (avformat_query_codec), except where it has none and the muxer's own rule is known:
// MPEG-TS writes every codec, but gives a stream type (that a reader can identify) only
// to a fixed set, and writes the rest as private data that comes back as "bin_data".
int muxer_holds(const AVOutputFormat* muxer, AVCodecID codec);

// What becomes of one stream.
enum class stream_use { copy, convert, leave_out };

struct planned_stream {
    int index = -1; // in INPUT
    stream_use use = stream_use::leave_out;
    std::string encoder; // convert: the encoder's name
};

struct stream_plan {
    std::vector<planned_stream> streams; // every stream but the analysed video, in order
    std::vector<std::string> notes;      // one line per stream converted or left out
};

// The plan for every stream of `streams` except the one at index `video`, into `muxer`:
// - audio: copied when held; else encoded with the muxer's default audio encoder; else
//   left out. Where the muxer cannot tell (-1), copied.
// - subtitles: copied when held; a text subtitle converted to the first text format the
//   muxer holds (its default first, then subrip, mov_text, ass, webvtt); else left out.
// - attachments: copied when held, or into Matroska (which stores any attachment as a
//   file); else left out.  Data: copied when held, else left out.
// - other video streams (a second programme, a cover picture) and unknown ones: left out.
stream_plan plan_streams(const std::vector<input_stream>& streams, int video,
                         const AVOutputFormat* muxer);

// The ffmpeg output arguments of the plan: "-map 0:VIDEO" first (output stream 0), then
// "-map 0:N" for each stream kept, then its codec: "-c:K copy" or "-c:K ENCODER", K being
// its output stream number.
std::vector<std::string> stream_arguments(int video, const stream_plan& plan);
