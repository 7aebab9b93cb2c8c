// The built tool finding logos in generated videos: printed lines, pictures (checked with
// FFmpeg's own decoders) and FFmpeg accepting the printed filter arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "helpers.h"

namespace {

// 160 x 90 frames, black bars on rows 0-3 and 86-89, a logo of luma 235 on rows 8-13,
// columns 130-145, and noise that changes every pixel between frames elsewhere.
uint8_t small_logo(int f, int x, int y) {
    if (y < 4 || y >= 86) return 0;
    if (y >= 8 && y <= 13 && x >= 130 && x <= 145) return 235;
    return noise_luma(f, x, y);
}

std::string small_logo_video(const std::string& dir) {
    std::string path = dir + "/logo.mkv";
    EXPECT_EQ(write_video(path, pixel_video(160, 90, 6, small_logo)), "");
    return path;
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() != ".mkv") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(LogoRun, DelogoLineAndPictureForTheNorthEastLogo) {
    std::string dir = fresh_dir("logo_delogo");
    std::string video = small_logo_video(dir);
    run_result r = run_delogo({"-f", "5", video}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
    EXPECT_EQ(lines_starting(r.out, "delogo="),
              std::vector<std::string>{"delogo=x=126:y=4:w=24:h=11 corner 1"});
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"delogo_1.png"});

    // Region of 56 x 12 pixels at band column 56, row 4: the box spans region columns
    // 22-45 and rows 0-10, the logo columns 26-41 and rows 4-9.
    decoded_image picture;
    ASSERT_EQ(decode_image_file(dir + "/delogo_1.png", picture), "");
    ASSERT_EQ(picture.width, 56);
    ASSERT_EQ(picture.height, 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 56; ++x) {
            bool in_box = y <= 10 && x >= 22 && x <= 45;
            bool logo = y >= 4 && y <= 9 && x >= 26 && x <= 41;
            int expected = logo ? 6 : in_box ? 7 : 15;
            ASSERT_EQ(picture.index[y * 56 + x], expected) << x << "," << y;
        }
    EXPECT_EQ(picture.palette[6], 0xFFFFFFu);
    EXPECT_EQ(picture.palette[7], 0x007C3Cu);
    EXPECT_EQ(picture.palette[15], 0x000000u);
}

TEST(LogoRun, LowCoverageSwitchesToMaskMode) {
    std::string dir = fresh_dir("logo_mask");
    std::string video = small_logo_video(dir);
    for (const char* format : {"png", "pcx"}) {
        std::vector<std::string> args{"-f", "5", "-r", "50", video};
        if (std::string(format) == "pcx") args.insert(args.begin(), "-X");
        run_result r = run_delogo(args, dir);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string name = std::string("removelogo_1.") + format;
        EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
        EXPECT_EQ(lines_starting(r.out, "removelogo="),
                  std::vector<std::string>{"removelogo=" + name});
        EXPECT_EQ(lines_starting(r.out, "delogo=").size(), 0u);

        decoded_image picture;
        ASSERT_EQ(decode_image_file(dir + "/" + name, picture), "") << name;
        ASSERT_EQ(picture.width, 112);
        ASSERT_EQ(picture.height, 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 112; ++x) {
                bool logo = y >= 8 && y <= 13 && x >= 82 && x <= 97;
                ASSERT_EQ(picture.index[y * 112 + x], logo ? 6 : 15)
                    << name << " " << x << "," << y;
            }
    }
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"removelogo_1.pcx", "removelogo_1.png"}));
}

