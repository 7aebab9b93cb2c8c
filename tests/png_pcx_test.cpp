// Mask picture writers: PCX bytes checked directly, both formats decoded by FFmpeg.
#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <set>
#include <tuple>

#include "settings.h"
#include "helpers.h"
#include "picture_writers.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

std::set<std::string> dir_entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

int write(const std::string& path, bool pcx, int bits, int planes, int width, int height,
          const uint8_t* pixels) {
    file_ptr f(fopen(path.c_str(), "wb"));
    return pcx ? save_pcx_image(std::move(f), bits, planes, width, height, pixels)
               : save_png_image(std::move(f), bits, planes, width, height, pixels);
}

int u16le(const std::vector<uint8_t>& f, size_t at) {
    return f[at] | f[at + 1] << 8;
}
uint32_t u32be(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f[at]) << 24 | uint32_t(f[at + 1]) << 16 | uint32_t(f[at + 2]) << 8 | f[at + 3];
}

uint32_t expected_colour(int index) {
    return index == 6 ? 0xFFFFFF : index == 7 ? 0x007C3C : 0;
}

// A 1-bit 4-plane picture in the writers' layout, plane rows of (width + 7) / 8 bytes.
struct mask_picture {
    int width, height;
    size_t bpl;
    std::vector<uint8_t> bytes;

