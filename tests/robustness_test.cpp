// Bad files and extreme command lines run through the built tool: damaged videos, inputs
// that are no video, awkward names and frame sizes, a frame size that changes mid-stream,
// a header claiming an enormous frame, a stream without duration, a working directory
// that cannot take the picture, and every option at and beyond its limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "helpers.h"

extern "C" {
#include <libavutil/log.h>
}

namespace fs = std::filesystem;

namespace {

// ---- Inputs ----------------------------------------------------------------------------

// Noise that changes every pixel between frames, black bars on the first and last four
// rows, and a still logo of luma 235 on rows 8-13, columns 130-145 (for 160 x 90 frames:
// the tool prints crop=160:82:0:4 and delogo=x=126:y=4:w=24:h=11 corner 1).
void logo_luma(int width, int height, int f, uint8_t* luma, int stride) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t v = noise_luma(f, x, y);
            if (y < 4 || y >= height - 4) v = 0;
            if (y >= 8 && y <= 13 && x >= width - 30 && x <= width - 15) v = 235;
            luma[y * stride + x] = v;
        }
}

video_recipe logo_spec(int width, int height, int frames) {
    video_recipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.luma = [=](int f, uint8_t* luma, int stride) {
        logo_luma(width, height, f, luma, stride);
    };
    return recipe;
}

// Flat luma `level` with black rows where `dark(y)` holds.
video_recipe flat_spec(int width, int height, int frames, uint8_t level,
                       std::function<bool(int)> dark) {
    video_recipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.luma = [=](int, uint8_t* luma, int stride) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                luma[y * stride + x] = dark(y) ? 0 : level;
    };
    return recipe;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Single quotes for /bin/sh.
std::string sh_quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the ffmpeg command in `dir`; empty on success, else its log.
std::string ffmpeg(const std::string& args, const std::string& dir) {
    run_result r = run_command("ffmpeg -hide_banner -nostdin -v error -y " + args, dir);
    return r.status == 0 ? "" : "ffmpeg " + args + ": " + r.err;
}

// An H.264 elementary stream (Annex B, in-band parameter sets, no timestamps) of a video.
std::string h264_stream(const std::string& dir, const std::string& name,
                        const video_recipe& recipe) {
    video_recipe h264 = recipe;
    h264.codec = video_codec::h264_gop;
    std::string error = write_video(dir + "/" + name + ".mkv", h264);
    if (error.empty()) error = ffmpeg("-i " + name + ".mkv -c copy -f h264 " + name + ".h264", dir);
    EXPECT_EQ(error, "");
    return dir + "/" + name + ".h264";
}

// ---- What every run must leave -----------------------------------------------------

