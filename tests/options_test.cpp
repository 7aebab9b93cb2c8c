// Command-line parsing: accepted values, the fallbacks of out-of-range and malformed ones,
// and when the help is due.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "analysis/command_line.h"
#include "analysis/settings.h"

namespace {

// Parses "delogo <args>" ('' is an empty argument) into `out`; returns parse_options's result.
int parse(const std::string& args, Settings& out) {
    std::vector<std::string> words{"delogo"};
    std::istringstream in(args);
    for (std::string w; in >> w;)
        words.push_back(w == "''" ? "" : w);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return parse_options(static_cast<int>(words.size()), argv.data(), out);
}

// The whole record as text, so that a row compares every field at once.
std::string record(const Settings& s) {
    char text[512];
    snprintf(
        text, sizeof text,
        "flags %d corners %d f %d r %d W %d H %d b %d d %d k %d z %d t %d s %a l %a h %a file %s",
        s.flags, s.corner_mask, s.frames, s.pixel_ratio, s.width_bands, s.height_bands,
        s.level_black, s.level_delta, s.border_black, s.border_band, s.threshold, s.sigma, s.tlow,
        s.thigh, s.video_file.c_str());
    return text;
}

} // namespace

TEST(Options, ValuesTheRecordTakes) {
    const std::vector<std::pair<std::string, std::function<void(Settings&)>>> rows = {
        // clang-format off
        {"-y -2 -m -X", [](Settings& s) { s.flags = FLAG_CANNY | FLAG_TWO_RECTANGLES | FLAG_REMOVELOGO | FLAG_SAVE_AS_PCX; }},
        {"--canny --two_rectangles --removelogo --save_as_pcx", [](Settings& s) { s.flags = FLAG_CANNY | FLAG_TWO_RECTANGLES | FLAG_REMOVELOGO | FLAG_SAVE_AS_PCX; }},
        {"--frames 500", [](Settings& s) { s.frames = 500; }},
        {"-f 10abc", [](Settings& s) { s.frames = 10; }},     // strtol stops at the garbage
        {"-f 4294967301", [](Settings& s) { s.frames = 5; }}, // truncated to 32 bits
        {"-a -f 100", [](Settings& s) { s.flags = FLAG_ALL_CORNERS | FLAG_CANNY, s.frames = 100; }},
        {"-f 100 -a", [](Settings& s) { s.flags = FLAG_ALL_CORNERS | FLAG_CANNY, s.frames = 4000; }},
        {"-i", [](Settings& s) { s.flags = FLAG_INFO, s.frames = 1; }},
        {"-i -f 10", [](Settings& s) { s.flags = FLAG_INFO, s.frames = 10; }},
        {"-c 2", [](Settings& s) { s.corner_mask = 4; }},
        {"-c x", [](Settings& s) { s.corner_mask = 1; }},
        {"-c 3 -c 9", [](Settings& s) { s.corner_mask = 8; }},
        {"-r 100 -W 48 -H 3 -b 255 -d 1 -k 0 -z 20 -t 0", [](Settings& s) {
            s.pixel_ratio = 100, s.width_bands = 48, s.height_bands = 3, s.level_black = 255;
            s.level_delta = 1, s.border_black = 0, s.border_band = 20, s.threshold = 0; }},
        {"-l 1 -h 0.5 -s 0", [](Settings& s) { s.tlow = 1, s.thigh = 0.5f, s.sigma = 0; }},
        {"-s abc", [](Settings& s) { s.sigma = 0; }},
        {"-s ''", [](Settings& s) { s.sigma = 0; }},
        // Infinities and huge values become infinite without an undefined narrowing.
        {"-s inf", [](Settings& s) { s.sigma = INFINITY; }},
        {"-s 1e300", [](Settings& s) { s.sigma = INFINITY; }},
        // Out of range, not a number, empty, 32-bit wrap-around and trailing garbage after
        // an in-range number: the defaults.
        {"-W 2 -W 49 -W -0 -W '' -W nan -W 4294967331 -H 2 -H 49 -H 1e3 -H -18", nullptr},
        {"-b 0 -b 256 -b -1 -d 0 -d 256 -d inf -k -1 -k 101 -z -1 -z 21", nullptr},
        {"-r -1 -r 101 -r nan -c 4 -c -1 -t 256 -t -1 -t 999", nullptr},
        {"-f 4 -f 501 -f '' -f -0 -f nan -f 4294967360 -f 0x10 -f abc -f -10", nullptr},
        {"-s -1 -s nan -s -inf -s -1e999 -s 1.2xyz", nullptr},
        {"-l 0 -l -0 -l 1.5 -l nan -l NAN -l inf -l '' -l 1e-60", nullptr}, // 1e-60 narrows to 0
        {"-h 0 -h 2 -h nan -h 1e999 -h -0 -h 0.8junk", nullptr},
        // clang-format on
    };
    Settings defaults;
    ASSERT_EQ(parse("video.mkv", defaults), 0);
    EXPECT_EQ(defaults.video_file, "video.mkv");
    for (const auto& [args, change] : rows) {
        Settings want = defaults;
        if (change) change(want);
        // A row of fallbacks lists option-value pairs, each tried alone.
        std::vector<std::string> cases{args};
        std::istringstream in(args);
        for (std::string option, value; !change && in >> option >> value;)
            cases.push_back(option + " " + value);
        for (const std::string& c : cases) {
            Settings got;
            EXPECT_EQ(parse(c + " video.mkv", got), 0) << c;
            EXPECT_EQ(record(got), record(want)) << c;
        }
    }
}

TEST(Options, HelpDueForBadCommandLinesWithTheOptionsBeforeIt) {
    Settings s;
    for (const char* args :
         {"", "-?", "-? video.mkv", "--help", "-q video.mkv", "--nonsense video.mkv", "-f"})
        EXPECT_EQ(parse(args, s), 1) << args;
    EXPECT_EQ(parse("-f 10 --help video.mkv", s), 1);
    EXPECT_EQ(s.frames, 10); // the help shows it
}
