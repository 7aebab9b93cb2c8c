// The chain of stages: each stage's frames wait until it has its window, run, and move on.
#include "logo/frame_stages.h"

#include <algorithm>
#include <cmath>

frame_window::frame_window(work_frame& current, const std::deque<std::unique_ptr<work_frame>>& past,
                           const std::deque<std::unique_ptr<work_frame>>& coming, int before,
                           int after)
    : current_(current), past_(past), coming_(coming),
      first_(-std::min(before, int(past.size()))),
      last_(std::min(after, int(coming.size()) - 1)) {}

const work_frame* frame_window::at(int offset) const {
    if (offset == 0) return &current_;
    if (offset < first_ || offset > last_) return nullptr;
    if (offset < 0) return past_[past_.size() - size_t(-offset)].get();
    return coming_[size_t(offset)].get();
}

stage_chain::stage_chain(std::vector<std::unique_ptr<frame_stage>> stages) {
    for (auto& s : stages)
        slots_.push_back(slot{std::move(s), {}, {}});
}

int stage_chain::delay() const {
    int total = 0;
    for (const slot& s : slots_)
        total += s.stage->after();
    return total;
}

void stage_chain::push(std::unique_ptr<work_frame> frame, frame_list& done) {
    if (slots_.empty()) {
        done.push_back(std::move(frame));
        return;
    }
    slots_[0].waiting.push_back(std::move(frame));
    advance(false, done);
}

void stage_chain::finish(frame_list& done) {
    advance(true, done);
}

void stage_chain::advance(bool ended, frame_list& done) {
    // Stage by stage, in order: what one stage finishes is the next one's input at once,
    // so that at the end of the stream every stage drains after the one before it.
    for (size_t k = 0; k < slots_.size(); ++k) {
        slot& s = slots_[k];
        const int before = s.stage->before(), after = s.stage->after();
        while (!s.waiting.empty() && (ended || int(s.waiting.size()) > after)) {
            {
                // The current frame stays first in `waiting` while it runs: its window's
                // frames after it are the ones behind it there.
                frame_window w(*s.waiting.front(), s.past, s.waiting, before, after);
                s.stage->run(w);
            }
            std::unique_ptr<work_frame> current = std::move(s.waiting.front());
            s.waiting.pop_front();
            if (before > 0) {
                s.past.push_back(std::make_unique<work_frame>(*current));
                while (int(s.past.size()) > before)
                    s.past.pop_front();
            }
            if (k + 1 < slots_.size())
                slots_[k + 1].waiting.push_back(std::move(current));
            else
                done.push_back(std::move(current));
        }
    }
}

namespace {

template <typename T>
void read_plane(const plane_data& d, int x, int y, int w, int h, float scale, work_plane& p) {
    p.x = x;
    p.y = y;
    p.w = w;
    p.h = h;
    p.v.resize(size_t(w) * size_t(h));
    for (int t = 0; t < h; ++t) {
        const T* row = reinterpret_cast<const T*>(d.data + (y + t) * d.stride) + x;
        float* out = &p.v[size_t(t) * size_t(w)];
        for (int u = 0; u < w; ++u)
            out[u] = float(row[u]) * scale;
    }
}

template <typename T>
void write_plane(const work_plane& p, float scale, float max_value, const plane_data& d) {
    for (int t = 0; t < p.h; ++t) {
        T* row = reinterpret_cast<T*>(d.data + (p.y + t) * d.stride) + p.x;
        const float* in = &p.v[size_t(t) * size_t(p.w)];
        for (int u = 0; u < p.w; ++u)
            row[u] = T(std::lrint(std::clamp(in[u] * scale, 0.0f, max_value)));
    }
}

} // namespace

std::unique_ptr<work_frame> read_work(const work_layout& l, const plane_data frame[3],
                                      long long index) {
    auto f = std::make_unique<work_frame>();
    f->index = index;
    f->planes = l.planes;
    // Samples of 2^depth levels on the 8-bit scale: exact in a float up to 16 bits, so a
    // sample read and written back unchanged is the same sample.
    const float to_8bit = 256.0f / float(1 << l.depth);
    for (int k = 0; k < l.planes; ++k) {
        if (l.depth > 8)
            read_plane<uint16_t>(frame[k], l.x[k], l.y[k], l.w[k], l.h[k], to_8bit, f->plane[k]);
        else
            read_plane<uint8_t>(frame[k], l.x[k], l.y[k], l.w[k], l.h[k], to_8bit, f->plane[k]);
    }
    return f;
}

void write_work(const work_layout& l, const work_frame& f, plane_data frame[3]) {
    const float from_8bit = float(1 << l.depth) / 256.0f, max_value = float((1 << l.depth) - 1);
    for (int k = 0; k < l.planes; ++k) {
        if (l.depth > 8)
            write_plane<uint16_t>(f.plane[k], from_8bit, max_value, frame[k]);
        else
            write_plane<uint8_t>(f.plane[k], from_8bit, max_value, frame[k]);
    }
}
