// The logo's presence in each frame: the evidence of its luma, decided with the frames
// around it.
#include "logo/logo_presence.h"

#include <algorithm>
#include <cmath>
#include <vector>


namespace {

// Undone samples this far (8-bit levels) beyond black or white cannot be a picture's.
constexpr float out_of_range = 24.0f;
// A frame with more than this share of its undone pixels out of range has no logo.
constexpr double impossible_share = 0.25;
// The ring around the logo tells when this share of it would be out of range under the
// logo, and it has at least least_ring pixels (as the logo's translucent part).
constexpr double telling_ring = 0.15;
constexpr size_t least_ring = 64;
// The logo's expected signal must reach this many levels (8-bit, root mean square) for a
// frame to tell anything: a picture the logo's colour hides it.
constexpr double least_signal = 1.0;

} // namespace

double logo_evidence(const restoration& r, int g, const work_plane& luma,
                     const std::vector<float>& mean, float strength) {
    const plane_restoration& p = r.plane[0];
    if (p.w <= 0 || g < 0 || g >= int(r.graphics.size()) || r.graphics[size_t(g)].support.empty())
        return cannot_tell;
    const graphic_test& t = r.graphics[size_t(g)];
    const std::vector<float>& observed = luma.v;
    // Undone, a picture that had no logo comes out below black (or above white) wherever
    // it was darker (lighter) than the logo's share: no picture has such samples.
    const float margin = out_of_range;
    size_t impossible = 0;
    for (int i : t.undone) {
        const float a = strength * p.alpha[size_t(i)];
        const float u = (observed[size_t(i)] - a * p.colour[size_t(i)]) / (1.0f - a);
        impossible += u < -margin || u > r.top + margin;
    }
    const double inside = t.undone.empty() ? 0 : double(impossible) / double(t.undone.size());
    if (inside > impossible_share) return 2.0;
    // The same for the picture just around the logo, as if it were under the logo's mean
    // opacity and colour: where that picture is dark (light) enough to give such samples
    // and the logo's own pixels give none, the logo is there, however textured the
    // picture; where both give them alike, it is not.
    if (t.ring.size() >= least_ring && t.undone.size() >= least_ring) {
        const float ring_alpha = strength * t.ring_alpha;
        const float gain = 1.0f / (1.0f - ring_alpha);
        const float offset = ring_alpha * t.ring_colour * gain;
        size_t would = 0;
        for (int i : t.ring) {
            const float u = observed[size_t(i)] * gain - offset;
            would += u < -margin || u > r.top + margin;
        }
        const double around = double(would) / double(t.ring.size());
        if (around >= telling_ring) {
            if (inside < 0.2 * around) return 0.0;
            if (inside > 0.6 * around) return 2.0;
        }
    }
    // The logo adds alpha (colour - picture): in the high-pass, about hp(alpha colour) -
    // hp(alpha) times the picture's local mean. The frame's high-pass is held against
    // that: a picture's own texture does not follow the logo's shape, the logo does.
    const size_t n = t.support.size();
    std::vector<double> expected(n);
    for (size_t k = 0; k < n; ++k) {
        const size_t i = size_t(t.support[k]);
        expected[k] = t.hp_alpha_colour[k] - t.hp_alpha[k] * mean[i];
    }
    double sh = 0, ss = 0, shh = 0, sss = 0, shs = 0;
    for (size_t k = 0; k < n; ++k) {
        const size_t i = size_t(t.support[k]);
        const double h = observed[i] - mean[i];
        const double e = expected[k];
        sh += h;
        ss += e;
        shh += h * h;
        sss += e * e;
        shs += h * e;
    }
    const double vh = shh - sh * sh / double(n), ve = sss - ss * ss / double(n);
    if (ve < least_signal * least_signal * double(n) || vh <= 0)
        return cannot_tell;
    const double correlation = (shs - sh * ss / double(n)) / std::sqrt(vh * ve);
    // 0 for a perfect match, 1 for none, 2 for the logo's negative.
    return 1.0 - correlation;
}


bool presence_state::update(double evidence) {
    if (std::isnan(evidence)) return present;
    if (present && evidence > 1.0 - drop_correlation) present = false;
    else if (!present && evidence < 1.0 - take_correlation) present = true;
    return present;
}

void presence_window::add(double evidence) {
    evidence_.push_back(evidence);
}

bool presence_window::decide() {
    std::vector<double> around;
    for (long long f = std::max(first_, next_ - reach);
         f <= next_ + reach && f - first_ < static_cast<long long>(evidence_.size()); ++f) {
        const double e = evidence_[size_t(f - first_)];
        if (!std::isnan(e)) around.push_back(e);
    }
    double median = cannot_tell;
    if (!around.empty()) {
        std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
        median = around[around.size() / 2];
    }
    const bool present = state_.update(median);
    ++next_;
    while (first_ < next_ - reach && !evidence_.empty()) {
        evidence_.pop_front();
        ++first_;
    }
    return present;
}
