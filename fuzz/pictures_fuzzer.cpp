// Fuzz target: pictures of every size written through save_image, as PNG and as PCX,
// and read back by FFmpeg's own decoders (tests/image_helpers.cpp); every pixel and the
// palette entries must come back as written. Other picture shapes the writers accept
// must at least be written or refused cleanly: a file exactly when save_image says so.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "delogo.h"
#include "fuzz_support.h"
#include "helpers.h"
#include "png_pcx.h"

namespace {

constexpr int max_width = 1200;
constexpr int max_height = 40;

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "pictures_fuzzer: %s\n", what.c_str());
    abort();
}

bool exists(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

// Colour of a mask-palette index as the decoder reports it, 0xRRGGBB.
uint32_t mask_palette(int index) {
    return index == 6 ? 0xFFFFFFu : index == 7 ? 0x007C3Cu : 0u;
}

// Colour index of pixel x in a picture row of `planes` plane rows of `plane_bytes` each,
// 1 bit per pixel per plane.
int planar_index(const uint8_t* row, size_t plane_bytes, int planes, int x) {
    int index = 0;
    for (int p = 0; p < planes; ++p)
        if (row[p * plane_bytes + x / 8] & (0x80 >> (x % 8))) index |= 1 << p;
    return index;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quiet_stdio();
    byte_reader in(data, size);
    const uint8_t kind = in.u8();
    const bool pcx = kind & 1;
    // 0, 1: mask pictures (1 bit, 4 planes); 2: grey (8 bits, 1 plane); 3: any other shape.
    const int shape = (kind >> 1) & 3;
    int bits = 1, planes = 4;
    if (shape == 2) {
        bits = 8;
        planes = 1;
    } else if (shape == 3) {
        static const int bit_choices[] = {1, 2, 4, 8, 16};
        bits = bit_choices[(kind >> 3) % 5];
        planes = 1 + ((kind >> 6) & 3);
    }
    const int width = in.range(1, max_width);
    const int height = in.range(1, max_height);
    const uint32_t seed = in.u16();

    // Pixels, padding bits included, from the rest of the input (or noise without it).
    const size_t plane_bytes = (static_cast<size_t>(bits) * width + 7) / 8;
    const size_t row_bytes = plane_bytes * planes;
    std::vector<uint8_t> pixels(row_bytes * height);
    const uint8_t* pattern = in.rest();
    const size_t pattern_size = in.rest_size();
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = pattern_size
                        ? pattern[i % pattern_size] ^ static_cast<uint8_t>(i / pattern_size * seed)
                        : static_cast<uint8_t>(mix3(i, seed, 1));

    sw = Settings{};
    if (pcx) sw.flags |= FLAG_SAVE_AS_PCX;
    const std::string name = std::string("picture_0.") + (pcx ? "pcx" : "png");
    const in_scratch_dir scratch;
    const int written = save_image("picture_%d", 0, bits, planes, width, height, pixels.data());
    sw = Settings{};
    if (exists(name + ".tmp")) fail("temporary file left behind");
    if (written != 1) {
        if (shape != 3)
            fail("writing a " + std::to_string(width) + "x" + std::to_string(height) +
                 " picture failed");
        if (exists(name)) fail("a failed write left " + name);
        return 0;
    }
    if (!exists(name)) fail("save_image reported success but wrote no " + name);
    if (shape == 3) {
        remove(name.c_str());
        return 0;
    }

    decoded_image image;
    const std::string error = decode_image_file(name, image);
    remove(name.c_str());
    if (!error.empty()) fail(name + ": " + error);
    if (image.width != width || image.height != height)
        fail("size " + std::to_string(image.width) + "x" + std::to_string(image.height) +
             " instead of " + std::to_string(width) + "x" + std::to_string(height));
    const bool grey = shape == 2;
    // A grey PNG decodes as grey, a grey PCX as a palette picture with a grey ramp.
    if (image.gray != (grey && !pcx)) fail("decoded as the wrong pixel format");
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + y * row_bytes;
        for (int x = 0; x < width; ++x) {
            const int expected = grey ? row[x] : planar_index(row, plane_bytes, planes, x);
            const int got = image.index[static_cast<size_t>(y) * width + x];
            if (got != expected)
                fail("pixel " + std::to_string(x) + "," + std::to_string(y) + " is " +
                     std::to_string(got) + " instead of " + std::to_string(expected));
        }
    }
    if (!image.gray) {
        for (int i = 0; i < (grey ? 256 : 16); ++i) {
            const uint32_t expected = grey ? 0x010101u * i : mask_palette(i);
            if (image.palette[i] != expected)
                fail("palette entry " + std::to_string(i) + " is wrong");
        }
    }
    return 0;
}
