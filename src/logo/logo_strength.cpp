// Each graphic's strength per frame: the fit of its opacity's scale, decided with the
// frames around it and its presence.
#include "logo/logo_strength.h"

#include <algorithm>
#include <cmath>

#include "logo/box_mean.h"

namespace {

// The graphic's expected signal must reach this many levels (8-bit, root mean square) at
// full strength for a frame to tell its strength.
constexpr double least_signal = 1.0;
// The presence is told at no less than this strength.
constexpr double least_strength = 0.1;
// A fit whose standard error (from what the fitted graphic leaves unexplained) is above
// this cannot tell: over a textured picture the fit wanders by a fifth either way, and
// undoing at a wandering strength paints the model's every error into the frame.
constexpr double most_strength_error = 0.04;

} // namespace

double fit_strength(const restoration& r, int g, const work_plane& luma,
                    const std::vector<float>& mean) {
    const plane_restoration& p = r.plane[0];
    if (p.w <= 0 || g < 0 || g >= int(r.graphics.size())) return cannot_tell;
    const graphic_test& t = r.graphics[size_t(g)];
    const size_t n = t.support.size();
    if (n == 0) return cannot_tell;
    // At strength s the graphic adds s alpha (colour - picture): in the high-pass, s (hp(alpha
    // colour) - hp(alpha) picture), the picture's local mean being the frame's undone at s.
    double s = 1.0;
    for (int round = 0; round < 3; ++round) {
        double sh = 0, se = 0, see = 0, she = 0, shh = 0;
        for (size_t k = 0; k < n; ++k) {
            const size_t i = size_t(t.support[k]);
            const double ma = p.alpha[i] - t.hp_alpha[k];
            const double mc = p.alpha[i] * p.colour[i] - t.hp_alpha_colour[k];
            const double under = (mean[i] - s * mc) / std::max(0.1, 1.0 - s * ma);
            const double e = t.hp_alpha_colour[k] - t.hp_alpha[k] * under;
            const double h = luma.v[i] - mean[i];
            sh += h;
            se += e;
            see += e * e;
            she += h * e;
            shh += h * h;
        }
        const double ve = see - se * se / double(n);
        if (ve < least_signal * least_signal * double(n)) return cannot_tell;
        s = (she - sh * se / double(n)) / ve;
        if (round == 2) {
            const double unexplained = std::max(0.0, shh - sh * sh / double(n) - s * s * ve);
            if (unexplained > most_strength_error * most_strength_error * double(n) * ve)
                return cannot_tell;
        }
    }
    return s;
}

double decide_strength(std::vector<double> fits) {
    fits.erase(std::remove_if(fits.begin(), fits.end(), [](double f) { return std::isnan(f); }),
               fits.end());
    if (fits.empty()) return 1.0;
    std::nth_element(fits.begin(), fits.begin() + fits.size() / 2, fits.end());
    const double s = std::clamp(fits[fits.size() / 2], 0.0, 1.0);
    return s >= 1.0 - full_strength ? 1.0 : s;
}

strength_stage::strength_stage(std::shared_ptr<const restoration> plan)
    : plan_(std::move(plan)), graphics_(plan_->graphics.size()) {}

int strength_stage::after() const {
    return std::max(presence_window::reach, strength_reach);
}

void strength_stage::run(frame_window& w) {
    const plane_restoration& p = plan_->plane[0];
    // Each frame measured once, in order, as it first comes into the window.
    for (int k = 0; k <= w.last(); ++k) {
        const work_frame* f = w.at(k);
        if (f->index < next_) continue;
        if (next_ == 0 && first_fit_ == 0) first_fit_ = f->index;
        next_ = f->index + 1;
        if (graphics_.empty()) continue;
        const std::vector<float> mean = box_mean(f->plane[0].v, p.w, p.h, high_pass_radius);
        for (size_t g = 0; g < graphics_.size(); ++g) {
            // Its presence told at the strength it seems to have: a fading logo's samples
            // undone at full strength would be out of range, and say it is not there.
            const double fit = fit_strength(*plan_, int(g), f->plane[0], mean);
            const float at = std::isnan(fit) ? 1.0f : float(std::clamp(fit, least_strength, 1.0));
            graphics_[g].presence.add(logo_evidence(*plan_, int(g), f->plane[0], mean, at));
            graphics_[g].fits.push_back(fit);
        }
    }
    work_frame& f = w.current();
    const long long current = f.index;
    f.strength.assign(graphics_.size(), 0.0f);
    for (size_t g = 0; g < graphics_.size(); ++g) {
        graphic_state& s = graphics_[g];
        if (!s.presence.decide()) continue;
        std::vector<double> around;
        for (long long i = std::max(first_fit_, current - strength_reach);
             i <= current + strength_reach && i - first_fit_ < (long long)s.fits.size(); ++i)
            around.push_back(s.fits[size_t(i - first_fit_)]);
        f.strength[g] = float(decide_strength(around));
    }
    while (first_fit_ < current + 1 - strength_reach) {
        for (graphic_state& s : graphics_)
            if (!s.fits.empty()) s.fits.pop_front();
        ++first_fit_;
    }
}
