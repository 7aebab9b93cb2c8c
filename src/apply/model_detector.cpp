// The logo model's detector: sampling, estimation in every corner, the strongest corner.
#include "apply/model_detector.h"

#include "video/picture_sampler.h"

std::string detect_logo(const std::string& input, const analysis_result& r, int corner_mask,
                        int width_bands, int height_bands, frame_logo& logo, bool& found) {
    found = false;
    const frame_rect picture = r.has_crop ? r.crop : frame_rect{0, 0, r.frame_width, r.frame_height};
    const int bw = picture.w * width_bands / 100, bh = picture.h * height_bands / 100;
    std::vector<picture_rect> rects;
    for (int c = 0; c < 4; ++c) {
        picture_rect q;
        q.x = (c & 1) ? picture.x + picture.w - bw : picture.x;
        q.y = (c & 2) ? picture.y + picture.h - bh : picture.y;
        q.w = (corner_mask >> c) & 1 ? bw : 0;
        q.h = (corner_mask >> c) & 1 ? bh : 0;
        rects.push_back(q);
    }
    const picture_samples s = sample_pictures(input, r.video_stream, model_samples, rects);
    if (!s.error.empty()) return s.error;
    logo_model models[4];
    for (int c = 0; c < 4; ++c)
        if (s.where[size_t(c)].w > 0 && s.where[size_t(c)].h > 0)
            models[c] = estimate_logo(s.rects[size_t(c)], c);
    const int best = strongest_corner(models);
    if (best < 0) return "";
    const picture_rect& at = s.where[size_t(best)];
    logo = place_logo(models[best], best, at.x, at.y, s.width, s.height,
                      s.rects[size_t(best)].shift_x, s.rects[size_t(best)].shift_y);
    found = true;
    return "";
}
