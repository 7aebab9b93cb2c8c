// The restoration under a logo on plain buffers: a known picture, a logo blended onto it
// exactly as the model says, and what comes back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "logo/restoration.h"

namespace {

constexpr int W = 64, H = 48;

// A 4:2:0 picture of 8-bit or 16-bit samples.
struct picture {
    int depth = 8;
    std::vector<uint8_t> bytes[3]; // samples of one or two bytes
    int sample(int k, int x, int y) const {
        const int w = k ? W / 2 : W;
        const size_t i = size_t(y) * w + x;
        if (depth <= 8) return bytes[k][i];
        return bytes[k][2 * i] | bytes[k][2 * i + 1] << 8;
    }
    void set(int k, int x, int y, int v) {
        const int w = k ? W / 2 : W;
        const size_t i = size_t(y) * w + x;
        if (depth <= 8) {
            bytes[k][i] = uint8_t(v);
        } else {
            bytes[k][2 * i] = uint8_t(v);
            bytes[k][2 * i + 1] = uint8_t(v >> 8);
        }
    }
    void run(const restoration& r, bool check_presence, presence_state* state = nullptr) {
        plane_data d[3];
        const int size = depth <= 8 ? 1 : 2;
        for (int k = 0; k < 3; ++k)
            d[k] = plane_data{bytes[k].data(), ptrdiff_t((k ? W / 2 : W) * size)};
        if (check_presence && !state->update(logo_evidence(r, 0, d))) return;
        restore_frame(r, d);
    }
};

// A picture of `depth` bits from f(plane, x, y) on the 8-bit scale.
template <typename F> picture make_picture(int depth, F f) {
    picture p;
    p.depth = depth;
    for (int k = 0; k < 3; ++k) {
        const int w = k ? W / 2 : W, h = k ? H / 2 : H;
        p.bytes[k].assign(size_t(w) * h * (depth <= 8 ? 1 : 2), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                p.set(k, x, y, int(std::lround(f(k, x, y) * (1 << (depth - 8)))));
    }
    return p;
}

// A logo of opacity a(x, y) and colours 235 (Y), 90 (Cb), 200 (Cr); chroma opacity the
// mean of the 2 x 2 luma opacities.
template <typename A> frame_logo make_logo(A a) {
    frame_logo l;
    l.width = W;
    l.height = H;
    l.alpha.resize(size_t(W) * H);
    l.colour.assign(l.alpha.size(), 235.0f);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            l.alpha[size_t(y) * W + x] = float(a(x, y));
    l.alpha_c.resize(size_t(W / 2) * (H / 2));
    l.colour_cb.assign(l.alpha_c.size(), 90.0f);
    l.colour_cr.assign(l.alpha_c.size(), 200.0f);
    for (int y = 0; y < H / 2; ++y)
        for (int x = 0; x < W / 2; ++x) {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += l.alpha[size_t(2 * y + k / 2) * W + 2 * x + k % 2];
            l.alpha_c[size_t(y) * (W / 2) + x] = s / 4;
        }
    return l;
}

// The picture with the logo blended in, rounded to its samples.
picture blend(const picture& p, const frame_logo& l) {
    picture o = p;
    const float scale = float(1 << (p.depth - 8));
    for (int k = 0; k < 3; ++k) {
        const int w = k ? W / 2 : W, h = k ? H / 2 : H;
        const float* a = k ? l.alpha_c.data() : l.alpha.data();
        const float* c = k == 0 ? l.colour.data() : k == 1 ? l.colour_cb.data() : l.colour_cr.data();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * w + x;
                o.set(k, x, y,
                      int(std::lround(a[i] * c[i] * scale + (1 - a[i]) * p.sample(k, x, y))));
            }
    }
    return o;
}

const frame_rect whole{0, 0, W, H};

// A ring of text-like strokes: opacity `a` inside, a one-pixel soft edge.
double ring(int x, int y, double a) {
    const double r = std::hypot(x - 40.0, y - 20.0);
    if (r > 6 && r < 10) return a;
    if (r > 5 && r < 11) return a / 2;
    return 0;
}

} // namespace

// Where the logo is translucent the picture comes back to within the rounding the blend
// made, amplified by 1 / (1 - opacity), in every plane, at 8 and at 10 bits.
TEST(Restore, UndoesTheBlendWhereTranslucent) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> level(16, 235);
    for (const int depth : {8, 10}) {
        for (const double a : {0.3, 0.5, 0.7}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + ", opacity " + std::to_string(a));
            const picture truth = make_picture(depth, [&](int, int, int) { return level(random); });
            const frame_logo logo = make_logo([&](int x, int y) { return ring(x, y, a); });
            picture p = blend(truth, logo);
            p.run(plan_restoration(logo, whole, 3, depth, false), false);
            const int allowed = int(std::ceil(0.5 / (1 - a) + 0.5)) << (depth - 8);
            for (int k = 0; k < 3; ++k)
                for (int y = 0; y < (k ? H / 2 : H); ++y)
                    for (int x = 0; x < (k ? W / 2 : W); ++x)
                        ASSERT_LE(std::abs(p.sample(k, x, y) - truth.sample(k, x, y)), allowed)
                            << "plane " << k << " at " << x << "," << y;
        }
    }
}

