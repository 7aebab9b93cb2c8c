// One worker thread and several print the same, byte for byte, and write the same pictures,
// run after run: on clean, short, damaged and joined videos made by the ffmpeg command,
// and on videos given through pipes, a FIFO and a disk that fails to read.
#include <gtest/gtest.h>

#include <regex>

#include "helpers.h"
#include "video/parallel_passes.h"

namespace {

// How the tool is given the video.
enum class given { path, pipe, stdin_file, stdin_pipe, fifo, failing_disk };

struct parallel_case {
    const char* file;
    const char* make;  // shell commands that make `file` in the case's directory
    const char* args;  // the tool's options
    given input;
    void (*damage)(std::string& bytes);
    const char* shows; // found in the one-thread run: the case is what it claims to be
};

// Exit status, standard output and error, and pictures of a run on `threads` threads in a
// directory of its own. Left out: FFmpeg's context addresses, which change from run to run.
std::string run_with(int threads, const std::string& dir, const parallel_case& t) {
    const std::string cwd = fresh_dir(dir + "/threads" + std::to_string(threads)),
                      video = quoted(dir + "/" + t.file),
                      tool = "DELOGO_THREADS=" + std::to_string(threads) + " exec " +
                             DELOGO_BINARY " " + t.args + " ";
    std::string command;
    switch (t.input) {
    case given::path: command = tool + video; break;
    case given::pipe: command = "cat " + video + " | " + tool + "pipe:0"; break;
    case given::stdin_file: command = tool + "/dev/stdin <" + video; break;
    case given::stdin_pipe: command = "cat " + video + " | " + tool + "/dev/stdin"; break;
    // The writer has written everything and gone before the tool reads the end.
    case given::fifo: command = "mkfifo fifo && { cat " + video + " >fifo & } && " + tool + "fifo"; break;
    case given::failing_disk: {
        // The middle fifth of the file cannot be read.
        const size_t size = read_file(dir + "/" + t.file).size();
        command = "LD_PRELOAD=" EIO_SHIM " DELOGO_EIO=" + std::to_string(size * 2 / 5) + ":" +
                  std::to_string(size * 3 / 5) + ":" + video +
                  " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 " + tool + video;
    }
    }
    // A run that hangs (a FIFO opened twice waits for a second writer) is killed and fails.
    const run_result r = run_command(command, cwd, 120);
    static const std::regex address(" @ 0x[0-9a-f]+");
    std::string all = std::to_string(r.status) + "\n" + r.out + std::regex_replace(r.err, address, "");
    for (const char* name : {"delogo_", "removelogo_"})
        for (int corner = 0; corner < 4; ++corner)
            all += read_file(cwd + "/" + name + std::to_string(corner) + ".png");
    return all;
}

// 40 s at 5 frames per second with a white logo in the top right corner.
#define LOGO "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x180:rate=5,drawbox=x=250:y=8:w=60:h=16:color=white:t=fill"
#define BARS(h) ",drawbox=y=0:h=" #h ":color=black:t=fill,drawbox=y=ih-" #h ":h=" #h ":color=black:t=fill"
#define X264 " -c:v libx264 -g 10 -bf 2 "

const parallel_case cases[] = {
    {"logo.mkv", LOGO " -t 40 -c:v ffv1 logo.mkv", "-f 10", given::path, nullptr, "delogo=x="},
    {"logo.mkv", LOGO " -t 40 -c:v ffv1 logo.mkv", "-y -f 10", given::path, nullptr, "delogo=x="},
    // Converted by libswscale, which keeps state between calls: one converter per thread.
    {"rgb.mkv", LOGO " -t 40 -c:v ffv1 -pix_fmt bgr0 rgb.mkv", "-f 10", given::path, nullptr,
     "delogo=x="},
    {"gop.mkv", LOGO " -t 40 -c:v libx264 -g 25 -bf 2 gop.mkv", "", given::path, nullptr,
     " 64 \nSize"},
    // 4 key frames: the passes from the 20s on meet the end of the file.
    {"short.ts", LOGO " -t 40 -c:v libx264 -g 50 -bf 2 short.ts", "-f 30", given::path, nullptr,
     " 1 2 [^\n]* 2[0-9] \nSize"},
    {"offset.ts", LOGO " -t 40" X264 "-output_ts_offset 1000 offset.ts", "", given::path, nullptr,
     "start: 1001"},
    // Stretches of the file copied over the middle, out of step with its 188-byte packets.
    {"damaged.ts", LOGO " -t 40" X264 "damaged.ts", "", given::path,
     [](std::string& b) {
         for (size_t p = b.size() / 3; p < b.size() * 2 / 3; p += b.size() / 12)
             b.replace(p, 5000, b, 1001, 5000);
     },
     "error while decoding MB"},
    // A hole in the middle of the samples: a pass's packet fails the decoder for good.
    {"hole.mp4", LOGO " -t 40" X264 "-movflags +faststart hole.mp4", "", given::path,
     [](std::string& b) { b.erase(b.size() / 2, 30000); }, "Error occurred: "},
    // Two recordings joined: their clocks start over in the middle, where what a seek
    // lands on depends on what the demuxer has read before.
    {"twice.ts", LOGO " -t 20" X264 "half.ts && cat half.ts half.ts >twice.ts", "-f 10",
     given::path, nullptr, "Key Frame: 1 2 3 4 5 6 7 8 9 \n"},
    {"bars.ts",
     LOGO BARS(30) " -t 15" X264 "a.ts && " LOGO BARS(20) " -t 15" X264
                   "b.ts && cat a.ts b.ts >bars.ts",
     "", given::path, nullptr, "crop=320:140:0:20"},
    // Every other 10 s at a quarter of the size: a key packet there gives no sample, so
    // the threads read on after a reopened and replayed demuxer, twice, then without
    // taking key packets for the last.
    {"resized.ts",
     "for o in 0 20; do " LOGO " -t 10" X264 "-output_ts_offset $o a$o.ts && " LOGO
     ",scale=160:90 -t 10" X264 "-output_ts_offset $((o+10)) b$o.ts || exit; done; "
     "cat a0.ts b0.ts a20.ts b20.ts >resized.ts",
     "-f 20", given::path, nullptr, " 13 14 \nSize"},
    {"eio.ts", LOGO " -t 40" X264 "eio.ts", "", given::failing_disk, nullptr, " 22 39 "},
    {"pipe.ts", LOGO " -t 40" X264 "pipe.ts", "", given::pipe, nullptr, " 21 \nSize"},
    {"stdin.mp4", LOGO " -t 40" X264 "-movflags +faststart stdin.mp4", "-f 10", given::stdin_file,
     nullptr, " 10 \nSize"},
    {"stdin.ts", LOGO " -t 40" X264 "stdin.ts", "-f 10", given::stdin_pipe, nullptr, " 10 \nSize"},
    {"fifo.ts", LOGO " -t 40" X264 "fifo.ts", "-f 10", given::fifo, nullptr, " 10 \nSize"},
};

TEST(Parallel, SeveralThreadsPrintWhatOneThreadPrints) {
    for (size_t c = 0; c < std::size(cases); ++c) {
        const parallel_case& t = cases[c];
        const std::string dir = fresh_dir("parallel" + std::to_string(c)),
                          video = dir + "/" + t.file;
        ASSERT_EQ(run_command(t.make, dir).status, 0) << t.file;
        if (t.damage) {
            std::string bytes = read_file(video);
            t.damage(bytes);
            write_file(video, bytes);
        }
        const std::string one = run_with(1, dir, t);
        EXPECT_TRUE(std::regex_search(one, std::regex(t.shows))) << t.file << "\n" << one;
        for (int round = 0; round < 2; ++round)
            for (int threads : {2, 3})
                EXPECT_EQ(one, run_with(threads, dir, t)) << t.file << " " << t.args << " " << threads;
    }
}

} // namespace

