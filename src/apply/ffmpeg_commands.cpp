// The ffmpeg command lines.
#include "apply/ffmpeg_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "apply/encoder_args.h"
#include "apply/filter_chain.h"
#include "video/av_ptr.h"

namespace {

const std::vector<std::string> quiet{"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};

// Whether a stream travels in the NUT beside the pictures, rather than being read from
// INPUT by the encoding ffmpeg. Every stream that can, so that the encoding ffmpeg reads
// one input in one order and ends (-t, -frames, -shortest) where a plain transcode ends.
// An attachment has no packets, and a codec without a NUT codec tag (SubRip, mov_text,
// KLV, ...) is refused by its muxer. NUT keeps no packet durations, which are a
// subtitle's display time: subtitles are read from INPUT itself, unless its timestamps
// may jump (MPEG-TS), where ffmpeg mends them from the audio and video read beside them,
// which only the decoding ffmpeg does (and MPEG-TS keeps no durations either).
bool through_nut(const input_stream& s) {
    static const AVOutputFormat* nut = av_guess_format("nut", nullptr, nullptr);
    if (s.type == AVMEDIA_TYPE_SUBTITLE && !s.jumps) return false;
    return nut && s.type != AVMEDIA_TYPE_ATTACHMENT &&
           avformat_query_codec(nut, s.codec, FF_COMPLIANCE_NORMAL) == 1;
}

// Microseconds as ffmpeg's seconds, exactly: "-1000.000000".
std::string seconds(int64_t us) {
    const int64_t magnitude = us < 0 ? -us : us;
    char text[48];
    snprintf(text, sizeof text, "%s%lld.%06lld", us < 0 ? "-" : "",
             static_cast<long long>(magnitude / 1000000), static_cast<long long>(magnitude % 1000000));
    return text;
}

} // namespace

std::vector<std::string> ffmpeg_command(const std::string& input,
                                        const std::vector<std::string>& streams,
                                        const std::string& chain,
                                        const std::vector<std::string>& encoder, bool overwrite,
                                        const std::string& output) {
    std::vector<std::string> a = quiet;
    a.insert(a.end(), {overwrite ? "-y" : "-n", "-i", file_url(input)});
    a.insert(a.end(), streams.begin(), streams.end());
    if (!chain.empty()) a.insert(a.end(), {"-vf", chain});
    a.insert(a.end(), encoder.begin(), encoder.end());
    a.insert(a.end(), {"-progress", "pipe:1", "-nostats", file_url(output)});
    return a;
}

frame_route route_frames(int video, const stream_plan& plan,
                         const std::vector<input_stream>& streams, int64_t input_start_us,
                         int64_t picture_bytes) {
    frame_route r;
    // Long enough that ffmpeg seldom finds it empty (it then sleeps 10 ms), short enough
    // at 4K (12 MB a picture).
    const int64_t queue = picture_bytes > 0 ? (int64_t{48} << 20) / picture_bytes : 64;
    r.queued_pictures = int(std::min<int64_t>(64, std::max<int64_t>(2, queue)));
    r.video = video;
    r.input_start_us = input_start_us;
    r.map.push_back("0:0");
    int output = 1;
    for (const planned_stream& p : plan.streams) {
        if (p.use == stream_use::leave_out) continue;
        input_stream s;
        for (const input_stream& candidate : streams)
            if (candidate.index == p.index) s = candidate;
        if (through_nut(s)) {
            r.in_nut.push_back(p.index);
            r.map.push_back("0:" + std::to_string(r.in_nut.size()));
        } else {
            r.reads_input = true;
            r.map.push_back("1:" + std::to_string(p.index));
        }
        r.codecs.insert(r.codecs.end(), {"-c:" + std::to_string(output++),
                                         p.use == stream_use::copy ? "copy" : p.encoder});
    }
    return r;
}

frame_timing frame_timing_for(const AVOutputFormat* muxer, const input_stream& video,
                              int input_streams, const std::vector<std::string>& words) {
    frame_timing t;
    const std::string time_base = demuxer_time_base_word();
    if (!word_after(words, {"-r", "-r:v", "-fps_mode", "-fps_mode:v", "-vsync",
                            "-enc_time_base", "-enc_time_base:v"})
             .empty()) {
        t.decoder = {"-fps_mode:v", "passthrough", "-enc_time_base:v", time_base};
        return t;
    }
    // ffmpeg's own choice for an output format: frames kept at their times (dropped only
    // where two fall on one tick) where the format takes any times, made constant where it
    // does not, except from an input of one stream.
    const char* mode = "vfr";
    if (muxer && strcmp(muxer->name, "avi") != 0 && !(muxer->flags & AVFMT_VARIABLE_FPS))
        mode = input_streams == 1 ? "vfr" : "cfr";
    else if (muxer && (muxer->flags & AVFMT_VARIABLE_FPS) && (muxer->flags & AVFMT_NOTIMESTAMPS))
        mode = "passthrough";
    t.decoder = {"-fps_mode:v", mode};
    // The NUT's time base is a finer one its muxer chose: the encoder gets the rate, and
    // with it the time base, that a plain transcode's has (its stream's timing info too).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    // ffmpeg 7 refuses a rate beside passthrough ("contradictory"): the time base alone,
    // one tick a frame, as its encoder takes from the rate.
    t.encoder = {"-fps_mode:v", "passthrough"};
    if (video.frame_rate.num > 0 && video.frame_rate.den > 0)
        t.encoder.insert(t.encoder.end(),
                         {"-enc_time_base:v", std::to_string(video.frame_rate.den) + "/" +
                                                  std::to_string(video.frame_rate.num)});
#else
    t.encoder = {"-fps_mode:v", "passthrough", "-r:v",
                 std::to_string(video.frame_rate.num) + "/" + std::to_string(video.frame_rate.den)};
#endif
    return t;
}

std::vector<std::string> decoder_command(const std::string& input, const frame_route& route,
                                         const frame_timing& timing) {
    std::vector<std::string> a = quiet;
    a.insert(a.end(), {"-noautorotate", "-i", file_url(input), "-map",
                       "0:" + std::to_string(route.video)});
    for (const int k : route.in_nut)
        a.insert(a.end(), {"-map", "0:" + std::to_string(k)});
    a.insert(a.end(), {"-c", "copy", "-c:v", "rawvideo"});
    a.insert(a.end(), timing.decoder.begin(), timing.decoder.end());
    a.insert(a.end(), {"-output_ts_offset", seconds(nut_offset_us), "-f", "nut", "pipe:1"});
    return a;
}

std::vector<std::string> encoder_command(const std::string& input, const frame_route& route,
                                         const std::string& chain, const frame_timing& timing,
                                         const std::vector<std::string>& encoder,
                                         bool overwrite, const std::string& output) {
    std::vector<std::string> a = quiet;
    a.insert(a.end(), {overwrite ? "-y" : "-n", "-copyts", "-itsoffset", seconds(-nut_offset_us)});
    // ffmpeg reads each of several inputs on a thread of its own, a queue of packets ahead.
    if (route.reads_input)
        a.insert(a.end(), {"-thread_queue_size", std::to_string(route.queued_pictures)});
    a.insert(a.end(), {"-f", "nut", "-i", "pipe:0"});
    if (route.reads_input)
        a.insert(a.end(), {"-itsoffset", seconds(-route.input_start_us), "-i", file_url(input)});
    for (const std::string& from : route.map)
        a.insert(a.end(), {"-map", from});
    a.insert(a.end(), route.codecs.begin(), route.codecs.end());
    if (!chain.empty()) a.insert(a.end(), {"-vf", chain});
    a.insert(a.end(), timing.encoder.begin(), timing.encoder.end());
    a.insert(a.end(), encoder.begin(), encoder.end());
    a.insert(a.end(), {"-progress", "pipe:1", "-nostats", file_url(output)});
    return a;
}

std::string shell_line(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& word : argv) {
        if (!line.empty()) line += ' ';
        bool plain = !word.empty();
        for (char c : word)
            if (!isalnum(static_cast<unsigned char>(c)) && !strchr("_./:=@%+,-", c)) plain = false;
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}
