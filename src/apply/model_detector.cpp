// The logo model's detector: sampling, estimation in every corner, the strongest corner.
#include "apply/model_detector.h"

#include <algorithm>

#include "video/picture_sampler.h"

namespace {

// Whether line k (a row when `rows`, else a column) of a corner region is black but near
// the model's logo (within 2 pixels: its soft edge and the coding noise around it). Black:
// at most `black` on average and in most samples (the pictures between key frames carry
// coding noise into the bar rows next to the picture, which key frames do not).
bool black_line(const corner_samples& s, const logo_model& m, bool rows, int k, int black) {
    const plane_samples& p = s.luma;
    const int length = rows ? p.width : p.height;
    auto near_logo = [&](int x, int y) {
        if (!m.found) return false;
        for (int v = std::max(0, y - 2); v <= std::min(p.height - 1, y + 2); ++v)
            for (int u = std::max(0, x - 2); u <= std::min(p.width - 1, x + 2); ++u)
                if (m.alpha[size_t(v) * p.width + u] > 0.04f) return true;
        return false;
    };
    for (int t = 0; t < length; ++t) {
        if (rows ? near_logo(t, k) : near_logo(k, t)) continue;
        const size_t i = rows ? size_t(k) * p.width + t : size_t(t) * p.width + k;
        int bright = 0;
        double sum = 0;
        for (int n = 0; n < p.count(); ++n) {
            bright += p.sample(n)[i] > black;
            sum += p.sample(n)[i];
        }
        if (bright * 2 > p.count() || sum > double(black) * p.count()) return false;
    }
    return true;
}

// The crop without the black lines at its edges that only a logo kept in it: as delogo
// finds the crop, each edge scanned from the middle outwards to the first line black in
// every sample, but with the logo's pixels left out of the test.
void crop_under_logo(const picture_samples& s, const logo_model models[4], int black,
                     frame_rect& crop) {
    auto present = [&](int c) { return s.where[size_t(c)].w > 0 && s.where[size_t(c)].h > 0; };
    // Each edge from the two corner regions along it: top (0, 1), bottom (2, 3), left
    // (0, 2), right (1, 3).
    const int pairs[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
    for (int e = 0; e < 4; ++e) {
        const int a = pairs[e][0], b = pairs[e][1];
        if (!present(a) || !present(b) || (!models[a].found && !models[b].found)) continue;
        const bool rows = e < 2, leading = e == 0 || e == 2; // top or left
        const picture_rect& w = s.where[size_t(a)];
        const int lines = rows ? w.h : w.w;
        for (int step = 0; step < lines; ++step) {
            const int k = leading ? lines - 1 - step : step;
            if (!black_line(s.rects[size_t(a)], models[a], rows, k, black) ||
                !black_line(s.rects[size_t(b)], models[b], rows, k, black))
                continue;
            // Line k and what lies beyond it are bar: the edge moves in, never out.
            const int right = crop.x + crop.w, bottom = crop.y + crop.h;
            if (e == 0 && w.y + k + 1 > crop.y) {
                crop.y = w.y + k + 1;
                crop.h = bottom - crop.y;
            }
            if (e == 1 && w.y + k < bottom) crop.h = w.y + k - crop.y;
            if (e == 2 && w.x + k + 1 > crop.x) {
                crop.x = w.x + k + 1;
                crop.w = right - crop.x;
            }
            if (e == 3 && w.x + k < right) crop.w = w.x + k - crop.x;
            break;
        }
    }
    crop.w -= crop.w & 1; // even, as delogo's crop
    crop.h -= crop.h & 1;
}

} // namespace

std::string detect_logo(const std::string& input, analysis_result& r, int corner_mask,
                        int width_bands, int height_bands, int black, frame_logo& logo,
                        bool& found, picture_samples* kept) {
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
    picture_samples read = sample_pictures(input, r.video_stream, model_samples, rects);
    if (!read.error.empty()) return read.error;
    // The samples go to `kept` on every way out.
    struct hand_over {
        picture_samples& s;
        picture_samples* to;
        ~hand_over() {
            if (to) *to = std::move(s);
        }
    } handed{read, kept};
    const picture_samples& s = read;
    logo_model models[4];
    for (int c = 0; c < 4; ++c)
        if (s.where[size_t(c)].w > 0 && s.where[size_t(c)].h > 0)
            models[c] = estimate_logo(s.rects[size_t(c)], c, black, picture.h / 720.0);
    if (r.has_crop) crop_under_logo(s, models, black, r.crop);
    const int best = strongest_corner(models);
    if (best < 0) return "";
    const picture_rect& at = s.where[size_t(best)];
    logo = logo_in_frame(models[best], best, at.x, at.y, s.width, s.height,
                         s.rects[size_t(best)].shift_x, s.rects[size_t(best)].shift_y);
    // Graphics of the other corners (a tag in another corner) join the strongest's.
    for (int c = 0; c < 4; ++c)
        if (c != best && models[c].found) {
            const picture_rect& w = s.where[size_t(c)];
            add_logo(logo, logo_in_frame(models[c], c, w.x, w.y, s.width, s.height,
                                         s.rects[size_t(c)].shift_x, s.rects[size_t(c)].shift_y));
        }
    found = true;
    return "";
}
