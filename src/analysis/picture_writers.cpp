#include "analysis/picture_writers.h"

#include <spng.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "analysis/settings.h"

namespace {

// Mask palette: index 6 white, index 7 green, every other index black.
struct rgb {
    uint8_t r, g, b;
};
rgb mask_colour(int index) {
    if (index == 6) return {255, 255, 255};
    if (index == 7) return {0, 124, 60};
    return {0, 0, 0};
}

// Bytes of one plane row; 0 for pictures without pixels.
size_t plane_row_bytes(int bits_per_pixel, int width) {
    if (bits_per_pixel <= 0 || width <= 0) return 0;
    return (static_cast<size_t>(bits_per_pixel) * static_cast<size_t>(width) + 7) / 8;
}

// ---- PCX ----------------------------------------------------------------------------

void put16(uint8_t* at, int value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

std::array<uint8_t, 128> pcx_header(int bits_per_pixel, int planes, int width, int height,
                                    size_t bytes_per_line) {
    std::array<uint8_t, 128> h{};
    h[0] = 10; // manufacturer
    h[1] = 5;  // version
    h[2] = 1;  // run-length encoding
    h[3] = static_cast<uint8_t>(bits_per_pixel);
    put16(&h[8], width - 1);
    put16(&h[10], height - 1);
    put16(&h[12], 320);
    put16(&h[14], 200);
    for (int i = 0; i < 16; ++i) {
        const rgb c = mask_colour(i);
        h[16 + 3 * i] = c.r;
        h[17 + 3 * i] = c.g;
        h[18 + 3 * i] = c.b;
    }
    h[65] = static_cast<uint8_t>(planes);
    put16(&h[66], static_cast<int>(bytes_per_line));
    put16(&h[68], 1); // palette info
    put16(&h[70], width);
    put16(&h[72], height);
    return h;
}

uint8_t* emit_run(uint8_t value, int length, uint8_t* out) {
    if (length > 1 || value >= 0xC0) *out++ = static_cast<uint8_t>(0xC0 | length);
    *out++ = value;
    return out;
}

// Run-length encodes one scan line (all plane rows of a picture row) into `out`, which
// holds at least 2 * n bytes. Runs span plane rows but end with the line. Returns the
// number of bytes written.
size_t pcx_encode_line(const uint8_t* line, size_t n, uint8_t* out) {
    uint8_t* o = out;
    size_t i = 0;
    while (i < n) {
        const uint8_t value = line[i];
        int length = 1;
        while (length < 63 && i + length < n && line[i + length] == value)
            ++length;
        o = emit_run(value, length, o);
        i += length;
    }
    return static_cast<size_t>(o - out);
}

// ---- PNG ----------------------------------------------------------------------------

struct spng_ctx_deleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using spng_ctx_ptr = std::unique_ptr<spng_ctx, spng_ctx_deleter>;

// spread[b]: the 8 pixels of plane byte b as the lowest bit of 8 nibbles, leftmost pixel
// in the top nibble, so that 4 planes combine into 4 packed bytes with shifts and ors.
constexpr std::array<uint32_t, 256> make_spread() {
    std::array<uint32_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        uint32_t v = 0;
        for (int x = 0; x < 8; ++x)
            if (b & (0x80 >> x)) v |= 1u << (28 - 4 * x);
        t[b] = v;
    }
    return t;
}
constexpr std::array<uint32_t, 256> spread = make_spread();

// Bytes per row libspng expects for the header: ceil(width * depth / 8).
size_t png_row_bytes(int width, int bit_depth) {
    if (width <= 0) return 0;
    return (static_cast<size_t>(width) * static_cast<size_t>(bit_depth) + 7) / 8;
}

} // namespace

