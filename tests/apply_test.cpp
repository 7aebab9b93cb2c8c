// delogo-apply end to end on small generated videos with audio, and its command builder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "apply/filter_chain.h"
#include "helpers.h"

namespace {

namespace fs = std::filesystem;
constexpr int W = 320, H = 180, logo_level = 235;
// The picture inside the bars: 12 rows above and below, 4 columns on the right, so that
// the corner region starts off a byte boundary (the removelogo picture's shift).
const frame_rect barred{0, 12, 316, 156}, whole{0, 0, W, H};

bool inside(const frame_rect& r, int x, int y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

// A 2-second 25 fps video with silent audio: a moving wave whose every pixel swings far
// more than level_delta and never gets dark, black outside `picture`, white logo rectangles.
std::string make_input(const std::string& dir, frame_rect picture, std::vector<frame_rect> logo) {
    const luma_fn at = [=](int f, int x, int y) -> uint8_t {
        for (const frame_rect& r : logo)
            if (inside(r, x, y)) return logo_level;
        if (!inside(picture, x, y)) return 0;
        return static_cast<uint8_t>(128 +
                                    95 * std::sin((x + 7 * f) / 5.0) * std::cos((y - 3 * f) / 4.0));
    };
    EXPECT_EQ(make_video(dir, "in.mkv", W, H, 50, at,
                         "-f lavfi -t 2 -i anullsrc=r=8000:cl=mono -c:v ffv1 -g 1 -c:a pcm_s16le",
                         25),
              "");
    return "in.mkv";
}

// These cases are about the chain built from delogo's own report: its static-pixel detector.
run_result apply(const std::string& dir, std::vector<std::string> args, std::string env = "") {
    args.insert(args.begin(), {DELOGO_APPLY_BINARY, "--detector", "static"});
    return run_command(env + shell_line(args), dir);
}

std::string probe(const std::string& dir, const std::string& file, const std::string& what) {
    return run_command("ffprobe -v error " + what + " -of csv=p=0 " + file + " | tr -d '\\n'", dir)
        .out;
}

// Frame `index` of `file` as 8-bit grey, decoded by the ffmpeg command.
std::string grey_frame(const std::string& dir, const std::string& file, int index) {
    return run_command(shell_line({"ffmpeg", "-v", "error", "-i", file, "-vf",
                                   "select=eq(n\\," + std::to_string(index) + ")", "-fps_mode",
                                   "passthrough", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                                   "gray", "-"}),
                       dir)
        .out;
}

// The logo's pixels no longer show in frame 25 of `output` (cropped to `crop`); away from
// the logo the picture matches the input within the encoder's loss.
void expect_cleaned(const std::string& dir, const std::string& output,
                    const std::vector<frame_rect>& logo, frame_rect crop) {
    const std::string in = grey_frame(dir, "in.mkv", 25), out = grey_frame(dir, output, 25);
    ASSERT_EQ(in.size(), static_cast<size_t>(W * H));
    ASSERT_EQ(out.size(), static_cast<size_t>(crop.w * crop.h));
    auto at = [&](int x, int y) { return static_cast<uint8_t>(out[(y - crop.y) * crop.w + x]); };
    for (const frame_rect& r : logo) {
        double sum = 0;
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x)
                sum += at(x, y);
        EXPECT_GT(std::abs(sum / (r.w * r.h) - logo_level), 60) << r.x << "," << r.y;
    }
    double diff = 0;
    for (int y = 60; y < 120; ++y)
        for (int x = 0; x < 200; ++x)
            diff += std::abs(static_cast<uint8_t>(in[y * W + x]) - at(x, y));
    EXPECT_LT(diff / (60 * 200), 6);
}

frame_rect printed_rect(const std::string& line) {
    frame_rect r;
    EXPECT_EQ(sscanf(line.c_str(), "delogo=x=%d:y=%d:w=%d:h=%d", &r.x, &r.y, &r.w, &r.h), 4);
    return r;
}

const std::vector<frame_rect> corner_logo{{250, 16, 40, 12}};
const std::vector<frame_rect> l_logo{{250, 15, 40, 5}, {250, 20, 6, 10}};

} // namespace

