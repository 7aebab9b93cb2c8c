// delogo-apply's pure pieces on plain values: the command line, temporary names, the
// stream plan, the encoder's arguments, where the logo filters take their borders from,
// and the progress text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "apply/apply_options.h"
#include "apply/encoder_args.h"
#include "apply/ffmpeg_commands.h"
#include "apply/progress_view.h"
#include "apply/filter_chain.h"
#include "apply/output_files.h"
#include "apply/stream_plan.h"

TEST(ApplyParts, DoubleDashEndsTheOptionsBeforeTheNames) {
    const struct {
        std::vector<std::string> args;
        std::string input, output;
        std::vector<std::string> ffmpeg; // {"none"}: no "--" for ffmpeg; {}: refused
    } rows[] = {
        {{"--", "-in.ts", "out.mkv", "--", "-crf", "20"}, "-in.ts", "out.mkv", {"-crf", "20"}},
        {{"-y", "--", "-in.ts", "-out.mkv"}, "-in.ts", "-out.mkv", {"none"}},
        {{"in.ts", "-y", "out.mkv", "--", "-crf", "20"}, "in.ts", "out.mkv", {"-crf", "20"}},
        {{"in.ts", "out.mkv", "--"}, "in.ts", "out.mkv", {}},
        {{"in.ts", "--", "out.mkv"}, "", "", {}},
        {{"--", "in.ts"}, "", "", {}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> words{"delogo-apply"};
        words.insert(words.end(), row.args.begin(), row.args.end());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        apply_options o;
        std::string error;
        const apply_parse result =
            parse_apply_options(static_cast<int>(words.size()), argv.data(), o, error);
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        if (row.input.empty()) {
            EXPECT_EQ(result, apply_parse::bad);
            continue;
        }
        ASSERT_EQ(result, apply_parse::run) << error;
        EXPECT_EQ(o.input + " " + o.output, row.input + " " + row.output);
        EXPECT_EQ(o.custom_encoder, row.ffmpeg != std::vector<std::string>{"none"});
        if (o.custom_encoder) {
            EXPECT_EQ(o.encoder, row.ffmpeg);
        }
    }
}

TEST(ApplyParts, TemporaryNamesKeepDirectoryAndExtension) {
    const std::pair<const char*, const char*> rows[] = {
        {"out.mkv", ".out.XXXXXX.mkv"},
        {"a.b/c.d.ts", "a.b/.c.d.XXXXXX.ts"},
        {"dir/out", "dir/.out.XXXXXX"},
        {"/x/.hidden", "/x/..hidden.XXXXXX"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(temporary_pattern(row.first), row.second);
}

// The cases the end-to-end streams table does not meet: broadcast bitmaps and teletext,
// attachments, audio the muxer refuses, a cover picture, and the numbering of the output
// streams behind one left out.
namespace {

input_stream stream(int index, AVMediaType type, AVCodecID codec) {
    input_stream s;
    s.index = index;
    s.type = type;
    s.codec = codec;
    return s;
}

} // namespace

TEST(ApplyParts, StreamPlan) {
    const struct {
        AVMediaType type;
        AVCodecID codec;
        const char* output;
        stream_use use;
        const char* encoder;
    } rows[] = {
        {AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_DVB_TELETEXT, "o.mkv", stream_use::leave_out, ""},
        {AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_DVB_TELETEXT, "o.ts", stream_use::copy, ""},
        {AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_DVB_SUBTITLE, "o.mp4", stream_use::leave_out, ""},
        {AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_DVB_SUBTITLE, "o.mkv", stream_use::copy, ""},
        {AVMEDIA_TYPE_ATTACHMENT, AV_CODEC_ID_TTF, "o.mkv", stream_use::copy, ""},
        {AVMEDIA_TYPE_ATTACHMENT, AV_CODEC_ID_TTF, "o.mp4", stream_use::leave_out, ""},
        // FFmpeg 7 and later put PCM in MP4; WMA goes into none of them.
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_WMAV2, "o.mp4", stream_use::convert, "aac"},
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_S16LE, "o.ts", stream_use::convert, "mp2"},
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AC3, "o.ts", stream_use::copy, ""},
        {AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MJPEG, "o.mkv", stream_use::leave_out, ""},
    };
    for (const auto& row : rows) {
        const std::vector<input_stream> streams{stream(0, AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264),
                                                stream(1, row.type, row.codec)};
        const stream_plan plan = plan_streams(streams, 0, output_muxer(row.output, ""));
        SCOPED_TRACE(std::string(avcodec_get_name(row.codec)) + " into " + row.output);
        ASSERT_EQ(plan.streams.size(), 1u);
        EXPECT_EQ(plan.streams[0].use, row.use);
        EXPECT_EQ(plan.streams[0].encoder, row.encoder);
        EXPECT_EQ(plan.notes.size(), row.use == stream_use::copy ? 0u : 1u);
    }
    const std::vector<input_stream> streams{stream(0, AVMEDIA_TYPE_DATA, AV_CODEC_ID_BIN_DATA),
                                            stream(1, AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_MOV_TEXT),
                                            stream(2, AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264)};
    const stream_plan plan = plan_streams(streams, 2, output_muxer("o", "matroska"));
    EXPECT_EQ(stream_arguments(2, plan),
              (std::vector<std::string>{"-map", "0:2", "-map", "0:1", "-c:1", "ass"}));
}

