// Shared test helpers: videos with known pixels made by the ffmpeg command, running a
// command with a time limit, and an independent decoder for the mask pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analysis/types.h"

// ---- Running commands --------------------------------------------------------------

struct run_result {
    int status = -1; // exit status, or -1 when it did not exit normally (killed, timed out)
    std::string out; // standard output
    std::string err; // standard error
};

// Runs argv (argv[0] a path) in `cwd` with standard input from /dev/null; killed when it
// has not ended within `timeout_seconds`.
run_result run_argv(const std::vector<std::string>& argv, const std::string& cwd,
                    int timeout_seconds = 300);
// `text` quoted for /bin/sh.
std::string quoted(const std::string& text);
// The same through /bin/sh -c.
run_result run_command(const std::string& command, const std::string& cwd,
                       int timeout_seconds = 300);

// A fresh, empty directory for one test under the build tree's work directory.
std::string fresh_dir(const std::string& name);
// The major version of the ffmpeg command ("ffmpeg version 5.1.8-…": 5), 0 when unknown:
// other versions bring another x264, which codes the test recordings differently.
int ffmpeg_major();
// Frame `index` of `file` (in `dir`) as 8-bit grey in its shown orientation, decoded by the
// ffmpeg command: width x height bytes, empty when it has no such frame.
std::string grey_frame(const std::string& dir, const std::string& file, int index);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
// The lines of `text` that start with `prefix`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix);

// ---- Videos ---------------------------------------------------------------------------

// Luma of pixel (x, y) of frame f.
using luma_fn = std::function<uint8_t(int f, int x, int y)>;

// Writes `frames` raw yuv420p frames of w x h (luma from `at`, chroma a flat 128) at
// `fps` frames per second and encodes them with `ffmpeg ... -i raw <encode> <name>` in
// `dir`; `encode` may add inputs of its own (e.g. audio from lavfi) before its output
// options. Returns "" or ffmpeg's complaint.
std::string make_video(const std::string& dir, const std::string& name, int w, int h, int frames,
                       const luma_fn& at, const std::string& encode = "-c:v ffv1 -g 1",
                       int fps = 1);

// Deterministic noise: even frames 40..79, odd frames 180..219, so any two frames of
// different parity differ by more than 100 at every pixel and nothing is dark.
uint8_t noise_luma(int frame, int x, int y);
// 160 x 90 noise, black bars on rows 0-3 and 86-89, a still logo of luma 235 on rows 8-13,
// columns 130-145: "crop=160:82:0:4" and "delogo=x=126:y=4:w=24:h=11 corner 1".
uint8_t logo_luma(int f, int x, int y);

// ---- Analysis inputs --------------------------------------------------------------------

// `count` band images of w2 x h2 filled pixel by pixel with value(sample, x, y), all
// corners taking part. Exact-size buffers, so the sanitizer build sees any read past them.
std::vector<band_sample> make_samples(int count, int w2, int h2,
                                      const std::function<int(int s, int x, int y)>& value);

// ---- Masks ------------------------------------------------------------------------------

// A logo mask of width x height bits, rows of width / 8 bytes, MSB first: static (0) where
// on(x, y), else 1.
struct test_mask {
    int width, height;
    std::vector<uint8_t> bits;
    test_mask(int w, int h, const std::function<bool(int, int)>& on = nullptr)
        : width(w), height(h), bits(static_cast<size_t>(w / 8) * h, 0xFF) {
        for (int i = 0; on && i < w * h; ++i)
            if (on(i % w, i / w)) set(i % w, i / w);
    }
    uint8_t* data() { return bits.data(); }
    size_t at(int x, int y) const { return static_cast<size_t>(y) * (width / 8) + x / 8; }
    void set(int x, int y) { bits[at(x, y)] &= static_cast<uint8_t>(~(0x80 >> (x % 8))); }
    bool is_static(int x, int y) const { return !(bits[at(x, y)] & (0x80 >> (x % 8))); }
};

// ---- Pictures ---------------------------------------------------------------------------

// A palette picture decoded by FFmpeg's own PNG or PCX decoder.
struct decoded_image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> index;    // colour index per pixel, row-major
    std::vector<uint32_t> palette; // 0xRRGGBB per index (256 entries when present)
    bool gray = false;             // decoded as 8-bit gray instead of a palette
};

// Decodes a PNG or PCX file (chosen by its extension) with libavcodec, after the checks
// of the file's structure the decoders are lenient about. Returns "" or the error.
std::string decode_image_file(const std::string& path, decoded_image& out);
