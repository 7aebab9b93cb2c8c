// The 8-bit luma of the corner bands, from a decoded frame of any pixel format.
#include "video/luma_bands.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavutil/intreadwrite.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Calls take(row, out) for each band row of a plane: the top band_h rows, then the
// bottom band_h rows, `out` moving on by one band image row (2 * band_w bytes) a row.
template <typename Take>
void each_band_row(const uint8_t* plane, ptrdiff_t stride, const band_geometry& g, uint8_t* image,
                   Take take) {
    const int band_w2 = 2 * g.band_w;
    uint8_t* out = image;
    for (int y = 0; y < g.height; ++y) {
        if (y >= g.band_h && y < g.height - g.band_h) {
            y = g.height - g.band_h - 1; // jump over the middle rows
            continue;
        }
        take(plane + y * stride, out);
        out += band_w2;
    }
}

// Copies the corner bands of an 8-bit luma plane into a band image.
void copy_bands(const uint8_t* plane, ptrdiff_t stride, const band_geometry& g, uint8_t* image) {
    each_band_row(plane, stride, g, image, [&](const uint8_t* row, uint8_t* out) {
        memcpy(out, row, g.band_w);
        memcpy(out + g.band_w, row + g.width - g.band_w, g.band_w);
    });
}

// The top 8 bits of `count` 16-bit samples.
template <bool big_endian>
void shift_samples(const uint8_t* in, int count, int shift, uint8_t* out) {
    for (int x = 0; x < count; ++x) {
        const unsigned sample = big_endian ? AV_RB16(in + 2 * x) : AV_RL16(in + 2 * x);
        out[x] = static_cast<uint8_t>(sample >> shift);
    }
}

template <bool big_endian>
void shift_bands(const AVFrame* frame, const band_reader& r, uint8_t* image) {
    const band_geometry& g = r.g;
    each_band_row(frame->data[0], frame->linesize[0], g, image,
                  [&](const uint8_t* row, uint8_t* out) {
                      shift_samples<big_endian>(row, g.band_w, r.shift, out);
                      shift_samples<big_endian>(row + 2 * (g.width - g.band_w), g.band_w, r.shift,
                                                out + g.band_w);
                  });
}

// Converts the rows of both bands (or the whole frame) to gray, one picture of r.rows
// rows at a time, and copies the bands from there.
void convert_bands(band_reader& r, const AVFrame* frame, uint8_t* image) {
    const band_geometry& g = r.g;
    if (!r.sws) return; // empty bands
    const int pictures = r.rows == g.height ? 1 : 2;
    const int first_row[2] = {0, g.height - r.rows};
    const int gray_stride[4] = {r.gray_stride, 0, 0, 0};
    for (int k = 0; k < pictures; ++k) {
        const uint8_t* src[4];
        for (int p = 0; p < 4; ++p) {
            const bool rows = frame->data[p] && !(r.palette && p == 1);
            src[p] = rows ? frame->data[p] + first_row[k] * ptrdiff_t{frame->linesize[p]}
                          : frame->data[p];
        }
        uint8_t* gray[4] = {r.gray.get() + k * r.rows * ptrdiff_t{r.gray_stride}, nullptr, nullptr,
                            nullptr};
        sws_scale(r.sws.get(), src, frame->linesize, 0, r.rows, gray, gray_stride);
    }
    // The bands are the first and the last band_h rows of the gray pictures.
    copy_bands(r.gray.get(), r.gray_stride,
               band_geometry{g.width, pictures * r.rows, g.band_w, g.band_h}, image);
}

} // namespace

luma_path luma_path_of(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || d->nb_components == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)))
        return luma_path::none;
    // YUV and gray formats keep luma in component 0; it can be read in place when it
    // fills plane 0 alone, sample after sample (planar, or semi-planar as NV12 and P010).
    const uint64_t not_luma =
        AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    const AVComponentDescriptor& y = d->comp[0];
    if (!(d->flags & not_luma) && y.plane == 0 && y.offset == 0) {
        if (y.depth == 8 && y.step == 1 && y.shift == 0) return luma_path::bytes;
        if (y.depth > 8 && y.depth <= 16 && y.step == 2) return luma_path::shifted;
    }
    return sws_isSupportedInput(format) > 0 ? luma_path::converted : luma_path::none;
}

bool open_band_reader(AVPixelFormat format, const band_geometry& g, band_reader& r) {
    r = band_reader{};
    r.g = g;
    r.path = luma_path_of(format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (r.path == luma_path::shifted) {
        r.shift = d->comp[0].shift + d->comp[0].depth - 8;
        r.big_endian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
    }
    if (r.path != luma_path::converted || g.band_w <= 0 || g.band_h <= 0)
        return r.path != luma_path::none;
    // Pictures of deep formats are dithered down to 8 bits in a pattern of 8 rows: the
    // bottom band's picture starts at a multiple of 8 rows, so that the bands come out as
    // in a conversion of the whole frame. A vertically subsampled or mosaic format, which
    // no row cut fits in general, is converted whole.
    r.palette = (d->flags & AV_PIX_FMT_FLAG_PAL) != 0;
    const bool whole = d->log2_chroma_h != 0 || (d->flags & AV_PIX_FMT_FLAG_BAYER);
    r.rows = whole ? g.height : g.height - ((g.height - g.band_h) & ~7);
    if (2 * r.rows >= g.height) r.rows = g.height;
    r.sws.reset(sws_getContext(g.width, r.rows, format, g.width, r.rows, AV_PIX_FMT_GRAY8,
                               SWS_POINT, nullptr, nullptr, nullptr));
    if (!r.sws) return false;
    // libswscale takes 8-bit gray as full range: packed YUV would be stretched. Keep the
    // source's range, so that YUV luma reads as the planar formats' bytes do, and RGB
    // (full range) gives luma 0..255.
    int *inverse, *forward, src_range, dst_range, brightness, contrast, saturation;
    sws_getColorspaceDetails(r.sws.get(), &inverse, &src_range, &forward, &dst_range, &brightness,
                             &contrast, &saturation);
    sws_setColorspaceDetails(r.sws.get(), inverse, src_range, forward, src_range, brightness,
                             contrast, saturation);
    r.gray_stride = FFALIGN(g.width, 64);
    const int gray_rows = r.rows == g.height ? g.height : 2 * r.rows;
    r.gray.reset(static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(r.gray_stride) * gray_rows)));
    if (!r.gray) throw std::bad_alloc();
    return true;
}

void read_bands(band_reader& r, const AVFrame* frame, uint8_t* image) {
    switch (r.path) {
    case luma_path::bytes:
        copy_bands(frame->data[0], frame->linesize[0], r.g, image);
        return;
    case luma_path::shifted:
        if (r.big_endian)
            shift_bands<true>(frame, r, image);
        else
            shift_bands<false>(frame, r, image);
        return;
    case luma_path::converted:
        convert_bands(r, frame, image);
        return;
    case luma_path::none:
        return;
    }
}