    mask_picture(int w, int h, uint8_t fill)
        : width(w), height(h), bpl((w + 7) / 8), bytes(4 * bpl * h, fill) {}
    // Random bytes, padding bits included; `runny` keeps a few values for long stretches so
    // that PCX runs reach 63 and cross plane boundaries.
    mask_picture(int w, int h, std::mt19937& rng, bool runny) : mask_picture(w, h, 0) {
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

void expect_round_trip(const mask_picture& m, const std::string& dir, bool pcx) {
    const std::string path = dir + (pcx ? "/m.pcx" : "/m.png");
    SCOPED_TRACE(path + " " + std::to_string(m.width) + "x" + std::to_string(m.height));
    ASSERT_EQ(write(path, pcx, 1, 4, m.width, m.height, m.bytes.data()), 0);
    decoded_image img;
    ASSERT_EQ(decode_image_file(path, img), "");
    ASSERT_EQ(std::make_tuple(img.width, img.height, img.gray, img.palette.size() >= 16),
              std::make_tuple(m.width, m.height, false, true));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(img.palette[i], expected_colour(i)) << "index " << i;
    std::vector<uint8_t> want;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            want.push_back(uint8_t(m.index(x, y)));
    EXPECT_EQ(img.index, want);
}

std::vector<uint8_t> pcx_rows(int width, int height, const std::vector<uint8_t>& pixels) {
    const std::string path = fresh_dir("png_pcx_rows") + "/a.pcx";
    EXPECT_EQ(write(path, true, 1, 4, width, height, pixels.data()), 0);
    const auto f = read_file(path);
    return f.size() < 128 ? std::vector<uint8_t>{} : std::vector<uint8_t>(f.begin() + 128, f.end());
}

TEST(PcxRuns, RunRules) {
    // One run over all four 2-byte plane rows; the second row starts its own run.
    EXPECT_EQ(pcx_rows(16, 2, std::vector<uint8_t>(16, 0xFF)),
              (std::vector<uint8_t>{0xC8, 0xFF, 0xC8, 0xFF}));
    // 64 equal bytes: a run of 63, then a lone byte below 0xC0.
    EXPECT_EQ(pcx_rows(128, 1, std::vector<uint8_t>(64, 0)),
              (std::vector<uint8_t>{0xFF, 0x00, 0x00}));
    // A lone byte of 0xC0 or more is escaped; 0x3F is not.
    EXPECT_EQ(pcx_rows(16, 1, {0x00, 0xC5, 0x3F, 0x01, 0x01, 0x02, 0xC0, 0xC0}),
              (std::vector<uint8_t>{0x00, 0xC1, 0xC5, 0x3F, 0xC2, 0x01, 0x02, 0xC2, 0xC0}));
}

TEST(PcxHeader, MaskImageFields) {
    const std::string path = fresh_dir("png_pcx_header") + "/a.pcx";
    for (auto [width, height] : {std::pair{640, 360}, std::pair{24, 2}}) {
        SCOPED_TRACE(width);
        const mask_picture m(width, height, 0x00);
        ASSERT_EQ(write(path, true, 1, 4, width, height, m.bytes.data()), 0);
        const auto f = read_file(path);
        const int bpl = (width + 7) / 8; // 3 for 24 pixels: odd, written as such
        EXPECT_EQ((std::vector<int>{f[0], f[1], f[2], f[3], u16le(f, 4), u16le(f, 6), u16le(f, 8),
                                    u16le(f, 10), u16le(f, 12), u16le(f, 14), f[64], f[65],
                                    u16le(f, 66), u16le(f, 68), u16le(f, 70), u16le(f, 72)}),
                  (std::vector<int>{0x0A, 5, 1, 1, 0, 0, width - 1, height - 1, 320, 200, 0, 4, bpl,
                                    1, width, height}));
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(u32be(f, 15 + 3 * i) & 0xFFFFFF, expected_colour(i)) << "index " << i;
        EXPECT_TRUE(std::all_of(f.begin() + 74, f.begin() + 128, [](uint8_t b) { return b == 0; }));
        if (width == 640) {
            // Each row of 320 zero bytes: five runs of 63 and one of 5; no palette trailer.
            ASSERT_EQ(f.size(), 128u + 360u * 12u);
            EXPECT_EQ(std::vector<uint8_t>(f.end() - 12, f.end()),
                      (std::vector<uint8_t>{0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xC5, 0}));
        }
    }
}

TEST(PcxHeader, GreyPictureHasRampTrailer) {
    const std::string path = fresh_dir("png_pcx_grey") + "/g.pcx";
    std::vector<uint8_t> grey(5 * 3);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<uint8_t>(i * 17);
    ASSERT_EQ(write(path, true, 8, 1, 5, 3, grey.data()), 0);
    const auto f = read_file(path);
    EXPECT_EQ((std::vector<int>{f[3], f[65], u16le(f, 66), f[16 + 18]}),
              (std::vector<int>{8, 1, 5, 255})); // the mask palette is in the header here too
    ASSERT_GE(f.size(), 128u + 769u);
    const size_t t = f.size() - 769;
    EXPECT_EQ(f[t], 0x0C);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(u32be(f, t + 3 * i) & 0xFFFFFF, i * 0x010101u) << "ramp entry " << i;

    decoded_image img;
    ASSERT_EQ(decode_image_file(path, img), "");
    ASSERT_EQ(img.width * img.height, 15);
    for (size_t i = 0; i < grey.size(); ++i)
        EXPECT_EQ(img.palette.at(img.index[i]), grey[i] * 0x010101u) << "pixel " << i;
}

TEST(PackMaskRow, MatchesPerPixelReference) {
    std::mt19937 rng(7);
    for (int width = 1; width <= 80; ++width)
        for (int trial = 0; trial < 20; ++trial) {
            const mask_picture m(width, 1, rng, false);
            std::vector<uint8_t> packed((width + 1) / 2 + 1, 0xAA);
            pack_mask_row(m.bytes.data(), width, packed.data());
            for (int x = 0; x < width + width % 2; ++x) // an odd width pads with index 0
                ASSERT_EQ(x % 2 ? packed[x / 2] & 15 : packed[x / 2] >> 4,
                          x < width ? m.index(x, 0) : 0)
                    << "width " << width << " pixel " << x;
            ASSERT_EQ(packed.back(), 0xAA) << "wrote past the row, width " << width;
        }
    // Planes 1 and 2 all ones, planes 0 and 3 starting 0x7F: pixel 0 white (6), others 15.
    const std::vector<uint8_t> row = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF};
    std::vector<uint8_t> packed(8);
    pack_mask_row(row.data(), 16, packed.data());
    EXPECT_EQ(packed, (std::vector<uint8_t>{0x6F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PngWriter, IndexedMaskAndPlainGrey) {
    const std::string path = fresh_dir("png_pcx_png") + "/a.png";
    const mask_picture m(16, 2, 0xFF);
    std::vector<uint8_t> grey(7 * 3);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<uint8_t>(255 - i * 11);
    for (const bool mask : {true, false}) {
        SCOPED_TRACE(mask ? "mask" : "grey");
        const uint32_t w = mask ? 16 : 7, h = mask ? 2 : 3;
        ASSERT_EQ(write(path, false, mask ? 1 : 8, mask ? 4 : 1, w, h,
                        mask ? m.bytes.data() : grey.data()),
                  0);
        const auto f = read_file(path);
        ASSERT_GT(f.size(), 41u);
        EXPECT_EQ(std::string(f.begin() + 12, f.begin() + 16), "IHDR");
        EXPECT_EQ(
            (std::vector<uint32_t>{u32be(f, 8), u32be(f, 16), u32be(f, 20), f[24], f[25],
                                   uint32_t(f[26] | f[27] | f[28]), mask ? u32be(f, 33) : 48}),
            (std::vector<uint32_t>{13, w, h, mask ? 4u : 8u, mask ? 3u : 0u, 0, 48}));
        // An indexed picture carries its 16 colours right after the header; grey none.
        EXPECT_EQ(std::search(f.begin(), f.end(), "PLTE", "PLTE" + 4) - f.begin(),
                  mask ? 37 : long(f.size()));
        decoded_image img;
        ASSERT_EQ(decode_image_file(path, img), "");
        EXPECT_EQ(img.gray, !mask);
        EXPECT_EQ(img.index, mask ? std::vector<uint8_t>(32, 15) : grey);
    }
}

TEST(MaskRoundTrip, EveryWidthAndLongRunsDecodeToTheSameColourIndices) {
    const std::string dir = fresh_dir("png_pcx_round_trip");
    std::mt19937 rng(42);
    std::vector<int> widths(40);
    std::iota(widths.begin(), widths.end(), 1);
    widths.insert(widths.end(), {492, 500, 1000, 1344});
    for (int width : widths)
        for (int height : {1, 2, 7}) {
            const mask_picture m(width, height, rng, width > 40);
            expect_round_trip(m, dir, false);
            expect_round_trip(m, dir, true);
            if (HasFailure()) return;
        }
}

TEST(Writers, ReportWritesThatFail) {
    const mask_picture m(64, 8, 0x5A);
    testing::internal::CaptureStdout(); // libspng's message
    for (const bool pcx : {true, false})
        EXPECT_NE(write("/dev/full", pcx, 1, 4, 64, 8, m.bytes.data()), 0) << pcx;
    testing::internal::GetCapturedStdout();
}

// Writes, a missing directory and a failing writer, in each format: only the written
// picture may be left, under its final name.
TEST(SaveImage, NamesFilesAndLeavesNothingOnFailure) {
    const mask_picture m(24, 5, 0xF0);
    for (const std::string ext : {".png", ".pcx"}) {
        SCOPED_TRACE(ext);
        const std::string dir = fresh_dir("png_pcx_save" + ext);
        const fs::path previous = fs::current_path();
        fs::current_path(dir);
        sw = Settings{};
        if (ext == ".pcx") sw.flags = FLAG_SAVE_AS_PCX;
        EXPECT_EQ(save_image("delogo_%d", 3, 1, 4, 24, 5, m.bytes.data()), 1);
        { std::ofstream("removelogo_1" + ext) << "old"; } // must not pass for this run's
        testing::internal::CaptureStdout();
        EXPECT_EQ(save_image("no_such_dir/delogo_%d", 0, 1, 4, 8, 1, m.bytes.data()), -1);
        EXPECT_EQ(save_image("removelogo_%d", 1, 1, 4, 0, 1, m.bytes.data()), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  ext == ".pcx" ? std::string()
                                : std::string("spng_encode_image() error: ") +
                                      spng_strerror(SPNG_ENOIHDR) + "\n");
        sw = Settings{};
        fs::current_path(previous);
        EXPECT_EQ(dir_entries(dir), (std::set<std::string>{"delogo_3" + ext}));
        decoded_image img;
        ASSERT_EQ(decode_image_file(dir + "/delogo_3" + ext, img), "");
        EXPECT_EQ(img.index[0], m.index(0, 0));
        EXPECT_EQ(img.index[23], m.index(23, 0));
    }
}

} // namespace
