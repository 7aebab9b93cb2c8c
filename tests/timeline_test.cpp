// delogo-apply keeps time exactly as a plain ffmpeg transcode of the same input does. Each
// row makes an input whose timing is awkward (joined recordings, jumps, wraps, offsets,
// variable frame rates, a display matrix, early ends asked for after "--", ...) and
// compares delogo-apply's OUTPUT field by field with `ffmpeg -i IN -map 0 -c copy -c:v
// libx264 ... OUT` made with the same encoder words: every video frame's time, each
// stream's start and end, frame counts, the picture's shown size, field order and colour
// tags, and the pictures themselves, the logo gone from them.
#include <gtest/gtest.h>
#include <libavformat/version.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "analysis/analysis_result.h"
#include "apply/ffmpeg_commands.h"
#include "helpers.h"

namespace {

#if LIBAVFORMAT_VERSION_MAJOR >= 61
// FFmpeg 7 and later end a copied audio stream up to half an audio frame later through the
// NUT than straight from INPUT (the last packet's duration, not its time): known, open.
// Their interlaced x264 pictures differ from the plain transcode's too (the NUT's raw
// frames do not carry the interlaced flag those versions' libx264 reads per frame).
constexpr double end_slack = 0.015;
constexpr bool same_interlaced_pictures = false;
#else
constexpr double end_slack = 0.0015;
constexpr bool same_interlaced_pictures = true;
#endif

constexpr int W = 320, H = 180;
// The logo: white at half opacity over a flat grey patch of the moving test pattern, so
// that what lies under it is known (grey 0x60).
const frame_rect logo_box{250, 16, 40, 12};
constexpr int under_logo = 0x60;

// What ffprobe tells of one stream: its kind and tags, and its packets' times.
struct probed_stream {
    std::map<std::string, std::string> tags; // codec_type, width, field_order, rotation, ...
    std::vector<double> times;               // packets' presentation times, sorted
    double end = 0;                          // the latest time + duration
};

std::string value(const std::map<std::string, std::string>& m, const std::string& key) {
    const auto it = m.find(key);
    return it == m.end() ? "" : it->second;
}

// The streams of `file`, in order.
std::vector<probed_stream> probe_streams(const std::string& dir, const std::string& file) {
    std::vector<probed_stream> streams;
    const std::string flat =
        run_command("ffprobe -v error -show_entries stream=index,codec_type,width,height,"
                    "field_order,color_range,color_space,color_transfer,color_primaries:"
                    "stream_side_data=rotation:stream_tags=filename -of flat " +
                        quoted(file),
                    dir)
            .out;
    for (const std::string& line : lines_starting(flat, "streams.stream.")) {
        const size_t dot = line.find('.', 15), eq = line.find('=');
        const size_t k = std::stoul(line.substr(15, dot - 15));
        if (streams.size() <= k) streams.resize(k + 1);
        const std::string key = line.substr(line.rfind('.', eq) + 1, eq - line.rfind('.', eq) - 1);
        std::string v = line.substr(eq + 1);
        if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
        streams[k].tags[key] = v;
    }
    const std::string packets = run_command("ffprobe -v error -show_entries packet=stream_index,"
                                            "pts_time,duration_time -of csv=p=0 " +
                                                quoted(file),
                                            dir)
                                    .out;
    for (const std::string& line : lines_starting(packets, "")) {
        int index = -1;
        double pts = NAN, duration = 0;
        if (sscanf(line.c_str(), "%d,%lf,%lf", &index, &pts, &duration) < 2 || index < 0 ||
            size_t(index) >= streams.size() || std::isnan(pts))
            continue;
        streams[size_t(index)].times.push_back(pts);
        streams[size_t(index)].end = std::max(streams[size_t(index)].end, pts + duration);
    }
    for (probed_stream& s : streams)
        std::sort(s.times.begin(), s.times.end());
    return streams;
}

// The streams of each kind in order: outputs may order their streams differently (the
// plain transcode keeps INPUT's order, delogo-apply puts the video first).
std::map<std::string, std::vector<probed_stream>> by_kind(const std::vector<probed_stream>& s) {
    std::map<std::string, std::vector<probed_stream>> kinds;
    for (const probed_stream& p : s)
        kinds[value(p.tags, "codec_type")].push_back(p);
    return kinds;
}

// The timelines of `plain` and `ours` compared; each difference as a failure. Times are
// taken from the first video frame's, as players do: a muxer that cannot hold a negative
// start moves the whole file (audio primed before the first picture starts at 0 in
// delogo-apply's NUT), which changes no stream's place beside the others.
void expect_same_timeline(const std::string& dir, const std::string& plain,
                          const std::string& ours) {
    const auto a = by_kind(probe_streams(dir, plain)), b = by_kind(probe_streams(dir, ours));
    ASSERT_EQ(a.count("video"), 1u);
    ASSERT_EQ(b.count("video"), 1u);
    ASSERT_FALSE(a.at("video")[0].times.empty());
    ASSERT_FALSE(b.at("video")[0].times.empty());
    const double zero_a = a.at("video")[0].times.front(), zero_b = b.at("video")[0].times.front();
    for (const auto& [kind, streams] : a) {
        SCOPED_TRACE(kind);
        const auto found = b.find(kind);
        ASSERT_TRUE(found != b.end()) << "no " << kind << " stream";
        ASSERT_EQ(found->second.size(), streams.size());
        for (size_t k = 0; k < streams.size(); ++k) {
            const probed_stream &p = streams[k], &o = found->second[k];
            for (const char* tag : {"width", "height", "rotation", "field_order", "color_range",
                                    "color_space", "color_transfer", "color_primaries",
                                    "filename"})
                EXPECT_EQ(value(o.tags, tag), value(p.tags, tag)) << tag;
            ASSERT_EQ(o.times.size(), p.times.size()) << "packets";
            if (p.times.empty()) continue;
            EXPECT_NEAR(o.times.front() - zero_b, p.times.front() - zero_a, 0.0015) << "start";
            EXPECT_NEAR(o.end - zero_b, p.end - zero_a, kind == "video" ? 0.0015 : end_slack)
                << "end";
            if (kind != "video") continue;
            int moved = 0, first = -1;
            for (size_t t = 0; t < p.times.size(); ++t)
                if (std::fabs((o.times[t] - zero_b) - (p.times[t] - zero_a)) > 0.0015) {
                    ++moved;
                    if (first < 0) first = int(t);
                }
            EXPECT_EQ(moved, 0) << "frames at other times, the first: frame " << first << " at "
                                << o.times[size_t(std::max(first, 0))] << " s, not "
                                << p.times[size_t(std::max(first, 0))];
        }
    }
    for (const auto& [kind, streams] : b)
        EXPECT_TRUE(a.count(kind)) << "a " << kind << " stream the plain transcode has not";
}

double box_mean(const std::string& picture, const frame_rect& r) {
    double sum = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x)
            sum += uint8_t(picture[size_t(y) * W + x]);
    return sum / (r.w * r.h);
}

