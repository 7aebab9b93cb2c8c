// Command line of delogo-apply. The analysis options go through delogo's own handling,
// so that a letter means the same in both programs.
#include "apply/apply_options.h"

#include <getopt.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/command_line.h"

namespace {

// The analysis options delogo-apply takes over; -i (info only), -a (crop only) and -X
// (PCX pictures) have no use when the pictures are not written and the file is cleaned.
constexpr const char* analysis_letters = "y2mrcfWHbdkzstlh";
constexpr const char* short_options = ":y2mc:r:f:W:H:b:d:k:z:t:s:l:h:";

enum : int {
    OPT_FORCE = 1000,
    OPT_FORCE_LOGO,
    OPT_DRY_RUN,
    OPT_PREVIEW,
    OPT_HELP,
    OPT_DETECTOR,
    OPT_SAVE_LOGO,
    OPT_LOGO,
    OPT_FILTER,
    OPT_LOGOS,
    OPT_NAME
};

std::vector<option> long_option_table() {
    std::vector<option> table;
    for (const option* o = delogo_long_options(); o->name; ++o)
        if (strchr(analysis_letters, o->val)) table.push_back(*o);
    table.push_back({"force", no_argument, nullptr, OPT_FORCE});
    table.push_back({"force-logo", no_argument, nullptr, OPT_FORCE_LOGO});
    table.push_back({"dry-run", no_argument, nullptr, OPT_DRY_RUN});
    table.push_back({"preview", required_argument, nullptr, OPT_PREVIEW});
    table.push_back({"help", no_argument, nullptr, OPT_HELP});
    table.push_back({"detector", required_argument, nullptr, OPT_DETECTOR});
    table.push_back({"save-logo", required_argument, nullptr, OPT_SAVE_LOGO});
    table.push_back({"logo", required_argument, nullptr, OPT_LOGO});
    table.push_back({"filter", required_argument, nullptr, OPT_FILTER});
    table.push_back({"logos", required_argument, nullptr, OPT_LOGOS});
    table.push_back({"name", required_argument, nullptr, OPT_NAME});
    table.push_back({nullptr, 0, nullptr, 0});
    return table;
}

} // namespace

apply_parse parse_apply_options(int argc, char** argv, apply_options& out, std::string& error) {
    out = apply_options{};
    bool logos_given = false; // --logos "" turns DELOGO_LOGOS off
    // getopt sees the words up to the first "--" only: after it come either INPUT and
    // OUTPUT (when no name came before it) or the ffmpeg options.
    int end = argc;
    for (int i = 1; i < argc && end == argc; ++i)
        if (strcmp(argv[i], "--") == 0) end = i;
    const std::vector<option> table = long_option_table();
    optind = 0;
    opterr = 0;
    int opt;
    optopt = 0;
    while ((opt = getopt_long(end, argv, short_options, table.data(), nullptr)) != -1) {
        switch (opt) {
        case OPT_FORCE:
            out.force = true;
            break;
        case OPT_FORCE_LOGO:
            out.force_logo = true;
            break;
        case OPT_DRY_RUN:
            out.dry_run = true;
            break;
        case OPT_PREVIEW:
            out.preview = optarg;
            break;
        case OPT_HELP:
            return apply_parse::help;
        case OPT_DETECTOR:
            out.detector = optarg;
            if (out.detector != "model" && out.detector != "static" && out.detector != "edges") {
                error = "--detector takes model, static or edges";
                return apply_parse::bad;
            }
            break;
        case OPT_FILTER:
            out.filter = optarg;
            if (out.filter != "restore" && out.filter != "ffmpeg") {
                error = "--filter takes restore or ffmpeg";
                return apply_parse::bad;
            }
            break;
        case OPT_SAVE_LOGO:
            out.save_logo = optarg;
            break;
        case OPT_LOGO:
            out.logo = optarg;
            break;
        case OPT_LOGOS:
            out.logos = optarg;
            logos_given = true;
            break;
        case OPT_NAME:
            out.name = optarg;
            if (!valid_logo_name(out.name)) {
                error = "--name takes letters, digits, '.', '-' and '_' (not first '.'), at most 64";
                return apply_parse::bad;
            }
            break;
        case ':':
            error = std::string("option ") + argv[optind - 1] + " needs a value";
            return apply_parse::bad;
        case '?':
            if (optopt == '?') return apply_parse::help;
            // A short option may sit inside a group ("-yq"): name the letter alone.
            error = "unknown option " +
                    (optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1]);
            return apply_parse::bad;
        default:
            analysis_option(opt, optarg, out.analysis);
            if (opt == 'y') out.detector = "edges";
        }
        optopt = 0;
    }
    int names = optind, names_end = end, ffmpeg = end;
    if (optind == end && end < argc) {
        // "--" ended the options: the names follow it, up to a second "--".
        names = end + 1;
        names_end = names;
        while (names_end < argc && strcmp(argv[names_end], "--") != 0)
            ++names_end;
        ffmpeg = names_end;
    }
    if (names_end - names != 2) {
        error = "needs INPUT and OUTPUT";
        return apply_parse::bad;
    }
    if (ffmpeg < argc) {
        out.custom_encoder = true;
        out.encoder.assign(argv + ffmpeg + 1, argv + argc);
    }
    out.input = argv[names];
    out.output = argv[names + 1];
    out.analysis.video_file = out.input;
    const char* library = getenv("DELOGO_LOGOS");
    if (!logos_given && library) out.logos = library;
    // The edge detector is delogo's -y; the static-pixel one its default.
    if (out.detector == "edges") out.analysis.flags |= FLAG_CANNY;
    if (out.detector == "static") out.analysis.flags &= uint8_t(~FLAG_CANNY);
    return apply_parse::run;
}

