// The filter chain of delogo-apply and the masks it reads.
#include "apply/filter_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/mask_bits.h"

namespace {

int round_up(int value, int step) {
    return (value + step - 1) / step * step;
}
int round_down(int value, int step) {
    return value / step * step;
}

// One axis of a rectangle [first, last] of a picture `size` long: the pads it needs
// before and after it, so that its ring on a side touching the edge (delogo reads the
// pixels just outside its rectangle) can be the mirror image of its ring on the other
// side, still inside the padded picture. A rectangle across the whole axis has no other
// side to mirror and gets none.
void pads_needed(int first, int last, int size, int& before, int& after) {
    if (first == 0 && last == size - 1) return;
    if (first == 0) before = std::max(before, last + 2);
    if (last == size - 1) after = std::max(after, size - first + 1);
}

// The same axis in the padded picture: a side on the edge moves out to the mirror image
// of the other side; then held one pixel inside the padded picture.
void place_axis(int first, int last, int size, int before, int after, int& x, int& w) {
    int start = before + first, end = before + last;
    if (first == 0 && last != size - 1) start = before - 1 - last;
    if (last == size - 1 && first != 0) end = before + 2 * size - 1 - first;
    start = std::max(start, 1);
    end = std::min(end, before + size + after - 2);
    x = start;
    w = end - start + 1;
}

// The pad of one side: a multiple of the alignment, at most the picture's size (the
// mirror image has nothing more to show).
int aligned_pad(int pad, int size, int align) {
    return std::min(round_up(pad, align), round_down(size, align));
}

// The bounding box of the frame mask's pixels inside `picture`, in picture coordinates;
// false when there are none.
bool mask_bounds(const analysis_result& r, const std::vector<uint8_t>& mask,
                 const frame_rect& picture, frame_rect& bounds) {
    int x0 = picture.w, y0 = picture.h, x1 = -1, y1 = -1;
    for (int y = 0; y < picture.h; ++y)
        for (int x = 0; x < picture.w; ++x)
            if (mask[static_cast<size_t>(picture.y + y) * r.frame_width + picture.x + x]) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    bounds = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    return x1 >= 0;
}

} // namespace

std::string logo_doubt(const analysis_result& r) {
    if ((r.logo_count == 0 && !r.has_mask) || r.box_pixels <= 0 || r.band_pixels <= 0) return "";
    const long long box = r.box_pixels, band = r.band_pixels, still = r.box_static;
    if (2 * box > band)
        return "its box covers " + std::to_string(box * 100 / band) + "% of the corner band";
    if (100 * still < 3 * box)
        return "only " + std::to_string(still * 100 / box) + "% of its box stays still";
    return "";
}

frame_rect kept_picture(const analysis_result& r, int align_x, int align_y) {
    if (!r.has_crop) return {0, 0, r.frame_width, r.frame_height};
    const frame_rect& c = r.crop;
    const int x0 = round_up(c.x, align_x), x1 = round_down(c.x + c.w, align_x);
    const int y0 = round_up(c.y, align_y), y1 = round_down(c.y + c.h, align_y);
    // A sliver narrower than a chroma sample has nothing to round to: left as found.
    if (x1 <= x0 || y1 <= y0) return c;
    return {x0, y0, x1 - x0, y1 - y0};
}

int mirrored(int position, int pad_before, int size) {
    const int x = position - pad_before;
    if (x < 0) return -1 - x;
    if (x >= size) return 2 * size - 1 - x;
    return x;
}

logo_work place_logo(const analysis_result& r, const frame_rect& picture, bool with_logo,
                     int align_x, int align_y) {
    logo_work w;
    w.picture = picture;
    w.width = picture.w;
    w.height = picture.h;
    if (!with_logo) return w;
    // Each rectangle cut to the picture, in picture coordinates, inclusive.
    std::vector<frame_rect> cut;
    if (r.has_mask) {
        frame_rect bounds;
        if (!mask_bounds(r, frame_mask(r), picture, bounds)) return w;
        w.mask = true;
        // removelogo never touches the outermost pixels of its picture: the mirrored
        // mask stops two pixels short of the padded edge.
        pads_needed(bounds.x, bounds.x + bounds.w - 1, picture.w, w.left, w.right);
        pads_needed(bounds.y, bounds.y + bounds.h - 1, picture.h, w.top, w.bottom);
        for (int* pad : {&w.left, &w.right, &w.top, &w.bottom})
            if (*pad) ++*pad;
    } else {
        for (int i = 0; i < r.logo_count && i < 2; ++i) {
            const frame_rect& l = r.logos[i];
            const int x0 = std::max(l.x, picture.x) - picture.x;
            const int y0 = std::max(l.y, picture.y) - picture.y;
            const int x1 = std::min(l.x + l.w, picture.x + picture.w) - 1 - picture.x;
            const int y1 = std::min(l.y + l.h, picture.y + picture.h) - 1 - picture.y;
            if (x1 < x0 || y1 < y0) continue; // wholly on a bar
            cut.push_back({x0, y0, x1 - x0 + 1, y1 - y0 + 1});
            pads_needed(x0, x1, picture.w, w.left, w.right);
            pads_needed(y0, y1, picture.h, w.top, w.bottom);
        }
        if (cut.empty()) return w;
    }
    w.left = aligned_pad(w.left, picture.w, align_x);
    w.right = aligned_pad(w.right, picture.w, align_x);
    w.top = aligned_pad(w.top, picture.h, align_y);
    w.bottom = aligned_pad(w.bottom, picture.h, align_y);
    w.width = picture.w + w.left + w.right;
    w.height = picture.h + w.top + w.bottom;
    for (const frame_rect& c : cut) {
        frame_rect m;
        place_axis(c.x, c.x + c.w - 1, picture.w, w.left, w.right, m.x, m.w);
        place_axis(c.y, c.y + c.h - 1, picture.h, w.top, w.bottom, m.y, m.h);
        if (m.w > 0 && m.h > 0) w.rects.push_back(m);
    }
    return w;
}

