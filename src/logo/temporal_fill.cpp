// The temporal fill: the motion around the logo measured from frame to frame, and each
// hidden pixel's picture taken from the nearest frames before and after that show it.
#include "logo/temporal_fill.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>

namespace {

// The flow around the logo's hidden pixels still sees its still edges: left out within
// this many pixels of them.
constexpr int flow_patch = 6;
// Detail: a pixel's weight in the fit is g^2 / (g^2 + detail^2), g its gradient (8-bit
// levels per pixel): flat sky tells nothing of the motion.
constexpr float detail = 4.0f;
// Pixels the map puts this far (pixels) from where the flow puts them count half.
constexpr double flow_outlier = 1.0;
// Two frames whose picture around the logo, moved by the map, still differs by this much
// on average (8-bit levels) are taken for a cut: no motion joins them.
constexpr double cut_residual = 12.0;
// The zoom's pull towards none, against the fit's weight: a zoom that moves the area's
// corners by a pixel must be worth this share of it.
constexpr double zoom_prior = 0.5;
// Rounds of the refinement on the pictures, and the difference (8-bit levels) beyond
// which a pixel counts less in it.
constexpr int refine_rounds = 3;
constexpr double huber = 6.0;
// Too little detail to tell the motion: the fit's total weight below this many pixels.
constexpr double least_detail = 16;
// Areas larger than this (pixels) are measured at half size.
constexpr int fine_area = 128 * 1024;

cv::Mat to_mat(const std::vector<float>& v, int w, int h) {
    cv::Mat m(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = m.ptr<uint8_t>(y);
        for (int x = 0; x < w; ++x)
            row[x] = uint8_t(std::clamp(std::lround(v[size_t(y) * w + x]), 0L, 255L));
    }
    return m;
}

// The picture `v` (w x h) at (x, y), bilinear; (x, y) within [0, w - 1] x [0, h - 1].
float bilinear(const std::vector<float>& v, int w, int h, double x, double y) {
    const int x0 = std::min(int(x), std::max(0, w - 2)), y0 = std::min(int(y), std::max(0, h - 2));
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const float fx = float(x - x0), fy = float(y - y0);
    const float* r0 = &v[size_t(y0) * w];
    const float* r1 = &v[size_t(y1) * w];
    return (r0[x0] * (1 - fx) + r0[x1] * fx) * (1 - fy) + (r1[x0] * (1 - fx) + r1[x1] * fx) * fy;
}

} // namespace

motion motion::then(const motion& n) const {
    motion r;
    r.known = known && n.known;
    r.a[0] = n.a[0] + n.a[1] * a[0] + n.a[2] * a[3];
    r.a[1] = n.a[1] * a[1] + n.a[2] * a[4];
    r.a[2] = n.a[1] * a[2] + n.a[2] * a[5];
    r.a[3] = n.a[3] + n.a[4] * a[0] + n.a[5] * a[3];
    r.a[4] = n.a[4] * a[1] + n.a[5] * a[4];
    r.a[5] = n.a[4] * a[2] + n.a[5] * a[5];
    return r;
}

motion motion::inverse() const {
    motion r;
    const double d = a[1] * a[5] - a[2] * a[4];
    r.known = known && std::fabs(d) > 1e-9;
    if (!r.known) return r;
    r.a[1] = a[5] / d;
    r.a[2] = -a[2] / d;
    r.a[4] = -a[4] / d;
    r.a[5] = a[1] / d;
    r.a[0] = -(r.a[1] * a[0] + r.a[2] * a[3]);
    r.a[3] = -(r.a[4] * a[0] + r.a[5] * a[3]);
    return r;
}

