// The opaque part filled with the plan's sources and weights.
#include "logo/opaque_fill.h"

void fill_opaque(const restoration& r, work_frame& f) {
    for (int k = 0; k < r.planes; ++k) {
        const plane_restoration& p = r.plane[k];
        // Sources are never filled pixels: filling in place reads only restored picture.
        std::vector<float>& v = f.plane[k].v;
        for (size_t n = 0; n < p.filled.size(); ++n) {
            const size_t i = size_t(p.filled[n]);
            float fill = 0;
            for (int s = p.first_source[n]; s < p.first_source[n + 1]; ++s)
                fill += p.weight[size_t(s)] * v[size_t(p.source[size_t(s)])];
            const float share = p.fill_share[i];
            v[i] = share >= 1.0f ? fill : (1.0f - share) * v[i] + share * fill;
        }
    }
}

void fill_stage::run(frame_window& w) {
    work_frame& f = w.current();
    if (!f.strength.empty() && f.strength[0] <= 0) return;
    fill_opaque(*plan_, f);
}
