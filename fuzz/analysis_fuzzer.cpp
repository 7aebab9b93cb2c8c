// Fuzz target: the whole analysis (crop line, both logo detectors, mask clean-up, box
// search, two-rectangle cover, mask mode, pictures) on band images whose geometry,
// samples, settings and pixels come from the fuzzer's bytes.
//
// Input: a header of sizes and settings, then bytes that shape the pixels. The pixels are
// built from layers so that the interesting paths are reachable from few bytes: dark
// bars around the picture, a static logo area (in one corner, its shape drawn by the
// pattern bytes), static or changing background, and changes of a chosen amplitude; or,
// in raw mode, the pattern bytes themselves shifted from sample to sample.
//
// What the analysis prints is checked as FFmpeg and the user would take it: crop and
// delogo boxes inside the frame (a delogo box inside its corner's band), at most one
// corner reported, one line per rectangle, and every picture named by a line written
// and decodable by FFmpeg's own decoders with the size it must have.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "analysis/crop_delogo.h"
#include "fuzz_support.h"
#include "analysis/settings.h"

namespace {

// Largest band image the target builds: keeps one run fast.
constexpr int max_band_w2 = 300;
constexpr int max_band_h2 = 200;
constexpr int max_samples = 12;

struct layers {
    int w2, h2;
    int bar_top, bar_bottom, bar_left, bar_right; // dark margins, pixels
    uint8_t dark;                                 // luma of the bars
    int logo_top, logo_left, logo_h, logo_w;      // static area, band-image coordinates
    uint8_t background_static;                    // chance (of 256) that a pixel stays put
    int amplitude;                                // largest change of a changing pixel
    bool raw;                                     // pixels straight from the pattern bytes
    int raw_shift;                                // raw mode: pattern offset per sample
    uint32_t seed;
    const uint8_t* pattern;
    size_t pattern_size;
};

uint8_t pattern_at(const layers& l, size_t i) {
    return l.pattern_size ? l.pattern[i % l.pattern_size]
                          : static_cast<uint8_t>(mix3(i, l.seed, 7));
}

uint8_t pixel(const layers& l, int s, int x, int y) {
    const size_t at = static_cast<size_t>(y) * l.w2 + x;
    if (l.raw) return pattern_at(l, at + static_cast<size_t>(s) * l.raw_shift);
    if (y < l.bar_top || y >= l.h2 - l.bar_bottom || x < l.bar_left || x >= l.w2 - l.bar_right)
        return l.dark;
    const uint8_t base = pattern_at(l, at);
    const bool in_logo = y >= l.logo_top && y < l.logo_top + l.logo_h && x >= l.logo_left &&
                         x < l.logo_left + l.logo_w;
    bool still;
    if (in_logo)
        still = (pattern_at(l, at / 8) >> (at % 8)) & 1; // the logo's shape
    else
        still = (mix3(x, y, l.seed) & 0xFF) < l.background_static;
    if (still || l.amplitude == 0) return base;
    const int change = static_cast<int>(mix3(s, at, l.seed) % (2u * l.amplitude + 1)) - l.amplitude;
    return static_cast<uint8_t>(std::clamp(base + change, 0, 255));
}

Settings read_settings(byte_reader& in) {
    Settings s;
    s.flags = in.u8() & (FLAG_TWO_RECTANGLES | FLAG_REMOVELOGO | FLAG_SAVE_AS_PCX);
    const uint8_t corners = in.u8();
    // The command line gives all four corners or one; let any set occur now and then.
    s.corner_mask = corners < 128 ? 15 : corners < 192 ? 1 << (corners & 3) : corners & 15;
    s.pixel_ratio = in.range(0, 100);
    s.level_black = in.range(1, 255);
    s.level_delta = in.range(1, 255);
    s.border_black = in.range(0, 100);
    s.border_band = in.range(0, 20);
    s.threshold = in.range(0, 255);
    // Sigma up to 10 in steps of 0.001; a far larger one cannot get its kernel and
    // ends the process on purpose.
    s.sigma = static_cast<float>(in.range(0, 10000)) / 1000.0f;
    s.tlow = static_cast<float>(in.range(1, 256)) / 256.0f;
    s.thigh = static_cast<float>(in.range(1, 256)) / 256.0f;
    s.width_bands = in.range(3, 48);
    s.height_bands = in.range(3, 48);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    byte_reader in(data, size);

    layers l{};
    l.w2 = in.range(0, max_band_w2);
    l.h2 = in.range(0, max_band_h2);
    // A frame is always larger than its band image (bands are at most 48% of it per side).
    const int frame_width = l.w2 + 1 + 4 * in.u8();
    const int frame_height = l.h2 + 1 + 4 * in.u8();
    const int count = in.range(0, max_samples);
    const Settings settings = read_settings(in);
    const uint8_t detectors = in.u8(); // bit 0: static-pixel, bit 1: Canny

    l.bar_top = in.range(0, l.h2 / 2 + 1);
    l.bar_bottom = in.range(0, l.h2 / 2 + 1);
    l.bar_left = in.range(0, l.w2 / 2 + 1);
    l.bar_right = in.range(0, l.w2 / 2 + 1);
    l.dark = static_cast<uint8_t>(in.range(0, settings.level_black));
    const int logo_corner = in.u8() & 3;
    l.logo_h = in.range(0, l.h2 / 2);
    l.logo_w = in.range(0, l.w2 / 2);
    const int inset_y = in.range(0, 31), inset_x = in.range(0, 31);
    l.logo_top = (logo_corner & 2) ? l.h2 - l.logo_h - inset_y : inset_y;
    l.logo_left = (logo_corner & 1) ? l.w2 - l.logo_w - inset_x : inset_x;
    l.background_static = in.u8();
    l.amplitude = in.u8();
    const uint8_t mode = in.u8();
    l.raw = (mode & 1) != 0;
    l.raw_shift = mode >> 1;
    l.seed = in.u16();

    std::vector<uint8_t> sample_bytes(count);
    for (uint8_t& b : sample_bytes)
        b = in.u8();
    l.pattern = in.rest();
    l.pattern_size = in.rest_size();

    // The samples: mostly captured (all corners), some missing, some with odd corner sets.
    const size_t image_size = static_cast<size_t>(l.w2) * l.h2;
    std::vector<band_sample> samples(count);
    for (int s = 0; s < count; ++s) {
        const uint8_t b = sample_bytes[s];
        if ((b & 0xC0) == 0xC0) continue; // a failed pass: no image, no corners
        samples[s].corner_flags = (b & 0x20) ? b & 15 : 15;
        samples[s].image.reset(new uint8_t[image_size ? image_size : 1]);
        uint8_t* p = samples[s].image.get();
        for (int y = 0; y < l.h2; ++y)
            for (int x = 0; x < l.w2; ++x)
                *p++ = pixel(l, s, x, y);
    }

    for (int run = 0; run < 2; ++run) {
        if (!(detectors & (1 << run)) && !(run == 0 && (detectors & 3) == 0)) continue;
        const in_scratch_dir scratch;
        sw = settings;
        sw.frames = count;
        // all_corners mode never reaches the analysis: the sampler prints its crop line.
        sw.flags &= static_cast<uint8_t>(~FLAG_ALL_CORNERS);
        if (run == 1) sw.flags |= FLAG_CANNY;
        const Settings before = sw;
        stdout_clear();
        crop_delogo(l.w2, l.h2, frame_width, frame_height, samples.data());
        const std::string report = stdout_text();
        if (!report.empty()) check_report(report, before, l.w2, l.h2, frame_width, frame_height);
    }
    sw = Settings{};
    return 0;
}
