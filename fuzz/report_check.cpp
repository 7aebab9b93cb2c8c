// What a user takes from the analysis's output, checked: see report_check.h.
#include "report_check.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "helpers.h"

namespace {

bool exists(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

// Decodes a picture the report names; returns its size.
void check_picture(const std::string& name, int& width, int& height, const std::string& report) {
    if (!exists(name)) fail(name + " was not written", report);
    decoded_image image;
    const std::string error = decode_image_file(name, image);
    if (!error.empty()) fail(name + ": " + error, report);
    width = image.width;
    height = image.height;
}

} // namespace

[[noreturn]] void fail(const std::string& what, const std::string& report) {
    fprintf(stderr, "fuzz check failed: %s\noutput:\n%s\n", what.c_str(), report.c_str());
    abort();
}

void remove_pictures() {
    for (const char* kind : {"delogo", "removelogo"})
        for (int c = 0; c < 4; ++c)
            for (const char* ext : {"png", "pcx"})
                remove((std::string(kind) + "_" + std::to_string(c) + "." + ext).c_str());
}

void check_report(const std::string& report, const Settings& run, int band_w2, int band_h2,
                  int frame_width, int frame_height) {
    const char* ext = (run.flags & FLAG_SAVE_AS_PCX) ? "pcx" : "png";
    std::istringstream lines(report);
    std::string line;
    int crops = 0, delogos = 0, removelogos = 0, logo_corner = -1;
    while (std::getline(lines, line)) {
        int w, h, x, y, corner;
        char tail;
        if (sscanf(line.c_str(), "crop=%d:%d:%d:%d%c", &w, &h, &x, &y, &tail) == 4) {
            ++crops;
            if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > frame_width || y + h > frame_height)
                fail("crop box outside the frame: " + line, report);
            continue;
        }
        if (sscanf(line.c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d%c", &x, &y, &w, &h, &corner,
                   &tail) == 5) {
            ++delogos;
            if (corner < 0 || corner > 3 || !(run.corner_mask & (1 << corner)))
                fail("corner not searched: " + line, report);
            if (logo_corner >= 0 && corner != logo_corner) fail("two corners reported", report);
            logo_corner = corner;
            if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > frame_width || y + h > frame_height)
                fail("delogo box outside the frame: " + line, report);
            const bool in_band = ((corner & 1) ? x >= frame_width - band_w2 : x + w <= band_w2) &&
                                 ((corner & 2) ? y >= frame_height - band_h2 : y + h <= band_h2);
            if (!in_band) fail("delogo box outside its corner band: " + line, report);
            continue;
        }
        char name_ext[8] = {};
        if (sscanf(line.c_str(), "removelogo=removelogo_%d.%7s", &corner, name_ext) == 2) {
            ++removelogos;
            if (corner < 0 || corner > 3 || !(run.corner_mask & (1 << corner)))
                fail("corner not searched: " + line, report);
            if (std::string(name_ext) != ext) fail("wrong picture format: " + line, report);
            int pw, ph;
            check_picture("removelogo_" + std::to_string(corner) + "." + ext, pw, ph, report);
            if (pw != band_w2 || ph != band_h2)
                fail("removelogo picture " + std::to_string(pw) + "x" + std::to_string(ph) +
                         " for a band image of " + std::to_string(band_w2) + "x" +
                         std::to_string(band_h2),
                     report);
            continue;
        }
        fail("unexpected line: " + line, report);
    }
    if (crops > 1 || removelogos > 1) fail("a line printed twice", report);
    if (delogos > ((run.flags & FLAG_TWO_RECTANGLES) ? 2 : 1))
        fail("too many delogo lines", report);
    if (delogos && removelogos) fail("both delogo and removelogo reported", report);
    if (delogos) {
        // The delogo picture shows the corner region: a multiple of 8 wide, inside the band.
        int pw, ph;
        check_picture("delogo_" + std::to_string(logo_corner) + "." + ext, pw, ph, report);
        if (pw % 8 != 0 || pw > band_w2 || ph > band_h2)
            fail("delogo picture " + std::to_string(pw) + "x" + std::to_string(ph), report);
    }
}