motion measure_motion(const std::vector<float>& from, const std::vector<float>& to,
                      const std::vector<uint8_t>& known, int w, int h) {
    motion m;
    if (w < 16 || h < 16) return m;
    // Large areas at half size: the map is the same, the flow four times cheaper.
    const int step = w * h > fine_area ? 2 : 1;
    cv::Mat a = to_mat(from, w, h), b = to_mat(to, w, h);
    cv::Mat held(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            held.at<uint8_t>(y, x) = known[size_t(y) * w + x] ? 255 : 0;
    cv::erode(held, held,
              cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * flow_patch + 1, 2 * flow_patch + 1)),
              cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(255));
    if (step == 2) {
        cv::resize(a, a, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_AREA);
        cv::resize(b, b, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_AREA);
        cv::resize(held, held, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_NEAREST);
    }
    // One instance per thread (the stage runs on one): DIS keeps its buffers between calls.
    thread_local cv::Ptr<cv::DISOpticalFlow> dis =
        cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_ULTRAFAST);
    cv::Mat flow;
    dis->calc(a, b, flow);
    // The points: (x, y) -> (x + fx, y + fy) in area pixels, each weighed by its detail.
    struct point {
        double x, y, tx, ty, weight;
    };
    std::vector<point> points;
    double total = 0;
    // (every other pixel each way: plenty for three unknowns)
    for (int y = 1; y + 1 < a.rows; y += 2)
        for (int x = 1 + (y / 2) % 2; x + 1 < a.cols; x += 2) {
            if (!held.at<uint8_t>(y, x)) continue;
            const float gx = 0.5f * (float(a.at<uint8_t>(y, x + 1)) - float(a.at<uint8_t>(y, x - 1)));
            const float gy = 0.5f * (float(a.at<uint8_t>(y + 1, x)) - float(a.at<uint8_t>(y - 1, x)));
            const float g2 = (gx * gx + gy * gy) / float(step * step);
            const double weight = g2 / (g2 + detail * detail);
            const cv::Point2f f = flow.at<cv::Point2f>(y, x);
            const double px = double(x * step), py = double(y * step);
            points.push_back({px, py, px + double(f.x) * step, py + double(f.y) * step, weight});
            total += weight;
        }
    if (total < least_detail) return m;
    // The camera's motion: a move and a zoom about the area's middle, weighted least
    // squares, then again with the points the map leaves far out weighing less (objects
    // moving across the camera's motion). The zoom is held towards none: on a picture of
    // little detail a free affine map's terms would wander, and they add up over the
    // frames a pixel is followed through.
    const double cx = 0.5 * (w - 1), cy = 0.5 * (h - 1);
    std::vector<double> robust(points.size(), 1.0);
    for (int round = 0; round < 4; ++round) {
        // Unknowns: move x, move y, zoom - 1 (z): tx = x + mx + z (x - cx), ty = y + my + z (y - cy).
        cv::Matx33d n = cv::Matx33d::zeros();
        cv::Vec3d b(0, 0, 0);
        for (size_t k = 0; k < points.size(); ++k) {
            const point& p = points[k];
            const double wgt = p.weight * robust[k];
            const cv::Vec3d vx(1, 0, p.x - cx), vy(0, 1, p.y - cy);
            n += wgt * (vx * vx.t() + vy * vy.t());
            b += wgt * ((p.tx - p.x) * vx + (p.ty - p.y) * vy);
        }
        n(2, 2) += zoom_prior * total * (cx * cx + cy * cy);
        cv::Vec3d s;
        if (!cv::solve(n, b, s, cv::DECOMP_CHOLESKY)) return m;
        m.a[0] = s[0] - s[2] * cx, m.a[1] = 1 + s[2], m.a[2] = 0;
        m.a[3] = s[1] - s[2] * cy, m.a[4] = 0, m.a[5] = 1 + s[2];
        for (size_t k = 0; k < points.size(); ++k) {
            double tx, ty;
            m.move_point(points[k].x, points[k].y, tx, ty);
            const double e = std::hypot(tx - points[k].tx, ty - points[k].ty) / flow_outlier;
            robust[k] = 1.0 / (1.0 + e * e);
        }
    }
    // The flow's fit is a start: the map refined on the pictures themselves (Gauss-Newton
    // on the difference of the second picture moved by the map and the first, over the
    // known pixels of detail), where the flow's patches and smoothing blur the sub-pixel.
    {
        std::vector<float> gx(size_t(w) * h, 0.0f), gy(gx.size(), 0.0f);
        for (int y = 1; y + 1 < h; ++y)
            for (int x = 1; x + 1 < w; ++x) {
                const size_t i = size_t(y) * w + x;
                gx[i] = 0.5f * (to[i + 1] - to[i - 1]);
                gy[i] = 0.5f * (to[i + size_t(w)] - to[i - size_t(w)]);
            }
        double mx = m.a[0] + (m.a[1] - 1) * cx, my = m.a[3] + (m.a[5] - 1) * cy, z = m.a[1] - 1;
        for (int round = 0; round < refine_rounds; ++round) {
            cv::Matx33d n = cv::Matx33d::zeros();
            cv::Vec3d b(0, 0, 0);
            // (every other pixel each way: the map has three unknowns)
            for (int y = 1; y + 1 < h; y += 2)
                for (int x = 1 + (y / 2) % 2; x + 1 < w; x += 2) {
                    if (!held.at<uint8_t>(std::min(y / step, held.rows - 1), std::min(x / step, held.cols - 1)))
                        continue;
                    const double tx = x + mx + z * (x - cx), ty = y + my + z * (y - cy);
                    if (tx < 1 || ty < 1 || tx > w - 2 || ty > h - 2) continue;
                    const double r = double(bilinear(to, w, h, tx, ty)) - double(from[size_t(y) * w + x]);
                    const double ex = bilinear(gx, w, h, tx, ty), ey = bilinear(gy, w, h, tx, ty);
                    const cv::Vec3d j(ex, ey, ex * (x - cx) + ey * (y - cy));
                    // Huber: a moving object's pixels count less.
                    const double wgt = std::fabs(r) <= huber ? 1.0 : huber / std::fabs(r);
                    n += wgt * j * j.t();
                    b -= wgt * r * j;
                }
            n(2, 2) += 1e-3 * (n(0, 0) + n(1, 1)) * (cx * cx + cy * cy);
            cv::Vec3d d;
            if (!cv::solve(n, b, d, cv::DECOMP_CHOLESKY)) break;
            mx += d[0], my += d[1], z += d[2];
        }
        m.a[0] = mx - z * cx, m.a[1] = 1 + z, m.a[2] = 0;
        m.a[3] = my - z * cy, m.a[4] = 0, m.a[5] = 1 + z;
    }
    // A cut: the picture moved by the map still differs too much.
    double sum = 0;
    size_t count = 0;
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) {
            if (!known[size_t(y) * w + x]) continue;
            double tx, ty;
            m.move_point(x, y, tx, ty);
            if (tx < 0 || ty < 0 || tx > w - 1 || ty > h - 1) continue;
            sum += std::fabs(double(bilinear(to, w, h, tx, ty)) - double(from[size_t(y) * w + x]));
            ++count;
        }
    m.known = count > 0 && sum / double(count) <= cut_residual;
    return m;
}

