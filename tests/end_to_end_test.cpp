// The built tool end to end on videos made at test time by the ffmpeg command: one table
// of {video, options, exit status, exact standard output, standard error, pictures},
// the pictures checked with FFmpeg's own decoders; then the working-directory cases.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "helpers.h"

namespace fs = std::filesystem;
using lines = std::vector<std::string>;

namespace {

// ---- Videos ---------------------------------------------------------------------------

// Twelve groups of twelve frames at 12 fps. Only the key frames at 2, 4, 6, 8 and 10 s
// have dark bars, of heights that single out the first and the last of them; every other
// frame is bright. Five samples seek to exactly those seconds, so any other frame sampled
// loses the crop line "crop=320:448:0:16" or changes it.
uint8_t marked_luma(int f, int, int y) {
    const int key = f % 12 == 0 ? f / 12 : -1;
    const bool marked = key >= 2 && key <= 10 && key % 2 == 0;
    const int top = marked ? 16 * (key / 2) : 0, bottom = marked ? 16 * (6 - key / 2) : 0;
    return y < top || y >= 480 - bottom ? 0 : 128;
}

std::string h264(int gop) {
    return "-c:v libx264 -preset veryfast -crf 12 -bf 2 -x264-params keyint=" +
           std::to_string(gop) + ":min-keyint=" + std::to_string(gop) +
           ":scenecut=0:b-pyramid=none:threads=1";
}
const std::string mpeg4 = "-c:v mpeg4 -g 12 -bf 0 -q:v 2 -threads 1";

std::string ffmpeg(const std::string& args, const std::string& dir) {
    const run_result r = run_command("exec ffmpeg -hide_banner -nostdin -v error -y " + args, dir);
    return r.status == 0 ? "" : "ffmpeg " + args + ": " + r.err;
}

// Makes the input `name` in `dir`; "a>b" makes a and renames it b.
std::string make_input(const std::string& name, const std::string& dir) {
    const size_t arrow = name.find('>');
    if (arrow != std::string::npos) {
        const std::string error = make_input(name.substr(0, arrow), dir);
        fs::rename(dir + "/" + name.substr(0, arrow), dir + "/" + name.substr(arrow + 1));
        return error;
    }
    const auto bars = [](int top, int bottom, int h) {
        return [=](int f, int x, int y) -> uint8_t {
            return y < top || y >= h - bottom ? 0 : noise_luma(f, x, y);
        };
    };
    if (name == "logo.mkv") return make_video(dir, name, 160, 90, 6, logo_luma);
    if (name == "bars.mkv") return make_video(dir, name, 1920, 1080, 2, bars(140, 140, 1080));
    if (name == "noise.mkv") return make_video(dir, name, 33, 17, 6, noise_luma);
    if (name == "tiny.mkv") return make_video(dir, name, 2, 2, 6, noise_luma);
    if (name == "marked_h264.mkv")
        return make_video(dir, name, 320, 480, 144, marked_luma, h264(12), 12);
    if (name == "marked_mpeg4.mkv")
        return make_video(dir, name, 320, 480, 144, marked_luma, mpeg4, 12);
    if (name == "marked.ts") {
        // MPEG-TS recordings start at an arbitrary clock.
        const std::string error = make_input("marked_mpeg4.mkv", dir);
        return error + ffmpeg("-i marked_mpeg4.mkv -c copy -bsf:v dump_extra=freq=keyframe "
                              "-output_ts_offset 1000 marked.ts && rm marked_mpeg4.mkv",
                              dir);
    }
    if (name == "shape_l.mkv") // 640 x 360, an L in the NE band
        return make_video(dir, name, 640, 360, 6, [](int f, int x, int y) -> uint8_t {
            const bool l = (x >= 560 && x <= 569 && y >= 10 && y <= 45) ||
                           (y >= 36 && y <= 45 && x >= 560 && x <= 609);
            return l ? 235 : noise_luma(f, x, y);
        });
    if (name == "texture.mkv") // a drifting smooth texture, a sharp logo with a slot in SW
        return make_video(dir, name, 640, 360, 12, [](int f, int x, int y) -> uint8_t {
            if (x >= 40 && x < 100 && y >= 300 && y < 340)
                return x >= 52 && x < 88 && y >= 312 && y < 328 ? 16 : 235;
            return static_cast<uint8_t>(128 + 70 * std::sin((x + 37.0 * f) * 0.06) *
                                                  std::cos((y - 23.0 * f) * 0.08));
        });
    if (name == "raw.h264") {
        // No duration: only the first five of eight key frames have a bar of 20 rows, the
        // level alternating per group so that nothing stays still.
        const std::string error = make_video(
            dir, "raw.mkv", 320, 180, 48,
            [](int f, int, int y) -> uint8_t {
                return f % 6 == 0 && f / 6 < 5 && y < 20 ? 0 : (f / 6) % 2 ? 220 : 100;
            },
            h264(6), 6);
        return error + ffmpeg("-i raw.mkv -c copy -f h264 raw.h264 && rm raw.mkv", dir);
    }
    if (name == "large_first.ts" || name == "small_first.h264") {
        // Two H.264 parts of different sizes back to back: only frames of the size the
        // decoder opened with are samples. The large part has bars of 20 rows.
        const luma_fn bars = [](int, int, int y) -> uint8_t {
            return y < 20 || y >= 160 ? 0 : 128;
        };
        const luma_fn flat = [](int, int, int) -> uint8_t { return 200; };
        std::string error = make_video(dir, "large.mkv", 320, 180, 48, bars, h264(12), 12) +
                            make_video(dir, "small.mkv", 160, 90, 48, flat, h264(12), 12);
        for (const char* part : {"large", "small"})
            error += ffmpeg("-i " + std::string(part) + ".mkv -c copy " + part + ".ts -c copy " +
                                part + ".h264",
                            dir);
        write_file(dir + "/list.txt", "file large.ts\nfile small.ts\n");
        if (name == "large_first.ts")
            return error + ffmpeg("-f concat -i list.txt -c copy " + name, dir);
        write_file(dir + "/" + name,
                   read_file(dir + "/small.h264") + read_file(dir + "/large.h264"));
        return error;
    }
    if (name == "huge.mkv") {
        // FFV1 takes its frame size from the container: a 400 x 300 track header patched
        // to 12000 x 12000 passes FFmpeg's own checks but not the tool's cap.
        std::string error = make_video(dir, name, 400, 300, 3, noise_luma);
        std::string bytes = read_file(dir + "/" + name);
        for (const char* element : {"\xB0\x82\x01\x90", "\xBA\x82\x01\x2C"}) {
            const size_t at = bytes.find(std::string(element, 4));
            if (at == std::string::npos) return "no frame size in the header";
            bytes.replace(at + 2, 2, "\x2E\xE0", 2);
        }
        write_file(dir + "/" + name, bytes);
        return error;
    }
    if (name == "uhd.mkv")
        return ffmpeg("-f lavfi -i color=s=7680x4320:r=1:d=1 -c:v mpeg4 " + name, dir);
    if (name == "far.mkv") // start time and duration both about 5e18 microseconds
        return ffmpeg("-f lavfi -i color=c=white:s=160x90:r=1:d=5 -output_ts_offset "
                      "5000000000000 -c:v ffv1 -g 1 far.mkv",
                      dir);
    if (name == "audio_only.mkv")
        return ffmpeg("-f lavfi -i anullsrc=r=8000:cl=mono -t 2 -c:a pcm_s16le " + name, dir);
    if (name == "folder.mkv") fs::create_directory(dir + "/" + name);
    return "";
}

// ---- The table ------------------------------------------------------------------------

struct picture {
    std::string name;
    int width, height;
    std::function<int(int x, int y)> index; // expected colour index, or null: size only
};

struct row {
    std::string name;  // test name
    std::string video; // input made by make_input; "" for none
    std::string args;  // split at blanks; "%" stands for the input's name
    int status;
    std::string out;               // exact, with "BitRate: N" for the bit rate
    std::string err;               // must be part of standard error
    std::vector<picture> pictures; // exactly the files written
};

std::string help(int frames) {
    std::string text = read_file(TEST_DATA_DIR "/help.txt");
    const size_t at = text.find("(default 64)");
    return at == std::string::npos ? "" : text.replace(at + 9, 2, std::to_string(frames));
}

std::string summary(const std::string& key_frames, const std::string& size,
                    const std::string& lines, int seconds) {
    char duration[64];
    snprintf(duration, sizeof duration, "Duration: %d.000 (00:00:%02d) BitRate: N\n", seconds,
             seconds);
    return (key_frames.empty() ? "" : "Key Frame: " + key_frames + " \n") + "Size: " + size + "\n" +
           lines + duration;
}

// The NE region of 56 x 12 pixels at band column 56, row 4: the box spans region
// columns 22-45 and rows 0-10 (green, 7), the logo columns 26-41 and rows 4-9 (white, 6).
const picture delogo_picture{"delogo_1.png", 56, 12, [](int x, int y) {
                                 if (y >= 4 && y <= 9 && x >= 26 && x <= 41) return 6;
                                 return y <= 10 && x >= 22 && x <= 45 ? 7 : 15;
                             }};
// The whole band image: the logo on rows 8-13, columns 82-97.
picture mask_picture(const std::string& name) {
    return {name, 112, 32,
            [](int x, int y) { return y >= 8 && y <= 13 && x >= 82 && x <= 97 ? 6 : 15; }};
}

const std::string crop_logo = "crop=160:82:0:4\ndelogo=x=126:y=4:w=24:h=11 corner 1\n";
const std::string logo_run = summary("1 2 3 4 5", "160x90", crop_logo, 6);
const std::string open_error = "Cannot open input file\nError occurred: ";

const std::vector<row> rows = {
    // clang-format off
    {"Logo", "logo.mkv", "-f 5 %", 0, logo_run, "Finished\n", {delogo_picture}},
    {"LowCoverageSwitchesToMaskMode", "logo.mkv", "-f 5 -r 50 %", 0,
     summary("1 2 3 4 5", "160x90", "crop=160:82:0:4\nremovelogo=removelogo_1.png\n", 6), "",
     {mask_picture("removelogo_1.png")}},
    // all_corners reads every key frame to the end of the file and prints the crop alone.
    {"AllCornersStopsAfterTheCropLine", "logo.mkv", "-a %", 0,
     summary("1 2 3 4 5 6", "160x90", "crop=160:82:0:4\n", 6), "", {}},
    {"HugeSigmaEndsWithTheKernelMessage", "logo.mkv", "-y -f 5 -s 1e30 %", 1,
     "Key Frame: 1 2 3 4 5 \nSize: 160x90\ncrop=160:82:0:4\n", "Error callocing the gaussian kernel array.\n", {}},
    {"FullHdBarsAboveAndBelow", "bars.mkv", "-f 5 %", 0,
     summary("1 2 3 4 5", "1920x1080", "crop=1920:800:0:140\n", 2), "", {}},
    {"NoDarkLineNoStillPixelOddSize", "noise.mkv", "-f 5 %", 0, summary("1 2 3 4 5", "33x17", "", 6), "", {}},
    {"TinyFrameEveryDetector", "tiny.mkv", "-f 5 -y -m -2 -W 48 -H 48 %", 0,
     summary("1 2 3 4 5", "2x2", "", 6), "", {}},
    // With B-frames a decoder holds the key frame back; it must still be the sample, and
    // no frame held from before a seek may stand in for the next one.
    {"LongGopH264SamplesTheKeyFramesAtTheSeekPoints", "marked_h264.mkv", "-f 5 %", 0,
     summary("1 2 3 4 5", "320x480", "crop=320:448:0:16\n", 12), "", {}},
    {"LongGopMpeg4SamplesTheKeyFramesAtTheSeekPoints", "marked_mpeg4.mkv", "-f 5 %", 0,
     summary("1 2 3 4 5", "320x480", "crop=320:448:0:16\n", 12), "", {}},
    {"SeeksCountFromTheStartTimeOfTheStream", "marked.ts", "-f 5 %", 0,
     "Key Frame: 1 2 3 4 5 \nSize: 320x480\ncrop=320:448:0:16\nDuration: 12.000 (00:00:12) BitRate: N\n", "", {}},
    {"TwoRectanglesCoverAnLShapedLogo", "shape_l.mkv", "-f 5 -2 %", 0,
     summary("1 2 3 4 5", "640x360", "delogo=x=556:y=6:w=19:h=44 corner 1\ndelogo=x=556:y=31:w=58:h=19 corner 1\n", 6), "",
     {{"delogo_1.png", 224, 64, nullptr}}},
    {"CannyFindsASharpLogoOnAMovingTexture", "texture.mkv", "-f 10 -y %", 0,
     summary("1 2 3 4 5 6 7 8 9 10", "640x360", "delogo=x=35:y=296:w=70:h=49 corner 2\n", 12), "",
     {{"delogo_2.png", 224, 64, nullptr}}},
    {"StreamWithoutDurationIsSampledFromTheStart", "raw.h264", "-f 5 %", 0,
     "Key Frame: 1 2 3 4 5 \nSize: 320x180\ncrop=320:160:0:20\nDuration: 0.000 (00:00:00) BitRate: N\n", "", {}},
    {"FewerKeyFramesThanPassesEndAtTheEnd", "raw.h264", "-f 20 %", 0,
     "Key Frame: 1 2 3 4 5 6 7 8 \nSize: 320x180\nDuration: 0.000 (00:00:00) BitRate: N\n", "", {}},
    {"FrameSizeChangeWhileSeeking", "large_first.ts", "-f 10 %", 0,
     "Key Frame: 1 2 3 4 \nSize: 320x180\ncrop=320:140:0:20\ndelogo=x=1:y=20:w=110:h=12 corner 0\nDuration: 8.001 (00:00:08) BitRate: N\n", "",
     {{"delogo_0.png", 112, 12, nullptr}}},
    {"FrameSizeChangeSmallFirst", "small_first.h264", "-f 10 %", 0,
     "Key Frame: 1 2 3 4 \nSize: 160x90\ndelogo=x=0:y=0:w=55:h=16 corner 0\nDuration: 0.000 (00:00:00) BitRate: N\n", "",
     {{"delogo_0.png", 56, 16, nullptr}}},
    {"EnormousClaimedFrameIsRefused", "huge.mkv", "-f 5 %", 1, "", "Cannot open video decoder\n", {}},
    {"TheFrameSizeCapLeavesRoomFor8K", "uhd.mkv", "-i %", 0, "uhd.mkv\n" + summary("", "7680x4320", "", 1), "", {}},
    // start + offset passes the 64-bit range in the last pass (the sanitizer build reports
    // any overflow).
    {"SeekPointsNearTheEndOfTheTimestampRange", "far.mkv", "-f 10 %", 0,
     "Key Frame: 1 2 3 4 5 6 7 8 9 10 \nSize: 160x90\ndelogo=x=0:y=0:w=55:h=16 corner 0\n"
     "Duration: 5000000000005.000 (596523:14:07) BitRate: N\n", "", {{"delogo_0.png", 56, 16, nullptr}}},
    {"HelpAsked", "", "--help", 0, help(64), "", {}},
    {"HelpShowsTheOptionsBeforeIt", "", "-f 10 --help", 0, help(10), "", {}},
    {"MissingFile", "", "missing.mkv", 1, "", open_error + "No such file or directory\n", {}},
    {"DirectoryAsFile", "folder.mkv", "%", 1, "", open_error + "Is a directory\n", {}},
    {"AudioOnly", "audio_only.mkv", "%", 1, "", "Cannot find a video stream in the input file\nError occurred: ", {}},
    // A leading dash (after "--"), and a colon that FFmpeg would otherwise read as a
    // protocol prefix.
    {"NameWithADash", "logo.mkv>-starts with a dash.mkv", "-f 5 -- %", 0, logo_run, "", {delogo_picture}},
    {"NameWithAProtocolPrefix", "logo.mkv>http:local.mkv", "-i %", 0,
     "http:local.mkv\n" + summary("", "160x90", "", 6), "", {}},
    // clang-format on
};

void PrintTo(const row& r, std::ostream* os) {
    *os << r.name;
}

class Run : public testing::TestWithParam<row> {};

TEST_P(Run, Table) {
    const row& r = GetParam();
    const std::string dir = fresh_dir("end_to_end_" + r.name);
    if (!r.video.empty()) {
        ASSERT_EQ(make_input(r.video, dir), "");
    }
    const std::string file = r.video.substr(r.video.find('>') + 1);
    lines inputs = {file};
    for (const auto& entry : fs::directory_iterator(dir)) // what making the input left
        inputs.push_back(entry.path().filename().string());

    std::vector<std::string> argv{DELOGO_BINARY};
    std::istringstream words(r.args);
    for (std::string word; words >> word;)
        argv.push_back(word == "%" ? file : word);
    const run_result got = run_argv(argv, dir, 120);
    EXPECT_EQ(got.status, r.status) << got.err;
    EXPECT_EQ(std::regex_replace(got.out, std::regex("BitRate: [0-9]+"), "BitRate: N"), r.out);
    EXPECT_NE(got.err.find(r.err), std::string::npos) << got.err;

    lines written, expected;
    for (const auto& entry : fs::directory_iterator(dir))
        if (std::find(inputs.begin(), inputs.end(), entry.path().filename()) == inputs.end())
            written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    for (const picture& p : r.pictures) {
        expected.push_back(p.name);
        decoded_image img;
        ASSERT_EQ(decode_image_file(dir + "/" + p.name, img), "");
        ASSERT_EQ(std::make_pair(img.width, img.height), std::make_pair(p.width, p.height));
        for (int i = 0; p.index && i < p.width * p.height; ++i) {
            ASSERT_EQ(img.index[i], p.index(i % p.width, i / p.width))
                << i % p.width << "," << i / p.width;
        }
    }
    EXPECT_EQ(written, expected);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Run, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<row>& info) { return info.param.name; });

