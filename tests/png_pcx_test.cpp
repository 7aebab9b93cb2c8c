// Mask picture writers: PCX bytes checked directly, both formats decoded by FFmpeg.
#include <gtest/gtest.h>
#include <spng.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <random>

#include "delogo.h"
#include "helpers.h"
#include "png_pcx.h"

namespace {

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

std::vector<std::string> dir_entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh directory, removed with its files at the end of the test.
struct scratch_dir {
    std::string path;
    scratch_dir() {
        char templ[] = "/tmp/png_pcx_test.XXXXXX";
        if (mkdtemp(templ)) path = templ;
    }
    ~scratch_dir() {
        for (const auto& name : dir_entries(path))
            unlink((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Runs the test body inside `dir` and returns to the previous directory afterwards.
struct working_dir {
    std::string previous;
    explicit working_dir(const std::string& dir) {
        char buf[PATH_MAX];
        if (getcwd(buf, sizeof buf)) previous = buf;
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~working_dir() { EXPECT_EQ(chdir(previous.c_str()), 0); }
};

int write_pcx(const std::string& path, int bits, int planes, int width, int height,
              const uint8_t* pixels) {
    return save_pcx_image(file_ptr(fopen(path.c_str(), "wb")), bits, planes, width, height, pixels);
}

int write_png(const std::string& path, int bits, int planes, int width, int height,
              const uint8_t* pixels) {
    return save_png_image(file_ptr(fopen(path.c_str(), "wb")), bits, planes, width, height, pixels);
}

int u16le(const std::vector<uint8_t>& f, size_t at) {
    return f[at] | f[at + 1] << 8;
}
uint32_t u32be(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f[at]) << 24 | uint32_t(f[at + 1]) << 16 | uint32_t(f[at + 2]) << 8 | f[at + 3];
}

// A 1-bit 4-plane picture in the writers' layout, plane rows of (width + 7) / 8 bytes.
struct mask_picture {
    int width = 0;
    int height = 0;
    size_t bpl = 0;
    std::vector<uint8_t> bytes;

    mask_picture(int w, int h, uint8_t fill = 0)
        : width(w), height(h), bpl((w + 7) / 8), bytes(4 * bpl * h, fill) {}
    uint8_t* plane_row(int y, int plane) { return &bytes[(4 * y + plane) * bpl]; }
    // The straightforward reading of a pixel's colour index.
    int index(int x, int y) const {
        int v = 0;
        for (int k = 0; k < 4; ++k)
            if (bytes[(4 * y + k) * bpl + x / 8] & (0x80 >> (x % 8))) v |= 1 << k;
        return v;
    }
};

mask_picture random_mask(int w, int h, std::mt19937& rng) {
    mask_picture m(w, h);
    for (auto& b : m.bytes)
        b = static_cast<uint8_t>(rng());
    return m;
}

// Long runs of a few values, so that runs reach 63 and cross plane boundaries.
mask_picture runny_mask(int w, int h, std::mt19937& rng) {
    static const uint8_t values[] = {0x00, 0xFF, 0xC3, 0x3F};
    mask_picture m(w, h);
    uint8_t v = 0;
    for (auto& b : m.bytes) {
        if (rng() % 40 == 0) v = values[rng() % 4];
        b = v;
    }
    return m;
}

uint32_t expected_colour(int index) {
    if (index == 6) return 0xFFFFFF;
    if (index == 7) return 0x007C3C;
    return 0;
}

void expect_mask_palette(const decoded_image& img) {
    ASSERT_GE(img.palette.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(img.palette[i], expected_colour(i)) << "index " << i;
}

void expect_round_trip(const mask_picture& m, const std::string& path, bool pcx) {
    SCOPED_TRACE(path + " " + std::to_string(m.width) + "x" + std::to_string(m.height));
    const int written = pcx ? write_pcx(path, 1, 4, m.width, m.height, m.bytes.data())
                            : write_png(path, 1, 4, m.width, m.height, m.bytes.data());
    ASSERT_EQ(written, 0);
    decoded_image img;
    ASSERT_EQ(decode_image_file(path, img), "");
    ASSERT_EQ(img.width, m.width);
    ASSERT_EQ(img.height, m.height);
    ASSERT_FALSE(img.gray);
    expect_mask_palette(img);
    int wrong = 0;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            if (img.index[size_t(y) * m.width + x] != m.index(x, y) && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << " is "
                              << int(img.index[y * m.width + x]) << ", want " << m.index(x, y);
    EXPECT_EQ(wrong, 0);
}

// ---- PCX run-length coding and header --------------------------------------------------

std::vector<uint8_t> pcx_rows(int width, int height, const std::vector<uint8_t>& pixels) {
    scratch_dir dir;
    EXPECT_EQ(write_pcx(dir.file("a.pcx"), 1, 4, width, height, pixels.data()), 0);
    const auto f = read_file(dir.file("a.pcx"));
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
    scratch_dir dir;
    for (auto [width, height] : {std::pair{640, 360}, std::pair{24, 2}}) {
        SCOPED_TRACE(width);
        const mask_picture m(width, height, 0x00);
        ASSERT_EQ(write_pcx(dir.file("a.pcx"), 1, 4, width, height, m.bytes.data()), 0);
        const auto f = read_file(dir.file("a.pcx"));
        const int bpl = (width + 7) / 8; // 3 for 24 pixels: odd, written as such
        const std::vector<std::pair<int, int>> u16_fields = {
            {4, 0},    {6, 0},    {8, width - 1}, {10, height - 1}, {12, 320},
            {14, 200}, {66, bpl}, {68, 1},        {70, width},      {72, height}};
        EXPECT_EQ((std::vector<int>{f[0], f[1], f[2], f[3], f[64], f[65]}),
                  (std::vector<int>{0x0A, 5, 1, 1, 0, 4}));
        for (auto [at, value] : u16_fields)
            EXPECT_EQ(u16le(f, at), value) << "offset " << at;
        for (int i = 0; i < 16; ++i) {
            const uint32_t rgb = uint32_t(f[16 + 3 * i]) << 16 | f[17 + 3 * i] << 8 | f[18 + 3 * i];
            EXPECT_EQ(rgb, expected_colour(i)) << "index " << i;
        }
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
    scratch_dir dir;
    std::vector<uint8_t> grey(5 * 3);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<uint8_t>(i * 17);
    ASSERT_EQ(write_pcx(dir.file("g.pcx"), 8, 1, 5, 3, grey.data()), 0);
    const auto f = read_file(dir.file("g.pcx"));
    EXPECT_EQ(f[3], 8);
    EXPECT_EQ(f[65], 1);
    EXPECT_EQ(u16le(f, 66), 5);
    EXPECT_EQ(f[16 + 18], 255); // the header carries the mask palette here too
    ASSERT_GE(f.size(), 128u + 769u);
    const size_t t = f.size() - 769;
    EXPECT_EQ(f[t], 0x0C);
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(f[t + 1 + 3 * i] == i && f[t + 2 + 3 * i] == i && f[t + 3 + 3 * i] == i)
            << "ramp entry " << i;

    decoded_image img;
    ASSERT_EQ(decode_image_file(dir.file("g.pcx"), img), "");
    ASSERT_EQ(img.width, 5);
    ASSERT_EQ(img.height, 3);
    for (size_t i = 0; i < grey.size(); ++i) {
        const uint32_t g = grey[i];
        EXPECT_EQ(img.palette.at(img.index[i]), g << 16 | g << 8 | g) << "pixel " << i;
    }
}

// ---- PNG --------------------------------------------------------------------------------

TEST(PackMaskRow, MatchesPerPixelReference) {
    std::mt19937 rng(7);
    for (int width = 1; width <= 80; ++width) {
        for (int trial = 0; trial < 20; ++trial) {
            const mask_picture m = random_mask(width, 1, rng); // padding bits random too
            std::vector<uint8_t> packed((width + 1) / 2 + 8, 0xAA);
            pack_mask_row(m.bytes.data(), width, packed.data());
            for (int x = 0; x < width; ++x) {
                const int got = x % 2 ? packed[x / 2] & 15 : packed[x / 2] >> 4;
                ASSERT_EQ(got, m.index(x, 0)) << "width " << width << " pixel " << x;
            }
            if (width % 2) {
                ASSERT_EQ(packed[width / 2] & 15, 0) << "width " << width;
            }
            ASSERT_EQ(packed[(width + 1) / 2], 0xAA) << "wrote past the row, width " << width;
        }
    }
    // Planes 1 and 2 all ones, planes 0 and 3 starting 0x7F: pixel 0 white (6), others 15.
    const std::vector<uint8_t> row = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF};
    std::vector<uint8_t> packed(8);
    pack_mask_row(row.data(), 16, packed.data());
    EXPECT_EQ(packed, (std::vector<uint8_t>{0x6F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PngWriter, IndexedHeaderAndPalette) {
    scratch_dir dir;
    const mask_picture m(16, 2, 0xFF);
    ASSERT_EQ(write_png(dir.file("a.png"), 1, 4, 16, 2, m.bytes.data()), 0);
    const auto f = read_file(dir.file("a.png"));
    ASSERT_GT(f.size(), 33u + 8u + 48u);
    EXPECT_EQ(u32be(f, 8), 13u);
    EXPECT_EQ(std::string(f.begin() + 12, f.begin() + 16), "IHDR");
    EXPECT_EQ(u32be(f, 16), 16u);
    EXPECT_EQ(u32be(f, 20), 2u);
    EXPECT_EQ(f[24], 4); // bit depth
    EXPECT_EQ(f[25], 3); // indexed colour
    EXPECT_EQ(f[26] | f[27] | f[28], 0);
    EXPECT_EQ(u32be(f, 33), 48u);
    EXPECT_EQ(std::string(f.begin() + 37, f.begin() + 41), "PLTE");

    decoded_image img;
    ASSERT_EQ(decode_image_file(dir.file("a.png"), img), "");
    EXPECT_EQ(img.index, std::vector<uint8_t>(32, 15));
}

TEST(PngWriter, GreyPictureWithoutPalette) {
    scratch_dir dir;
    std::vector<uint8_t> grey(7 * 3);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<uint8_t>(255 - i * 11);
    ASSERT_EQ(write_png(dir.file("g.png"), 8, 1, 7, 3, grey.data()), 0);
    const auto f = read_file(dir.file("g.png"));
    ASSERT_GT(f.size(), 26u);
    EXPECT_EQ(f[24], 8);
    EXPECT_EQ(f[25], 0);
    EXPECT_EQ(std::search(f.begin(), f.end(), "PLTE", "PLTE" + 4), f.end());
    decoded_image img;
    ASSERT_EQ(decode_image_file(dir.file("g.png"), img), "");
    EXPECT_TRUE(img.gray);
    EXPECT_EQ(img.index, grey);
}

// ---- Both writers: every width, through FFmpeg's decoders -----------------------------------

TEST(MaskRoundTrip, EveryWidthDecodesToTheSameColourIndices) {
    scratch_dir dir;
    std::mt19937 rng(42);
    for (int width = 1; width <= 40; ++width) {
        for (int height : {1, 2, 7}) {
            const mask_picture m = random_mask(width, height, rng);
            expect_round_trip(m, dir.file("m.png"), false);
            expect_round_trip(m, dir.file("m.pcx"), true);
            if (HasFailure()) return;
        }
    }
}

TEST(MaskRoundTrip, LongRunsAcrossPlanes) {
    scratch_dir dir;
    std::mt19937 rng(3);
    for (int width : {492, 500, 1000, 1344}) {
        const mask_picture m = runny_mask(width, 9, rng);
        expect_round_trip(m, dir.file("r.pcx"), true);
        expect_round_trip(m, dir.file("r.png"), false);
    }
}

// ---- Failures ---------------------------------------------------------------------------

TEST(Writers, ReportWritesThatFail) {
    const mask_picture m(64, 8, 0x5A);
    EXPECT_NE(save_pcx_image(file_ptr(fopen("/dev/full", "wb")), 1, 4, 64, 8, m.bytes.data()), 0);
    testing::internal::CaptureStdout();
    const int png = save_png_image(file_ptr(fopen("/dev/full", "wb")), 1, 4, 64, 8, m.bytes.data());
    testing::internal::GetCapturedStdout();
    EXPECT_NE(png, 0);
}

// ---- save_image ---------------------------------------------------------------------------

TEST(SaveImage, NamesFileAfterIndexAndFormat) {
    scratch_dir dir;
    const mask_picture m(24, 5, 0xF0);
    {
        working_dir in(dir.path);
        sw = Settings{};
        EXPECT_EQ(save_image("delogo_%d", 3, 1, 4, 24, 5, m.bytes.data()), 1);
        sw.flags = FLAG_SAVE_AS_PCX;
        EXPECT_EQ(save_image("delogo_%d", 3, 1, 4, 24, 5, m.bytes.data()), 1);
        sw = Settings{};
    }
    EXPECT_EQ(dir_entries(dir.path), (std::vector<std::string>{"delogo_3.pcx", "delogo_3.png"}));
    decoded_image png, pcx;
    ASSERT_EQ(decode_image_file(dir.file("delogo_3.png"), png), "");
    ASSERT_EQ(decode_image_file(dir.file("delogo_3.pcx"), pcx), "");
    EXPECT_EQ(png.index, pcx.index);
    EXPECT_EQ(png.index[0], m.index(0, 0));
}

TEST(SaveImage, MissingDirectoryReturnsMinusOneSilently) {
    scratch_dir dir;
    working_dir in(dir.path);
    const mask_picture m(8, 1, 0);
    for (uint8_t flags : {uint8_t(0), uint8_t(FLAG_SAVE_AS_PCX)}) {
        sw.flags = flags;
        testing::internal::CaptureStdout();
        EXPECT_EQ(save_image("no_such_dir/delogo_%d", 0, 1, 4, 8, 1, m.bytes.data()), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    sw = Settings{};
    EXPECT_TRUE(dir_entries(dir.path).empty());
}

TEST(SaveImage, FailedWriterLeavesNoFile) {
    scratch_dir dir;
    const mask_picture m(8, 1, 0);
    {
        working_dir in(dir.path);
        // A picture of an earlier run must not pass for this one.
        { std::ofstream("removelogo_1.png") << "old"; }
        testing::internal::CaptureStdout();
        EXPECT_EQ(save_image("removelogo_%d", 1, 1, 4, 0, 1, m.bytes.data()), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out,
                  std::string("spng_encode_image() error: ") + spng_strerror(SPNG_ENOIHDR) + "\n");

        sw.flags = FLAG_SAVE_AS_PCX;
        testing::internal::CaptureStdout();
        EXPECT_EQ(save_image("removelogo_%d", 1, 1, 4, 0, 1, m.bytes.data()), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        sw = Settings{};
    }
    EXPECT_TRUE(dir_entries(dir.path).empty());
}

} // namespace
