// The blend undone pixel by pixel with the plan's gain and offset.
#include "logo/blend_undo.h"

#include <algorithm>

void undo_blend(const restoration& r, work_frame& f) {
    for (int k = 0; k < r.planes; ++k) {
        const plane_restoration& p = r.plane[k];
        std::vector<float>& v = f.plane[k].v;
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = std::clamp(v[i] * p.gain[i] - p.offset[i], 0.0f, r.top);
    }
}

void undo_stage::run(frame_window& w) {
    work_frame& f = w.current();
    if (!f.strength.empty() && f.strength[0] <= 0) return;
    undo_blend(*plan_, f);
}