std::string tail(const std::string& text) {
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Exit status 0, or 1 with a message; no sanitizer report; every picture in `dir` decodes
// and no temporary file is left. Returns the number of pictures checked.
int expect_clean_end(const run_result& r, const std::string& dir, const std::string& what) {
    EXPECT_TRUE(r.status == 0 || r.status == 1)
        << what << ": status " << r.status << " (killed, crashed or timed out)\n"
        << tail(r.err);
    if (r.status == 1) {
        EXPECT_TRUE(contains(r.err, "Error occurred: ") ||
                    contains(r.err, "Error callocing the gaussian kernel array.\n"))
            << what << ": exit 1 without a message\n"
            << tail(r.err);
    }
    for (const char* report :
         {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error"})
        EXPECT_FALSE(contains(r.err, report)) << what << "\n" << tail(r.err);
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        EXPECT_NE(ext, ".tmp") << what << ": " << entry.path();
        if ((ext == ".png" || ext == ".pcx") && entry.is_regular_file()) {
            decoded_image picture;
            EXPECT_EQ(decode_image_file(entry.path().string(), picture), "")
                << what << ": " << entry.path();
            ++pictures;
        }
    }
    return pictures;
}

// Every printed rectangle lies inside the frame of the "Size:" line.
void expect_lines_inside_frame(const std::string& out, const std::string& what) {
    auto sizes = lines_starting(out, "Size: ");
    if (sizes.empty()) return;
    int width = 0, height = 0;
    ASSERT_EQ(sscanf(sizes[0].c_str(), "Size: %dx%d", &width, &height), 2) << what;
    for (const std::string& line : lines_starting(out, "crop=")) {
        int w, h, x, y;
        ASSERT_EQ(sscanf(line.c_str(), "crop=%d:%d:%d:%d", &w, &h, &x, &y), 4) << line;
        EXPECT_TRUE(w > 0 && h > 0 && x >= 0 && y >= 0 && x + w <= width && y + h <= height)
            << what << ": " << line;
    }
    for (const std::string& line : lines_starting(out, "delogo=")) {
        int x, y, w, h, corner;
        ASSERT_EQ(
            sscanf(line.c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d", &x, &y, &w, &h, &corner),
            5)
            << line;
        EXPECT_TRUE(w > 0 && h > 0 && x >= 0 && y >= 0 && x + w <= width && y + h <= height &&
                    corner >= 0 && corner <= 3)
            << what << ": " << line;
    }
}

void clear_dir_except(const std::string& dir, const std::set<std::string>& keep) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (!keep.count(entry.path().filename().string())) fs::remove_all(entry.path());
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// ---- Mutations ---------------------------------------------------------------------

// splitmix64: the same mutants on every platform and library.
struct mutation_rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
};

enum class mutation { flip_bits, zero_range, truncate };

// One mutant of `bytes`. Half the bit flips and cuts hit the first KiB, where the
// container header, the track description and the codec's parameter sets live.
std::string mutate(std::string bytes, mutation kind, uint64_t seed) {
    mutation_rng rng{seed};
    switch (kind) {
    case mutation::flip_bits: {
        const size_t flips = 1 + rng.below(8);
        for (size_t k = 0; k < flips; ++k) {
            size_t span = rng.below(2) ? std::min<size_t>(bytes.size(), 1024) : bytes.size();
            bytes[rng.below(span)] ^= static_cast<char>(1u << rng.below(8));
        }
        break;
    }
    case mutation::zero_range: {
        size_t at = rng.below(bytes.size());
        size_t length = std::min<size_t>(1 + rng.below(256), bytes.size() - at);
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), length, '\0');
        break;
    }
    case mutation::truncate: {
        // Half the cuts fall inside the headers, half anywhere.
        size_t span = rng.below(2) ? std::min<size_t>(bytes.size(), 1024) : bytes.size();
        bytes.resize(rng.below(span));
        break;
    }
    }
    return bytes;
}

// The encoders of the test videos report at length; only their errors matter here.
const bool quiet_encoders = [] {
    av_log_set_level(AV_LOG_ERROR);
    return true;
}();

} // namespace

// ---- Bad-file campaign -------------------------------------------------------------