TEST(ApplyRun, BarsAndLogo) {
    const std::string dir = fresh_dir("apply_bars");
    const std::string in = make_input(dir, barred, corner_logo);
    const run_result r = apply(dir, {in, "out.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=316:156:0:12"});
    EXPECT_EQ(probe(dir, "out.mkv", "-select_streams v:0 -show_entries stream=width,height"),
              "316,156");
    EXPECT_EQ(probe(dir, "out.mkv", "-select_streams a -show_entries stream=index"), "1");
    EXPECT_NEAR(std::stod(probe(dir, "out.mkv", "-show_entries format=duration")),
                std::stod(probe(dir, in, "-show_entries format=duration")), 0.041);
    expect_cleaned(dir, "out.mkv", corner_logo, barred);
}

// The logo touches the right edge and its box the top edge: both must move inside.
TEST(ApplyRun, LogoAtTheTopRightEdges) {
    const std::string dir = fresh_dir("apply_edge");
    const std::vector<frame_rect> logo{{280, 2, 40, 12}};
    const run_result r = apply(dir, {make_input(dir, whole, logo), "out.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_starting(r.out, "delogo=");
    ASSERT_EQ(lines.size(), 1u);
    const frame_rect printed = printed_rect(lines[0]);
    EXPECT_TRUE(printed.y == 0 && printed.x + printed.w == W) << lines[0];
    expect_cleaned(dir, "out.mkv", logo, whole);
}

// One L-shaped logo: with -m a frame-sized mask white exactly on it (beside an OUTPUT
// whose name needs FFmpeg's escaping), with -2 two rectangles; both applied.
TEST(ApplyRun, MaskAndTwoRectanglesOnAnLShapedLogo) {
    const std::string dir = fresh_dir("apply_l");
    const std::string in = make_input(dir, barred, l_logo);
    const std::string odd = "out, it's: [m].mkv";
    run_result r = apply(dir, {"-m", in, odd});
    ASSERT_EQ(r.status, 0) << r.err;
    decoded_image mask;
    ASSERT_EQ(decode_image_file(dir + "/out, it's: [m].mask.png", mask), "");
    ASSERT_TRUE(mask.gray);
    ASSERT_EQ(mask.width * mask.height, W * H);
    int wrong = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            wrong += mask.index[y * W + x] !=
                     (inside(l_logo[0], x, y) || inside(l_logo[1], x, y) ? 255 : 0);
    EXPECT_EQ(wrong, 0);
    expect_cleaned(dir, odd, l_logo, barred);

    r = apply(dir, {"-2", in, "two.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "delogo=").size(), 2u) << r.out;
    expect_cleaned(dir, "two.mkv", l_logo, barred);
}

TEST(ApplyRun, Refusals) {
    const std::string dir = fresh_dir("apply_refusals");
    const std::string in = make_input(dir, barred, corner_logo);
    fs::create_hard_link(dir + "/in.mkv", dir + "/link.mkv");
    run_command("echo keep > existing.mkv", dir);
    const auto input_size = fs::file_size(dir + "/in.mkv");
    const struct {
        std::vector<std::string> args;
        std::string env, message;
    } cases[] = {
        {{"--force", in, in}, "", "is INPUT"},
        {{"--force", in, "./link.mkv"}, "", "is INPUT"},
        {{"--force", in, "./in.mkv"}, "", "is INPUT"},
        {{in, "existing.mkv"}, "", "exists"},
        {{in, "new.mkv"}, "PATH=/nonexistent ", "install Debian's ffmpeg package"},
    };
    for (const auto& c : cases) {
        const run_result r = apply(dir, c.args, c.env);
        EXPECT_EQ(r.status, 1) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(fs::file_size(dir + "/in.mkv"), input_size);
    EXPECT_EQ(fs::file_size(dir + "/existing.mkv"), 5u);
    EXPECT_FALSE(fs::exists(dir + "/new.mkv"));

    const std::string plain = fresh_dir("apply_nothing");
    const run_result r = apply(plain, {make_input(plain, whole, {}), "out.mkv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("nothing to clean"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(plain + "/out.mkv"));
}

TEST(ApplyRun, InterruptRemovesThePartialOutput) {
    const std::string dir = fresh_dir("apply_interrupt");
    const std::string make = "ffmpeg -v error -f lavfi -i testsrc2=s=320x136:r=25:d=60,"
                             "pad=320:180:0:22 -f lavfi -i anullsrc -t 60 -preset ultrafast in.mkv";
    ASSERT_EQ(run_command(make, dir).status, 0);
    const run_result r = run_command(
        shell_line({DELOGO_APPLY_BINARY, "in.mkv", "out.mkv"}) +
            " >/dev/null 2>&1 & pid=$!; for i in $(seq 400); do [ -s out.mkv ] && break; "
            "sleep 0.05; done; kill -INT $pid; wait $pid; echo $?",
        dir);
    EXPECT_EQ(r.out, "130\n");
    EXPECT_FALSE(fs::exists(dir + "/out.mkv"));
}

TEST(ApplyRun, DryRunWithPreview) {
    const std::string dir = fresh_dir("apply_preview");
    const run_result r = apply(
        dir, {"--dry-run", "--preview", "p.png", make_input(dir, barred, corner_logo), "out.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> command = lines_starting(r.out, "ffmpeg ");
    ASSERT_EQ(command.size(), 1u);
    const frame_rect logo = printed_rect(lines_starting(r.out, "delogo=").at(0));
    EXPECT_NE(command[0].find(",crop=316:156:0:12 "), std::string::npos) << command[0];
    EXPECT_EQ(run_command("ls", dir).out, "in.mkv\np.png\n");
    EXPECT_EQ(probe(dir, "p.png", "-show_entries stream=width,height"), "320,180");
    const std::string rgb =
        run_command("ffmpeg -v error -i p.png -f rawvideo -pix_fmt rgb24 -", dir).out;
    ASSERT_EQ(rgb.size(), static_cast<size_t>(W * H * 3));
    auto colour = [&](int x, int y) { return rgb.substr((y * W + x) * 3, 3); };
    EXPECT_EQ(colour(0, 90), std::string("\0\xff\0", 3));                       // crop
    EXPECT_EQ(colour(logo.x, logo.y + logo.h / 2), std::string("\xff\0\0", 3)); // logo
    EXPECT_EQ(colour(logo.x + logo.w - 1, logo.y + logo.h - 1), std::string("\xff\0\0", 3));
}

TEST(FilterChain, RectanglesOffTheEdgeBeforeTheCropAndCustomEncoder) {
    analysis_result r;
    r.frame_width = W;
    r.frame_height = H;
    r.has_crop = true;
    r.crop = {0, 22, 320, 136};
    r.logo_count = 2;
    r.logos[0] = {0, 0, 40, 14};
    r.logos[1] = {280, 170, 40, 10};
    EXPECT_EQ(filter_chain(r, ""),
              "delogo=x=1:y=1:w=39:h=13,delogo=x=280:y=170:w=39:h=9,crop=320:136:0:22");
    const ffmpeg_job job{"a:b.ts", "-c.mp4", "", "yuv420p", 0, false, true, {"-c:v", "libx265"}};
    const std::string line = shell_line(ffmpeg_command(job));
    EXPECT_EQ(line.find("libx264"), std::string::npos) << line;
    EXPECT_EQ(line.find("-c:s"), std::string::npos) << line;
    EXPECT_NE(line.find("-i file:a:b.ts -map 0:0 "), std::string::npos) << line;
    EXPECT_NE(line.find("-c:v libx265 -progress pipe:1 -nostats file:-c.mp4"), std::string::npos);
}
