// The restoration's stages put together, and the same work on a single frame.
#include "logo/restoration.h"

std::vector<std::unique_ptr<frame_stage>> restoration_stages(
    std::shared_ptr<const restoration> plan, int /*max_delay: no stage looks further yet*/) {
    std::vector<std::unique_ptr<frame_stage>> stages;
    stages.push_back(std::make_unique<presence_stage>(plan));
    stages.push_back(std::make_unique<undo_stage>(plan));
    stages.push_back(std::make_unique<fill_stage>(plan));
    return stages;
}

void restore_frame(const restoration& r, plane_data frame[3]) {
    const work_layout l = layout_of(r);
    std::unique_ptr<work_frame> f = read_work(l, frame, 0);
    undo_blend(r, *f);
    fill_opaque(r, *f);
    write_work(l, *f, frame);
}

double logo_evidence(const restoration& r, const plane_data frame[3]) {
    const work_layout l = layout_of(r);
    return logo_evidence(r, read_work(l, frame, 0)->plane[0]);
}