namespace {

// A layer: the rows of one field (or all rows) of a plane's area.
struct layer_view {
    int fields = 1, field = 0;
    int rows(int h) const { return (h - field + fields - 1) / fields; }
    int row(int t) const { return t * fields + field; }
};

// Whether the pixel at area index i of a plane shows the picture cleanly.
bool clean(const plane_restoration& p, const work_plane& wp, size_t i) {
    return p.source[i] && (wp.hidden.empty() || wp.hidden[i] <= 0);
}

} // namespace

struct temporal_stage::record {
    long long index = 0;
    std::vector<motion> to_prev, to_next; // per layer; unknown across a cut
    std::vector<std::vector<float>> luma; // per layer, until the frame after came
    std::vector<std::vector<uint8_t>> known;
    std::unique_ptr<work_frame> observed; // once past: as undone, before any fill
};

temporal_stage::temporal_stage(std::shared_ptr<const restoration> plan, int ahead, int behind)
    : plan_(std::move(plan)), ahead_(std::clamp(ahead, 0, 4 * default_reach)),
      behind_(std::clamp(behind, 0, 4 * default_reach)) {
    // The fill runs beside the encoder: OpenCV's own threads would only contend with it,
    // and one thread gives the same result every time.
    cv::setNumThreads(0);
    // Each pixel's distance to the nearest source, per plane (plane pixels).
    for (int k = 0; k < plan_->planes; ++k) {
        const plane_restoration& p = plan_->plane[k];
        if (p.w <= 0) continue;
        cv::Mat not_source(p.h, p.w, CV_8UC1);
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x)
                not_source.at<uint8_t>(y, x) = p.source[size_t(y) * p.w + x] ? 0 : 255;
        cv::Mat d;
        cv::distanceTransform(not_source, d, cv::DIST_L2, cv::DIST_MASK_PRECISE);
        distance_[size_t(k)].assign(d.begin<float>(), d.end<float>());
    }
}