TEST(LogoRun, AllCornersStopsAfterTheCropLine) {
    std::string dir = fresh_dir("logo_all_corners");
    std::string video = small_logo_video(dir);
    run_result r = run_delogo({"-a", video}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
    EXPECT_EQ(lines_starting(r.out, "delogo=").size(), 0u);
    EXPECT_EQ(lines_starting(r.out, "removelogo=").size(), 0u);
    EXPECT_TRUE(files_in(dir).empty());
}

TEST(LogoRun, FfmpegAcceptsThePrintedFilters) {
    std::string dir = fresh_dir("logo_ffmpeg");
    std::string video = small_logo_video(dir);
    run_result r = run_delogo({"-f", "5", video}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto crop = lines_starting(r.out, "crop=");
    auto delogo = lines_starting(r.out, "delogo=");
    ASSERT_EQ(crop.size(), 1u);
    ASSERT_EQ(delogo.size(), 1u);
    // The delogo rectangle is in frame coordinates: apply it before cropping.
    std::string rect = delogo[0].substr(0, delogo[0].find(' '));
    run_result f = run_command("ffmpeg -hide_banner -v error -i logo.mkv -vf '" + rect + "," +
                                   crop[0] + "' -f null -",
                               dir);
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.err, "");
}

TEST(LogoRun, MaskPictureOfAWidthThatIsNoMultipleOfEight) {
    // 704 pixels wide: bands of 246 columns, a band image 492 wide.
    std::string dir = fresh_dir("logo_704");
    video_recipe recipe = pixel_video(704, 576, 6, [](int f, int x, int y) -> uint8_t {
        return y >= 30 && y < 60 && x >= 600 && x < 660 ? 235 : noise_luma(f, x, y);
    });
    ASSERT_EQ(write_video(dir + "/v.mkv", recipe), "");
    run_result r = run_delogo({"-f", "5", "-m", "v.mkv"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop=").size(), 0u);
    EXPECT_EQ(lines_starting(r.out, "removelogo="),
              std::vector<std::string>{"removelogo=removelogo_1.png"});
    decoded_image picture;
    ASSERT_EQ(decode_image_file(dir + "/removelogo_1.png", picture), "");
    ASSERT_EQ(picture.width, 492);
    ASSERT_EQ(picture.height, 2 * (576 * 18 / 100));
    // The NE region is 248 columns wide from band column 244; its rows are copied whole
    // bytes from byte 30, so the picture shows band column b at column b - 4, and band
    // column b of the right band is frame column b + 704 - 492.
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            int frame_x = x + 4 + (704 - 492);
            bool logo = y >= 30 && y < 60 && frame_x >= 600 && frame_x < 660;
            ASSERT_EQ(picture.index[y * 492 + x], logo ? 6 : 15) << x << "," << y;
        }
}

namespace {

struct printed_rect {
    int x, y, w, h, corner;
};

std::vector<printed_rect> delogo_rects(const std::string& out) {
    std::vector<printed_rect> rects;
    for (const std::string& line : lines_starting(out, "delogo=")) {
        printed_rect r{};
        EXPECT_EQ(sscanf(line.c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d", &r.x, &r.y, &r.w,
                         &r.h, &r.corner),
                  5)
            << line;
        rects.push_back(r);
    }
    return rects;
}

bool inside(const printed_rect& r, int x, int y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

} // namespace

TEST(LogoRun, TwoRectanglesCoverAnLShapedLogo) {
    // 640 x 360: bands of 224 x 64, no crop, NE region 224 x 64 at band column 224, so
    // region column c is frame column c + 416. The L: a bar down columns 560-569 of rows
    // 10-45 and a foot along rows 36-45 of columns 560-609.
    auto logo = [](int x, int y) {
        return (x >= 560 && x <= 569 && y >= 10 && y <= 45) ||
               (y >= 36 && y <= 45 && x >= 560 && x <= 609);
    };
    std::string dir = fresh_dir("logo_two_rectangles");
    video_recipe recipe = pixel_video(640, 360, 6, [&](int f, int x, int y) -> uint8_t {
        return logo(x, y) ? 235 : noise_luma(f, x, y);
    });
    ASSERT_EQ(write_video(dir + "/v.mkv", recipe), "");
    run_result r = run_delogo({"-f", "5", "-2", "v.mkv"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<printed_rect> rects = delogo_rects(r.out);
    ASSERT_EQ(rects.size(), 2u) << r.out;
    EXPECT_EQ(rects[0].corner, 1);
    EXPECT_EQ(rects[1].corner, 1);
    // Every logo pixel is covered; the empty quarter of the L's bounding box above its
    // foot and right of its bar is left uncovered, but for one background pixel and the
    // border band of 4 beside each rectangle.
    for (int y = 0; y < 64; ++y)
        for (int x = 416; x < 640; ++x) {
            if (logo(x, y)) {
                ASSERT_TRUE(inside(rects[0], x, y) || inside(rects[1], x, y)) << x << "," << y;
            }
        }
    for (int y = 10; y <= 30; ++y)
        for (int x = 575; x <= 609; ++x)
            ASSERT_FALSE(inside(rects[0], x, y) || inside(rects[1], x, y)) << x << "," << y;

    // The picture blanks both rectangles (white or green) and nothing else.
    decoded_image picture;
    ASSERT_EQ(decode_image_file(dir + "/delogo_1.png", picture), "");
    ASSERT_EQ(picture.width, 224);
    ASSERT_EQ(picture.height, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 224; ++x) {
            bool covered = inside(rects[0], x + 416, y) || inside(rects[1], x + 416, y);
            int index = picture.index[y * 224 + x];
            if (covered) {
                ASSERT_TRUE(index == 6 || index == 7) << x << "," << y;
            } else {
                ASSERT_TRUE(index == 14 || index == 15) << x << "," << y;
            }
            if (logo(x + 416, y)) {
                ASSERT_EQ(index, 6);
            }
        }

    // FFmpeg takes both rectangles one after the other.
    auto arg = [](const std::string& line) { return line.substr(0, line.find(' ')); };
    auto lines = lines_starting(r.out, "delogo=");
    run_result f = run_command("ffmpeg -hide_banner -v error -i v.mkv -vf '" + arg(lines[0]) + "," +
                                   arg(lines[1]) + "' -f null -",
                               dir);
    EXPECT_EQ(f.status, 0) << f.err;
}

TEST(LogoRun, CannyFindsASharpLogoOnAMovingTexture) {
    // A smooth pattern drifting a few pixels per frame, so that its edges move, and a
    // white logo with a black slot in the SW corner (frame rows 296-359 are the bottom
    // band), whose edges stay put.
    auto logo = [](int x, int y) { return x >= 40 && x < 100 && y >= 300 && y < 340; };
    auto slot = [](int x, int y) { return x >= 52 && x < 88 && y >= 312 && y < 328; };
    std::string dir = fresh_dir("logo_canny");
    video_recipe recipe = pixel_video(640, 360, 12, [&](int f, int x, int y) -> uint8_t {
        if (logo(x, y)) return slot(x, y) ? 16 : 235;
        return static_cast<uint8_t>(128 + 70 * std::sin((x + 37.0 * f) * 0.06) *
                                              std::cos((y - 23.0 * f) * 0.08));
    });
    ASSERT_EQ(write_video(dir + "/v.mkv", recipe), "");
    run_result r = run_delogo({"-f", "10", "-y", "v.mkv"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<printed_rect> rects = delogo_rects(r.out);
    ASSERT_EQ(rects.size(), 1u) << r.out;
    EXPECT_EQ(rects[0].corner, 2);
    EXPECT_LE(rects[0].x, 40);
    EXPECT_LE(rects[0].y, 300);
    EXPECT_GE(rects[0].x + rects[0].w, 100);
    EXPECT_GE(rects[0].y + rects[0].h, 340);
    // ... and not much more than the logo and its margins.
    EXPECT_LE(rects[0].w, 60 + 2 * 8);
    EXPECT_LE(rects[0].h, 40 + 2 * 8);
}
