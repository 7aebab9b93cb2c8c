// The frames' pass between the two ffmpegs, on a NUT file made by ffmpeg: every packet
// written in the order read with its times, the pictures changed only in their work
// areas, by a chain that holds frames back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "apply/ffmpeg_commands.h"
#include "apply/frame_restorer.h"
#include "helpers.h"

namespace {

// A stage that looks `ahead` frames ahead and blackens its frame's work area, checking
// that the frames after it are the ones that follow.
class blacken : public frame_stage {
public:
    explicit blacken(int ahead) : ahead_(ahead) {}
    int after() const override { return ahead_; }
    void run(frame_window& w) override {
        for (int k = 1; k <= w.last(); ++k)
            EXPECT_EQ(w.at(k)->index, w.current().index + k);
        for (int p = 0; p < w.current().planes; ++p)
            for (float& v : w.current().plane[p].v)
                v = 0;
    }

private:
    int ahead_;
};

// "stream,pts,size" of every packet of `file`, in file order.
std::vector<std::string> packets(const std::string& dir, const std::string& file) {
    return lines_starting(
        run_command("ffprobe -v error -show_entries packet=stream_index,pts,size -of csv=p=0 " +
                        file,
                    dir)
            .out,
        "");
}

} // namespace

TEST(FramePass, EveryPacketInItsPlaceOnlyTheWorkAreasChanged) {
    const std::string dir = fresh_dir("frame_pass");
    // 2 s of 25 fps grey pictures of 64 x 36 and 8 kHz audio: audio packets between frames.
    ASSERT_EQ(run_command("ffmpeg -v error -f lavfi -i testsrc2=s=64x36:r=25:d=2 -f lavfi -i "
                          "sine=r=8000:d=2 -map 0 -map 1 -c:v rawvideo -pix_fmt yuv420p -c:a "
                          "pcm_s16le -f nut in.nut",
                          dir)
                  .status,
              0);
    work_layout area;
    area.planes = 3;
    const int x[3] = {8, 4, 4}, y[3] = {6, 3, 3}, w[3] = {20, 10, 10}, h[3] = {10, 5, 5};
    for (int p = 0; p < 3; ++p) {
        area.x[p] = x[p];
        area.y[p] = y[p];
        area.w[p] = w[p];
        area.h[p] = h[p];
    }
    int max_delay = 0;
    const chain_maker make = [&](const frame_layout& layout, int budget, frame_chain& out) {
        EXPECT_EQ(layout.width, 64);
        EXPECT_EQ(layout.bytes, 64 * 36 * 3 / 2);
        max_delay = budget;
        std::vector<std::unique_ptr<frame_stage>> stages;
        stages.push_back(std::make_unique<blacken>(2));
        stages.push_back(std::make_unique<blacken>(5));
        out.chain = std::make_unique<stage_chain>(std::move(stages));
        out.work = area;
        return std::string();
    };
    const int in = open((dir + "/in.nut").c_str(), O_RDONLY);
    const int out = open((dir + "/out.nut").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);
    const frames_end end = restore_pass(in, out, make, 0, [] { return false; });
    close(in);
    EXPECT_EQ(end.error, "");
    EXPECT_GE(max_delay, 7);
    const std::vector<std::string> before = packets(dir, "in.nut"), after = packets(dir, "out.nut");
    EXPECT_EQ(after, before);
    EXPECT_GT(before.size(), 60u);

    // Each picture: black inside the work areas, as it was outside them.
    const std::string a = run_command("ffmpeg -v error -i in.nut -map 0:v -f rawvideo -", dir).out,
                      b = run_command("ffmpeg -v error -i out.nut -map 0:v -f rawvideo -", dir).out;
    const size_t frame = 64 * 36 * 3 / 2, offsets[3] = {0, 64 * 36, 64 * 36 + 32 * 18};
    const int widths[3] = {64, 32, 32};
    ASSERT_EQ(a.size(), 50 * frame);
    ASSERT_EQ(b.size(), a.size());
    int wrong = 0;
    for (size_t f = 0; f < 50; ++f)
        for (int p = 0; p < 3; ++p)
            for (int t = 0; t < (p ? 18 : 36); ++t)
                for (int u = 0; u < widths[p]; ++u) {
                    const size_t i = f * frame + offsets[p] + size_t(t) * widths[p] + u;
                    const bool inside = u >= x[p] && u < x[p] + w[p] && t >= y[p] && t < y[p] + h[p];
                    wrong += inside ? b[i] != 0 : b[i] != a[i];
                }
    EXPECT_EQ(wrong, 0);
}
