#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>

#include "helpers.h"

namespace {

FILE* output = nullptr; // standard output's file, kept open

bool capture() {
    static const bool capturing = [] {
        if (getenv("DELOGO_FUZZ_VERBOSE")) return false;
        FILE* file = output = tmpfile();
        if (!file || dup2(fileno(file), 1) < 0 || !freopen("/dev/null", "r", stdin)) abort();
        return true;
    }();
    return capturing;
}

std::string scratch; // removed at exit

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

} // namespace

void stdout_clear() {
    fflush(stdout);
    if (capture() && (ftruncate(1, 0) != 0 || fseek(stdout, 0, SEEK_SET) != 0)) abort();
}

std::string stdout_text() {
    fflush(stdout);
    std::string text;
    if (!capture()) return text;
    text.resize(static_cast<size_t>(lseek(1, 0, SEEK_CUR)));
    if (pread(1, &text[0], text.size(), 0) != static_cast<ssize_t>(text.size())) abort();
    return text;
}

in_scratch_dir::in_scratch_dir() {
    if (scratch.empty()) {
        char name[] = "/tmp/delogo-fuzz-XXXXXX";
        if (!mkdtemp(name)) abort();
        scratch = name;
        atexit(remove_scratch);
    }
    previous_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (previous_ < 0 || chdir(scratch.c_str()) != 0) abort();
    for (const auto& entry : std::filesystem::directory_iterator(scratch))
        std::filesystem::remove_all(entry.path());
}

in_scratch_dir::~in_scratch_dir() {
    if (fchdir(previous_) != 0) abort();
    close(previous_);
}

uint32_t mix3(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h = a * 0x9E3779B1u ^ b * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ h >> 15;
}

[[noreturn]] void fail(const std::string& what, const std::string& report) {
    fprintf(stderr, "fuzz check failed: %s\noutput:\n%s\n", what.c_str(), report.c_str());
    abort();
}

namespace {

// Decodes a picture the report names; returns its size.
std::pair<int, int> picture_size(const std::string& name, const std::string& report) {
    decoded_image image;
    const std::string error = decode_image_file(name, image);
    if (!error.empty()) fail(name + ": " + error, report);
    return {image.width, image.height};
}

} // namespace

void check_report(const std::string& report, const Settings& run, int band_w2, int band_h2,
                  int frame_width, int frame_height) {
    const std::string ext = (run.flags & FLAG_SAVE_AS_PCX) ? "pcx" : "png";
    std::istringstream lines(report);
    std::string line;
    int crops = 0, delogos = 0, removelogos = 0, logo_corner = -1;
    auto check_corner = [&](int corner) {
        if (corner < 0 || corner > 3 || !(run.corner_mask & (1 << corner)))
            fail("corner not searched: " + line, report);
    };
    while (std::getline(lines, line)) {
        int w, h, x, y, corner;
        char tail, name_ext[8] = {};
        const bool crop = sscanf(line.c_str(), "crop=%d:%d:%d:%d%c", &w, &h, &x, &y, &tail) == 4;
        if (crop || sscanf(line.c_str(), "delogo=x=%d:y=%d:w=%d:h=%d corner %d%c", &x, &y, &w, &h,
                           &corner, &tail) == 5) {
            if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > frame_width || y + h > frame_height)
                fail("box outside the frame: " + line, report);
            crops += crop;
            if (crop) continue;
            ++delogos;
            check_corner(corner);
            if (logo_corner >= 0 && corner != logo_corner) fail("two corners reported", report);
            logo_corner = corner;
            const bool in_band = ((corner & 1) ? x >= frame_width - band_w2 : x + w <= band_w2) &&
                                 ((corner & 2) ? y >= frame_height - band_h2 : y + h <= band_h2);
            if (!in_band) fail("delogo box outside its corner band: " + line, report);
        } else if (sscanf(line.c_str(), "removelogo=removelogo_%d.%7s", &corner, name_ext) == 2) {
            ++removelogos;
            check_corner(corner);
            if (name_ext != ext) fail("wrong picture format: " + line, report);
            if (picture_size("removelogo_" + std::to_string(corner) + "." + ext, report) !=
                std::pair{band_w2, band_h2})
                fail("removelogo picture not of the band image's size", report);
        } else {
            fail("unexpected line: " + line, report);
        }
    }
    if (crops > 1 || removelogos > 1) fail("a line printed twice", report);
    if (delogos > ((run.flags & FLAG_TWO_RECTANGLES) ? 2 : 1))
        fail("too many delogo lines", report);
    if (delogos && removelogos) fail("both delogo and removelogo reported", report);
    if (delogos) {
        // The delogo picture shows the corner region: a multiple of 8 wide, inside the band.
        const auto [pw, ph] =
            picture_size("delogo_" + std::to_string(logo_corner) + "." + ext, report);
        if (pw % 8 != 0 || pw > band_w2 || ph > band_h2)
            fail("delogo picture of a wrong size", report);
    }
}
