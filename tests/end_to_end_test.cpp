// The built tool on generated videos: sampling, progress, size, crop and duration lines,
// info mode, the help text and the failure paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "helpers.h"

namespace {

// Noise everywhere except black (luma 0) on the frame rows for which `dark(y)` holds.
video_recipe barred(int width, int height, int frames, std::function<bool(int)> dark) {
    return pixel_video(width, height, frames, [=](int f, int x, int y) -> uint8_t {
        return dark(y) ? 0 : noise_luma(f, x, y);
    });
}

std::string make_video(const std::string& dir, const std::string& name,
                       const video_recipe& recipe) {
    std::string path = dir + "/" + name;
    std::string error = write_video(path, recipe);
    EXPECT_EQ(error, "");
    return path;
}

// Twelve groups of twelve frames, one second each. Only the key frames at 2, 4, 6, 8
// and 10 s have dark bars, of heights that single out the first and the last of them;
// every other frame is bright. Five samples seek to exactly those seconds, so any other
// frame sampled loses the crop line "crop=320:448:0:16" or changes it.
video_recipe marked_key_frames(video_codec codec) {
    video_recipe recipe;
    recipe.width = 320;
    recipe.height = 480;
    recipe.frames = 144;
    recipe.fps = 12;
    recipe.gop = 12;
    recipe.codec = codec;
    recipe.luma = [](int f, uint8_t* luma, int stride) {
        int key = f % 12 == 0 ? f / 12 : -1;
        bool marked = key >= 2 && key <= 10 && key % 2 == 0;
        int top = marked ? 16 * (key / 2) : 0;
        int bottom = marked ? 16 * (6 - key / 2) : 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 320; ++x)
                luma[y * stride + x] = y < top || y >= 480 - bottom ? 0 : 128;
    };
    return recipe;
}

// Standard output without the bit rate, which depends on the encoder.
std::string without_bitrate(const std::string& out) {
    std::string text = out;
    size_t at = text.find(" BitRate: ");
    if (at != std::string::npos) text.erase(at, text.find('\n', at) - at);
    return text;
}

} // namespace

TEST(Sampling, FullHdBarsAboveAndBelow) {
    std::string dir = fresh_dir("fullhd_bars");
    std::string video =
        make_video(dir, "v.mkv", barred(1920, 1080, 6, [](int y) { return y < 140 || y >= 940; }));
    run_result r = run_delogo({"-f", "5", video}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_bitrate(r.out), "Key Frame: 1 2 3 4 5 \n"
                                      "Size: 1920x1080\n"
                                      "crop=1920:800:0:140\n"
                                      "Duration: 6.000 (00:00:06)\n");
    EXPECT_NE(r.err.find("Finished"), std::string::npos);
}

TEST(Sampling, SmallFrameBarsAndDarkLineAcrossTheBottomBand) {
    std::string dir = fresh_dir("small_bars");
    std::string plain =
        make_video(dir, "plain.mkv", barred(160, 90, 6, [](int y) { return y < 4 || y >= 86; }));
    run_result r = run_delogo({"-f", "5", plain}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});

    // Frame row 74 is band row 16, the first row of the bottom band: a dark line there
    // stops the upward scan at once and the downward scan one row later.
    std::string line = make_video(
        dir, "line.mkv", barred(160, 90, 6, [](int y) { return y < 4 || y >= 86 || y == 74; }));
    r = run_delogo({"-f", "5", line}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:70:0:16"});
}

TEST(Sampling, NoDarkLineMeansNoCrop) {
    std::string dir = fresh_dir("no_crop");
    std::string video = make_video(dir, "v.mkv", barred(160, 90, 6, [](int) { return false; }));
    run_result r = run_delogo({"-f", "5", video}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_bitrate(r.out),
              "Key Frame: 1 2 3 4 5 \nSize: 160x90\nDuration: 6.000 (00:00:06)\n");
}

