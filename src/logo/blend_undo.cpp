// The blend undone pixel by pixel at each graphic's strength.
#include "logo/blend_undo.h"

#include <algorithm>

void undo_blend(const restoration& r, work_frame& f) {
    for (int k = 0; k < r.planes; ++k) {
        const plane_restoration& p = r.plane[k];
        work_plane& wp = f.plane[k];
        std::vector<float>& v = wp.v;
        wp.hidden.assign(v.size(), 0.0f);
        for (int t = p.ly; t < p.ly + p.lh; ++t)
            for (int u = p.lx; u < p.lx + p.lw; ++u) {
                const size_t i = size_t(t) * size_t(p.w) + size_t(u);
                const int g = p.graphic[i];
                if (!g) continue;
                const float s = size_t(g) <= f.strength.size() ? f.strength[size_t(g - 1)] : 1.0f;
                const float a = s * p.alpha[i];
                if (a <= 0) continue;
                if (a <= undo_limit)
                    v[i] = std::clamp((v[i] - a * p.colour[i]) / (1.0f - a), 0.0f, r.top);
                if (a > fill_from) wp.hidden[i] = std::min(1.0f, (a - fill_from) / feather_width);
                else if (!p.edge.empty() && p.edge[i]) wp.hidden[i] = std::min(s, 1.0f);
            }
    }
}