TEST(BadFiles, MutatedVideosEndCleanly) {
    // Four small sources: lossless FFV1, long-GOP MPEG-4 and H.264 with B-frames in
    // Matroska, and the H.264 one remuxed into MPEG-TS. Each gets bit flips, zeroed
    // ranges and truncations at fixed seeds, run with a rotating set of options.
    std::string src = fresh_dir("bad_files_sources");
    std::vector<std::string> sources;
    video_recipe recipe = logo_spec(160, 90, 24);
    recipe.fps = 6;
    recipe.gop = 6;
    for (video_codec codec : {video_codec::ffv1, video_codec::mpeg4_gop, video_codec::h264_gop}) {
        video_recipe s = recipe;
        s.codec = codec;
        if (codec == video_codec::ffv1) s.frames = 6;
        std::string name = "src" + std::to_string(sources.size()) + ".mkv";
        ASSERT_EQ(write_video(src + "/" + name, s), "");
        sources.push_back(src + "/" + name);
    }
    ASSERT_EQ(ffmpeg("-i src2.mkv -c copy -f mpegts src3.ts", src), "");
    sources.push_back(src + "/src3.ts");

    const std::vector<std::vector<std::string>> option_sets = {
        {"-f", "5"}, {"-y", "-f", "5"}, {"-m", "-X", "-f", "5"}, {"-a"}, {"-2", "-i"}};
    const std::vector<std::pair<mutation, int>> plan = {
        {mutation::flip_bits, 5}, {mutation::zero_range, 4}, {mutation::truncate, 6}};

    std::string dir = fresh_dir("bad_files");
    int runs = 0, failed = 0, summaries = 0, pictures = 0;
    for (const std::string& source : sources) {
        const std::string original = read_file(source);
        ASSERT_GT(original.size(), 1000u) << source;
        const std::string input = "in" + fs::path(source).extension().string();
        for (const auto& [kind, count] : plan) {
            for (int k = 0; k < count; ++k) {
                const uint64_t seed = 1000 * runs + 17;
                clear_dir_except(dir, {});
                write_file(dir + "/" + input, mutate(original, kind, seed));
                std::vector<std::string> args = option_sets[runs % option_sets.size()];
                args.push_back(input);
                const std::string what = fs::path(source).filename().string() + " mutation " +
                                         std::to_string(static_cast<int>(kind)) + " seed " +
                                         std::to_string(seed);
                run_result r = run_delogo(args, dir, 120);
                pictures += expect_clean_end(r, dir, what);
                expect_lines_inside_frame(r.out, what);
                failed += r.status == 1;
                summaries += r.status == 0 && contains(r.out, "Size: ");
                ++runs;
            }
        }
    }
    // The campaign must reach both the error paths and the analysis, and write pictures.
    printf("%d mutants: %d refused with a message, %d summaries, %d pictures checked\n", runs,
           failed, summaries, pictures);
    EXPECT_EQ(runs, 60);
    EXPECT_GE(failed, 5) << summaries << " summaries, " << pictures << " pictures";
    EXPECT_GE(summaries, 20) << failed << " failed, " << pictures << " pictures";
    EXPECT_GE(pictures, 5) << failed << " failed, " << summaries << " summaries";
}

// ---- Input matrix --------------------------------------------------------------------

TEST(Inputs, FilesThatAreNoVideoGiveAnOpenError) {
    std::string dir = fresh_dir("not_video");
    write_file(dir + "/empty.mkv", "");
    fs::create_directory(dir + "/folder.mkv");
    std::string junk(4096, '\0');
    mutation_rng rng{7};
    for (char& c : junk)
        c = static_cast<char>(rng.next());
    write_file(dir + "/junk.ts", junk);
    for (const char* name : {"empty.mkv", "folder.mkv", "junk.ts"}) {
        run_result r = run_delogo({name}, dir, 60);
        EXPECT_EQ(r.status, 1) << name << "\n" << r.err;
        EXPECT_TRUE(contains(r.err, "Cannot open input file\n")) << name << "\n" << r.err;
        EXPECT_TRUE(contains(r.err, "Error occurred: ")) << name;
        EXPECT_EQ(r.out, "") << name;
        expect_clean_end(r, dir, name);
    }
    run_result r = run_delogo({"folder.mkv"}, dir);
    EXPECT_TRUE(contains(r.err, "Error occurred: Is a directory\n")) << r.err;
}

