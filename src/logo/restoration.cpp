// The restoration's stages put together, and the same work on a single frame.
#include "logo/restoration.h"

#include <algorithm>

#include "logo/box_mean.h"
#include "logo/temporal_fill.h"

std::vector<std::unique_ptr<frame_stage>> restoration_stages(
    std::shared_ptr<const restoration> plan, int max_delay) {
    std::vector<std::unique_ptr<frame_stage>> stages;
    auto strength = std::make_unique<strength_stage>(plan);
    // The temporal fill looks ahead as far as the frames the caller can hold allow, after
    // what the strength stage holds: at 4K fewer frames ahead than at 720p (the frames
    // behind are the stage's own small work areas, never limited by this).
    const int ahead = std::clamp(max_delay - strength->after(), 0, default_reach);
    stages.push_back(std::move(strength));
    stages.push_back(std::make_unique<undo_stage>(plan));
    // A logo translucent everywhere hides nothing in any frame (its strength is at most 1)
    // but its edges' share: the temporal fill would add little there, yet it measures the
    // motion of every frame, most of the restoration's time.
    bool hides = false, edges = false;
    for (int k = 0; k < plan->planes; ++k) {
        const plane_restoration& p = plan->plane[k];
        hides = hides ||
                std::any_of(p.alpha.begin(), p.alpha.end(), [](float a) { return a > fill_from; });
        edges = edges || !p.edge.empty();
    }
    if (hides) stages.push_back(std::make_unique<temporal_stage>(plan, ahead));
    if (hides || edges) stages.push_back(std::make_unique<spatial_stage>(plan));
    return stages;
}

void restore_frame(const restoration& r, plane_data frame[3]) {
    const work_layout l = layout_of(r);
    std::unique_ptr<work_frame> f = read_work(l, frame, 0);
    undo_blend(r, *f);
    fill_spatially(r, *f, bar_rows(r, f->plane[0]));
    write_work(l, *f, frame);
}

double logo_evidence(const restoration& r, int g, const plane_data frame[3]) {
    const work_layout l = layout_of(r);
    const std::unique_ptr<work_frame> f = read_work(l, frame, 0);
    const plane_restoration& p = r.plane[0];
    return logo_evidence(r, g, f->plane[0], box_mean(f->plane[0].v, p.w, p.h, high_pass_radius));
}
