// Writes the seed inputs of the reading fuzz target: small generated videos (a flag byte,
// a fault byte, then the file), so that the fuzzer starts past the container and the
// decoder.
//   make_reading_seeds <output directory>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

// A static L-shaped logo in the NE corner on a flat background that changes from frame
// to frame, dark bars above and below: every stage of the analysis has something to find.
void logo_picture(int index, uint8_t* luma, int stride, int width, int height) {
    const int x0 = width - 20, y0 = 4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t v = static_cast<uint8_t>(40 + index * 70 % 180);
            if (y < 2 || y >= height - 2) v = 16;
            const bool bar = y >= y0 && y < y0 + 10 && x >= x0 && x < x0 + 4;
            const bool foot = y >= y0 + 6 && y < y0 + 10 && x >= x0 && x < x0 + 14;
            if (bar || foot) v = 235;
            luma[y * stride + x] = v;
        }
}

// The recipe with its luma drawn by logo_picture at the recipe's own size.
video_recipe with_logo(video_recipe recipe) {
    const int width = recipe.width, height = recipe.height;
    recipe.luma = [width, height](int i, uint8_t* luma, int stride) {
        logo_picture(i, luma, stride, width, height);
    };
    return recipe;
}

bool emit(const std::string& dir, const std::string& name, const video_recipe& recipe,
          std::initializer_list<uint16_t> headers) {
    const std::string video = dir + "/" + name + ".mkv";
    const std::string error = write_video(video, with_logo(recipe));
    if (!error.empty()) {
        fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
        return false;
    }
    std::ifstream in(video, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    in.close();
    std::remove(video.c_str());
    // Each header: flags in the high byte, faults in the low byte.
    for (uint16_t header : headers) {
        char suffix[8];
        snprintf(suffix, sizeof suffix, "-%04x", header);
        std::ofstream out(dir + "/" + name + suffix, std::ios::binary);
        out.put(static_cast<char>(header >> 8));
        out.put(static_cast<char>(header & 0xFF));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    fprintf(stderr, "%s: %zu bytes\n", name.c_str(), bytes.size() + 1);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s output_dir\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    video_recipe recipe;
    recipe.width = 96;
    recipe.height = 80;
    recipe.frames = 6;
    // Lossless, every frame a key frame: static-pixel and Canny runs, two rectangles, mask.
    ok &= emit(dir, "ffv1-yuv420p", recipe, {0x0000, 0x0200, 0x0C00, 0x3100, 0x0005, 0x0085, 0x0040});
    // Lossy with a key frame every other frame.
    video_recipe mpeg4 = recipe;
    mpeg4.codec = video_codec::mpeg4_gop;
    mpeg4.gop = 2;
    ok &= emit(dir, "mpeg4-gop2", mpeg4, {0x0000, 0x0100, 0x0008});
    // Another pixel format that is sampled, and one that is not.
    video_recipe yuv422 = recipe;
    yuv422.pix_fmt = "yuv422p";
    yuv422.frames = 4;
    ok &= emit(dir, "ffv1-yuv422p", yuv422, {0x0000});
    video_recipe gray = recipe;
    gray.pix_fmt = "gray";
    gray.frames = 3;
    ok &= emit(dir, "ffv1-gray", gray, {0x0000});
    // An audio stream beside the video; odd sizes whose bands are one pixel or none.
    video_recipe audio = recipe;
    audio.with_audio = true;
    audio.fps = 25; // audio packets of 1/25 s keep the file small
    audio.frames = 3;
    ok &= emit(dir, "ffv1-audio", audio, {0x0000, 0xE000});
    video_recipe tiny = recipe;
    tiny.width = 9;
    tiny.height = 7;
    tiny.frames = 5;
    ok &= emit(dir, "ffv1-9x7", tiny, {0x0000, 0x0200});
    // H.264 with B-frames, when the encoder is there: the decoder holds key frames back.
    video_recipe h264 = recipe;
    h264.codec = video_codec::h264_gop;
    h264.gop = 3;
    h264.frames = 6;
    if (!emit(dir, "h264-bframes", h264, {0x0000})) fprintf(stderr, "(no H.264 seed)\n");
    return ok ? 0 : 1;
}