TEST(Inputs, AwkwardFileNames) {
    // Blanks, non-ASCII letters, a leading dash (after "--") and a colon, which FFmpeg
    // would otherwise read as a protocol prefix ("News" is no protocol, "http" is one).
    std::string dir = fresh_dir("file_names");
    ASSERT_EQ(write_video(dir + "/source.mkv", logo_spec(160, 90, 6)), "");
    for (const std::string name :
         {"with blanks .mkv", "Nachrichten \xc3\xbc\xc3\x9f \xe6\x97\xa5\xe6\x9c\xac.mkv",
          "-starts with a dash.mkv", "News: 10pm.mkv", "http:local.mkv"}) {
        clear_dir_except(dir, {"source.mkv"});
        fs::copy_file(dir + "/source.mkv", dir + "/" + name);
        run_result r = run_delogo({"-i", "--", name}, dir, 60);
        EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
        EXPECT_EQ(r.out.substr(0, name.size() + 14), name + "\nSize: 160x90\n") << r.out;
        r = run_delogo({"-f", "5", "--", name}, dir, 60);
        EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
        EXPECT_EQ(lines_starting(r.out, "delogo="),
                  std::vector<std::string>{"delogo=x=126:y=4:w=24:h=11 corner 1"})
            << name;
        EXPECT_TRUE(fs::is_regular_file(dir + "/delogo_1.png")) << name;
        expect_clean_end(r, dir, name);
    }
    // A missing file whose name has a colon still gets FFmpeg's own answer.
    run_result r = run_delogo({"Nowhere: 1.mkv"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Error occurred: ")) << r.err;
}

TEST(Inputs, TinyAndOddFrameSizes) {
    // Bands and corner regions of zero, one or a few pixels, with every mode: a clean end
    // and no access outside the band images (the sanitizer build checks that). Noise that
    // never stays still gives no crop and no logo.
    std::string dir = fresh_dir("tiny_frames");
    const std::vector<std::vector<std::string>> option_sets = {
        {},
        {"-y"},
        {"-m"},
        {"-2", "-X"},
        {"-a"},
        {"-W", "48", "-H", "48", "-y"},
        {"-W", "3", "-H", "3"},
        {"-W", "48", "-H", "48", "-m", "-k", "100", "-z", "20"}};
    for (auto [width, height] : {std::pair{2, 2}, {16, 16}, {33, 17}}) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        video_recipe recipe;
        recipe.width = width;
        recipe.height = height;
        recipe.frames = 6;
        recipe.luma = [=](int f, uint8_t* luma, int stride) {
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    luma[y * stride + x] = noise_luma(f, x, y);
        };
        const std::string video = dir + "/" + size + ".mkv";
        ASSERT_EQ(write_video(video, recipe), "") << size;
        for (std::vector<std::string> args : option_sets) {
            args.insert(args.begin(), {"-f", "5"});
            args.push_back(video);
            run_result r = run_delogo(args, dir, 120);
            std::string what = size;
            for (const std::string& a : args)
                what += " " + a;
            expect_clean_end(r, dir, what);
            EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
            EXPECT_EQ(lines_starting(r.out, "Size: "), std::vector<std::string>{"Size: " + size})
                << what;
            expect_lines_inside_frame(r.out, what);
        }
        // Noise everywhere: nothing dark, nothing still.
        run_result r = run_delogo({"-f", "5", video}, dir, 120);
        std::string out = r.out.substr(0, r.out.find(" BitRate: "));
        EXPECT_EQ(out, "Key Frame: 1 2 3 4 5 \nSize: " + size + "\nDuration: 6.000 (00:00:06)");
    }
}

TEST(Inputs, FrameSizeChangingMidStreamKeepsTheOpeningSize) {
    // Two H.264 streams of different sizes back to back, joined into Matroska, MPEG-TS
    // and a raw stream: the decoder switches size at the second part's parameter sets. Only
    // frames of the size the decoder opened with are samples. The 320 x 180 part has bars
    // of 20 rows (crop=320:140:0:20) and four key frames; the 160 x 90 part is bright.
    std::string dir = fresh_dir("size_change");
    auto bars = [](int y) { return y < 20 || y >= 160; };
    video_recipe large = flat_spec(320, 180, 48, 128, bars);
    video_recipe small = flat_spec(160, 90, 48, 200, [](int) { return false; });
    for (video_recipe* s : {&large, &small}) {
        s->fps = 12;
        s->gop = 12;
    }
    const std::string large_part = read_file(h264_stream(dir, "large", large));
    const std::string small_part = read_file(h264_stream(dir, "small", small));
    ASSERT_FALSE(large_part.empty());
    ASSERT_FALSE(small_part.empty());
    ASSERT_EQ(ffmpeg("-i large.mkv -c copy large.ts", dir), "");
    ASSERT_EQ(ffmpeg("-i small.mkv -c copy small.ts", dir), "");

    for (bool large_first : {true, false}) {
        // The concat demuxer joins the MPEG-TS parts (parameter sets in-band) without
        // re-encoding; the elementary streams are simply put end to end.
        write_file(dir + "/list.txt", large_first ? "file large.ts\nfile small.ts\n"
                                                  : "file small.ts\nfile large.ts\n");
        ASSERT_EQ(ffmpeg("-f concat -i list.txt -c copy joined.mkv", dir), "");
        ASSERT_EQ(ffmpeg("-f concat -i list.txt -c copy joined.ts", dir), "");
        write_file(dir + "/joined.h264",
                   large_first ? large_part + small_part : small_part + large_part);
        const std::string size = large_first ? "Size: 320x180" : "Size: 160x90";
        const std::vector<std::string> crop = large_first
                                                  ? std::vector<std::string>{"crop=320:140:0:20"}
                                                  : std::vector<std::string>{};
        for (const char* file : {"joined.mkv", "joined.ts", "joined.h264"}) {
            const std::string what = std::string(file) + (large_first ? " large first" : "");
            for (const std::vector<std::string>& options :
                 {std::vector<std::string>{"-f", "10"}, {"-a"}, {"-i"}}) {
                std::vector<std::string> args = options;
                args.push_back(file);
                run_result r = run_delogo(args, dir, 120);
                expect_clean_end(r, dir, what + " " + options[0]);
                EXPECT_EQ(r.status, 0) << what << " " << options[0] << "\n" << tail(r.err);
                EXPECT_EQ(lines_starting(r.out, "Size: "), std::vector<std::string>{size})
                    << what << " " << options[0];
                if (options[0] == "-i") continue;
                EXPECT_TRUE(contains(r.out, "Key Frame: 1 2 ")) << what << "\n" << r.out;
                EXPECT_EQ(lines_starting(r.out, "crop="), crop) << what << " " << options[0];
                if (options[0] == "-a") {
                    // In order from the start: the first part's four key frames, then the
                    // other part's are passed over up to the end of the file.
                    EXPECT_EQ(lines_starting(r.out, "Key Frame: "),
                              std::vector<std::string>{"Key Frame: 1 2 3 4 "})
                        << what;
                }
            }
        }
    }
}

TEST(Inputs, EnormousClaimedFrameIsRefused) {
    // A lossless 400 x 300 video whose Matroska track header is patched to claim a larger
    // frame (FFV1 takes its frame size from the container): 12000 x 12000 is within what
    // FFmpeg's own checks allow but beyond the tool's cap.
    std::string dir = fresh_dir("enormous_frame");
    ASSERT_EQ(write_video(dir + "/v.mkv", flat_spec(400, 300, 3, 128, [](int) { return false; })),
              "");
    const std::string original = read_file(dir + "/v.mkv");
    const std::string width_element("\xB0\x82\x01\x90", 4);  // PixelWidth 400
    const std::string height_element("\xBA\x82\x01\x2C", 4); // PixelHeight 300
    auto patched = [&](const char* width, const char* height) {
        std::string bytes = original;
        size_t w = bytes.find(width_element), h = bytes.find(height_element);
        EXPECT_NE(w, std::string::npos);
        EXPECT_NE(h, std::string::npos);
        EXPECT_EQ(bytes.find(width_element, w + 1), std::string::npos);
        bytes.replace(w + 2, 2, width, 2);
        bytes.replace(h + 2, 2, height, 2);
        return bytes;
    };
    write_file(dir + "/huge.mkv", patched("\x2E\xE0", "\x2E\xE0")); // 12000 x 12000

    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-f", "5"}, {"-i"}, {"-a"}}) {
        std::vector<std::string> args = options;
        args.push_back("huge.mkv");
        run_result r = run_delogo(args, dir, 60);
        expect_clean_end(r, dir, "huge " + options[0]);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.err, "Cannot open video decoder\n")) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // The cap leaves room for 8K.
    video_recipe uhd = flat_spec(7680, 4320, 2, 128, [](int y) { return y < 100; });
    uhd.codec = video_codec::mpeg4_gop;
    ASSERT_EQ(write_video(dir + "/uhd.mkv", uhd), "");
    run_result r = run_delogo({"-i", "uhd.mkv"}, dir, 120);
    expect_clean_end(r, dir, "uhd");
    EXPECT_EQ(r.status, 0) << tail(r.err);
    EXPECT_EQ(lines_starting(r.out, "Size: "), std::vector<std::string>{"Size: 7680x4320"});
}

