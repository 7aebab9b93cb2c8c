// The ffmpeg command lines.
#include "apply/ffmpeg_commands.h"

#include <cctype>
#include <cstring>

#include "apply/encoder_args.h"
#include "apply/filter_chain.h"
#include "video/av_ptr.h"

namespace {

const std::vector<std::string> quiet{"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};

// Whether NUT carries packets of `codec`: an attachment has none, and a codec without a
// NUT codec tag (SubRip, mov_text, WebVTT, KLV, ...) is refused by the muxer.
bool nut_carries(const input_stream& s) {
    static const AVOutputFormat* nut = av_guess_format("nut", nullptr, nullptr);
    return nut && s.type != AVMEDIA_TYPE_ATTACHMENT &&
           avformat_query_codec(nut, s.codec, FF_COMPLIANCE_NORMAL) == 1;
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
                         const std::vector<input_stream>& streams) {
    frame_route r;
    r.video = video;
    r.map.push_back("0:0");
    int output = 1;
    for (const planned_stream& p : plan.streams) {
        if (p.use == stream_use::leave_out) continue;
        input_stream s;
        for (const input_stream& candidate : streams)
            if (candidate.index == p.index) s = candidate;
        if (nut_carries(s)) {
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

frame_timing frame_timing_for(const AVOutputFormat* muxer, int input_streams,
                              const std::vector<std::string>& words) {
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
    t.encoder = {"-fps_mode:v", "passthrough", "-enc_time_base:v", time_base};
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
    a.insert(a.end(), {"-f", "nut", "pipe:1"});
    return a;
}

std::vector<std::string> encoder_command(const std::string& input, const frame_route& route,
                                         const std::string& chain, const frame_timing& timing,
                                         const std::vector<std::string>& encoder,
                                         bool overwrite, const std::string& output) {
    std::vector<std::string> a = quiet;
    a.insert(a.end(), {overwrite ? "-y" : "-n", "-f", "nut", "-i", "pipe:0"});
    if (route.reads_input) a.insert(a.end(), {"-i", file_url(input)});
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