// An opaque logo leaves nothing of the picture: its shape (and only its shape: the pixels
// between the strokes are the picture's own) is filled from around it. A smooth picture
// comes back smooth (a bar or the frame's edge on one side leaves a slant of a few levels),
// and the fill never reads a bar, nor the other field of an interlaced frame.
TEST(Restore, FillsTheOpaqueShapeFromThePictureKept) {
    const struct {
        const char* name;
        frame_rect picture;
        bool interlaced;
    } rows[] = {
        {"whole frame", whole, false},
        // Bars of 8 rows (16, black): the logo sits on the picture's top edge.
        {"under a bar", {0, 8, W, H - 16}, false},
        {"interlaced", whole, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const frame_rect& kept = row.picture;
        const int top = kept.y;
        // A gradient; interlaced, the two fields far apart.
        auto level = [&](int k, int x, int y) -> double {
            const int s = k ? 2 : 1;
            if (y * s < top || y * s >= kept.y + kept.h) return 16;
            if (row.interlaced && y % 2) return 200;
            return k ? 128 : 40 + x + y * s;
        };
        const picture truth = make_picture(8, level);
        // Two opaque strokes from the picture's top edge down.
        const frame_logo logo = make_logo([&](int x, int y) {
            return y >= top && y < top + 12 && ((x >= 30 && x < 33) || (x >= 38 && x < 41)) ? 1.0
                                                                                              : 0.0;
        });
        picture p = blend(truth, logo);
        p.run(plan_restoration(logo, kept, 3, 8, row.interlaced), false);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool stroke = logo.alpha[size_t(y) * W + x] > 0;
                ASSERT_LE(std::abs(p.sample(0, x, y) - truth.sample(0, x, y)), stroke ? 8 : 0)
                    << x << "," << y;
            }
    }
}

// Frames without the logo are told from frames with it, and left as they are; a frame
// that tells nothing (the picture the logo's own colour) changes nothing either way.
TEST(Restore, FramesWithoutTheLogoAreLeftAlone) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> level(16, 180);
    const frame_logo logo = make_logo([](int x, int y) { return ring(x, y, 0.5); });
    const restoration r = plan_restoration(logo, whole, 3, 8, false);
    presence_state state;
    const picture plain = make_picture(8, [&](int, int x, int y) { return 60 + x + y + level(random) / 8; });
    const picture shown = blend(plain, logo);
    const picture flat = make_picture(8, [](int k, int, int) { return k ? k == 1 ? 90 : 200 : 235; });
    const struct {
        const picture* frame;
        bool present; // what the state says after it
    } frames[] = {{&shown, true}, {&plain, false}, {&flat, false}, {&plain, false},
                  {&shown, true}, {&flat, true},   {&shown, true}};
    for (const auto& f : frames) {
        SCOPED_TRACE("frame " + std::to_string(&f - frames));
        picture p = *f.frame;
        p.run(r, true, &state);
        EXPECT_EQ(state.present, f.present);
        if (!f.present) {
            EXPECT_EQ(p.bytes[0], f.frame->bytes[0]);
        }
    }
}

// Each frame decided with the two before and after it: a lone frame that hides the logo
// changes nothing, and where the logo goes or comes back the decision changes at that
// very frame; frames that cannot tell keep the decision.
TEST(Restore, PresenceDecidedWithTheFramesAround) {
    const double nan = cannot_tell;
    const struct {
        double evidence;
        bool present;
    } frames[] = {{0.1, true},   {0.2, true},  {1.0, true},  {0.1, true},  {0.9, true},
                  {0.1, true},   {2.0, false}, {2.0, false}, {nan, false}, {1.0, false},
                  {2.0, false},  {0.95, false}, {0.1, true}, {0.1, true},  {0.2, true},
                  {1.0, true},   {0.1, true},  {0.2, true}};
    const int n = int(sizeof frames / sizeof frames[0]);
    presence_window window;
    int decided = 0;
    for (int k = 0; k < n; ++k) {
        window.add(frames[k].evidence);
        if (k >= presence_window::reach) {
            EXPECT_EQ(window.decide(), frames[decided].present) << "frame " << decided;
            ++decided;
        }
    }
    for (; decided < n; ++decided)
        EXPECT_EQ(window.decide(), frames[decided].present) << "frame " << decided;
}
