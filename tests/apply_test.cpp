// delogo-apply end to end on small generated videos with audio: the cleaned pictures, the
// files it writes and never touches, the streams it keeps, interlaced and deep input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "analysis/analysis_result.h"
#include "apply/ffmpeg_commands.h"
#include "apply/progress_view.h"
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

// A moving wave whose every pixel swings far more than level_delta and never gets dark.
uint8_t wave(int f, int x, int y) {
    return static_cast<uint8_t>(128 +
                                95 * std::sin((x + 7 * f) / 5.0) * std::cos((y - 3 * f) / 4.0));
}
// One grey a frame, far from the last: what lies under a logo is known exactly.
uint8_t flat(int f, int, int) {
    return static_cast<uint8_t>(128 + 80 * std::sin(2.0 * f));
}

// A 2-second 25 fps video with silent audio: `scene` inside `picture`, black outside it,
// white logo rectangles.
std::string make_input(const std::string& dir, frame_rect picture, std::vector<frame_rect> logo,
                       uint8_t (*scene)(int, int, int) = wave) {
    const luma_fn at = [=](int f, int x, int y) -> uint8_t {
        for (const frame_rect& r : logo)
            if (inside(r, x, y)) return logo_level;
        return inside(picture, x, y) ? scene(f, x, y) : 0;
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
    // Up to the first blank line: MPEG-TS lists its streams again under its programme.
    // Lines lose the empty fields of side data that follow the values.
    const std::string out =
        run_command("ffprobe -v error " + what + " -of csv=p=0 " + file, dir).out;
    std::string joined;
    for (std::string line : lines_starting(out.substr(0, out.find("\n\n")), "")) {
        while (!line.empty() && line.back() == ',')
            line.pop_back();
        if (!line.empty()) joined += (joined.empty() ? "" : " ") + line;
    }
    return joined;
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

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The directory's names, sorted, a temporary of OUTPUT shown as ".out.XXXXXX.mkv".
std::string listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(std::regex_replace(entry.path().filename().string(),
                                           std::regex(R"(^\.out\.[A-Za-z0-9]{6}\.mkv$)"),
                                           ".out.XXXXXX.mkv"));
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : " ") + n;
    return out;
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

// Where the rectangles meet the edges of the picture kept: on a flat grey picture what the
// logo hid is known, so the cleaned box must show it, not the logo or a bar.
TEST(ApplyRun, LogoAtTheEdgesOfThePicture) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        frame_rect picture;
        std::vector<frame_rect> logo;
        frame_rect kept; // the crop, moved inward onto whole chroma samples
    } rows[] = {
        {"logo right below the top bar", {}, barred, {{250, 12, 40, 12}}, barred},
        {"logo in the frame's corner", {}, whole, {{280, 0, 40, 14}}, whole},
        {"mask in the frame's corner", {"-m"}, whole, {{280, 0, 40, 14}}, whole},
        // Printed as crop=316:152:1:13.
        {"odd crop offsets", {}, {1, 13, 316, 153}, {{260, 18, 40, 8}}, {2, 14, 314, 150}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = fresh_dir("apply_edges");
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {make_input(dir, row.picture, row.logo, flat), "out.mkv"});
        const run_result r = apply(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const frame_rect& k = row.kept;
        const std::string out = grey_frame(dir, "out.mkv", 25);
        ASSERT_EQ(out.size(), static_cast<size_t>(k.w * k.h));
        auto at = [&](int x, int y) {
            return static_cast<uint8_t>(out[(y - k.y) * k.w + x - k.x]);
        };
        double first_row = 0;
        for (int x = k.x; x < k.x + k.w; ++x)
            first_row += at(x, k.y);
        EXPECT_GT(first_row / k.w, 23) << "the first row is a bar's";
        for (const frame_rect& l : row.logo) {
            int near_logo = 0, count = 0;
            double sum = 0;
            for (int y = std::max(l.y, k.y); y < l.y + l.h; ++y)
                for (int x = l.x; x < std::min(l.x + l.w, k.x + k.w); ++x, ++count) {
                    sum += at(x, y);
                    near_logo += std::abs(at(x, y) - logo_level) <= 16;
                }
            EXPECT_NEAR(sum / count, flat(25, 0, 0), 15);
            EXPECT_LE(near_logo * 20, count) << "more than 5% of the box at the logo's luma";
        }
    }
}

