// Shared test helpers: videos with known pixels, running the built tool, and an
// independent decoder for the mask pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- Videos -------------------------------------------------------------------------

enum class video_codec {
    ffv1,      // lossless, every frame a key frame (Matroska)
    mpeg4_gop, // lossy MPEG-4 part 2, a key frame every `gop` frames (Matroska)
    h264_gop,  // lossy H.264 with B-frames, a key frame every `gop` frames (Matroska)
};

struct video_recipe {
    int width = 160;
    int height = 90;
    int frames = 8;
    int fps = 1; // frames per second (time base 1/fps)
    video_codec codec = video_codec::ffv1;
    int gop = 12;                    // key-frame interval of the lossy codecs
    std::string pix_fmt = "yuv420p"; // e.g. "gray", "yuv422p", "yuv420p10le"
    bool with_audio = false;         // add a silent audio stream as well
    // Fills the luma plane of frame `index` (width x height, row stride `stride`).
    // Chroma is a flat 128.
    std::function<void(int index, uint8_t* luma, int stride)> luma;
};

// A recipe whose luma at (x, y) of frame f is at(f, x, y).
video_recipe pixel_video(int width, int height, int frames,
                         std::function<uint8_t(int f, int x, int y)> at);

// Encodes the video to `path`. Returns an empty string on success, else the error.
std::string write_video(const std::string& path, const video_recipe& recipe);

// Writes a file with a single audio stream and no video.
std::string write_audio_only(const std::string& path, double seconds);

// Deterministic noise: luma 0..255 changing strongly from frame to frame.
uint8_t noise_luma(int frame, int x, int y);

// ---- Running the tool ------------------------------------------------------------

struct run_result {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out; // standard output
    std::string err; // standard error (FFmpeg's log included)
};

// Runs the built tool with `args` in working directory `cwd` (created if missing).
run_result run_delogo(const std::vector<std::string>& args, const std::string& cwd);

// The same, killed (status -1) when it has not ended within `timeout_seconds`.
run_result run_delogo(const std::vector<std::string>& args, const std::string& cwd,
                      int timeout_seconds);

// Runs any command line through /bin/sh in `cwd`.
run_result run_command(const std::string& command, const std::string& cwd);

// A fresh, empty directory for one test under the build tree's work directory.
std::string fresh_dir(const std::string& name);

// The lines of `text` that start with `prefix`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix);

// ---- Pictures ----------------------------------------------------------------------

// A palette picture decoded by FFmpeg's own PNG or PCX decoder.
struct decoded_image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> index;    // colour index per pixel, row-major
    std::vector<uint32_t> palette; // 0xRRGGBB per index (256 entries when present)
    bool gray = false;             // decoded as 8-bit gray instead of a palette
};

// Decodes a PNG or PCX file (chosen by its extension) with libavcodec. Returns an
// empty string on success, else the error.
std::string decode_image_file(const std::string& path, decoded_image& out);