// The pictures: ours the plain transcode's but for the logo, which is gone, at a quarter
// and three quarters of the frames (both halves of a joined recording). `upright`: the
// logo's box is where it was drawn (not turned by a display matrix).
void expect_logo_gone(const std::string& dir, const std::string& plain, const std::string& ours,
                      bool upright, bool interlaced) {
    const auto kinds = by_kind(probe_streams(dir, plain));
    ASSERT_EQ(kinds.count("video"), 1u);
    const size_t frames = kinds.at("video")[0].times.size();
    for (const size_t at : {frames / 4, frames * 3 / 4}) {
        SCOPED_TRACE("frame " + std::to_string(at));
        const std::string p = grey_frame(dir, plain, int(at)), o = grey_frame(dir, ours, int(at));
        ASSERT_EQ(o.size(), size_t(W * H));
        ASSERT_EQ(p.size(), o.size());
        double diff = 0;
        for (size_t i = 0; i < o.size(); ++i)
            diff += std::abs(int(uint8_t(o[i])) - int(uint8_t(p[i])));
        if (!interlaced || same_interlaced_pictures) {
            EXPECT_LT(diff / double(o.size()), 3) << "not the same picture";
        }
        if (!upright) continue;
        EXPECT_GT(box_mean(p, logo_box), under_logo + 60) << "no logo to remove";
        EXPECT_NEAR(box_mean(o, logo_box), under_logo, 12) << "the logo is left";
    }
}

