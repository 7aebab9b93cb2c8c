// Luma from every decoded pixel format: the band copy against whole-frame luma, and the
// built tool giving the same lines and pictures whatever the format.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "helpers.h"
#include "video/luma_bands.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

// The band image of a frame of random bytes equals the luma of the whole frame: read by
// FFmpeg's generic av_read_image_line2 and shifted to 8 bits for formats that keep luma
// in place (P010 and big endian included), else converted whole by libswscale with the
// source's range kept.
TEST(BandReader, BandsOfRandomFramesMatchTheWholeFrame) {
    const int width = 101, height = 67;
    const band_geometry g{width, height, width * 35 / 100, height * 18 / 100};
    band_reader reader;
    for (AVPixelFormat no_luma : {AV_PIX_FMT_VAAPI, AV_PIX_FMT_MONOBLACK})
        EXPECT_FALSE(open_band_reader(no_luma, g, reader)) << no_luma;
    std::mt19937 random(13);
    for (const char* name :
         {"yuv420p", "nv12", "p010be", "p016le", "yuv422p12be", "gray10le", "yuyv422", "uyvy422",
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
                    whole[y * width + x] = line[x] >> (desc->comp[0].depth - 8);
            }
        }
        ASSERT_TRUE(open_band_reader(format, g, reader)) << name;
        std::vector<uint8_t> image(4 * g.band_w * g.band_h), expected;
        read_bands(reader, frame.get(), image.data());
        for (int y = 0; y < 2 * g.band_h; ++y)
            for (int x = 0; x < 2 * g.band_w; ++x)
                expected.push_back(whole[(y < g.band_h ? y : height - 2 * g.band_h + y) * width +
                                         (x < g.band_w ? x : width - 2 * g.band_w + x)]);
        EXPECT_EQ(image, expected) << name;
    }
}

namespace {

struct format_run {
    run_result r;
    std::string lines;   // standard output up to the duration line
    std::string picture; // bytes of delogo_1.png
};

// The 160 x 90 logo case of six frames (logo_luma) made into `name` by `ffmpeg -i <gray FFV1>
// <args>`, and the tool's run on it with -f 5.
format_run run_format(const std::string& name, const std::string& args) {
    std::string dir = fresh_dir("formats/" + name.substr(0, name.find('.')));
    EXPECT_EQ(make_video(dir, "source.mkv", 160, 90, 6, logo_luma, "-c:v ffv1 -g 1 -pix_fmt gray"),
              "");
    run_result made = run_command("ffmpeg -v error -i source.mkv " + args + " " + name, dir);
    EXPECT_EQ(made.status, 0) << name << ": " << made.err;
    format_run run{run_argv({DELOGO_BINARY, "-f", "5", name}, dir), "", ""};
    run.lines = run.r.out.substr(0, run.r.out.find("Duration:"));
    std::ifstream png(dir + "/delogo_1.png", std::ios::binary);
    run.picture = (std::ostringstream() << png.rdbuf()).str();
    return run;
}

} // namespace

TEST(Formats, LosslessFormatsGiveTheYuv420pLinesAndPicture) {
    const format_run reference = run_format("yuv420p.mkv", "-c:v ffv1 -g 1 -pix_fmt yuv420p");
    ASSERT_EQ(lines_starting(reference.r.out, "delogo="),
              std::vector<std::string>{"delogo=x=126:y=4:w=24:h=11 corner 1"});
    ASSERT_FALSE(reference.picture.empty());
    // FFV1 in Matroska; NV12 and YUYV raw in NUT, which keeps their layout.
    for (std::string name :
         {"yuv420p10le.mkv", "yuv422p12le.mkv", "yuv444p.mkv", "yuv444p16le.mkv", "gray.mkv",
          "gray16le.mkv", "bgr0.mkv", "gbrp10le.mkv", "nv12.nut", "yuyv422.nut"}) {
        const std::string codec = name.back() == 't' ? "rawvideo" : "ffv1 -g 1";
        format_run run =
            run_format(name, "-c:v " + codec + " -pix_fmt " + name.substr(0, name.find('.')));
        EXPECT_EQ(run.lines, reference.lines) << name << run.r.err;
        EXPECT_EQ(run.picture, reference.picture) << name;
    }
    // 1-bit pictures have no luma to analyse.
    format_run run = run_format("monob.nut", "-c:v rawvideo -pix_fmt monob");
    EXPECT_EQ(run.r.status, 1);
    EXPECT_EQ(lines_starting(run.r.err, "Error occurred: "),
              std::vector<std::string>{
                  "Error occurred: pixel format monob has no luma plane to analyse"});
}

TEST(Formats, LossyFormatsKeepTheCropLineAndCoverTheLogo) {
    run_result encoders = run_command("ffmpeg -hide_banner -encoders", ".");
    for (const char* encoder : {" libx265 ", " libvpx-vp9 ", " mjpeg "})
        if (encoders.out.find(encoder) == std::string::npos)
            GTEST_SKIP() << "ffmpeg has no encoder" << encoder;
    // HEVC Main 10 with B-frames and VP9 profile 2, a key frame every third frame;
    // full-range 4:2:0 as the MJPEG decoder gives it.
    for (const char* args : {"-c:v libx265 -pix_fmt yuv420p10le -x265-params "
                             "keyint=3:min-keyint=3:bframes=2:log-level=error hevc.mkv",
                             "-c:v libvpx-vp9 -pix_fmt yuv420p10le -g 3 -crf 10 -b:v 0 vp9.mkv",
                             "-c:v mjpeg -q:v 1 -pix_fmt yuvj420p yuvj420p.mkv"}) {
        const std::string command = args;
        const std::string name = command.substr(command.rfind(' ') + 1);
        format_run run = run_format(name, command.substr(0, command.rfind(' ')));
        EXPECT_EQ(lines_starting(run.r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
        int x = 0, y = 0, w = 0, h = 0, corner = 0;
        std::vector<std::string> delogo = lines_starting(run.r.out, "delogo=");
        sscanf(delogo.empty() ? "" : delogo[0].c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d", &x,
               &y, &w, &h, &corner);
        EXPECT_TRUE(corner == 1 && x <= 130 && y <= 8 && x + w >= 146 && y + h >= 14)
            << name << run.r.out << run.r.err;
    }
}
