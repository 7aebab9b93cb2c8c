// Bad files and extreme command lines run through the built tool: damaged videos, inputs
// that are no video, awkward names and frame sizes, a frame size that changes mid-stream,
// a header claiming an enormous frame, a stream without duration, a working directory
// that cannot take the picture, and every option at and beyond its limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <tuple>

#include "helpers.h"

extern "C" {
#include <libavutil/log.h>
}

namespace fs = std::filesystem;
using lines = std::vector<std::string>;

namespace {

const std::string logo_line = "delogo=x=126:y=4:w=24:h=11 corner 1";

// 160 x 90 noise with black bars on the first and last four rows and a still logo of luma
// 235 on rows 8-13, columns 130-145: "crop=160:82:0:4" and `logo_line`.
video_recipe logo_video(int frames) {
    return pixel_video(160, 90, frames, [](int f, int x, int y) -> uint8_t {
        if (y < 4 || y >= 86) return 0;
        return y >= 8 && y <= 13 && x >= 130 && x <= 145 ? 235 : noise_luma(f, x, y);
    });
}

std::string logo_dir(const std::string& name) {
    std::string dir = fresh_dir(name);
    EXPECT_EQ(write_video(dir + "/logo.mkv", logo_video(6)), "");
    return dir;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Everything in `dir` but logo.mkv.
void clear_dir(const std::string& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != "logo.mkv") fs::remove_all(entry.path());
}

lines names_in(const std::string& dir) {
    lines names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string sh_quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Empty on success, else the log.
std::string ffmpeg(const std::string& args, const std::string& dir) {
    run_result r = run_command("ffmpeg -hide_banner -nostdin -v error -y " + args, dir);
    return r.status == 0 ? "" : "ffmpeg " + args + ": " + r.err;
}

// Annex B with in-band parameter sets and no timestamps; `name`.mkv is kept as well.
std::string h264_stream(const std::string& dir, const std::string& name, video_recipe recipe) {
    recipe.codec = video_codec::h264_gop;
    std::string error = write_video(dir + "/" + name + ".mkv", recipe);
    if (error.empty()) error = ffmpeg("-i " + name + ".mkv -c copy -f h264 " + name + ".h264", dir);
    EXPECT_EQ(error, "");
    return dir + "/" + name + ".h264";
}

std::string tail(const std::string& text) {
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

lines words(const std::string& text) {
    lines out;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// Exit status 0, or 1 with a message; no sanitizer report; every printed rectangle lies
// inside the frame of the "Size:" line; every picture in `dir` decodes and no temporary
// file is left. Returns the number of pictures checked.
int expect_clean_end(const run_result& r, const std::string& dir, const std::string& what) {
    EXPECT_TRUE(r.status == 0 ||
                (r.status == 1 && (contains(r.err, "Error occurred: ") ||
                                   contains(r.err, "Error callocing the gaussian"))))
        << what << ": status " << r.status << " (crashed, timed out or no message)\n"
        << tail(r.err);
    for (const char* report :
         {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error"})
        EXPECT_FALSE(contains(r.err, report)) << what << "\n" << tail(r.err);
    int width = 0, height = 0;
    for (const std::string& line : lines_starting(r.out, "")) {
        int x = -1, y = -1, w = 0, h = 0, corner = 0;
        if (sscanf(line.c_str(), "Size: %dx%d", &width, &height) == 2) continue;
        const bool crop = line.rfind("crop=", 0) == 0;
        if (!crop && line.rfind("delogo=", 0) != 0) continue;
        const bool parsed = crop ? sscanf(line.c_str(), "crop=%d:%d:%d:%d", &w, &h, &x, &y) == 4
                                 : sscanf(line.c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d", &x,
                                          &y, &w, &h, &corner) == 5;
        EXPECT_TRUE(parsed && w > 0 && h > 0 && x >= 0 && y >= 0 && x + w <= width &&
                    y + h <= height && corner >= 0 && corner <= 3)
            << what << ": " << line;
    }
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_directory()) continue;
        EXPECT_NE(ext, ".tmp") << what << ": " << entry.path();
        if (ext != ".png" && ext != ".pcx") continue;
        decoded_image picture;
        EXPECT_EQ(decode_image_file(entry.path().string(), picture), "")
            << what << ": " << entry.path();
        ++pictures;
    }
    return pictures;
}

// Runs the tool on `file` in `dir` ('' in `options` is an empty argument), expects exit
// `status` (any clean end when negative) and adds the pictures checked to `pictures`.
run_result run_checked(const std::string& dir, const std::string& options, const std::string& file,
                       int status = 0, int* pictures = nullptr) {
    const std::string what = options + " [" + file + "]";
    lines args = words(options);
    for (std::string& arg : args)
        if (arg == "''") arg.clear();
    args.push_back(file);
    run_result r = run_delogo(args, dir, 120);
    const int checked = expect_clean_end(r, dir, what);
    if (pictures) *pictures += checked;
    EXPECT_TRUE(status < 0 || r.status == status) << what << ": " << r.status << "\n"
                                                  << tail(r.err);
    return r;
}

// Kind 0 flips bits, 1 zeroes a range, 2 truncates. Half the flips and cuts hit the first
// KiB, where the container header, the track description and the parameter sets live.
std::string mutate(std::string bytes, int kind, uint64_t seed) {
    std::mt19937_64 rng(seed); // the same mutants on every platform and library
    auto below = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
    auto head_or_all = [&] {
        return below(2) ? std::min<size_t>(bytes.size(), 1024) : bytes.size();
    };
    if (kind == 0) {
        for (size_t k = 0, flips = 1 + below(8); k < flips; ++k) {
            size_t span = head_or_all();
            bytes[below(span)] ^= static_cast<char>(1u << below(8));
        }
    } else if (kind == 1) {
        size_t at = below(bytes.size());
        size_t length = std::min<size_t>(1 + below(256), bytes.size() - at);
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), length, '\0');
    } else {
        bytes.resize(below(head_or_all()));
    }
    return bytes;
}

// The encoders of the test videos report at length; only their errors matter here.
const bool quiet_encoders = (av_log_set_level(AV_LOG_ERROR), true);

} // namespace

TEST(BadFiles, MutatedVideosEndCleanly) {
    // Lossless FFV1, long-GOP MPEG-4 and H.264 with B-frames in Matroska, and the H.264
    // one remuxed into MPEG-TS.
    std::string src = fresh_dir("bad_files_sources");
    video_recipe recipe = logo_video(24);
    recipe.fps = recipe.gop = 6;
    lines sources;
    for (video_codec codec : {video_codec::ffv1, video_codec::mpeg4_gop, video_codec::h264_gop}) {
        recipe.codec = codec;
        recipe.frames = codec == video_codec::ffv1 ? 6 : 24;
        sources.push_back(src + "/src" + std::to_string(sources.size()) + ".mkv");
        ASSERT_EQ(write_video(sources.back(), recipe), "");
    }
    ASSERT_EQ(ffmpeg("-i src2.mkv -c copy -f mpegts src3.ts", src), "");
    sources.push_back(src + "/src3.ts");

    const lines option_sets = {"-f 5", "-y -f 5", "-m -X -f 5", "-a", "-2 -i"};
    const int mutants_of_kind[] = {5, 4, 6};
    std::string dir = fresh_dir("bad_files");
    int runs = 0, failed = 0, summaries = 0, pictures = 0;
    for (const std::string& source : sources) {
        const std::string original = read_file(source);
        ASSERT_GT(original.size(), 1000u) << source;
        const std::string input = "in" + fs::path(source).extension().string();
        for (int kind = 0; kind < 3; ++kind)
            for (int k = 0; k < mutants_of_kind[kind]; ++k, ++runs) {
                const uint64_t seed = 1000 * runs + 17;
                SCOPED_TRACE(source + " mutation " + std::to_string(kind) + " seed " +
                             std::to_string(seed));
                clear_dir(dir);
                write_file(dir + "/" + input, mutate(original, kind, seed));
                run_result r = run_checked(dir, option_sets[runs % 5], input, -1, &pictures);
                failed += r.status == 1;
                summaries += r.status == 0 && contains(r.out, "Size: ");
            }
    }
    // The campaign must reach both the error paths and the analysis, and write pictures.
    printf("%d mutants: %d refused with a message, %d summaries, %d pictures checked\n", runs,
           failed, summaries, pictures);
    EXPECT_EQ(runs, 60);
    EXPECT_GE(failed, 5);
    EXPECT_GE(summaries, 20);
    EXPECT_GE(pictures, 5);
}

TEST(Inputs, FilesThatAreNoVideoGiveAnOpenError) {
    std::string dir = fresh_dir("not_video");
    write_file(dir + "/empty.mkv", "");
    fs::create_directory(dir + "/folder.mkv");
    std::string junk(4096, '\0');
    std::mt19937_64 rng(7);
    for (char& c : junk)
        c = static_cast<char>(rng());
    write_file(dir + "/junk.ts", junk);
    for (const std::string name : {"empty.mkv", "folder.mkv", "junk.ts"}) {
        SCOPED_TRACE(name);
        run_result r = run_checked(dir, "", name, 1);
        EXPECT_TRUE(contains(r.err, "Cannot open input file\nError occurred: ")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(name != "folder.mkv" || contains(r.err, "Error occurred: Is a directory\n"));
    }
}

TEST(Inputs, AwkwardFileNames) {
    // A leading dash (after "--") and a colon, which FFmpeg would otherwise read as a
    // protocol prefix ("News" is no protocol, "http" is one).
    std::string dir = logo_dir("file_names");
    for (const std::string name :
         {"with blanks .mkv", "Nachrichten \xc3\xbc\xc3\x9f \xe6\x97\xa5\xe6\x9c\xac.mkv",
          "-starts with a dash.mkv", "News: 10pm.mkv", "http:local.mkv"}) {
        clear_dir(dir);
        fs::copy_file(dir + "/logo.mkv", dir + "/" + name);
        EXPECT_EQ(run_checked(dir, "-i --", name).out.substr(0, name.size() + 14),
                  name + "\nSize: 160x90\n");
        EXPECT_EQ(lines_starting(run_checked(dir, "-f 5 --", name).out, "delogo="),
                  lines{logo_line});
        EXPECT_TRUE(fs::is_regular_file(dir + "/delogo_1.png")) << name;
    }
    // A missing file whose name has a colon still gets FFmpeg's own answer.
    run_checked(dir, "", "Nowhere: 1.mkv", 1);
}

TEST(Inputs, TinyAndOddFrameSizes) {
    // Bands and corner regions of zero, one or a few pixels in every mode; the sanitizer
    // build catches any access outside the band images.
    std::string dir = fresh_dir("tiny_frames");
    const lines option_sets = {"",          "-y",
                               "-m",        "-2 -X",
                               "-a",        "-W 48 -H 48 -y",
                               "-W 3 -H 3", "-W 48 -H 48 -m -k 100 -z 20"};
    for (auto [width, height] : {std::pair{2, 2}, {16, 16}, {33, 17}}) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const std::string video = dir + "/" + size + ".mkv";
        ASSERT_EQ(write_video(video, pixel_video(width, height, 6, noise_luma)), "") << size;
        for (const std::string& options : option_sets) {
            run_result r = run_checked(dir, "-f 5 " + options, video);
            EXPECT_EQ(lines_starting(r.out, "Size: "), lines{"Size: " + size}) << options;
            if (!options.empty()) continue;
            // Noise everywhere: nothing dark, nothing still.
            EXPECT_EQ(r.out.substr(0, r.out.find(" BitRate: ")),
                      "Key Frame: 1 2 3 4 5 \nSize: " + size + "\nDuration: 6.000 (00:00:06)");
        }
    }
}

TEST(Inputs, FrameSizeChangingMidStreamKeepsTheOpeningSize) {
    // Two H.264 parts of different sizes back to back in Matroska, MPEG-TS and a raw
    // stream: only frames of the size the decoder opened with are samples. The 320 x 180
    // part has bars of 20 rows and four key frames; the 160 x 90 part is bright.
    std::string dir = fresh_dir("size_change");
    video_recipe large = pixel_video(
        320, 180, 48, [](int, int, int y) -> uint8_t { return y < 20 || y >= 160 ? 0 : 128; });
    video_recipe small = pixel_video(160, 90, 48, [](int, int, int) -> uint8_t { return 200; });
    for (video_recipe* s : {&large, &small})
        s->fps = s->gop = 12;
    const std::string large_part = read_file(h264_stream(dir, "large", large));
    const std::string small_part = read_file(h264_stream(dir, "small", small));
    ASSERT_FALSE(large_part.empty() || small_part.empty());
    ASSERT_EQ(ffmpeg("-i large.mkv -c copy large.ts", dir), "");
    ASSERT_EQ(ffmpeg("-i small.mkv -c copy small.ts", dir), "");

    for (bool large_first : {true, false}) {
        write_file(dir + "/list.txt", large_first ? "file large.ts\nfile small.ts\n"
                                                  : "file small.ts\nfile large.ts\n");
        ASSERT_EQ(ffmpeg("-f concat -i list.txt -c copy joined.mkv", dir), "");
        ASSERT_EQ(ffmpeg("-f concat -i list.txt -c copy joined.ts", dir), "");
        write_file(dir + "/joined.h264",
                   large_first ? large_part + small_part : small_part + large_part);
        const lines size{large_first ? "Size: 320x180" : "Size: 160x90"};
        const lines crop = large_first ? lines{"crop=320:140:0:20"} : lines{};
        for (const char* file : {"joined.mkv", "joined.ts", "joined.h264"}) {
            for (const std::string mode : {"-f 10", "-a", "-i"}) {
                SCOPED_TRACE(mode + " " + file + (large_first ? " large first" : ""));
                run_result r = run_checked(dir, mode, file);
                EXPECT_EQ(lines_starting(r.out, "Size: "), size);
                if (mode == "-i") continue;
                EXPECT_TRUE(contains(r.out, "Key Frame: 1 2 ")) << r.out;
                EXPECT_EQ(lines_starting(r.out, "crop="), crop);
                // In order from the start: the first part's four key frames, then the
                // other part's are passed over up to the end of the file.
                if (mode != "-a") continue;
                EXPECT_EQ(lines_starting(r.out, "Key Frame: "), lines{"Key Frame: 1 2 3 4 "});
            }
        }
    }
}

TEST(Inputs, EnormousClaimedFrameIsRefused) {
    // FFV1 takes its frame size from the container: a 400 x 300 track header patched to
    // 12000 x 12000 passes FFmpeg's own checks but not the tool's cap.
    std::string dir = fresh_dir("enormous_frame");
    auto flat = [](int, int, int) -> uint8_t { return 128; };
    ASSERT_EQ(write_video(dir + "/v.mkv", pixel_video(400, 300, 3, flat)), "");
    std::string bytes = read_file(dir + "/v.mkv");
    for (const std::string& element : {std::string("\xB0\x82\x01\x90", 4),    // PixelWidth 400
                                       std::string("\xBA\x82\x01\x2C", 4)}) { // PixelHeight 300
        const size_t at = bytes.find(element);
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(bytes.find(element, at + 1), std::string::npos);
        bytes.replace(at + 2, 2, "\x2E\xE0", 2);
    }
    write_file(dir + "/huge.mkv", bytes);
    for (const char* options : {"-f 5", "-i", "-a"}) {
        run_result r = run_checked(dir, options, "huge.mkv", 1);
        EXPECT_TRUE(contains(r.err, "Cannot open video decoder\n")) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // The cap leaves room for 8K.
    video_recipe uhd =
        pixel_video(7680, 4320, 2, [](int, int, int y) -> uint8_t { return y < 100 ? 0 : 128; });
    uhd.codec = video_codec::mpeg4_gop;
    ASSERT_EQ(write_video(dir + "/uhd.mkv", uhd), "");
    EXPECT_EQ(lines_starting(run_checked(dir, "-i", "uhd.mkv").out, "Size: "),
              lines{"Size: 7680x4320"});
}

TEST(Inputs, StreamWithoutDurationIsSampledFromTheStart) {
    // A raw H.264 stream has no duration: the key frames are taken in order. Only the
    // first five of eight key frames have a 20-row bar on top, so any later key frame
    // would undo the crop; the level alternates per group so nothing stays still.
    std::string dir = fresh_dir("no_duration");
    video_recipe recipe = pixel_video(320, 180, 48, [](int f, int, int y) -> uint8_t {
        return f % 6 == 0 && f / 6 < 5 && y < 20 ? 0 : (f / 6) % 2 ? 220 : 100;
    });
    recipe.fps = recipe.gop = 6;
    const std::string stream = h264_stream(dir, "raw", recipe);
    const std::string no_duration = "Duration: 0.000 (00:00:00) BitRate: 0\n";
    EXPECT_EQ(run_checked(dir, "-f 5", stream).out,
              "Key Frame: 1 2 3 4 5 \nSize: 320x180\ncrop=320:160:0:20\n" + no_duration);
    // Fewer key frames than passes: sampling ends at the end of the stream.
    run_result r = run_checked(dir, "-f 20", stream);
    EXPECT_EQ(lines_starting(r.out, "Key Frame: "), lines{"Key Frame: 1 2 3 4 5 6 7 8 "});
    EXPECT_EQ(lines_starting(r.out, "crop=").size(), 0u);
    EXPECT_EQ(run_checked(dir, "-i", stream).out, stream + "\nSize: 320x180\n" + no_duration);
}

TEST(WorkingDirectory, UnwritablePictureStillPrintsTheLines) {
    // A non-empty directory under the picture's name stops the final rename; one under
    // the temporary name stops the file from being created. Tests run as root, which
    // writes through permission bits, so a read-only bind mount of the directory in a
    // private mount namespace makes it unwritable. Without mount namespaces (no root, or a
    // chroot whose root is no mount point) those cases skip.
    std::string dir = logo_dir("unwritable");
    for (const auto& [blocker, options, line] :
         {std::tuple<std::string, std::string, std::string>{"delogo_1.png", "-f 5", logo_line},
          {"delogo_1.png.tmp", "-f 5", logo_line},
          {"", "-f 5", logo_line},
          {"", "-f 5 -m -X", "removelogo=removelogo_1.pcx"}}) {
        SCOPED_TRACE(blocker + " " + options);
        clear_dir(dir);
        std::string command = "cd " + sh_quoted(dir) + " && exec " + sh_quoted(DELOGO_BINARY) +
                              " " + options + " logo.mkv";
        if (blocker.empty()) {
            command = "unshare -m true || exit 77; unshare -m sh -c " +
                      sh_quoted("mount --bind -o ro " + sh_quoted(dir) + " " + sh_quoted(dir) +
                                " 2>/dev/null || exit 77; " + command);
        } else {
            fs::create_directories(dir + "/" + blocker);
            write_file(dir + "/" + blocker + "/keep", "x");
        }
        run_result r = run_command(command, dir);
        if (r.status == 77 || r.status == 127)
            GTEST_SKIP() << "no private read-only mount here: " << r.err;
        expect_clean_end(r, dir, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines_starting(r.out, "crop="), lines{"crop=160:82:0:4"});
        EXPECT_EQ(lines_starting(r.out, line.substr(0, line.find('=') + 1)), lines{line});
        EXPECT_TRUE(contains(r.out, "Duration: 6.000 (00:00:06)")) << r.out;
        EXPECT_EQ(names_in(dir),
                  (blocker.empty() ? lines{"logo.mkv"} : lines{blocker, "logo.mkv"}));
        EXPECT_EQ(read_file(dir + "/" + blocker + "/keep"), blocker.empty() ? "" : "x");
    }
}

TEST(OptionLimits, OutOfRangeAndMalformedValuesRunAsTheDefaults) {
    // Out of range, not a number, empty, 32-bit wrap-around and trailing garbage after an
    // in-range number all fall back to the default: the default run's output exactly.
    std::string dir = logo_dir("option_fallbacks");
    auto run = [&](const std::string& options) {
        return run_checked(dir, options, "logo.mkv").out;
    };
    const std::string plain = run("-f 5"), canny = run("-y -f 5"), sixty_four = run("");
    ASSERT_TRUE(contains(plain, logo_line + "\n")) << plain;
    ASSERT_TRUE(contains(canny, "delogo=")) << canny;
    ASSERT_TRUE(contains(sixty_four, " 64 \n")) << sixty_four;
    // Each row: an option, then the values to try.
    const std::vector<std::tuple<std::string, std::string, lines>> fallbacks = {
        {plain,
         "-f 5",
         {"-W 2 49 -0 '' nan 35% 4294967331", "-H 2 49 1e3 -18", "-b 0 256 -1", "-d 0 256 inf",
          "-k -1 101", "-z -1 21", "-r -1 101 nan", "-c 4 -1", "-s inf 1e999", "-t 999"}},
        {plain, "", {"-f 5abc 4294967301"}},
        {canny,
         "-y -f 5",
         {"-t 256 -1", "-s -1 nan -inf -1e999 1.2xyz", "-l 0 -0 1.5 nan inf ''",
          "-h 0 2 nan 1e999 -0 0.8junk"}},
        {sixty_four, "", {"-f 4 501 '' -0 nan 4294967360 0x10"}}};
    for (const auto& [expected, base, rows] : fallbacks)
        for (const std::string& row : rows) {
            const lines parts = words(row);
            for (size_t k = 1; k < parts.size(); ++k) {
                const std::string options = base + " " + parts[0] + " " + parts[k];
                EXPECT_EQ(run(options), expected) << options;
            }
        }
}

TEST(OptionLimits, ValuesAtTheLimitsGiveSaneOutput) {
    std::string dir = logo_dir("option_limits");
    const std::vector<lines> groups = {
        {"-f 500", "-r 100", "-c 0", "-c 3 -2", "-b 1 -d 1", "-b 255 -d 255"},
        {"-W 3 -H 3", "-W 48 -H 48", "-W 48 -H 48 -m -X", "-a -W 3 -H 48"},
        {"-k 0 -z 0 -2", "-k 100 -z 20 -2", "-y -W 3 -H 3 -2", "-y -W 48 -H 48 -m"},
        {"-y -t 0", "-y -t 255", "-y -l 1e-45 -h 1e-45", "-y -l 1 -h 1", "-a -s inf"},
        {"-y -s 0", "-y -s -0", "-y -s ''", "-y -s 1e-30", "-y -s 100"}};
    for (const lines& group : groups)
        for (const std::string& options : group) {
            clear_dir(dir);
            run_result r =
                run_checked(dir, (options[1] == 'f' ? "" : "-f 5 ") + options, "logo.mkv");
            EXPECT_EQ(lines_starting(r.out, "Size: "), lines{"Size: 160x90"}) << options;
            EXPECT_EQ(lines_starting(r.out, "Duration: ").size(), 1u) << options;
        }
}

TEST(OptionLimits, InfiniteOrHugeSigmaEndsWithTheKernelMessage) {
    // An infinite sigma, or one whose kernel size does not fit an int: no kernel, no picture.
    std::string dir = logo_dir("huge_sigma");
    for (const std::string sigma : {"inf", "1e999", "1e30", "3e9"}) {
        clear_dir(dir);
        run_result r = run_checked(dir, "-y -f 5 -s " + sigma, "logo.mkv", 1);
        EXPECT_TRUE(contains(r.err, "Error callocing the gaussian kernel array.\n")) << sigma;
        EXPECT_EQ(lines_starting(r.out, "delogo=").size(), 0u) << sigma;
        EXPECT_EQ(names_in(dir), lines{"logo.mkv"}) << sigma;
    }
}
