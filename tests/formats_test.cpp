// Luma from every decoded pixel format: the band copy against FFmpeg's own generic
// reader, and the built tool giving the same lines and pictures whatever the format.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "helpers.h"
#include "sampler.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

TEST(LumaPath, FromTheDescriptor) {
    const std::pair<const char*, luma_path> cases[] = {{"yuv420p", luma_path::bytes},
                                                       {"yuvj422p", luma_path::bytes},
                                                       {"nv21", luma_path::bytes},
                                                       {"yuva444p", luma_path::bytes},
                                                       {"p010le", luma_path::shifted},
                                                       {"yuv420p10be", luma_path::shifted},
                                                       {"gray16le", luma_path::shifted},
                                                       {"yuyv422", luma_path::converted},
                                                       {"rgb24", luma_path::converted},
                                                       {"gbrp10le", luma_path::converted},
                                                       {"pal8", luma_path::converted},
                                                       {"grayf32le", luma_path::converted},
                                                       {"bayer_rggb8", luma_path::converted},
                                                       {"monob", luma_path::none},
                                                       {"vaapi", luma_path::none},
                                                       {"uyyvyy411", luma_path::none}};
    for (const auto& [name, path] : cases)
        EXPECT_EQ(luma_path_of(av_get_pix_fmt(name)), path) << name;
    EXPECT_EQ(luma_path_of(AV_PIX_FMT_NONE), luma_path::none);
}

// The band image of a frame of random bytes equals the luma of the whole frame: read by
// av_read_image_line2 and shifted to 8 bits for formats that keep luma in place, else
// converted whole by libswscale (source range kept).
TEST(BandReader, BandsOfRandomFramesMatchTheWholeFrame) {
    const int width = 101, height = 67;
    const band_geometry g{width, height, width * 35 / 100, height * 18 / 100};
    std::mt19937 random(13);
    for (const char* name :
         {"yuv420p", "p010be", "p016le", "yuv422p12be", "gray10le", "nv12", "yuyv422", "uyvy422",
          "bgr0", "rgb48be", "gbrp10le", "pal8", "ya16le", "bayer_grbg8"}) {
        const AVPixelFormat format = av_get_pix_fmt(name);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        frame_ptr frame(av_frame_alloc());
        frame->format = format;
        frame->width = width;
        frame->height = height;
        ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0) << name;
        for (int i = 0; i < AV_NUM_DATA_POINTERS && frame->buf[i]; ++i)
            for (size_t k = 0; k < frame->buf[i]->size; ++k)
                frame->buf[i]->data[k] = static_cast<uint8_t>(random());

        std::vector<uint8_t> whole(static_cast<size_t>(width) * height);
        if (luma_path_of(format) == luma_path::converted) {
            sws_ptr sws(sws_getContext(width, height, format, width, height, AV_PIX_FMT_GRAY8,
                                       SWS_POINT, nullptr, nullptr, nullptr));
            int *inverse, *forward, src_range, dst_range, brightness, contrast, saturation;
            sws_getColorspaceDetails(sws.get(), &inverse, &src_range, &forward, &dst_range,
                                     &brightness, &contrast, &saturation);
            sws_setColorspaceDetails(sws.get(), inverse, src_range, forward, src_range, brightness,
                                     contrast, saturation);
            uint8_t* dst[4] = {whole.data()};
            const int dst_stride[4] = {width};
            sws_scale(sws.get(), frame->data, frame->linesize, 0, height, dst, dst_stride);
        } else {
            std::vector<uint16_t> line(width);
            for (int y = 0; y < height; ++y) {
                av_read_image_line2(line.data(), const_cast<const uint8_t**>(frame->data),
                                    frame->linesize, desc, 0, y, 0, width, 0, 2);
                for (int x = 0; x < width; ++x)
                    whole[y * width + x] =
                        static_cast<uint8_t>(line[x] >> (desc->comp[0].depth - 8));
            }
        }
        band_reader reader;
        ASSERT_TRUE(open_band_reader(format, g, reader)) << name;
        std::vector<uint8_t> image(4 * g.band_w * g.band_h);
        read_bands(reader, frame.get(), image.data());
        for (int y = 0; y < 2 * g.band_h; ++y)
            for (int x = 0; x < 2 * g.band_w; ++x) {
                const int fy = y < g.band_h ? y : height - 2 * g.band_h + y;
                const int fx = x < g.band_w ? x : width - 2 * g.band_w + x;
                ASSERT_EQ(image[y * 2 * g.band_w + x], whole[fy * width + fx])
                    << name << " " << x << "," << y;
            }
    }
}