// How delogo_1.png is set up before a run, how the tool is started, and what must hold
// of the file afterwards.
struct picture_case {
    std::string what;
    std::function<void(const std::string& picture)> setup;
    std::string start;      // "unprivileged", "read-only mount", "no file space" or ""
    std::string stderr_has; // the reason named on standard error, "" for none
    std::function<void(const std::string& picture)> check;
};

} // namespace

TEST(WorkingDirectory, PictureWrittenUnderItsOwnNameOrReportedOnStderr) {
    const std::string dir = fresh_dir("picture_name"), picture = dir + "/delogo_1.png";
    ASSERT_EQ(make_input("logo.mkv", dir), "");
    auto decodes = [](const std::string& path) {
        decoded_image img;
        EXPECT_EQ(decode_image_file(path, img), "") << path;
        EXPECT_EQ(img.width, 56) << path;
    };
    auto old = [](const std::string& p) { write_file(p, "old"); };
    auto with_mode = [&](fs::perms mode, fs::perms dir_mode = fs::perms(0755)) {
        return [=](const std::string& p) {
            old(p);
            fs::permissions(p, mode);
            fs::permissions(dir, dir_mode);
        };
    };
    using path = const std::string&;
    const std::vector<picture_case> cases = {
        // clang-format off
        {"a directory under the name", [](path p) { fs::create_directory(p); }, "",
         "Cannot write delogo_1.png: Is a directory", [](path p) { EXPECT_TRUE(fs::is_directory(p)); }},
        {"read-only directory", nullptr, "read-only mount",
         "Cannot write delogo_1.png: Read-only file system", [](path p) { EXPECT_FALSE(fs::exists(p)); }},
        {"a symbolic link is written through",
         [&](path p) { old(dir + "/target.png"); fs::create_symlink("target.png", p); }, "", "",
         [&](path p) { EXPECT_TRUE(fs::is_symlink(p)); decodes(dir + "/target.png"); }},
        {"a hard link stays one file", [&](path p) { old(p); fs::create_hard_link(p, dir + "/other.png"); },
         "", "", [&](path p) { EXPECT_EQ(fs::hard_link_count(p), 2u); decodes(dir + "/other.png"); }},
        {"the mode is kept", with_mode(fs::perms(0640)), "", "",
         [&](path p) { EXPECT_EQ(fs::status(p).permissions(), fs::perms(0640)); decodes(p); }},
        {"a writable picture in a directory that is not", with_mode(fs::perms(0666)), "unprivileged", "", decodes},
        {"a read-only picture is not replaced", with_mode(fs::perms(0444), fs::perms(0777)), "unprivileged",
         "Cannot write delogo_1.png: Permission denied", [](path p) { EXPECT_EQ(read_file(p), "old"); }},
        {"a write that fails leaves no partial picture", old, "no file space",
         "Cannot write delogo_1.png: File too large", [](path p) { EXPECT_FALSE(fs::exists(p)); }},
        // clang-format on
    };
    // Root writes through permission bits: such cases run the tool as nobody.
    const std::string nobody =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    for (const picture_case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::permissions(dir, fs::perms(0755));
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename() != "logo.mkv") fs::remove_all(entry.path());
        if (c.setup) c.setup(picture);
        std::string command = quoted(DELOGO_BINARY) + " -f 5 logo.mkv";
        if (c.start == "unprivileged") {
            if (run_command(nobody + "test -r logo.mkv", dir).status != 0) {
                std::cout << "skipped (" << c.what << "): cannot run as another user here\n";
                continue;
            }
            command = nobody + command;
        } else if (c.start == "no file space") {
            // An ignored SIGXFSZ stays ignored across exec: writes fail with EFBIG. The
            // output passes through pipes to writers outside the limit.
            command = "{ (trap '' XFSZ; ulimit -f 0; exec " + command +
                      ") 2>&1 1>&3 | cat >&2; } 3>&1 | cat";
        } else if (c.start == "read-only mount") {
            // The tool must start inside the mount: a working directory taken before it
            // still refers to the writable directory underneath.
            // Where no private mount namespace can be had (no root, a chroot whose root is
            // no mount point), the case skips.
            command = "unshare -m true 2>/dev/null || exit 77; unshare -m sh -c " +
                      quoted("mount --bind -o ro " + quoted(dir) + " " + quoted(dir) +
                             " 2>/dev/null || exit 77; cd " + quoted(dir) + " && " + command);
        }
        const run_result r = run_command(command, dir);
        if (r.status == 77 || r.status == 127) {
            std::cout << "skipped (" << c.what << "): no private read-only mount here\n";
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(crop_logo), std::string::npos) << r.out;
        EXPECT_EQ(lines_starting(r.err, "Cannot write"),
                  c.stderr_has.empty() ? lines{} : lines{c.stderr_has});
        c.check(picture);
    }
    fs::permissions(dir, fs::perms(0755));
}