// One row of the table: how its input is made from the scene, and the transcode.
struct timeline_row {
    const char* name;
    std::string make; // shell words making `input` from scene.mkv
    const char* input;
    const char* output;
    std::vector<std::string> words; // after "--", the plain transcode's too
    bool upright;
};

const std::string h264 = "-c:v libx264 -g 12 -bf 2 -preset ultrafast";

// An MP4 whose display matrix turns the picture: -display_rotation where ffmpeg has it
// (counter-clockwise), the "rotate" tag of FFmpeg 5 (clockwise) otherwise.
std::string turned(int degrees) {
    return "ffmpeg -i scene.mkv " + h264 + " -c:a libmp3lame t.mp4 && { ffmpeg -display_rotation " +
           std::to_string(360 - degrees) + " -i t.mp4 -c copy in.mp4 2>/dev/null || ffmpeg -i " +
           "t.mp4 -c copy -metadata:s:v rotate=" + std::to_string(degrees) + " in.mp4; }";
}

const timeline_row rows[] = {
    {"two recordings joined, timestamps jumping back",
     "ffmpeg -i scene.mkv -t 2 " + h264 + " -c:a aac a.ts && ffmpeg -ss 2 -i scene.mkv " + h264 +
         " -c:a aac -output_ts_offset 1 b.ts && cat a.ts b.ts > in.ts",
     "in.ts", "out.mkv", {}, true},
    {"a forward jump of an hour",
     "ffmpeg -i scene.mkv -t 2 " + h264 + " -c:a aac a.ts && ffmpeg -ss 2 -i scene.mkv " + h264 +
         " -c:a aac -output_ts_offset 3600 b.ts && cat a.ts b.ts > in.ts",
     "in.ts", "out.ts", {}, true},
    {"audio 0.5 s after the video",
     "ffmpeg -i scene.mkv -itsoffset 0.5 -i scene.mkv -map 0:v -map 1:a " + h264 + " -c:a aac in.ts",
     "in.ts", "out.mp4", {}, true},
    {"audio before the video",
     "ffmpeg -itsoffset 0.5 -i scene.mkv -i scene.mkv -map 0:v -map 1:a " + h264 + " -c:a aac in.ts",
     "in.ts", "out.mkv", {}, true},
    {"MPEG-TS timestamps wrapping at 2^33",
     "ffmpeg -i scene.mkv " + h264 + " -c:a aac -output_ts_offset 95442 in.ts", "in.ts", "out.mkv",
     {}, true},
    {"MPEG-TS cut in the middle of a group of pictures",
     "ffmpeg -i scene.mkv -c:v libx264 -g 50 -bf 2 -preset ultrafast -c:a aac all.ts && "
     "tail -c +$(( $(stat -c %s all.ts) / 188 / 3 * 188 + 1 )) all.ts > in.ts",
     "in.ts", "out.ts", {}, true},
    {"variable frame rate, Matroska's millisecond time base",
     "ffmpeg -i scene.mkv -vf \"setpts='(N*0.04+0.013*mod(N,3))/TB'\" -fps_mode passthrough "
     "-c:v ffv1 -c:a copy in.mkv",
     "in.mkv", "out.mkv", {}, true},
    // (MP3: the trimmed end of primed AAC is a packet duration, which NUT does not keep.)
    {"a display matrix turning the picture by 90 degrees", turned(90), "in.mp4", "out.mp4", {},
     false},
    {"a display matrix turning it by 180 degrees", turned(180), "in.mp4", "out.mp4", {}, false},
    {"a display matrix turning it by 270 degrees", turned(270), "in.mp4", "out.mkv", {}, false},
    {"-t after --", "cp scene.mkv in.mkv", "in.mkv", "out.mkv", {"-t", "1.5"}, true},
    {"-frames:v after --", "cp scene.mkv in.mkv", "in.mkv", "out.mkv", {"-frames:v", "30"}, true},
    {"-shortest after --, the audio ending first",
     "ffmpeg -i scene.mkv -af atrim=0:2 -c:v copy -c:a pcm_s16le in.mkv", "in.mkv", "out.mkv",
     {"-shortest"}, true},
    {"Matroska with subtitles (SubRip and ASS) and a font attached",
     "printf '1\\n00:00:00,500 --> 00:00:01,500\\nhello\\n\\n2\\n00:00:02,000 --> "
     "00:00:03,000\\nagain\\n' > s.srt && head -c 3000 /dev/urandom > font.ttf && "
     "ffmpeg -i scene.mkv -i s.srt -i s.srt -attach font.ttf -metadata:s:t "
     "mimetype=application/x-truetype-font -map 0 -map 1 -map 2 " + h264 +
         " -c:a aac -c:s:0 srt -c:s:1 ass in.mkv",
     "in.mkv", "out.mkv", {}, true},
    {"interlaced, top field first, with colour tags",
     "ffmpeg -i scene.mkv -vf setfield=tff -c:v mpeg2video -flags +ildct+ilme -b:v 2M "
     "-color_primaries bt709 -color_trc bt709 -colorspace bt709 -color_range tv -c:a mp2 in.ts",
     "in.ts", "out.mkv", {"-flags", "+ildct+ilme", "-field_order", "tt"}, true},
};