TEST(Inputs, StreamWithoutDurationIsSampledFromTheStart) {
    // A raw H.264 stream has no duration: the key frames are taken in order. Eight groups
    // of six frames with B-frames; only the first five key frames have a 20-row bar on
    // top, so five samples in order crop it and any later key frame would undo the crop.
    std::string dir = fresh_dir("no_duration");
    video_recipe recipe;
    recipe.width = 320;
    recipe.height = 180;
    recipe.frames = 48;
    recipe.fps = 6;
    recipe.gop = 6;
    recipe.luma = [](int f, uint8_t* luma, int stride) {
        const bool barred = f % 6 == 0 && f / 6 < 5;
        const uint8_t level = (f / 6) % 2 ? 220 : 100; // nothing stays still
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 320; ++x)
                luma[y * stride + x] = barred && y < 20 ? 0 : level;
    };
    const std::string stream = h264_stream(dir, "raw", recipe);
    run_result r = run_delogo({"-f", "5", stream}, dir, 120);
    expect_clean_end(r, dir, "raw -f 5");
    EXPECT_EQ(r.status, 0) << tail(r.err);
    EXPECT_EQ(r.out, "Key Frame: 1 2 3 4 5 \n"
                     "Size: 320x180\n"
                     "crop=320:160:0:20\n"
                     "Duration: 0.000 (00:00:00) BitRate: 0\n");
    // Fewer key frames than passes: sampling ends at the end of the stream.
    r = run_delogo({"-f", "20", stream}, dir, 120);
    EXPECT_EQ(r.status, 0) << tail(r.err);
    EXPECT_EQ(lines_starting(r.out, "Key Frame: "),
              std::vector<std::string>{"Key Frame: 1 2 3 4 5 6 7 8 "});
    EXPECT_EQ(lines_starting(r.out, "crop=").size(), 0u);
    r = run_delogo({"-i", stream}, dir, 120);
    EXPECT_EQ(r.status, 0) << tail(r.err);
    EXPECT_EQ(r.out, stream + "\nSize: 320x180\nDuration: 0.000 (00:00:00) BitRate: 0\n");
}

