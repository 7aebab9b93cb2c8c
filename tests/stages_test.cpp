// The chain of stages on plain frames: each stage's window, the order frames come out in,
// and the work area read from a frame and written back.
#include <gtest/gtest.h>

#include <random>

#include "logo/frame_stages.h"

namespace {

// Records what it saw of each frame's window, and marks the frames it ran on.
class recording_stage : public frame_stage {
public:
    recording_stage(int before, int after, float mark) : before_(before), after_(after), mark_(mark) {}
    int before() const override { return before_; }
    int after() const override { return after_; }
    void run(frame_window& w) override {
        std::string seen;
        for (int k = w.first(); k <= w.last(); ++k) {
            const work_frame* f = w.at(k);
            // Frames before come as this stage left them, frames after as it found them.
            seen += std::to_string(f->index) + (f->plane[0].v.back() == mark_ ? "*" : "") + " ";
        }
        EXPECT_EQ(w.at(w.first() - 1), nullptr);
        EXPECT_EQ(w.at(w.last() + 1), nullptr);
        windows.push_back(seen);
        w.current().plane[0].v.back() = mark_;
    }
    std::vector<std::string> windows;

private:
    int before_, after_;
    float mark_;
};

std::unique_ptr<work_frame> numbered(long long index) {
    auto f = std::make_unique<work_frame>();
    f->index = index;
    f->planes = 1;
    f->plane[0].w = f->plane[0].h = 1;
    f->plane[0].v.assign(1, 0.0f);
    return f;
}

} // namespace

TEST(StageChain, EachStageHasItsWindowAndFramesComeOutInOrder) {
    auto first = std::make_unique<recording_stage>(0, 2, 1.0f);
    auto second = std::make_unique<recording_stage>(2, 1, 2.0f);
    recording_stage *a = first.get(), *b = second.get();
    std::vector<std::unique_ptr<frame_stage>> stages;
    stages.push_back(std::move(first));
    stages.push_back(std::move(second));
    stage_chain chain(std::move(stages));
    EXPECT_EQ(chain.delay(), 3);
    frame_list done;
    std::vector<size_t> out_after;
    for (long long n = 0; n < 6; ++n) {
        chain.push(numbered(n), done);
        out_after.push_back(done.size());
    }
    // Nothing comes out until three frames wait behind the oldest.
    EXPECT_EQ(out_after, (std::vector<size_t>{0, 0, 0, 1, 2, 3}));
    chain.finish(done);
    ASSERT_EQ(done.size(), 6u);
    for (size_t k = 0; k < done.size(); ++k) {
        EXPECT_EQ(done[k]->index, long(k));
        EXPECT_EQ(done[k]->plane[0].v.back(), 2.0f);
    }
    EXPECT_EQ(a->windows, (std::vector<std::string>{"0 1 2 ", "1 2 3 ", "2 3 4 ", "3 4 5 ",
                                                     "4 5 ", "5 "}));
    EXPECT_EQ(b->windows, (std::vector<std::string>{"0 1 ", "0* 1 2 ", "0* 1* 2 3 ",
                                                     "1* 2* 3 4 ", "2* 3* 4 5 ", "3* 4* 5 "}));
}

// Samples read onto the 8-bit scale and written back unchanged are the same samples, at 8
// and 10 bits; only the work area is touched.
TEST(StageChain, WorkAreaReadAndWrittenBackExactly) {
    std::mt19937 random(5);
    for (const int depth : {8, 10}) {
        SCOPED_TRACE(depth);
        const int bytes = depth > 8 ? 2 : 1, w = 16, h = 8;
        std::vector<uint8_t> plane(size_t(w) * h * bytes);
        for (size_t i = 0; i < plane.size(); i += size_t(bytes)) {
            const unsigned v = random() % (1u << depth);
            plane[i] = uint8_t(v);
            if (bytes == 2) plane[i + 1] = uint8_t(v >> 8);
        }
        const std::vector<uint8_t> before = plane;
        work_layout l;
        l.planes = 1;
        l.depth = depth;
        l.x[0] = 3, l.y[0] = 2, l.w[0] = 9, l.h[0] = 4;
        plane_data d[3] = {{plane.data(), ptrdiff_t(w * bytes)}, {}, {}};
        std::unique_ptr<work_frame> f = read_work(l, d, 0);
        write_work(l, *f, d);
        EXPECT_EQ(plane, before);
        for (float& v : f->plane[0].v)
            v = 300.0f; // beyond white: clamped
        write_work(l, *f, d);
        const int top = (1 << depth) - 1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = (size_t(y) * w + x) * bytes;
                const int v = bytes == 2 ? plane[i] | plane[i + 1] << 8 : plane[i];
                const int was = bytes == 2 ? before[i] | before[i + 1] << 8 : before[i];
                const bool inside = x >= 3 && x < 12 && y >= 2 && y < 6;
                ASSERT_EQ(v, inside ? top : was) << x << "," << y;
            }
    }
}