temporal_stage::~temporal_stage() = default;

void temporal_stage::enter(const work_frame& f) {
    const restoration& r = *plan_;
    const plane_restoration& p = r.plane[0];
    auto rec = std::make_unique<record>();
    rec->index = f.index;
    const int fields = r.interlaced && p.h > 1 ? 2 : 1;
    rec->to_prev.resize(size_t(fields));
    rec->to_next.resize(size_t(fields));
    for (int field = 0; field < fields; ++field) {
        const layer_view lv{fields, field};
        const int rows = lv.rows(p.h);
        std::vector<float> luma(size_t(p.w) * rows);
        std::vector<uint8_t> known(luma.size());
        for (int t = 0; t < rows; ++t)
            for (int u = 0; u < p.w; ++u) {
                const size_t i = size_t(lv.row(t)) * p.w + u;
                luma[size_t(t) * p.w + u] = f.plane[0].v[i];
                known[size_t(t) * p.w + u] = clean(p, f.plane[0], i);
            }
        rec->luma.push_back(std::move(luma));
        rec->known.push_back(std::move(known));
    }
    record* before = records_.empty() ? nullptr : records_.back().get();
    if (before && before->index == f.index - 1 && before->luma.size() == size_t(fields)) {
        for (int field = 0; field < fields; ++field) {
            const int rows = layer_view{fields, field}.rows(p.h);
            std::vector<uint8_t> known = before->known[size_t(field)];
            for (size_t i = 0; i < known.size(); ++i)
                known[i] = known[i] && rec->known[size_t(field)][i];
            const motion m = measure_motion(before->luma[size_t(field)], rec->luma[size_t(field)],
                                            known, p.w, rows);
            before->to_next[size_t(field)] = m;
            rec->to_prev[size_t(field)] = m.inverse();
        }
    }
    if (before) {
        before->luma.clear();
        before->known.clear();
    }
    records_.push_back(std::move(rec));
}