// ---- Working directory -------------------------------------------------------------

TEST(WorkingDirectory, ReadOnlyStillPrintsTheLines) {
    // Tests run as root, which writes through permission bits: make the directory a
    // read-only bind mount of itself in a private mount namespace instead.
    std::string dir = fresh_dir("read_only");
    ASSERT_EQ(write_video(dir + "/logo.mkv", logo_spec(160, 90, 6)), "");
    for (const std::string& options : {std::string("-f 5"), std::string("-f 5 -m -X")}) {
        const std::string inner = "mount --bind -o ro " + sh_quoted(dir) + " " + sh_quoted(dir) +
                                  " 2>/dev/null || exit 77; cd " + sh_quoted(dir) + " && exec " +
                                  sh_quoted(DELOGO_BINARY) + " " + options + " logo.mkv";
        run_result r = run_command("unshare -m sh -c " + sh_quoted(inner), dir);
        if (r.status == 77 || r.status == 127)
            GTEST_SKIP() << "no private read-only mount here: " << r.err;
        expect_clean_end(r, dir, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines_starting(r.out, "crop="), std::vector<std::string>{"crop=160:82:0:4"});
        if (options == "-f 5") {
            EXPECT_EQ(lines_starting(r.out, "delogo="),
                      std::vector<std::string>{"delogo=x=126:y=4:w=24:h=11 corner 1"});
        } else {
            EXPECT_EQ(lines_starting(r.out, "removelogo="),
                      std::vector<std::string>{"removelogo=removelogo_1.pcx"});
        }
        EXPECT_TRUE(contains(r.out, "Duration: 6.000 (00:00:06)")) << r.out;
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"logo.mkv"});
    }
}