// Each row a test of its own, in a directory of its own, so that CTest runs rows side by
// side: the scene every row starts from is 4 s of the moving test pattern at 25 fps with
// a grey patch and the logo on it, and a tone, lossless; and the logo as delogo-apply's
// saved model reads it (its colour, its opacity as alpha).
class Timeline : public ::testing::TestWithParam<size_t> {};

} // namespace

TEST_P(Timeline, AsAPlainTranscode) {
    const timeline_row& row = rows[GetParam()];
    SCOPED_TRACE(row.name);
    const std::string dir = fresh_dir("timeline-" + std::to_string(GetParam()));
    const run_result made = run_command(
        "ffmpeg -v error -y -f lavfi -i \"color=c=black:s=320x180,format=rgba,geq=r=255:"
        "g=255:b=255:a='if(between(X\\,250\\,289)*between(Y\\,16\\,27)\\,128\\,0)'\" "
        "-frames:v 1 logo.png && "
        "ffmpeg -v error -y -f lavfi -i testsrc2=s=320x180:r=25:d=4 -i logo.png -f lavfi "
        "-i sine=r=48000:d=4 -filter_complex '[0]drawbox=x=240:y=8:w=60:h=28:c=0x606060:"
        "t=fill[b];[b][1]overlay' -c:v ffv1 -c:a pcm_s16le scene.mkv && " +
            std::regex_replace(row.make, std::regex("ffmpeg "), "ffmpeg -v error -y "),
        dir);
    ASSERT_EQ(made.status, 0) << made.err;
    std::vector<std::string> words{"-c:v", "libx264", "-preset", "ultrafast", "-crf", "20"};
    words.insert(words.end(), row.words.begin(), row.words.end());
    std::vector<std::string> plain{"ffmpeg", "-v", "error", "-i", row.input, "-map", "0",
                                   "-c", "copy"};
    plain.insert(plain.end(), words.begin(), words.end());
    plain.push_back(std::string("plain.") + (strrchr(row.output, '.') + 1));
    const run_result p = run_command(shell_line(plain), dir);
    ASSERT_EQ(p.status, 0) << p.err;
    std::vector<std::string> ours{DELOGO_APPLY_BINARY, "--logo", "logo.png", row.input,
                                  row.output, "--"};
    ours.insert(ours.end(), words.begin(), words.end());
    const run_result o = run_command(shell_line(ours), dir);
    ASSERT_EQ(o.status, 0) << o.err;
    expect_same_timeline(dir, plain.back(), row.output);
    expect_logo_gone(dir, plain.back(), row.output, row.upright,
                     std::find(row.words.begin(), row.words.end(), "-field_order") != row.words.end());
}

INSTANTIATE_TEST_SUITE_P(Rows, Timeline, ::testing::Range(size_t{0}, std::size(rows)));