bool valid_logo_name(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (char c : name)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            return false;
    return true;
}

void apply_usage() {
    fputs("Usage: delogo-apply [options] [--] INPUT OUTPUT [-- FFMPEG_OUTPUT_OPTIONS...]\n"
          "Finds the black borders and the station logo of INPUT as delogo does, prints\n"
          "delogo's lines, and writes OUTPUT with the logo removed and the borders cropped\n"
          "by running ffmpeg.\n"
          "Analysis options, as in delogo:\n"
          "\t-y,--canny            edge detection for the logo\n"
          "\t-2,--two_rectangles   cover the logo with two rectangles\n"
          "\t-m,--removelogo       a mask of the logo (removelogo) instead of a rectangle\n"
          "\t-r,--pixel_ratio N    mask mode below N% of static pixels in the logo box\n"
          "\t-c,--corner N         logo corner 0-3 (NW, NE, SW, SE)\n"
          "\t-f,--frames N         key frames to sample (default 64)\n"
          "\t-W,--width_bands N    corner band width, percent (default 35)\n"
          "\t-H,--height_bands N   corner band height, percent (default 18)\n"
          "\t-b,--level_black N    highest black luma (default 23)\n"
          "\t-d,--level_delta N    largest luma change of a logo pixel (default 65)\n"
          "\t-k,--border_black N   border searched around the logo (default 15)\n"
          "\t-z,--border_band N    margin added around the logo (default 4)\n"
          "\t-t,--threshold N      Canny threshold 0-255 (default 170)\n"
          "\t-s,--sigma X          Canny sigma (default 1.2)\n"
          "\t-l,--tlow X           Canny low fraction (default 0.3)\n"
          "\t-h,--thigh X          Canny high fraction (default 0.8)\n"
          "Options of delogo-apply:\n"
          "\t--force               replace an existing OUTPUT, mask or preview; clean even\n"
          "\t                      when nothing is found\n"
          "\t--force-logo          remove the logo even where the corner probably has none\n"
          "\t--dry-run             print the ffmpeg command; write only the mask it reads\n"
          "\t--preview FILE.png    write the middle key frame with the found rectangles\n"
          "\t--detector NAME       how the logo is found: model (default: its opacity and\n"
          "\t                      colour from many pictures), static (delogo's static\n"
          "\t                      pixels) or edges (delogo's -y)\n"
          "\t--save-logo FILE.png  write the logo model (colour and opacity, frame-sized)\n"
          "\t--logo FILE.png       apply a saved logo model instead of estimating one\n"
          "\t--logos DIR           a library of known logos (default: $DELOGO_LOGOS; \"\"\n"
          "\t                      none): each one found in INPUT is applied and learns\n"
          "\t                      from it, a new one is added to DIR\n"
          "\t--name NAME           the name of a new logo in the library (default: its\n"
          "\t                      corner and a hash)\n"
          "\t--filter NAME         how the logo is removed: restore (default: the picture\n"
          "\t                      under it given back, from the logo model) or ffmpeg\n"
          "\t                      (FFmpeg's delogo, or with -m its removelogo filter;\n"
          "\t                      the default with -m)\n"
          "\t-?,--help             show this text\n"
          "A \"--\" before INPUT ends the options. The words after the \"--\" that follows\n"
          "OUTPUT replace the encoder options (default: -c:v libx264 -crf 18 -preset\n"
          "medium -pix_fmt <the input's, at its bit depth where x264 takes it>).\n",
          stdout);
}