TEST(WorkingDirectory, BlockedPictureNameLeavesNoPicture) {
    // A directory under the picture's name stops the final rename; one under the
    // temporary name stops the file from being created. Either way the line is printed
    // and nothing that looks like a picture is left.
    std::string dir = fresh_dir("blocked_picture");
    ASSERT_EQ(write_video(dir + "/logo.mkv", logo_spec(160, 90, 6)), "");
    for (const char* blocker : {"delogo_1.png", "delogo_1.png.tmp"}) {
        clear_dir_except(dir, {"logo.mkv"});
        fs::create_directories(dir + "/" + blocker);
        write_file(dir + "/" + blocker + "/keep", "x"); // not empty: survives any rmdir
        run_result r = run_delogo({"-f", "5", "logo.mkv"}, dir, 120);
        EXPECT_EQ(r.status, 0) << blocker << "\n" << r.err;
        EXPECT_EQ(lines_starting(r.out, "delogo="),
                  std::vector<std::string>{"delogo=x=126:y=4:w=24:h=11 corner 1"})
            << blocker;
        EXPECT_EQ(names_in(dir), (std::vector<std::string>{blocker, "logo.mkv"})) << blocker;
        EXPECT_TRUE(fs::is_directory(dir + "/" + blocker));
        EXPECT_EQ(read_file(dir + "/" + blocker + "/keep"), "x");
    }
}

// ---- Options at and beyond their limits --------------------------------------------

TEST(OptionLimits, OutOfRangeAndMalformedValuesRunAsTheDefaults) {
    // Values that fall back to the default (out of range, not a number, empty, 32-bit
    // wrap-around, trailing garbage after an in-range number) give the default run's
    // output exactly.
    std::string dir = fresh_dir("option_fallbacks");
    ASSERT_EQ(write_video(dir + "/logo.mkv", logo_spec(160, 90, 6)), "");
    auto run = [&](std::vector<std::string> args) {
        args.push_back("logo.mkv");
        run_result r = run_delogo(args, dir, 120);
        std::string what;
        for (const std::string& a : args)
            what += "[" + a + "]";
        expect_clean_end(r, dir, what);
        EXPECT_EQ(r.status, 0) << what << "\n" << tail(r.err);
        return r.out;
    };
    const std::string plain = run({"-f", "5"});
    const std::string canny = run({"-y", "-f", "5"});
    const std::string sixty_four = run({});
    ASSERT_TRUE(contains(plain, "delogo=x=126:y=4:w=24:h=11 corner 1\n")) << plain;
    ASSERT_TRUE(contains(canny, "delogo=")) << canny;
    ASSERT_TRUE(contains(sixty_four, " 64 \n")) << sixty_four;

    const std::vector<std::vector<std::string>> like_plain = {
        {"-W", "2"},         {"-W", "49"},         {"-W", "-0"},    {"-W", ""},    {"-W", "nan"},
        {"-W", "35%"},       {"-W", "4294967331"}, {"-H", "2"},     {"-H", "49"},  {"-H", "1e3"},
        {"-H", "-18"},       {"-b", "0"},          {"-b", "256"},   {"-b", "-1"},  {"-d", "0"},
        {"-d", "256"},       {"-d", "inf"},        {"-k", "-1"},    {"-k", "101"}, {"-z", "-1"},
        {"-z", "21"},        {"-r", "-1"},         {"-r", "101"},   {"-r", "nan"}, {"-c", "4"},
        {"-c", "-1"},        {"-s", "inf"},        {"-s", "1e999"}, {"-t", "999"}, {"-f", "5abc"},
        {"-f", "4294967301"}};
    for (std::vector<std::string> option : like_plain) {
        std::string what = option[0] + " '" + option[1] + "'";
        if (option[0] != "-f") option.insert(option.begin(), {"-f", "5"});
        EXPECT_EQ(run(option), plain) << what;
    }
    const std::vector<std::vector<std::string>> like_canny = {
        {"-t", "256"},    {"-t", "-1"},     {"-s", "-1"}, {"-s", "nan"},    {"-s", "-inf"},
        {"-s", "-1e999"}, {"-s", "1.2xyz"}, {"-l", "0"},  {"-l", "-0"},     {"-l", "1.5"},
        {"-l", "nan"},    {"-l", "inf"},    {"-l", ""},   {"-h", "0"},      {"-h", "2"},
        {"-h", "nan"},    {"-h", "1e999"},  {"-h", "-0"}, {"-h", "0.8junk"}};
    for (std::vector<std::string> option : like_canny) {
        std::string what = option[0] + " '" + option[1] + "'";
        option.insert(option.begin(), {"-y", "-f", "5"});
        EXPECT_EQ(run(option), canny) << what;
    }
    for (const char* frames : {"4", "501", "", "-0", "nan", "4294967360", "0x10"})
        EXPECT_EQ(run({"-f", frames}), sixty_four) << "-f '" << frames << "'";
}