void pack_mask_row(const uint8_t* row, int width, uint8_t* packed) {
    if (width <= 0) return;
    const size_t bpl = plane_row_bytes(1, width);
    const size_t out_len = (static_cast<size_t>(width) + 1) / 2;
    const uint8_t* p0 = row;
    const uint8_t* p1 = row + bpl;
    const uint8_t* p2 = row + 2 * bpl;
    const uint8_t* p3 = row + 3 * bpl;
    for (size_t i = 0; i < bpl; ++i) {
        const uint32_t w =
            spread[p0[i]] | spread[p1[i]] << 1 | spread[p2[i]] << 2 | spread[p3[i]] << 3;
        const uint8_t bytes[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                                  static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
        const size_t at = 4 * i;
        memcpy(packed + at, bytes, std::min<size_t>(4, out_len - at));
    }
    // The padding bits of an odd-width row would land in the unused last half byte.
    if (width & 1) packed[out_len - 1] &= 0xF0;
}

int save_pcx_image(file_ptr file, int bits_per_pixel, int planes, int width, int height,
                   const uint8_t* pixels) {
    if (!file) return -1;
    const size_t bytes_per_line = plane_row_bytes(bits_per_pixel, width);
    // A header cannot describe a picture without pixels, or fields wider than it holds.
    if (bytes_per_line == 0 || bytes_per_line > 0xFFFF || planes <= 0 || planes > 255 ||
        bits_per_pixel > 255 || height <= 0 || height > 0x10000 || width > 0x10000)
        return -1;
    FILE* f = file.get();

    const auto header = pcx_header(bits_per_pixel, planes, width, height, bytes_per_line);
    bool ok = fwrite(header.data(), header.size(), 1, f) == 1;

    const size_t line = static_cast<size_t>(planes) * bytes_per_line;
    std::vector<uint8_t> encoded(2 * line);
    for (int y = 0; ok && y < height; ++y) {
        const size_t n =
            pcx_encode_line(pixels + static_cast<size_t>(y) * line, line, encoded.data());
        ok = fwrite(encoded.data(), 1, n, f) == n;
    }

    if (ok && bits_per_pixel * planes > 4) {
        std::array<uint8_t, 769> trailer;
        trailer[0] = 0x0C;
        for (int i = 0; i < 256; ++i)
            trailer[1 + 3 * i] = trailer[2 + 3 * i] = trailer[3 + 3 * i] = static_cast<uint8_t>(i);
        ok = fwrite(trailer.data(), trailer.size(), 1, f) == 1;
    }

    ok = ok && !ferror(f);
    // Closing flushes the stream's buffer, so its result decides as much as the writes.
    const int closed = fclose(file.release());
    return ok && closed == 0 ? 0 : -1;
}

int save_png_image(file_ptr file, int bits_per_pixel, int planes, int width, int height,
                   const uint8_t* pixels) {
    spng_ctx_ptr ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    spng_set_png_file(ctx.get(), file.get());

    // The bit depth field holds bits * planes as one byte.
    const uint8_t b =
        static_cast<uint8_t>(static_cast<unsigned>(bits_per_pixel) * static_cast<unsigned>(planes));
    const bool mask = bits_per_pixel == 1 && planes == 4;
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = b;
    // Mask images (4 bits of palette index) and grey pictures are the only shapes; any
    // other is refused as libspng refuses a header it cannot take.
    ihdr.color_type = b == 4 ? SPNG_COLOR_TYPE_INDEXED : SPNG_COLOR_TYPE_GRAYSCALE;
    if (b == 4 || b == 8) spng_set_ihdr(ctx.get(), &ihdr);

    if (b == 4) {
        spng_plte plte{};
        plte.n_entries = 16;
        for (int i = 0; i < 16; ++i) {
            const rgb c = mask_colour(i);
            plte.entries[i].red = c.r;
            plte.entries[i].green = c.g;
            plte.entries[i].blue = c.b;
        }
        spng_set_plte(ctx.get(), &plte);
    }

    // Rows as libspng takes them: packed samples, odd widths rounded up to whole bytes.
    const size_t row_len = png_row_bytes(width, b);
    size_t total = 0;
    if (height > 0 && __builtin_mul_overflow(row_len, static_cast<size_t>(height), &total))
        total = 0;
    // Source rows: all plane rows of one picture row.
    const size_t stride =
        planes > 0 ? static_cast<size_t>(planes) * plane_row_bytes(bits_per_pixel, width) : 0;

    int result = spng_encode_image(ctx.get(), pixels, total, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE);
    if (result != 0) {
        printf("spng_encode_image() error: %s\n", spng_strerror(result));
    } else {
        std::unique_ptr<uint8_t[]> packed;
        if (mask) {
            packed.reset(new (std::nothrow) uint8_t[row_len]);
            if (!packed) result = SPNG_EMEM;
        } else if (row_len > stride) {
            // A shape whose stored rows are shorter than the PNG rows: never read past them.
            result = SPNG_EBUFSIZ;
        }
        if (result != 0) {
            printf("spng_encode_row() error: %s\n", spng_strerror(result));
        } else {
            bool ended = false;
            for (int y = 0; y < height; ++y) {
                const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
                if (mask) {
                    pack_mask_row(row, width, packed.get());
                    row = packed.get();
                }
                result = spng_encode_row(ctx.get(), row, row_len);
                if (result == 0) continue;
                packed.reset();
                if (result == SPNG_EOI) {
                    ended = true;
                    result = spng_encode_chunks(ctx.get());
                    if (result != 0)
                        printf("spng_encode_chunks() error: %s\n", spng_strerror(result));
                } else {
                    printf("spng_encode_row() error: %s\n", spng_strerror(result));
                }
                break;
            }
            // Every row taken but the image not ended: the file would lack its end.
            if (result == 0 && !ended) result = SPNG_EINTERNAL;
        }
    }

    ctx.reset();
    // Closing flushes what libspng left in the stream's buffer; a failed flush means an
    // incomplete file.
    FILE* f = file.release();
    const int closed = f ? fclose(f) : EOF;
    if (result == 0 && closed != 0) result = SPNG_IO_ERROR;
    return result;
}

int save_image(const char* name_format, int index, int bits_per_pixel, int planes, int width,
               int height, const uint8_t* pixels) {
    const bool pcx = (sw.flags & FLAG_SAVE_AS_PCX) != 0;
    const int n = snprintf(nullptr, 0, name_format, index);
    if (n < 0) return -1;
    std::vector<char> expanded(static_cast<size_t>(n) + 1);
    snprintf(expanded.data(), expanded.size(), name_format, index);
    const std::string name = std::string(expanded.data()) + (pcx ? ".pcx" : ".png");
    // The picture's own name, truncated in place: a link is written through, the file's
    // mode and owner stay, and an unwritable picture is not replaced behind the user's
    // back. Writing elsewhere and renaming would change all of that.
    file_ptr file(fopen(name.c_str(), "wb"));
    if (!file) {
        // Standard output carries the filter lines only; a stale picture beside a fresh
        // line must not go unnoticed, so say so where the user looks for trouble.
        fprintf(stderr, "Cannot write %s: %s\n", name.c_str(), strerror(errno));
        return -1;
    }
    const int descriptor = dup(fileno(file.get()));
    errno = 0;
    const int written =
        pcx ? save_pcx_image(std::move(file), bits_per_pixel, planes, width, height, pixels)
            : save_png_image(std::move(file), bits_per_pixel, planes, width, height, pixels);
    const int error = errno;
    if (written != 0) {
        // No half-written picture may pass for a whole one. A regular file goes; through
        // a link only the contents go, so the user's link itself is kept.
        struct stat link_info;
        if (lstat(name.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
            // Nothing more can be done about a target that refuses to be emptied.
            [[maybe_unused]] const int cut = descriptor >= 0 ? ftruncate(descriptor, 0) : -1;
        } else {
            unlink(name.c_str());
        }
        fprintf(stderr, "Cannot write %s: %s\n", name.c_str(), strerror(error ? error : EIO));
    }
    if (descriptor >= 0) close(descriptor);
    return written == 0 ? 1 : 0;
}

int save_rgb_png(const char* path, int width, int height, const uint8_t* rgb) {
    file_ptr file(fopen(path, "wb"));
    if (!file) return SPNG_IO_ERROR;
    spng_ctx_ptr ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return SPNG_EMEM;
    spng_set_png_file(ctx.get(), file.get());
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    int ret = spng_set_ihdr(ctx.get(), &ihdr);
    if (ret == 0)
        ret = spng_encode_image(ctx.get(), rgb, static_cast<size_t>(width) * height * 3,
                                SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    ctx.reset();
    if (fclose(file.release()) != 0 && ret == 0) ret = SPNG_IO_ERROR;
    return ret;
}