TEST(Sampling, InfoModePrintsNameSizeAndDuration) {
    std::string dir = fresh_dir("info");
    std::string video = make_video(dir, "v.mkv", barred(160, 90, 4, [](int y) { return y < 4; }));
    run_result r = run_delogo({"-i", video}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_bitrate(r.out), video + "\nSize: 160x90\nDuration: 4.000 (00:00:04)\n");
    // The stream dump goes to FFmpeg's log.
    EXPECT_NE(r.err.find("Stream #0:0"), std::string::npos);

    r = run_delogo({"-i", "-f", "10", video}, dir); // info stays, ten samples
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Key Frame"), std::string::npos);
    EXPECT_EQ(lines_starting(r.out, "crop=").size(), 0u);
}

TEST(Sampling, AllCornersEndsAtEndOfFileWithFewerKeyFrames) {
    std::string dir = fresh_dir("all_corners_eof");
    std::string video =
        make_video(dir, "v.mkv", barred(160, 90, 7, [](int y) { return y < 4 || y >= 86; }));
    run_result r = run_delogo({"-a", video}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_bitrate(r.out), "Key Frame: 1 2 3 4 5 6 7 \n"
                                      "Size: 160x90\n"
                                      "crop=160:82:0:4\n"
                                      "Duration: 7.000 (00:00:07)\n");
}

TEST(Sampling, AllCornersKeepsNoBandImagesButFindsTheSameCrop) {
    // Six key frames, frame 0 a copy of frame 1, each side of the crop set by another
    // frame. Five seeks land on frames 1-5; all_corners reads frames 0-5: the same
    // pictures, so the border boxes kept by all_corners must give the very same line.
    static const int top[] = {6, 6, 4, 8, 10, 12}, bottom[] = {8, 8, 10, 6, 12, 10};
    static const int left[] = {10, 10, 12, 14, 8, 16}, right[] = {12, 12, 14, 10, 16, 6};
    std::string dir = fresh_dir("all_corners_same_crop");
    video_recipe recipe;
    recipe.frames = 6;
    recipe.luma = [](int f, uint8_t* luma, int stride) {
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 160; ++x) {
                bool dark = y < top[f] || y >= 90 - bottom[f] || x < left[f] || x >= 160 - right[f];
                luma[y * stride + x] = dark ? 0 : noise_luma(f, x, y);
            }
    };
    std::string video = make_video(dir, "v.mkv", recipe);
    run_result seeking = run_delogo({"-f", "5", video}, dir);
    run_result all = run_delogo({"-a", video}, dir);
    ASSERT_EQ(seeking.status, 0) << seeking.err;
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(lines_starting(all.out, "Key Frame"),
              std::vector<std::string>{"Key Frame: 1 2 3 4 5 6 "});
    EXPECT_EQ(lines_starting(seeking.out, "crop="), std::vector<std::string>{"crop=146:80:8:4"});
    EXPECT_EQ(lines_starting(all.out, "crop="), std::vector<std::string>{"crop=146:80:8:4"});
}

TEST(Sampling, LongGopSamplesTheKeyFramesAtTheSeekPoints) {
    // With B-frames (H.264) a decoder holds the key frame back; it must still be the
    // sample, and no frame held from before a seek may stand in for the next one.
    for (video_codec codec : {video_codec::h264_gop, video_codec::mpeg4_gop}) {
        std::string dir = fresh_dir("long_gop");
        video_recipe recipe = marked_key_frames(codec);
        std::string video = make_video(dir, "v.mkv", recipe);
        run_result r = run_delogo({"-f", "5", video}, dir);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines_starting(r.out, "Key Frame"),
                  std::vector<std::string>{"Key Frame: 1 2 3 4 5 "});
        EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=320:448:0:16"})
            << "codec " << static_cast<int>(codec);
    }
}