void temporal_stage::run(frame_window& w) {
    const restoration& r = *plan_;
    for (int k = 0; k <= w.last(); ++k) {
        const work_frame* f = w.at(k);
        if (f->index < next_) continue;
        enter(*f);
        next_ = f->index + 1;
    }
    work_frame& current = w.current();
    const long long t = current.index;
    auto record_of = [&](long long index) -> record* {
        if (records_.empty()) return nullptr;
        const long long first = records_.front()->index;
        if (index < first || index - first >= (long long)records_.size()) return nullptr;
        record* rec = records_[size_t(index - first)].get();
        return rec->index == index ? rec : nullptr;
    };
    record* here = record_of(t);
    if (!here) return;
    auto observed = std::make_unique<work_frame>(current);
    const plane_restoration& pl = r.plane[0];
    const int fields = r.interlaced && pl.h > 1 ? 2 : 1;
    for (int field = 0; field < fields; ++field) {
        // The maps from this frame to each frame before and after it that motion joins it to,
        // nearest first, and those frames.
        struct reach {
            motion map;
            const work_frame* frame;
            int distance;
            double moved; // the farthest the map moves a pixel of the logo's box (luma)
        };
        auto farthest = [&](const motion& e) {
            double most = 0;
            for (const int cx : {pl.lx, pl.lx + pl.lw})
                for (const int cy : {pl.ly / fields, (pl.ly + pl.lh) / fields}) {
                    double tx, ty;
                    e.move_point(cx, cy, tx, ty);
                    most = std::max(most, std::hypot(tx - cx, ty - cy));
                }
            return most;
        };
        std::vector<reach> ahead, behind;
        motion m; // the identity
        m.known = true;
        for (int d = 1; d <= std::min(ahead_, w.last()); ++d) {
            const record* rec = record_of(t + d - 1);
            if (!rec || !rec->to_next[size_t(field)].known) break;
            m = m.then(rec->to_next[size_t(field)]);
            ahead.push_back({m, w.at(d), d, farthest(m)});
        }
        m = motion();
        m.known = true;
        for (int d = 1; d <= behind_; ++d) {
            const record* rec = record_of(t - d + 1);
            const record* older = record_of(t - d);
            if (!rec || !older || !older->observed || !rec->to_prev[size_t(field)].known) break;
            m = m.then(rec->to_prev[size_t(field)]);
            behind.push_back({m, older->observed.get(), d, farthest(m)});
        }
        if (ahead.empty() && behind.empty()) continue;
        // The farthest move of each frame's map or a nearer one's: rising.
        auto rising = [](const std::vector<reach>& way) {
            std::vector<double> most;
            for (const reach& e : way)
                most.push_back(std::max(most.empty() ? 0.0 : most.back(), e.moved));
            return most;
        };
        const std::vector<double> most_ahead = rising(ahead), most_behind = rising(behind);
        for (int k = 0; k < r.planes; ++k) {
            const plane_restoration& p = r.plane[k];
            work_plane& wp = current.plane[k];
            if (wp.hidden.empty() || p.w <= 0) continue;
            const layer_view lv{fields, field};
            const int rows = lv.rows(p.h);
            const int sx = k ? r.shift_x : 0, sy = k ? r.shift_y : 0;
            // Plane layer positions <-> luma layer positions (chroma sited between its rows).
            const double half = sy ? 0.5 : 0.0;
            auto to_luma = [&](double u, double v, double& x, double& y) {
                x = (p.x + u) * (1 << sx) - pl.x;
                y = (p.y / fields + v) * (1 << sy) + half - pl.y / fields;
            };
            auto from_luma = [&](double x, double y, double& u, double& v) {
                u = (x + pl.x) / (1 << sx) - p.x;
                v = (y + pl.y / fields - half) / (1 << sy) - p.y / fields;
            };
            // The picture at plane layer position (u, v) of frame `f`, when it shows it there.
            auto sample = [&](const work_frame* f, double u, double v, float& value) {
                if (u < 0 || v < 0 || u > p.w - 1 || v > rows - 1) return false;
                const int u0 = std::min(int(u), std::max(0, p.w - 2));
                const int v0 = std::min(int(v), std::max(0, rows - 2));
                const int u1 = std::min(u0 + 1, p.w - 1), v1 = std::min(v0 + 1, rows - 1);
                const work_plane& fp = f->plane[k];
                const size_t i00 = size_t(lv.row(v0)) * p.w + u0, i01 = size_t(lv.row(v0)) * p.w + u1;
                const size_t i10 = size_t(lv.row(v1)) * p.w + u0, i11 = size_t(lv.row(v1)) * p.w + u1;
                if (!clean(p, fp, i00) || !clean(p, fp, i01) || !clean(p, fp, i10) || !clean(p, fp, i11))
                    return false;
                const float fu = float(u - u0), fv = float(v - v0);
                value = (fp.v[i00] * (1 - fu) + fp.v[i01] * fu) * (1 - fv) +
                        (fp.v[i10] * (1 - fu) + fp.v[i11] * fu) * fv;
                return true;
            };
            // The nearest frame one way that shows the picture at (u, v): its distance (0
            // for none) and the picture.
            // A pixel this far (luma pixels) from the nearest source cannot be shown by a
            // frame whose map moves the logo's box less.
            const std::vector<float>& far = distance_[size_t(k)];
            const double scale = double(1 << std::min(sx, sy)) * (fields == 2 ? 0.5 : 1.0);
            // Whether frame way[n] shows the picture at luma layer position (x, y).
            auto shows = [&](const std::vector<reach>& way, size_t n, double x, double y, float& value) {
                double tx, ty, tu, tv;
                way[n].map.move_point(x, y, tx, ty);
                from_luma(tx, ty, tu, tv);
                return sample(way[n].frame, tu, tv, value);
            };
            // The nearest frame one way that shows the picture at (u, v): 1 + its place in
            // `way`, 0 for none.
            auto nearest = [&](const std::vector<reach>& way, const std::vector<double>& most,
                               int u, int v, float& value) -> size_t {
                double x, y;
                to_luma(u, v, x, y);
                const double need = far[size_t(lv.row(v)) * p.w + size_t(u)] * scale - 2.0;
                // (the first frame whose map, or a nearer one's, moves far enough)
                const size_t first = size_t(std::lower_bound(most.begin(), most.end(), need) - most.begin());
                for (size_t n = first; n < way.size(); ++n)
                    if (way[n].moved >= need && shows(way, n, x, y, value)) return n + 1;
                return 0;
            };
            // Followed in full on a grid of the hidden pixels; the pixels between try the
            // frames their grid neighbours found (and the one after each): the frame that
            // first shows a pixel changes little from a pixel to the next.
            const int g = k ? 2 : 3;
            const int gw = (p.w + g - 1) / g + 1, gh = (rows + g - 1) / g + 1;
            std::vector<size_t> grid_ahead(size_t(gw) * gh, 0), grid_behind(grid_ahead.size(), 0);
            for (int gv = 0; gv < gh; ++gv)
                for (int gu = 0; gu < gw; ++gu) {
                    const int u = std::min(gu * g, p.w - 1), v = std::min(gv * g, rows - 1);
                    if (wp.hidden[size_t(lv.row(v)) * p.w + u] <= 0) continue;
                    float unused;
                    grid_ahead[size_t(gv) * gw + gu] = nearest(ahead, most_ahead, u, v, unused);
                    grid_behind[size_t(gv) * gw + gu] = nearest(behind, most_behind, u, v, unused);
                }
            auto between = [&](const std::vector<reach>& way, const std::vector<size_t>& grid, int u,
                               int v, float& value) -> int {
                // The frames to try: each grid neighbour's, and the one after it.
                std::vector<size_t> tried;
                const int gu = u / g, gv = v / g;
                for (const int c : {0, 1, gw, gw + 1}) {
                    const size_t found = grid[size_t(gv * gw + gu + c)];
                    if (found) tried.insert(tried.end(), {found, found + 1});
                }
                std::sort(tried.begin(), tried.end());
                double x, y;
                to_luma(u, v, x, y);
                size_t best = 0;
                for (const size_t n : tried)
                    if (n <= way.size() && shows(way, n - 1, x, y, value)) {
                        best = n;
                        break;
                    }
                return best ? way[best - 1].distance : 0;
            };
            for (int v = 0; v < rows; ++v)
                for (int u = 0; u < p.w; ++u) {
                    const size_t i = size_t(lv.row(v)) * p.w + u;
                    if (wp.hidden[i] <= 0) continue;
                    float after = 0, before = 0;
                    const int da = between(ahead, grid_ahead, u, v, after),
                              db = between(behind, grid_behind, u, v, before);
                    if (!da && !db) continue;
                    // The nearer frame counts more: the picture changes with time.
                    const float wa = da ? 1.0f / float(da) : 0.0f, wb = db ? 1.0f / float(db) : 0.0f;
                    const float found = (wa * after + wb * before) / (wa + wb);
                    wp.v[i] = (1.0f - wp.hidden[i]) * wp.v[i] + wp.hidden[i] * found;
                    wp.hidden[i] = found_picture;
                }
        }
    }
    // Kept as it was before the fill: the frames after it read its picture, not a fill.
    here->observed = std::move(observed);
    while (!records_.empty() && records_.front()->index < t - behind_)
        records_.pop_front();
}