std::string file_url(const std::string& path) {
    if (path.find(':') != std::string::npos || (!path.empty() && path[0] == '-'))
        return "file:" + path;
    return path;
}

namespace {

std::string backslash(const std::string& text, const char* special) {
    std::string out;
    for (char c : text) {
        if (strchr(special, c)) out += '\\';
        out += c;
    }
    return out;
}

std::string crop_filter(int w, int h, int x, int y) {
    return "crop=" + std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(x) + ":" +
           std::to_string(y);
}

} // namespace

std::string escape_filter_value(const std::string& value) {
    return backslash(backslash(value, "\\':"), "\\'[],;");
}

std::string filter_chain(const analysis_result& r, const logo_work& w,
                         const std::string& mask_path) {
    std::vector<std::string> filters;
    const frame_rect& p = w.picture;
    if (r.has_crop) filters.push_back(crop_filter(p.w, p.h, p.x, p.y));
    const bool padded = w.width != p.w || w.height != p.h;
    if (padded && (w.mask || !w.rects.empty())) {
        filters.push_back("pad=" + std::to_string(w.width) + ":" + std::to_string(w.height) + ":" +
                          std::to_string(w.left) + ":" + std::to_string(w.top));
        filters.push_back("fillborders=left=" + std::to_string(w.left) +
                          ":right=" + std::to_string(w.right) + ":top=" + std::to_string(w.top) +
                          ":bottom=" + std::to_string(w.bottom) + ":mode=mirror");
    }
    if (w.mask)
        filters.push_back("removelogo=filename=" + escape_filter_value(file_url(mask_path)));
    for (const frame_rect& m : w.rects)
        filters.push_back("delogo=x=" + std::to_string(m.x) + ":y=" + std::to_string(m.y) +
                          ":w=" + std::to_string(m.w) + ":h=" + std::to_string(m.h));
    if (padded && (w.mask || !w.rects.empty()))
        filters.push_back(crop_filter(p.w, p.h, w.left, w.top));
    std::string chain;
    for (const std::string& f : filters)
        chain += (chain.empty() ? "" : ",") + f;
    return chain;
}

bool display_turn(const int32_t* m, std::string& forward, std::string& inverse) {
    forward.clear();
    inverse.clear();
    if (!m) return true;
    // The matrix's angle, clockwise in degrees as shown, taken into [0, 360) as ffmpeg does
    // (its columns scaled to unit length; 16.16 fixed point cancels out).
    const double s0 = std::hypot(double(m[0]), double(m[3])), s1 = std::hypot(double(m[1]), double(m[4]));
    if (s0 == 0 || s1 == 0) return true;
    double theta = std::round(std::atan2(m[1] / s1, m[0] / s0) * 180 / M_PI);
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    if (std::fabs(theta - 90) < 1) {
        forward = m[3] > 0 ? "transpose=cclock_flip" : "transpose=clock";
        inverse = m[3] > 0 ? "transpose=cclock_flip" : "transpose=cclock";
    } else if (std::fabs(theta - 180) < 1) {
        forward = m[0] < 0 ? "hflip" : "";
        if (m[4] < 0) forward += forward.empty() ? "vflip" : ",vflip";
        inverse = forward;
    } else if (std::fabs(theta - 270) < 1) {
        forward = m[3] < 0 ? "transpose=clock_flip" : "transpose=cclock";
        inverse = m[3] < 0 ? "transpose=clock_flip" : "transpose=clock";
    } else if (std::fabs(theta) < 1) {
        forward = inverse = m[4] < 0 ? "vflip" : "";
    } else {
        return false;
    }
    return true;
}

std::vector<uint8_t> frame_mask(const analysis_result& r) {
    const int fw = r.frame_width > 0 ? r.frame_width : 0;
    const int fh = r.frame_height > 0 ? r.frame_height : 0;
    std::vector<uint8_t> out(static_cast<size_t>(fw) * fh, 0);
    const size_t row_bytes = static_cast<size_t>(r.mask_width) / 8;
    if (!r.has_mask || r.mask.size() < row_bytes * r.mask_height) return out;
    for (int my = 0; my < r.mask_height; ++my) {
        const int y = r.mask_y + my;
        if (y < 0 || y >= fh) continue;
        for (int mx = 0; mx < r.mask_width; ++mx) {
            const int x = r.mask_x + mx;
            if (x >= 0 && x < fw && is_static(r.mask.data() + my * row_bytes, mx))
                out[static_cast<size_t>(y) * fw + x] = 255;
        }
    }
    return out;
}

std::vector<uint8_t> working_mask(const analysis_result& r, const logo_work& w) {
    const std::vector<uint8_t> frame = frame_mask(r);
    std::vector<uint8_t> out(static_cast<size_t>(w.width) * w.height, 0);
    if (frame.empty()) return out;
    const frame_rect& p = w.picture;
    for (int y = 0; y < w.height; ++y) {
        const size_t row = static_cast<size_t>(p.y + mirrored(y, w.top, p.h)) * r.frame_width;
        for (int x = 0; x < w.width; ++x)
            out[static_cast<size_t>(y) * w.width + x] = frame[row + p.x + mirrored(x, w.left, p.w)];
    }
    return out;
}

std::string mask_path_for(const std::string& output) {
    const size_t slash = output.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = output.rfind('.');
    // A leading dot names a hidden file, not an extension.
    const bool has_extension = dot != std::string::npos && dot > name;
    return (has_extension ? output.substr(0, dot) : output) + ".mask.png";
}
