// The restoration as a chain of stages, each working on one frame at a time with a window
// of the frames around it. A stage says how many frames before and after the current one
// it reads; the chain holds the frames back until every stage has had its window. Stages
// see only a work area around the logo, as floats: the rest of the frame never leaves
// the caller. Pure: plain buffers, no FFmpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// One plane of a frame's work area: a rectangle of the plane (plane pixels) and its
// samples as floats on the 8-bit scale whatever the video's depth (a 10-bit sample s
// reads s / 4), row after row.
struct work_plane {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<float> v;
    // How much of each sample is still to be found (0 known or undone, 1 nothing of the
    // picture left, between: the undone sample mixed with the fill; negative: found by the
    // temporal fill), set by the stage that undoes the blend and cleared by the fills;
    // empty: nothing to find.
    std::vector<float> hidden;
    float& at(int u, int t) { return v[size_t(t) * size_t(w) + size_t(u)]; }
    float at(int u, int t) const { return v[size_t(t) * size_t(w) + size_t(u)]; }
};

// A frame as the stages see it.
struct work_frame {
    long long index = 0;  // its place in the stream, from 0
    int planes = 0;       // 1 (grey) or 3 (Y, Cb, Cr)
    work_plane plane[3];
    // How strongly each graphic of the model shows in this frame: 0 absent, 1 as modelled.
    // Set by the stages that tell it; the stages that remove a graphic scale by it.
    std::vector<float> strength;
};

// What a stage sees while it works on one frame: that frame (changed in place) and those
// around it. Before the current frame come this stage's own results (a temporal stage
// reads frames it has already restored); after it, frames as the earlier stages left them.
class frame_window {
public:
    // `coming` holds the current frame first, then the frames after it.
    frame_window(work_frame& current, const std::deque<std::unique_ptr<work_frame>>& past,
                 const std::deque<std::unique_ptr<work_frame>>& coming, int before, int after);
    work_frame& current() { return current_; }
    // The frame `offset` frames away (negative: before), or nullptr beyond the stream's
    // ends or beyond what the stage asked for. at(0) is the current frame.
    const work_frame* at(int offset) const;
    int first() const { return first_; } // the smallest offset with a frame (<= 0)
    int last() const { return last_; }   // the largest (>= 0)

private:
    work_frame& current_;
    const std::deque<std::unique_ptr<work_frame>>& past_;
    const std::deque<std::unique_ptr<work_frame>>& coming_;
    int first_, last_;
};

// One step of the restoration.
class frame_stage {
public:
    virtual ~frame_stage() = default;
    // Frames before and after the current one this stage reads.
    virtual int before() const { return 0; }
    virtual int after() const { return 0; }
    // Works on w.current() in place.
    virtual void run(frame_window& w) = 0;
};

using frame_list = std::vector<std::unique_ptr<work_frame>>;

// The stages in order. Frames go in in stream order and come out in the same order, each
// once, after every stage ran on it.
class stage_chain {
public:
    explicit stage_chain(std::vector<std::unique_ptr<frame_stage>> stages);
    // Takes the next frame; appends to `done` the frames every stage has finished.
    void push(std::unique_ptr<work_frame> frame, frame_list& done);
    // The stream has ended: every frame still held is finished and appended to `done`.
    void finish(frame_list& done);
    // Frames held at the most before the first comes out: the sum of the stages' after().
    int delay() const;

private:
    struct slot {
        std::unique_ptr<frame_stage> stage;
        std::deque<std::unique_ptr<work_frame>> past;    // its results, newest last
        std::deque<std::unique_ptr<work_frame>> waiting; // its input, oldest first
    };
    void advance(bool ended, frame_list& done);
    std::vector<slot> slots_;
};

// One plane of a frame in the caller's memory: its samples (bytes, or 16-bit samples in
// the machine's order when `wide`) and the distance between rows in bytes.
struct plane_data {
    uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
};

// Where the work areas lie: one rectangle per plane (plane pixels), for frames of `planes`
// planes (1 or 3) of `depth` bits.
struct work_layout {
    int planes = 0;
    int depth = 8;
    int x[3] = {0, 0, 0}, y[3] = {0, 0, 0}, w[3] = {0, 0, 0}, h[3] = {0, 0, 0};
};

// The work area of a frame read from its planes, on the 8-bit scale.
std::unique_ptr<work_frame> read_work(const work_layout& l, const plane_data frame[3],
                                      long long index);
// The work area written back into the frame's planes: rounded, clamped to the depth's range.
// A sample no stage changed is written back as it was.
void write_work(const work_layout& l, const work_frame& f, plane_data frame[3]);