TEST(ApplyParts, EncoderKeepsDepthAndFields) {
    EXPECT_EQ(x264_format(AV_PIX_FMT_YUV420P10LE), AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(x264_format(AV_PIX_FMT_YUV420P12LE), AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(x264_format(AV_PIX_FMT_YUV444P), AV_PIX_FMT_YUV444P);
    EXPECT_EQ(x264_format(AV_PIX_FMT_RGB24), AV_PIX_FMT_YUV444P);
    const std::string x264 = "-c:v libx264 -crf 18 -preset medium -pix_fmt yuv420p";
    const struct {
        AVFieldOrder order;
        std::vector<std::string> words;
        std::string line;
    } rows[] = {
        {AV_FIELD_TT, {}, "-flags +ildct+ilme -field_order tt " + x264},
        {AV_FIELD_UNKNOWN, {}, x264},
        {AV_FIELD_BB, {"-c:v", "libx265"}, "-flags +ildct+ilme -field_order bb -c:v libx265"},
        {AV_FIELD_BB, {"-c:v", "libx264", "-top", "1"}, "-c:v libx264 -top 1"},
        {AV_FIELD_TT, {"-flags", "+cgop"}, "-flags +cgop"},
        {AV_FIELD_PROGRESSIVE, {}, x264},
    };
    for (const auto& row : rows)
        EXPECT_EQ(shell_line(encoder_arguments(AV_PIX_FMT_YUV420P, row.order, !row.words.empty(),
                                               row.words)),
                  row.line);
}

// Whatever the picture and the logo: FFmpeg's delogo replaces its whole rectangle by
// interpolating the ring of pixels just around it, and demands that ring inside the
// picture. In the padded picture the ring must come from the kept picture (never a bar)
// and from outside the logo's rectangle as printed, and the rectangle must cover the
// printed one's part on the picture.
TEST(ApplyParts, DelogoRingComesFromThePictureAroundTheLogo) {
    std::mt19937 random(18);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int trial = 0; trial < 3000; ++trial) {
        analysis_result r;
        r.frame_width = pick(40, 200);
        r.frame_height = pick(40, 200);
        r.has_crop = pick(0, 1);
        r.crop = {pick(0, 9), pick(0, 9), 0, 0};
        r.crop.w = r.frame_width - r.crop.x - pick(0, 9);
        r.crop.h = r.frame_height - r.crop.y - pick(0, 9);
        r.logo_count = pick(1, 2);
        for (frame_rect& l : r.logos) {
            // Near a corner, often across the crop's edge or the frame's.
            l.w = pick(3, r.frame_width / 3);
            l.h = pick(3, r.frame_height / 3);
            l.x = pick(0, 1) ? pick(0, 12) : r.frame_width - l.w - pick(0, 12);
            l.y = pick(0, 1) ? pick(0, 12) : r.frame_height - l.h - pick(0, 12);
        }
        const int align = 1 << pick(0, 2);
        const frame_rect p = kept_picture(r, align, align);
        const logo_work w = place_logo(r, p, true, align, align);
        ASSERT_EQ((w.left | w.right | w.top | w.bottom) % align, 0);
        // The placed rectangles, in order, of the logos not wholly on a bar.
        size_t k = 0;
        for (int i = 0; i < r.logo_count; ++i) {
            const frame_rect& l = r.logos[i];
            if (l.x >= p.x + p.w || l.x + l.w <= p.x || l.y >= p.y + p.h || l.y + l.h <= p.y)
                continue;
            ASSERT_LT(k, w.rects.size()) << trial;
            const frame_rect& m = w.rects[k++];
            ASSERT_TRUE(m.x >= 1 && m.y >= 1 && m.x + m.w <= w.width - 1 &&
                        m.y + m.h <= w.height - 1)
                << trial;
            const int x0 = std::max(l.x, p.x) - p.x + w.left, y0 = std::max(l.y, p.y) - p.y + w.top;
            ASSERT_TRUE(m.x <= x0 && m.y <= y0 &&
                        m.x + m.w >= std::min(l.x + l.w, p.x + p.w) - p.x + w.left &&
                        m.y + m.h >= std::min(l.y + l.h, p.y + p.h) - p.y + w.top)
                << trial;
            for (int y = m.y - 1; y <= m.y + m.h; ++y) {
                const bool full_row = y == m.y - 1 || y == m.y + m.h;
                for (int x = m.x - 1; x <= m.x + m.w; x += full_row ? 1 : m.w + 1) {
                    const int sx = mirrored(x, w.left, p.w), sy = mirrored(y, w.top, p.h);
                    ASSERT_TRUE(sx >= 0 && sx < p.w && sy >= 0 && sy < p.h) << trial;
                    const int fx = p.x + sx, fy = p.y + sy;
                    ASSERT_FALSE(fx >= l.x && fx < l.x + l.w && fy >= l.y && fy < l.y + l.h)
                        << "trial " << trial << " ring " << x << "," << y;
                }
            }
        }
        EXPECT_EQ(k, w.rects.size());
    }
}

TEST(ApplyParts, ProgressEndsAtTheWholeWithTheTimeWritten) {
    EXPECT_EQ(progress_text(1960000, 2000000, 3.1, true), "100%  speed 3.10x  0:00:02 written");
    EXPECT_EQ(progress_text(500000, 2000000, 2, false), " 25%  speed 2.00x  0:00:01 left");
}
