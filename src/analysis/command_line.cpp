// Command line and help text: the options fill the settings record.
#include "analysis/command_line.h"

#include <getopt.h>
#include <libgen.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/settings.h"

namespace {

const option long_options[] = {
    {"help", no_argument, nullptr, '?'},
    {"info", no_argument, nullptr, 'i'},
    {"canny", no_argument, nullptr, 'y'},
    {"two_rectangles", no_argument, nullptr, '2'},
    {"removelogo", no_argument, nullptr, 'm'},
    {"pixel_ratio", required_argument, nullptr, 'r'},
    {"all_corners", no_argument, nullptr, 'a'},
    {"corner", required_argument, nullptr, 'c'},
    {"frames", required_argument, nullptr, 'f'},
    {"width_bands", required_argument, nullptr, 'W'},
    {"height_bands", required_argument, nullptr, 'H'},
    {"level_black", required_argument, nullptr, 'b'},
    {"level_delta", required_argument, nullptr, 'd'},
    {"border_black", required_argument, nullptr, 'k'},
    {"border_band", required_argument, nullptr, 'z'},
    {"threshold", required_argument, nullptr, 't'},
    {"sigma", required_argument, nullptr, 's'},
    {"tlow", required_argument, nullptr, 'l'},
    {"thigh", required_argument, nullptr, 'h'},
    {"save_as_pcx", no_argument, nullptr, 'X'},
    {nullptr, 0, nullptr, 0},
};

// Help text of each long option, and the settings field whose value its line shows.
struct option_help {
    const char* text;
    const int* int_value;
    const float* float_value;
};

const option_help opdsc[] = {
    {"show options help", nullptr, nullptr},
    {"show video info only", nullptr, nullptr},
    {"force canny edge detection for logo", nullptr, nullptr},
    {"cover the logo with two overlaping rectangles", nullptr, nullptr},
    {"generate a mask of the logo instead of a rectangle", nullptr, nullptr},
    {"switch to mask mode if pixel percentage inside the logo\n\t\t\t\tbounding box is bellow "
     "(default %d%%)",
     &sw.pixel_ratio, nullptr},
    {"logo present in all corners", nullptr, nullptr},
    {"fix logo corner [0-3] (NW,NE,SW,SE)", nullptr, nullptr},
    {"number of frames to process (default %d)", &sw.frames, nullptr},
    {"width percentage search band (default %d%%)", &sw.width_bands, nullptr},
    {"height percentage search band (default %d%%)", &sw.height_bands, nullptr},
    {"maximum black level (default %d)", &sw.level_black, nullptr},
    {"maximum luminance distace for logo detection (default %d)", &sw.level_delta, nullptr},
    {"border thickness around logo (default %d)", &sw.border_black, nullptr},
    {"additional border band (default %d)", &sw.border_band, nullptr},
    {"canny edge detection threshold 0-255 (default %d)", &sw.threshold, nullptr},
    {"canny sigma (default %.1f)", nullptr, &sw.sigma},
    {"canny tlow (default %.1f)", nullptr, &sw.tlow},
    {"canny thigh (default %.1f)", nullptr, &sw.thigh},
    {"save images as PCX rather than PNG", nullptr, nullptr},
};

// strtol in base 10, truncated to 32 bits as a C int would hold it.
int read_int(const char* text) {
    long value = strtol(text, nullptr, 10);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

// strtod narrowed to float without undefined behaviour: values beyond the float range
// become infinities of their sign (NaN stays NaN and is rejected by the callers).
float read_float(const char* text) {
    double value = strtod(text, nullptr);
    if (value > FLT_MAX) return INFINITY;
    if (value < -FLT_MAX) return -INFINITY;
    return static_cast<float>(value);
}

int in_range(int value, int low, int high, int fallback) {
    return value >= low && value <= high ? value : fallback;
}

} // namespace

bool analysis_option(int opt, const char* arg, Settings& out) {
    switch (opt) {
    case 'i':
        out.flags |= FLAG_INFO;
        out.frames = 1;
        break;
    case 'y':
        out.flags |= FLAG_CANNY;
        break;
    case '2':
        out.flags |= FLAG_TWO_RECTANGLES;
        break;
    case 'm':
        out.flags |= FLAG_REMOVELOGO;
        break;
    case 'X':
        out.flags |= FLAG_SAVE_AS_PCX;
        break;
    case 'a':
        out.flags |= FLAG_ALL_CORNERS | FLAG_CANNY;
        // Key frames are read in order from the start, not sought: 4000 covers a long
        // film with a key frame every two seconds, and -f may still lower it.
        out.frames = 4000;
        break;
    case 'r':
        out.pixel_ratio = in_range(read_int(arg), 0, 100, 0);
        break;
    case 'c': {
        int corner = read_int(arg);
        if (corner >= 0 && corner <= 3) out.corner_mask = static_cast<uint8_t>(1 << corner);
        break;
    }
    case 'f':
        out.frames = in_range(read_int(arg), 5, 500, 64);
        break;
    case 'W':
        out.width_bands = in_range(read_int(arg), 3, 48, 35);
        break;
    case 'H':
        out.height_bands = in_range(read_int(arg), 3, 48, 18);
        break;
    case 'b':
        out.level_black = in_range(read_int(arg), 1, 255, 23);
        break;
    case 'd':
        out.level_delta = in_range(read_int(arg), 1, 255, 65);
        break;
    case 'k':
        out.border_black = in_range(read_int(arg), 0, 100, 15);
        break;
    case 'z':
        out.border_band = in_range(read_int(arg), 0, 20, 4);
        break;
    case 't':
        out.threshold = in_range(read_int(arg), 0, 255, 170);
        break;
    case 's': {
        float value = read_float(arg);
        out.sigma = std::isnan(value) || value < 0 ? 1.2f : value;
        break;
    }
    case 'l': {
        float value = read_float(arg);
        out.tlow = std::isnan(value) || value > 1 || value <= 0 ? 0.3f : value;
        break;
    }
    case 'h': {
        float value = read_float(arg);
        out.thigh = std::isnan(value) || value > 1 || value <= 0 ? 0.8f : value;
        break;
    }
    default:
        return false;
    }
    return true;
}

const option* delogo_long_options() {
    return long_options;
}

int parse_options(int argc, char** argv, Settings& out) {
    out = Settings{};
    optind = 0; // restart getopt's scan (GNU), so that parsing can run more than once
    int opt;
    while ((opt = getopt_long(argc, argv, ":iay2Xmc:r:f:W:H:b:d:k:z:t:s:l:h:", long_options,
                              nullptr)) != -1) {
        // -?, --help, an unknown option or a missing argument
        if (!analysis_option(opt, optarg, out)) return 1;
    }
    if (optind >= argc) return 1;
    out.video_file = argv[optind++];
    return 0;
}

void usage(const char* prog) {
    size_t longest = 0;
    for (const option* o = long_options; o->name; ++o)
        longest = std::max(longest, strlen(o->name));
    printf("Usage: %s [options] video_file\n", prog);
    for (int i = 0; long_options[i].name; ++i) {
        char line[136];
        int pad = static_cast<int>(longest + 1 - strlen(long_options[i].name));
        snprintf(line, sizeof line, "\t-%c,--%s%*c %s\n", long_options[i].val, long_options[i].name,
                 pad, ' ', opdsc[i].text);
        // The help text may hold one printf conversion for the field's current value.
        const char* percent = strchr(line, '%');
        if (!percent) {
            fputs(line, stdout);
        } else if (strchr(percent, 'd') && opdsc[i].int_value) {
            printf(line, *opdsc[i].int_value);
        } else if (strchr(percent, 'f') && opdsc[i].float_value) {
            printf(line, static_cast<double>(*opdsc[i].float_value));
        }
    }
    fflush(stdout);
    exit(0);
}

void program_options(int argc, char** argv) {
    if (parse_options(argc, argv, sw) != 0) {
        std::vector<char> name(argv[0], argv[0] + strlen(argv[0]) + 1);
        usage(__xpg_basename(name.data()));
    }
}
