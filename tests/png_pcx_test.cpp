// Picture writers: every picture, of every width and with long PCX runs, decoded by
// FFmpeg's own decoders, after the checks of the PCX runs, against the per-pixel reading;
// and failing writes.
#include <gtest/gtest.h>
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "helpers.h"
#include "analysis/picture_writers.h"
#include "analysis/settings.h"

namespace {

namespace fs = std::filesystem;

int write(const std::string& path, bool pcx, int bits, int planes, int width, int height,
          const uint8_t* pixels) {
    file_ptr f(fopen(path.c_str(), "wb"));
    return pcx ? save_pcx_image(std::move(f), bits, planes, width, height, pixels)
               : save_png_image(std::move(f), bits, planes, width, height, pixels);
}

// A 1-bit 4-plane picture in the writers' layout, plane rows of (width + 7) / 8 bytes:
// random bytes, padding bits included; `runny` keeps a few values for long stretches so
// that PCX runs reach 63 and cross plane boundaries.
struct mask_picture {
    int width, height;
    size_t bpl;
    std::vector<uint8_t> bytes;
    mask_picture(int w, int h, std::mt19937& rng, bool runny)
        : width(w), height(h), bpl((w + 7) / 8), bytes(4 * bpl * h) {
        static const uint8_t values[] = {0x00, 0xFF, 0xC3, 0x3F};
        uint8_t v = 0;
        for (auto& b : bytes)
            b = v = !runny ? uint8_t(rng()) : rng() % 40 ? v : values[rng() % 4];
    }
    // The straightforward reading of a pixel's colour index.
    int index(int x, int y) const {
        int v = 0;
        for (int k = 0; k < 4; ++k)
            if (bytes[(4 * y + k) * bpl + x / 8] & (0x80 >> (x % 8))) v |= 1 << k;
        return v;
    }
};

} // namespace

TEST(Pictures, EveryWidthAndLongRunsDecodeToTheSameColourIndices) {
    const std::string dir = fresh_dir("png_pcx_round_trip");
    std::mt19937 rng(42);
    std::vector<int> widths(40);
    std::iota(widths.begin(), widths.end(), 1);
    widths.insert(widths.end(), {492, 500, 1000, 1344});
    for (int width : widths)
        for (int height : {1, 2, 7})
            for (const bool pcx : {false, true}) {
                const mask_picture m(width, height, rng, width > 40);
                const std::string path = dir + (pcx ? "/m.pcx" : "/m.png");
                SCOPED_TRACE(path + " " + std::to_string(width) + "x" + std::to_string(height));
                ASSERT_EQ(write(path, pcx, 1, 4, width, height, m.bytes.data()), 0);
                decoded_image img;
                ASSERT_EQ(decode_image_file(path, img), "");
                ASSERT_EQ(std::make_pair(img.width, img.height), std::make_pair(width, height));
                ASSERT_FALSE(img.gray);
                for (int i = 0; i < 16; ++i) // white logo, green box, black elsewhere
                    ASSERT_EQ(img.palette[i], i == 6 ? 0xFFFFFFu : i == 7 ? 0x007C3Cu : 0u) << i;
                for (int i = 0; i < width * height; ++i)
                    ASSERT_EQ(img.index[i], m.index(i % width, i / width)) << i;
            }
}

// Writes that fail (a full device, a missing directory, a failing writer) in each format:
// only the written picture may be left, under its final name.
TEST(Pictures, SaveImageNamesFilesAndLeavesNothingOnFailure) {
    std::mt19937 rng(3);
    const mask_picture m(24, 5, rng, false);
    for (const std::string ext : {".png", ".pcx"}) {
        SCOPED_TRACE(ext);
        testing::internal::CaptureStdout(); // libspng's message
        EXPECT_NE(write("/dev/full", ext == ".pcx", 1, 4, 64, 1, m.bytes.data()), 0);
        testing::internal::GetCapturedStdout();
        const std::string dir = fresh_dir("png_pcx_save" + ext);
        const fs::path previous = fs::current_path();
        fs::current_path(dir);
        if (ext == ".pcx") sw.flags = FLAG_SAVE_AS_PCX;
        EXPECT_EQ(save_image("delogo_%d", 3, 1, 4, 24, 5, m.bytes.data()), 1);
        write_file("removelogo_1" + ext, "old"); // must not pass for this run's
        testing::internal::CaptureStdout();
        EXPECT_EQ(save_image("no_such_dir/delogo_%d", 0, 1, 4, 8, 1, m.bytes.data()), -1);
        EXPECT_EQ(save_image("removelogo_%d", 1, 1, 4, 0, 1, m.bytes.data()), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  ext == ".pcx" ? std::string()
                                : std::string("spng_encode_image() error: ") +
                                      spng_strerror(SPNG_ENOIHDR) + "\n");
        sw = Settings{};
        fs::current_path(previous);
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"delogo_3" + ext}));
        decoded_image img;
        ASSERT_EQ(decode_image_file(dir + "/delogo_3" + ext, img), "");
        EXPECT_EQ(img.index[23], m.index(23, 0));
    }
}