namespace {

// The 160 x 90 logo case: bars on rows 0-3 and 86-89, logo rows 8-13, columns 130-145.
uint8_t small_logo(int f, int x, int y) {
    if (y < 4 || y >= 86) return 0;
    if (y >= 8 && y <= 13 && x >= 130 && x <= 145) return 235;
    return noise_luma(f, x, y);
}

struct format_run {
    run_result r;
    std::string lines;   // standard output up to the duration line
    std::string picture; // bytes of delogo_1.png
};

// Six frames of the logo case made by `ffmpeg -f rawvideo -pix_fmt gray ... <args>`
// into `name`, and the tool's run on them with -f 5.
format_run run_format(const std::string& name, const std::string& args) {
    std::string dir = fresh_dir("formats/" + name.substr(0, name.find('.')));
    std::ofstream raw(dir + "/logo.gray", std::ios::binary);
    for (int f = 0; f < 6; ++f)
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 160; ++x)
                raw.put(static_cast<char>(small_logo(f, x, y)));
    raw.close();
    run_result made =
        run_command("ffmpeg -hide_banner -v error -f rawvideo -pix_fmt gray -s 160x90 "
                    "-r 1 -i logo.gray " +
                        args + " " + name,
                    dir);
    EXPECT_EQ(made.status, 0) << name << ": " << made.err;
    format_run run{run_delogo({"-f", "5", name}, dir), "", ""};
    run.lines = run.r.out.substr(0, run.r.out.find("Duration:"));
    std::ifstream png(dir + "/delogo_1.png", std::ios::binary);
    run.picture = (std::ostringstream() << png.rdbuf()).str();
    return run;
}

} // namespace

TEST(Formats, LosslessFormatsGiveTheYuv420pLinesAndPicture) {
    const format_run reference = run_format("yuv420p.mkv", "-c:v ffv1 -g 1 -pix_fmt yuv420p");
    ASSERT_EQ(reference.r.status, 0) << reference.r.err;
    ASSERT_NE(reference.lines.find("\ncrop=160:82:0:4\ndelogo=x=126:y=4:w=24:h=11 corner 1\n"),
              std::string::npos)
        << reference.lines;
    ASSERT_FALSE(reference.picture.empty());
    for (const char* format : {"yuv420p10le", "yuv422p12le", "yuv444p", "yuv444p16le", "gray",
                               "gray16le", "bgr0", "gbrp10le"}) {
        format_run run = run_format(std::string(format) + ".mkv",
                                    std::string("-c:v ffv1 -g 1 -pix_fmt ") + format);
        EXPECT_EQ(run.lines, reference.lines) << format << run.r.err;
        EXPECT_EQ(run.picture, reference.picture) << format;
    }
    for (const char* format : {"nv12", "yuyv422"}) {
        format_run run = run_format(std::string(format) + ".nut",
                                    std::string("-c:v rawvideo -pix_fmt ") + format);
        EXPECT_EQ(run.lines, reference.lines) << format << run.r.err;
        EXPECT_EQ(run.picture, reference.picture) << format;
    }
}

TEST(Formats, LossyFormatsKeepTheCropLineAndCoverTheLogo) {
    run_result encoders = run_command("ffmpeg -hide_banner -encoders", ".");
    for (const char* encoder : {"libx265", "libvpx-vp9", "mjpeg"})
        if (encoders.out.find(std::string(" ") + encoder + " ") == std::string::npos)
            GTEST_SKIP() << "ffmpeg has no encoder " << encoder;
    // HEVC Main 10 and VP9 profile 2 with B-frames (alt-ref frames) and key frames every
    // third frame; full-range 4:2:0 from MJPEG.
    const std::pair<const char*, const char*> cases[] = {
        {"hevc.mkv", "-c:v libx265 -pix_fmt yuv420p10le -x265-params "
                     "keyint=3:min-keyint=3:bframes=2:log-level=error"},
        {"vp9.mkv", "-c:v libvpx-vp9 -pix_fmt yuv420p10le -g 3 -crf 10 -b:v 0 -auto-alt-ref 1"},
        {"yuvj420p.mkv", "-c:v mjpeg -q:v 1 -pix_fmt yuvj420p"}};
    for (const auto& [name, args] : cases) {
        format_run run = run_format(name, args);
        ASSERT_EQ(run.r.status, 0) << name << run.r.err;
        EXPECT_EQ(lines_starting(run.r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
        int x, y, w, h, corner;
        std::vector<std::string> delogo = lines_starting(run.r.out, "delogo=");
        ASSERT_EQ(delogo.size(), 1u) << name << run.r.out;
        ASSERT_EQ(sscanf(delogo[0].c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d", &x, &y, &w, &h,
                         &corner),
                  5);
        EXPECT_TRUE(corner == 1 && x <= 130 && y <= 8 && x + w >= 146 && y + h >= 14) << delogo[0];
    }
}

TEST(Formats, BitPackedPicturesEndWithTheReason) {
    format_run run = run_format("monob.nut", "-c:v rawvideo -pix_fmt monob");
    EXPECT_EQ(run.r.status, 1);
    EXPECT_EQ(run.r.out, "");
    EXPECT_NE(run.r.err.find("\nError occurred: pixel format monob has no luma plane to analyse\n"),
              std::string::npos)
        << run.r.err;
    EXPECT_EQ(run.r.err.find("Finished"), std::string::npos);
}
