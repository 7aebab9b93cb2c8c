// One worker thread and several print the same, byte for byte, and write the same pictures,
// on clean, short and damaged videos made by the ffmpeg command.
#include <gtest/gtest.h>

#include <regex>

#include "helpers.h"

namespace {

// Exit status, standard output and error, and pictures of a run on `threads` threads in a
// directory of its own. Left out: FFmpeg's context addresses, which change from run to run,
// and the demuxers' own lines, since what a demuxer meets while seeking depends on what it
// read before (its index); the decoders' messages are compared.
std::string run_with(int threads, const std::string& dir, const std::string& args) {
    const std::string cwd = fresh_dir(dir + "/threads" + std::to_string(threads));
    const run_result r = run_command(
        "DELOGO_THREADS=" + std::to_string(threads) + " exec " DELOGO_BINARY " " + args, cwd);
    static const std::regex varying("\\[(mpegts|matroska,webm|mov,[^ ]*) @ 0x[0-9a-f]+\\][^\n]*\n|"
                                    " @ 0x[0-9a-f]+");
    std::string all =
        std::to_string(r.status) + "\n" + r.out + std::regex_replace(r.err, varying, "");
    for (const char* name : {"delogo_", "removelogo_"})
        for (int corner = 0; corner < 4; ++corner)
            all += read_file(cwd + "/" + name + std::to_string(corner) + ".png");
    return all;
}

struct parallel_case {
    const char* file;
    const char* encode; // ffmpeg's output options for the logo video
    const char* args;   // the tool's options
    void (*damage)(std::string& bytes);
    const char* shows; // found in the one-thread run: the case is what it claims to be
};

// 40 s at 5 frames per second with a white logo in the top right corner.
const std::string logo_video = "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x180:rate=5,"
                               "drawbox=x=250:y=8:w=60:h=16:color=white:t=fill -t 40 ";

const parallel_case cases[] = {
    {"logo.mkv", "-c:v ffv1", "-f 10", nullptr, "delogo=x="},
    {"logo.mkv", "-c:v ffv1", "-y -f 10", nullptr, "delogo=x="},
    // Converted by libswscale, which keeps state between calls: one converter per thread.
    {"rgb.mkv", "-c:v ffv1 -pix_fmt bgr0", "-f 10", nullptr, "delogo=x="},
    {"gop.mkv", "-c:v libx264 -g 25 -bf 2", "", nullptr, " 64 \nSize"},
    // 4 key frames: the passes from the 20s on meet the end of the file.
    {"short.ts", "-c:v libx264 -g 50 -bf 2", "-f 30", nullptr, " 1 2 [^\n]* 2[0-9] \nSize"},
    {"offset.ts", "-c:v libx264 -g 10 -bf 2 -output_ts_offset 1000", "", nullptr, "start: 1001"},
    // Stretches of the file copied over the middle, out of step with its 188-byte packets.
    {"damaged.ts", "-c:v libx264 -g 10 -bf 2", "",
     [](std::string& b) {
         for (size_t p = b.size() / 3; p < b.size() * 2 / 3; p += b.size() / 12)
             b.replace(p, 5000, b, 1001, 5000);
     },
     "error while decoding MB"},
    // A hole in the middle of the samples: a pass's packet fails the decoder for good.
    {"hole.mp4", "-c:v libx264 -g 10 -bf 2 -movflags +faststart", "",
     [](std::string& b) { b.erase(b.size() / 2, 30000); }, "Error occurred: "},
};

TEST(Parallel, SeveralThreadsPrintWhatOneThreadPrints) {
    for (size_t c = 0; c < std::size(cases); ++c) {
        const parallel_case& t = cases[c];
        const std::string dir = fresh_dir("parallel" + std::to_string(c)),
                          video = dir + "/" + t.file;
        ASSERT_EQ(run_command(logo_video + t.encode + " " + video, dir).status, 0) << t.file;
        if (t.damage) {
            std::string bytes = read_file(video);
            t.damage(bytes);
            write_file(video, bytes);
        }
        const std::string args = std::string(t.args) + " " + video, one = run_with(1, dir, args);
        EXPECT_TRUE(std::regex_search(one, std::regex(t.shows))) << t.file << "\n" << one;
        EXPECT_EQ(one, run_with(3, dir, args)) << t.file << " " << t.args;
    }
}

} // namespace