// One L-shaped logo: with -m a picture-sized mask white exactly on it (beside an OUTPUT
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
    ASSERT_EQ(mask.width, barred.w);
    ASSERT_EQ(mask.height, barred.h);
    int wrong = 0;
    for (int y = 0; y < barred.h; ++y)
        for (int x = 0; x < barred.w; ++x)
            wrong += mask.index[y * barred.w + x] !=
                     (inside(l_logo[0], x, y + 12) || inside(l_logo[1], x, y + 12) ? 255 : 0);
    EXPECT_EQ(wrong, 0);
    expect_cleaned(dir, odd, l_logo, barred);

    r = apply(dir, {"-2", in, "two.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_starting(r.out, "delogo=").size(), 2u) << r.out;
    expect_cleaned(dir, "two.mkv", l_logo, barred);
}

TEST(ApplyRun, DryRunWithPreview) {
    const std::string dir = fresh_dir("apply_preview");
    const run_result r = apply(
        dir, {"--dry-run", "--preview", "p.png", make_input(dir, barred, corner_logo), "out.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> command = lines_starting(r.out, "ffmpeg ");
    ASSERT_EQ(command.size(), 1u);
    frame_rect logo;
    ASSERT_EQ(sscanf(lines_starting(r.out, "delogo=").at(0).c_str(), "delogo=x=%d:y=%d:w=%d:h=%d",
                     &logo.x, &logo.y, &logo.w, &logo.h),
              4);
    EXPECT_TRUE(has(command[0], " -vf crop=316:156:0:12,")) << command[0];
    EXPECT_EQ(listing(dir), "in.mkv p.png");
    EXPECT_EQ(probe(dir, "p.png", "-show_entries stream=width,height"), "320,180");
    const std::string rgb =
        run_command("ffmpeg -v error -i p.png -f rawvideo -pix_fmt rgb24 -", dir).out;
    ASSERT_EQ(rgb.size(), static_cast<size_t>(W * H * 3));
    auto colour = [&](int x, int y) { return rgb.substr((y * W + x) * 3, 3); };
    EXPECT_EQ(colour(0, 90), std::string("\0\xff\0", 3));                       // crop
    EXPECT_EQ(colour(logo.x, logo.y + logo.h / 2), std::string("\xff\0\0", 3)); // logo
    EXPECT_EQ(colour(logo.x + logo.w - 1, logo.y + logo.h - 1), std::string("\xff\0\0", 3));
}

// A clean film whose still sky makes a box over most of the corner band: only the crop is
// applied, unless --force-logo; a picture with nothing at all to clean is not written.
TEST(ApplyRun, CleanFilmKeepsItsCorner) {
    const std::string dir = fresh_dir("apply_clean");
    make_input(dir, barred, {}, [](int f, int x, int y) {
        return y < 40 ? static_cast<uint8_t>(50 + 20 * std::sin(x / 30.0 + f / 20.0))
                      : wave(f, x, y);
    });
    run_result r = apply(dir, {"in.mkv", "out.mkv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "probably has no logo")) << r.err;
    const std::string in = grey_frame(dir, "in.mkv", 25), out = grey_frame(dir, "out.mkv", 25);
    ASSERT_EQ(out.size(), static_cast<size_t>(barred.w * barred.h));
    double diff = 0;
    for (int y = 12; y < 40; ++y)
        for (int x = 0; x < 110; ++x)
            diff += std::abs(static_cast<uint8_t>(in[y * W + x]) -
                             static_cast<uint8_t>(out[(y - 12) * barred.w + x]));
    EXPECT_LT(diff / (28 * 110), 3);
    r = apply(dir, {"--force-logo", "--dry-run", "in.mkv", "out.mkv"});
    EXPECT_TRUE(has(lines_starting(r.out, "ffmpeg ").at(0), "delogo=")) << r.out;

    const std::string plain = fresh_dir("apply_nothing");
    r = apply(plain, {make_input(plain, whole, {}), "out.mkv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "nothing to clean")) << r.err;
    EXPECT_EQ(listing(plain), "in.mkv");
}

// Each stream copied where OUTPUT's muxer holds it, a text subtitle converted where it
// does not (its text kept), anything else left out with a line naming it.
TEST(ApplyRun, StreamsOutputHolds) {
    const std::string dir = fresh_dir("apply_streams");
    make_input(dir, barred, corner_logo);
    write_file(dir + "/s.srt", "1\n00:00:00,000 --> 00:00:01,500\nhello\n");
    for (const char* make : {"-c:s mov_text mt.mp4", "-c:s srt sr.mkv", "-c:s srt dat.ts"})
        ASSERT_EQ(run_command("ffmpeg -v error -i in.mkv -i s.srt -map 0 -map 1 -c:v libx264 -g 10 "
                              "-preset ultrafast -c:a aac " +
                                  std::string(make),
                              dir)
                      .status,
                  0);
    const struct {
        const char *input, *output, *streams, *line;
    } rows[] = {
        {"mt.mp4", "o.mkv", "h264 aac ass", "subtitle stream 2 (mov_text) converted to ass"},
        {"mt.mp4", "o.mp4", "h264 aac mov_text", ""},
        {"mt.mp4", "o.ts", "h264 aac", "subtitle stream 2 (mov_text) left out"},
        {"sr.mkv", "o.mkv", "h264 aac subrip", ""},
        {"sr.mkv", "o.mp4", "h264 aac mov_text",
         "subtitle stream 2 (subrip) converted to mov_text"},
        {"sr.mkv", "o.ts", "h264 aac", "subtitle stream 2 (subrip) left out"},
        {"dat.ts", "o.mkv", "h264 aac", "data stream 2 (bin_data) left out"},
        {"dat.ts", "o.ts", "h264 aac", "data stream 2 (bin_data) left out"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.input) + " into " + row.output);
        fs::remove(dir + "/" + row.output);
        const run_result r = apply(dir, {"-f", "8", row.input, row.output});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(probe(dir, row.output, "-show_entries stream=codec_name"), row.streams);
        EXPECT_TRUE(has(r.err, row.line)) << r.err;
        EXPECT_EQ(has(r.err, " stream "), *row.line != 0) << r.err;
        if (std::string(row.streams).size() > 8) {
            EXPECT_TRUE(
                has(run_command(
                        "ffmpeg -v error -i " + std::string(row.output) + " -map 0:s -f srt -", dir)
                        .out,
                    "hello"));
        }
    }
}

// Interlaced input is coded interlaced in its frames' field order, deep input at its depth,
// and the logo restored in both.
TEST(ApplyRun, FieldsAndDepthKept) {
    const std::string dir = fresh_dir("apply_formats");
    make_input(dir, barred, corner_logo);
    const struct {
        const char *name, *make, *stream, *frame;
    } rows[] = {
        {"MPEG-2, top field first", "-c:v mpeg2video -flags +ildct+ilme -vf setfield=tff -c:a mp2 i.ts",
         "yuv420p,tt", "1,1"},
        // Its stream flag says top field first: only the frames tell.
        {"H.264, bottom field first", "-c:v libx264 -g 10 -flags +ildct+ilme -vf setfield=bff -c:a aac i.mp4",
         "yuv420p,bb", "1,0"},
        {"10-bit HEVC",
         "-c:v libx265 -pix_fmt yuv420p10le -x265-params log-level=error -c:a aac "
         "i.mkv",
         "yuv420p10le,progressive", "0,0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string input =
            std::string(row.make).substr(std::string(row.make).rfind(' ') + 1);
        ASSERT_EQ(run_command("ffmpeg -v error -y -i in.mkv -b:v 2M " + std::string(row.make), dir)
                      .status,
                  0);
        fs::remove(dir + "/o.mkv");
        // The default route: the logo model, the frames restored between two ffmpegs.
        const run_result r =
            run_command(shell_line({DELOGO_APPLY_BINARY, "-f", "8", input, "o.mkv"}), dir);
        ASSERT_EQ(r.status, 0) << r.err;
        // FFmpeg 7 and later tag an interlaced H.264 stream "tb"/"bt" where 5.1 says
        // "tt"/"bb": the first letter, the field shown first, is what must be kept.
        std::string stream =
            probe(dir, "o.mkv", "-select_streams v -show_entries stream=pix_fmt,field_order");
        if (stream.size() > 3 && stream[stream.size() - 3] == ',')
            stream.back() = stream[stream.size() - 2];
        EXPECT_EQ(stream, row.stream);
        EXPECT_EQ(probe(dir, "o.mkv",
                        "-select_streams v -read_intervals %+#1 -show_entries "
                        "frame=interlaced_frame,top_field_first"),
                  row.frame);
        // Restored too: the fill takes its rows from the field they belong to.
        expect_cleaned(dir, "o.mkv", corner_logo, barred);
    }
}

// What delogo-apply writes, refuses and removes. Each row runs `script` in a directory
// holding in.mkv and what `setup` made, and its exit status is delogo-apply's; $A is
// delogo-apply, and "$S $A" runs it with a stand-in for ffmpeg first in PATH: while the
// file `hold` exists the stand-in waits (then runs the real ffmpeg), and the one writing
// a file (not a pipe) first writes into it and touches `started`, so that a row can act
// while ffmpeg runs.
TEST(ApplyRun, FilesNeverLost) {
    const std::string root = fresh_dir("apply_safety");
    make_input(root, barred, corner_logo);
    const std::string ffmpeg = run_command("command -v ffmpeg", root).out;
    fs::create_directories(root + "/bin");
    write_file(root + "/bin/ffmpeg",
               "#!/bin/sh\nfor last; do :; done\nif [ -e hold ]; then case $last in pipe:*) ;; "
               "*) echo partial > \"$last\"; touch started;; esac; "
               "while [ -e hold ]; do sleep 0.05; done; fi\nexec " +
                   ffmpeg.substr(0, ffmpeg.size() - 1) + " \"$@\"\n");
    fs::permissions(root + "/bin/ffmpeg", fs::perms::owner_all);
    const std::string wait_start = " & p=$!; until [ -e started ]; do sleep 0.05; done; ";
    const struct {
        const char* name;
        std::string setup, script, status, err, files; // files: "name=content ..." after
    } rows[] = {
        {"another run wrote OUTPUT meanwhile", "touch hold",
         "$S $A in.mkv out.mkv" + wait_start + "echo first > out.mkv; rm hold started; wait $p",
         "1", "out.mkv appeared while it was being written: kept as .out.",
         ".out.XXXXXX.mkv in.mkv out.mkv=first"},
        {"--force with a bad encoder", "echo old > out.mkv",
         "$A --force in.mkv out.mkv -- -c:v libx999", "1", "ffmpeg failed", "in.mkv out.mkv=old"},
        {"an existing mask", "echo old > out.mask.png", "$A -m in.mkv out.mkv", "1",
         "out.mask.png exists", "in.mkv out.mask.png=old"},
        {"a mask symlink", "echo t > t; ln -s t out.mask.png", "$A -m in.mkv out.mkv", "1",
         "out.mask.png exists", "in.mkv out.mask.png=t t=t"},
        {"a mask symlink replaced, never written through", "echo t > t; ln -s t out.mask.png",
         "$A --force -m in.mkv out.mkv", "0", "wrote out.mask.png",
         "in.mkv out.mask.png out.mkv t=t"},
        {"hang-up while ffmpeg runs", "touch hold; echo k > k",
         "$S $A in.mkv out.mkv" + wait_start +
             "kill -HUP $p; wait $p; s=$?; rm hold started; exit $s",
         "129", "interrupted (Hangup)", "in.mkv k=k"},
        {"quit while ffmpeg runs", "touch hold; echo k > k",
         "$S env --default-signal=INT,QUIT $A in.mkv out.mkv" + wait_start +
             "kill -QUIT $p; wait $p; s=$?; rm hold started; exit $s",
         "131", "interrupted (Quit)", "in.mkv k=k"},
        {"--dry-run -m runs as printed", "",
         "$A --dry-run -m in.mkv out.mkv | grep '^ffmpeg ' > ../cmd && sh ../cmd > /dev/null", "0",
         "wrote out.mask.png, which the command reads", "in.mkv out.mask.png out.mkv"},
        {"--preview naming OUTPUT", "", "$A --preview out.mkv in.mkv out.mkv", "1",
         "is OUTPUT or its mask", "in.mkv"},
        {"--preview naming the mask", "", "$A --preview ./out.mask.png in.mkv out.mkv", "1",
         "is OUTPUT or its mask", "in.mkv"},
        {"OUTPUT without a format", "", "$A in.mkv out", "1", "cannot tell the format", "in.mkv"},
        {"OUTPUT is INPUT", "", "$A --force in.mkv ./in.mkv", "1", "is INPUT", "in.mkv"},
        {"OUTPUT is INPUT's hard link", "ln in.mkv link.mkv", "$A --force in.mkv link.mkv", "1",
         "is INPUT", "in.mkv link.mkv"},
        {"OUTPUT exists", "echo k > out.mkv", "$A in.mkv out.mkv", "1", "exists (--force",
         "in.mkv out.mkv=k"},
        {"no ffmpeg", "", "PATH=/nonexistent $A in.mkv out.mkv", "1",
         "install Debian's ffmpeg package", "in.mkv"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = root + "/run";
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::create_hard_link(root + "/in.mkv", dir + "/in.mkv");
        ASSERT_EQ(run_command(row.setup, dir).status, 0);
        const std::string script = "A=" + quoted(DELOGO_APPLY_BINARY) +
                                   "; S=" + quoted("env PATH=" + root + "/bin:" + getenv("PATH")) +
                                   "; (" + row.script + ") 2>../err; echo $?";
        const run_result r = run_command(script, dir);
        const std::string err = read_file(root + "/err");
        EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), row.status + "\n") << err;
        EXPECT_TRUE(has(err, row.err)) << err;
        EXPECT_FALSE(row.status != "0" && has(err, "wrote out.mkv")) << err;
        std::string files;
        for (const std::string& f :
             lines_starting(std::regex_replace(row.files, std::regex(" "), "\n"), "")) {
            const size_t eq = f.find('=');
            files += (files.empty() ? "" : " ") + f.substr(0, eq);
            if (eq != std::string::npos) {
                EXPECT_EQ(read_file(dir + "/" + f.substr(0, eq)), f.substr(eq + 1) + "\n") << f;
            }
        }
        EXPECT_EQ(listing(dir), files);
    }
}

// The preview shows the frame restored beside it.
TEST(ApplyRun, PreviewWithTheRestoredFrame) {
    const std::string dir = fresh_dir("apply_restored_preview");
    make_input(dir, whole, corner_logo, flat);
    const run_result r = run_command(
        shell_line({DELOGO_APPLY_BINARY, "--dry-run", "--preview", "p.png", "in.mkv", "o.mkv"}),
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    // No ffmpeg command restores: it says so, and prints what FFmpeg's filters would do.
    EXPECT_EQ(lines_starting(r.out, "# ").size(), 1u) << r.out;
    ASSERT_EQ(lines_starting(r.out, "ffmpeg ").size(), 1u) << r.out;
    EXPECT_TRUE(has(lines_starting(r.out, "ffmpeg ")[0], "delogo=")) << r.out;
    EXPECT_EQ(probe(dir, "p.png", "-show_entries stream=width,height"), "640,180");
    const std::string rgb =
        run_command("ffmpeg -v error -i p.png -f rawvideo -pix_fmt rgb24 -", dir).out;
    ASSERT_EQ(rgb.size(), size_t(2 * W * H * 3));
    const frame_rect& l = corner_logo[0];
    int left = 0, right = 0;
    for (int y = l.y + 2; y < l.y + l.h - 2; ++y)
        for (int x = l.x + 2; x < l.x + l.w - 2; ++x) {
            left += uint8_t(rgb[(size_t(y) * 2 * W + x) * 3 + 1]) > 220;
            right += uint8_t(rgb[(size_t(y) * 2 * W + W + x) * 3 + 1]) > 220;
        }
    EXPECT_GT(left, (l.w - 4) * (l.h - 4) / 2);
    EXPECT_EQ(right, 0);
}
