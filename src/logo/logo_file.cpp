// The logo model's picture file, through libspng.
#include "logo/logo_file.h"

#include <spng.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct spng_freer {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using spng_ptr = std::unique_ptr<spng_ctx, spng_freer>;

uint8_t byte(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

} // namespace

std::string save_logo(const frame_logo& logo, file_ptr file) {
    const int w = logo.width, h = logo.height, cw = -(-w >> logo.shift_x);
    std::vector<uint8_t> rgba(size_t(w) * h * 4, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            if (logo.alpha[i] <= 0) continue;
            const size_t c = size_t(y >> logo.shift_y) * cw + (x >> logo.shift_x);
            const double l = 1.164 * (logo.colour[i] - 16), u = logo.colour_cb[c] - 128,
                         v = logo.colour_cr[c] - 128;
            uint8_t* p = &rgba[4 * i];
            p[0] = byte(l + 1.596 * v);
            p[1] = byte(l - 0.392 * u - 0.813 * v);
            p[2] = byte(l + 2.017 * u);
            p[3] = byte(255.0 * logo.alpha[i]);
        }
    spng_ptr ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    spng_ihdr ihdr{};
    ihdr.width = uint32_t(w);
    ihdr.height = uint32_t(h);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    int ret = ctx ? spng_set_png_file(ctx.get(), file.get()) : SPNG_EMEM;
    if (!ret) ret = spng_set_ihdr(ctx.get(), &ihdr);
    if (!ret)
        ret = spng_encode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_PNG,
                                SPNG_ENCODE_FINALIZE);
    ctx.reset();
    if (ret) return spng_strerror(ret);
    if (fclose(file.release()) != 0) return strerror(errno);
    return "";
}

std::string load_logo(const std::string& path, int shift_x, int shift_y, frame_logo& logo) {
    file_ptr file(fopen(path.c_str(), "rb"));
    if (!file) return "cannot read " + path + ": " + strerror(errno);
    spng_ptr ctx(spng_ctx_new(0));
    if (!ctx) return "out of memory";
    spng_ihdr ihdr{};
    size_t size = 0;
    int ret = spng_set_png_file(ctx.get(), file.get());
    if (!ret) ret = spng_get_ihdr(ctx.get(), &ihdr);
    if (!ret && (ihdr.width > 16384 || ihdr.height > 16384)) ret = SPNG_EWIDTH;
    if (!ret) ret = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
    std::vector<uint8_t> rgba;
    if (!ret) {
        rgba.resize(size);
        ret = spng_decode_image(ctx.get(), rgba.data(), size, SPNG_FMT_RGBA8, 0);
    }
    if (ret) return path + " is no logo picture: " + spng_strerror(ret);
    frame_logo f;
    f.width = int(ihdr.width);
    f.height = int(ihdr.height);
    f.shift_x = shift_x;
    f.shift_y = shift_y;
    const int cw = -(-f.width >> shift_x), ch = -(-f.height >> shift_y);
    f.alpha.assign(size_t(f.width) * f.height, 0.0f);
    f.colour.assign(f.alpha.size(), 0.0f);
    std::vector<double> weight(size_t(cw) * ch, 0.0), cb(weight.size(), 0.0), cr(weight.size(), 0.0);
    std::vector<int> cover(weight.size(), 0);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const size_t i = size_t(y) * f.width + x, c = size_t(y >> shift_y) * cw + (x >> shift_x);
            const uint8_t* p = &rgba[4 * i];
            const double a = p[3] / 255.0; // as estimate_logo rounds them
            f.alpha[i] = float(a);
            f.colour[i] = float(16 + 0.257 * p[0] + 0.504 * p[1] + 0.098 * p[2]);
            weight[c] += a;
            cb[c] += a * (128 - 0.148 * p[0] - 0.291 * p[1] + 0.439 * p[2]);
            cr[c] += a * (128 + 0.439 * p[0] - 0.368 * p[1] - 0.071 * p[2]);
            ++cover[c];
        }
    f.alpha_c.resize(weight.size());
    f.colour_cb.resize(weight.size());
    f.colour_cr.resize(weight.size());
    for (size_t c = 0; c < weight.size(); ++c) {
        f.alpha_c[c] = cover[c] ? float(weight[c] / cover[c]) : 0.0f;
        f.colour_cb[c] = weight[c] > 0 ? float(cb[c] / weight[c]) : 128.0f;
        f.colour_cr[c] = weight[c] > 0 ? float(cr[c] / weight[c]) : 128.0f;
    }
    logo_model whole; // the box, found as for an estimated model
    whole.width = f.width;
    whole.height = f.height;
    whole.alpha = f.alpha;
    // (its faint pixels stay: they are the file's; the graphics are found as for an
    // estimated model, whose faint pixels are gone before it is saved)
    find_logo(whole, f.height / 720.0);
    if (!whole.found) return path + " holds no logo";
    f.graphic = std::move(whole.graphic);
    f.graphics = whole.graphics;
    f.box_x = whole.box_x;
    f.box_y = whole.box_y;
    f.box_w = whole.box_w;
    f.box_h = whole.box_h;
    logo = std::move(f);
    return "";
}