TEST(OptionLimits, ValuesAtTheLimitsGiveSaneOutput) {
    std::string dir = fresh_dir("option_limits");
    ASSERT_EQ(write_video(dir + "/logo.mkv", logo_spec(160, 90, 6)), "");
    const std::vector<std::vector<std::string>> cases = {
        {"-f", "500"},
        {"-W", "3", "-H", "3"},
        {"-W", "48", "-H", "48"},
        {"-W", "48", "-H", "48", "-m", "-X"},
        {"-b", "1", "-d", "1"},
        {"-b", "255", "-d", "255"},
        {"-k", "0", "-z", "0", "-2"},
        {"-k", "100", "-z", "20", "-2"},
        {"-r", "100"},
        {"-c", "0"},
        {"-c", "3", "-2"},
        {"-y", "-t", "0"},
        {"-y", "-t", "255"},
        {"-y", "-s", "0"},
        {"-y", "-s", "-0"},
        {"-y", "-s", ""},
        {"-y", "-s", "1e-30"},
        {"-y", "-s", "100"},
        {"-y", "-l", "1e-45", "-h", "1e-45"},
        {"-y", "-l", "1", "-h", "1"},
        {"-y", "-W", "3", "-H", "3", "-2"},
        {"-y", "-W", "48", "-H", "48", "-m"},
        {"-a", "-s", "inf"},
        {"-a", "-W", "3", "-H", "48"},
    };
    for (std::vector<std::string> args : cases) {
        std::string what;
        for (const std::string& a : args)
            what += "[" + a + "]";
        if (args[0] != "-f") args.insert(args.begin(), {"-f", "5"});
        args.push_back("logo.mkv");
        clear_dir_except(dir, {"logo.mkv"});
        run_result r = run_delogo(args, dir, 120);
        expect_clean_end(r, dir, what);
        EXPECT_EQ(r.status, 0) << what << "\n" << tail(r.err);
        EXPECT_EQ(lines_starting(r.out, "Size: "), std::vector<std::string>{"Size: 160x90"})
            << what;
        EXPECT_EQ(lines_starting(r.out, "Duration: ").size(), 1u) << what;
        expect_lines_inside_frame(r.out, what);
    }
}

TEST(OptionLimits, InfiniteOrHugeSigmaEndsWithTheKernelMessage) {
    // The Gaussian kernel of an infinite sigma, or one whose size does not fit an int,
    // cannot be allocated: the kernel message and exit status 1, no picture.
    std::string dir = fresh_dir("huge_sigma");
    ASSERT_EQ(write_video(dir + "/logo.mkv", logo_spec(160, 90, 6)), "");
    for (const char* sigma : {"inf", "1e999", "1e30", "3e9"}) {
        clear_dir_except(dir, {"logo.mkv"});
        run_result r = run_delogo({"-y", "-f", "5", "-s", sigma, "logo.mkv"}, dir, 120);
        expect_clean_end(r, dir, std::string("-s ") + sigma);
        EXPECT_EQ(r.status, 1) << sigma << "\n" << tail(r.err);
        EXPECT_TRUE(contains(r.err, "Error callocing the gaussian kernel array.\n")) << sigma;
        EXPECT_EQ(lines_starting(r.out, "delogo=").size(), 0u) << sigma;
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"logo.mkv"}) << sigma;
    }
}