TEST(Sampling, SeeksCountFromTheStartTimeOfTheStream) {
    // MPEG-TS recordings start at an arbitrary clock (here 1000 s after the 1.4 s that
    // FFmpeg's muxer adds anyway): the seek points must be counted from there.
    std::string dir = fresh_dir("start_time");
    make_video(dir, "v.mkv", marked_key_frames(video_codec::mpeg4_gop));
    run_result f = run_command("ffmpeg -hide_banner -v error -y -i v.mkv -c copy -bsf:v "
                               "dump_extra=freq=keyframe -output_ts_offset 1000 v.ts",
                               dir);
    ASSERT_EQ(f.status, 0) << f.err;
    run_result r = run_delogo({"-f", "5", "v.ts"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=320:448:0:16"});
}

TEST(Sampling, OtherStreamsAreSkipped) {
    std::string dir = fresh_dir("with_audio");
    video_recipe recipe = barred(160, 90, 6, [](int y) { return y < 4 || y >= 86; });
    recipe.with_audio = true;
    std::string video = make_video(dir, "v.mkv", recipe);
    run_result r = run_delogo({"-f", "5", video}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
}

TEST(Help, ExactTextWithCurrentValues) {
    std::string dir = fresh_dir("help");
    const std::string expected_tail =
        "\t-i,--info            show video info only\n"
        "\t-y,--canny           force canny edge detection for logo\n"
        "\t-2,--two_rectangles  cover the logo with two overlaping rectangles\n"
        "\t-m,--removelogo      generate a mask of the logo instead of a rectangle\n"
        "\t-r,--pixel_ratio     switch to mask mode if pixel percentage inside the logo\n"
        "\t\t\t\tbounding box is bellow (default 0%)\n"
        "\t-a,--all_corners     logo present in all corners\n"
        "\t-c,--corner          fix logo corner [0-3] (NW,NE,SW,SE)\n"
        "\t-f,--frames          number of frames to process (default FRAMES)\n"
        "\t-W,--width_bands     width percentage search band (default 35%)\n"
        "\t-H,--height_bands    height percentage search band (default 18%)\n"
        "\t-b,--level_black     maximum black level (default 23)\n"
        "\t-d,--level_delta     maximum luminance distace for logo detection (default 65)\n"
        "\t-k,--border_black    border thickness around logo (default 15)\n"
        "\t-z,--border_band     additional border band (default 4)\n"
        "\t-t,--threshold       canny edge detection threshold 0-255 (default 170)\n"
        "\t-s,--sigma           canny sigma (default 1.2)\n"
        "\t-l,--tlow            canny tlow (default 0.3)\n"
        "\t-h,--thigh           canny thigh (default 0.8)\n"
        "\t-X,--save_as_pcx     save images as PCX rather than PNG\n";
    auto expected = [&](const std::string& frames) {
        std::string text = "Usage: delogo [options] video_file\n"
                           "\t-?,--help            show options help\n" +
                           expected_tail;
        return text.replace(text.find("FRAMES"), 6, frames);
    };
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--help"}, {"-?"}, {"-q", "file"}, {"-f"}}) {
        run_result r = run_delogo(args, dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, expected("64"));
    }
    run_result r = run_delogo({"-f", "10", "--help"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected("10"));
}

TEST(Failures, MissingFileAudioOnlyAndUnsupportedFormat) {
    std::string dir = fresh_dir("failures");
    run_result r = run_delogo({dir + "/does_not_exist.mkv"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open input file\n"), std::string::npos);
    EXPECT_NE(r.err.find("Error occurred: No such file or directory\n"), std::string::npos);
    EXPECT_EQ(r.out, "");

    ASSERT_EQ(write_audio_only(dir + "/audio.mkv", 2.0), "");
    r = run_delogo({dir + "/audio.mkv"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot find a video stream in the input file\n"), std::string::npos);
    EXPECT_NE(r.err.find("Error occurred: "), std::string::npos);

    {
        std::ofstream text(dir + "/notes.txt");
        text << "not a video at all\n";
    }
    r = run_delogo({dir + "/notes.txt"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error occurred: "), std::string::npos);
}

TEST(Failures, TruncatedFileEndsCleanly) {
    std::string dir = fresh_dir("truncated");
    std::string video =
        make_video(dir, "v.mkv", barred(160, 90, 12, [](int y) { return y < 4 || y >= 86; }));
    auto size = std::filesystem::file_size(video);
    for (double part : {0.2, 0.5, 0.9}) {
        std::filesystem::copy_file(video, dir + "/cut.mkv",
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(dir + "/cut.mkv", static_cast<uintmax_t>(size * part));
        run_result r = run_delogo({"-f", "5", dir + "/cut.mkv"}, dir);
        ASSERT_TRUE(r.status == 0 || r.status == 1) << r.err;
        if (r.status == 1) {
            EXPECT_NE(r.err.find("Error occurred: "), std::string::npos);
        } else {
            EXPECT_NE(r.out.find("Size: 160x90\n"), std::string::npos) << part;
        }
    }
}
