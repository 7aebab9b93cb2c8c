// Filling the hidden picture from the programme's own frames: where the camera or the
// objects move, what the logo hides in this frame is visible beside it in others. The
// motion around the logo is measured frame to frame (dense optical flow, OpenCV's DIS, on
// the work area; inside the logo, where the logo's own still edges would hold the flow,
// the motion is completed as a membrane from around it), and each hidden pixel follows
// it forwards and backwards to the nearest frames that show its picture. What no frame
// within reach shows is left for the spatial fill. Pure: plain buffers, no FFmpeg.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "logo/frame_stages.h"
#include "logo/restoration_plan.h"

// The motion of the picture around the logo from one frame to the next: an affine map,
// where the picture at area position (x, y) is in the other frame. Broadcast pictures
// under a corner logo move mostly with the camera (pans, zooms, shake): one map for the
// whole area is measured where the picture has detail and holds inside the logo, where
// nothing of it can be seen.
struct motion {
    double a[6] = {0, 1, 0, 0, 0, 1}; // x' = a0 + a1 x + a2 y, y' = a3 + a4 x + a5 y
    bool known = false;               // false: no motion joins the frames (a cut, or no detail)
    void move_point(double x, double y, double& tx, double& ty) const {
        tx = a[0] + a[1] * x + a[2] * y;
        ty = a[3] + a[4] * x + a[5] * y;
    }
    motion then(const motion& next) const; // this map, then `next`
    motion inverse() const;
};

// The motion from picture `from` to picture `to` (w x h samples, 8-bit scale, row after
// row), measured where `known` is 1: dense optical flow (OpenCV's DIS) fitted with an
// affine map, weighing each pixel by its detail and leaving out those the map does not
// explain. Not known where the pictures have too little detail, or differ too much once
// moved (a cut).
motion measure_motion(const std::vector<float>& from, const std::vector<float>& to,
                      const std::vector<uint8_t>& known, int w, int h);

// Frames looked at before and after the current one, at the most: two seconds at 25 frames
// a second.
constexpr int default_reach = 50;

// The `hidden` share a pixel found by the temporal fill is left with: picture, that the
// spatial fill may read (negative: nothing of it is hidden).
constexpr float found_picture = -1.0f;

// The stage. `ahead`: the frames after the current one it may read (the glue holds them:
// capped by the memory it may use); `behind`: the past frames it keeps itself (their work
// areas as undone, before any fill).
class temporal_stage : public frame_stage {
public:
    temporal_stage(std::shared_ptr<const restoration> plan, int ahead = default_reach,
                   int behind = default_reach);
    ~temporal_stage() override;
    int after() const override { return ahead_; }
    void run(frame_window& w) override;

private:
    struct record; // what the stage keeps of a frame
    void enter(const work_frame& f);
    std::shared_ptr<const restoration> plan_;
    int ahead_, behind_;
    std::deque<std::unique_ptr<record>> records_; // the frames it has seen and keeps, oldest first
    std::vector<float> distance_[3]; // per plane: each pixel's distance to the nearest source
    long long next_ = 0; // the first frame not entered yet
};