// The parallel loop as a library, with passes that read on from the pass before (no seek,
// the same decoder) among seeking ones, on a video whose key packets in every other 10 s
// give no sample (a replay, twice): the ordered outcomes and what each captured pass saw
// are the one-thread loop's.
TEST(Parallel, PassesThatReadOnKeepTheirDecoder) {
    const std::string dir = fresh_dir("parallel_library");
    ASSERT_EQ(run_command(cases[10].make, dir).status, 0);
    auto outcomes = [&](int decoders) {
        video_input in;
        EXPECT_EQ(open_video((dir + "/resized.ts").c_str(), nullptr, false, in), 0);
        std::vector<int64_t> targets;
        for (int i = 1; i <= 24; ++i)
            targets.push_back(i % 3 == 2 ? no_seek : pass_target(in, i, 24));
        std::vector<std::string> seen(targets.size());
        std::string all;
        const capture_fn capture = [&](int i, int, const AVFrame* f) {
            seen[i - 1] = std::to_string(f->pts) + " " + std::to_string(f->width);
        };
        const commit_fn commit = [&](int i, pass_end end) {
            all += std::to_string(i) + " " + std::to_string(static_cast<int>(end)) + " " +
                   (end == pass_end::captured ? seen[i - 1] : "") + "\n";
        };
        packet_ptr packet(av_packet_alloc());
        frame_ptr frame(av_frame_alloc());
        const int code = decoders == 1 ? sample_in_order(in, packet.get(), frame.get(), targets,
                                                         capture, commit)
                                       : sample_in_parallel(in, packet.get(), targets, decoders,
                                                            capture, commit);
        return std::to_string(code) + "\n" + all;
    };
    const std::string one = outcomes(1);
    EXPECT_NE(one.find("\n5 0 "), std::string::npos) << one; // read on to a sample
    EXPECT_EQ(one, outcomes(2));
    EXPECT_EQ(one, outcomes(3));
}
