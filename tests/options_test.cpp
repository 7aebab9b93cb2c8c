// Command-line parsing: defaults, ranges and fallbacks, and the duration split.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

#include "command_line.h"
#include "sampler.h"
#include "helpers.h"

namespace {

// Parses `args` (program name and file name added) into a fresh record.
int parse(std::initializer_list<const char*> args, Settings& out, bool with_file = true) {
    std::vector<std::string> words{"delogo"};
    for (const char* a : args)
        words.emplace_back(a);
    if (with_file) words.emplace_back("video.mkv");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return parse_options(static_cast<int>(words.size()), argv.data(), out);
}

Settings parsed(std::initializer_list<const char*> args) {
    Settings s;
    EXPECT_EQ(parse(args, s), 0);
    return s;
}

// The integer settings whose out-of-range values fall back to their defaults.
void expect_integer_defaults(const Settings& s) {
    EXPECT_EQ(s.pixel_ratio, 0);
    EXPECT_EQ(s.width_bands, 35);
    EXPECT_EQ(s.height_bands, 18);
    EXPECT_EQ(s.level_black, 23);
    EXPECT_EQ(s.level_delta, 65);
    EXPECT_EQ(s.border_black, 15);
    EXPECT_EQ(s.border_band, 4);
    EXPECT_EQ(s.threshold, 170);
}

} // namespace

TEST(Options, DefaultsAndFileName) {
    Settings s = parsed({});
    EXPECT_EQ(s.flags, 0);
    EXPECT_EQ(s.corner_mask, 15);
    EXPECT_EQ(s.frames, 64);
    expect_integer_defaults(s);
    EXPECT_FLOAT_EQ(s.sigma, 1.2f);
    EXPECT_FLOAT_EQ(s.tlow, 0.3f);
    EXPECT_FLOAT_EQ(s.thigh, 0.8f);
    EXPECT_EQ(s.video_file, "video.mkv");
}

TEST(Options, SwitchesSetTheirFlags) {
    EXPECT_EQ(parsed({"-y", "-2", "-m", "-X"}).flags,
              FLAG_CANNY | FLAG_TWO_RECTANGLES | FLAG_REMOVELOGO | FLAG_SAVE_AS_PCX);
    EXPECT_EQ(parsed({"--canny", "--two_rectangles", "--removelogo", "--save_as_pcx"}).flags,
              FLAG_CANNY | FLAG_TWO_RECTANGLES | FLAG_REMOVELOGO | FLAG_SAVE_AS_PCX);
}

TEST(Options, FrameCountRangeAndModes) {
    EXPECT_EQ(parsed({"-f", "4"}).frames, 64);
    EXPECT_EQ(parsed({"-f", "501"}).frames, 64);
    EXPECT_EQ(parsed({"-f", "5"}).frames, 5);
    EXPECT_EQ(parsed({"--frames", "500"}).frames, 500);
    EXPECT_EQ(parsed({"-f", "abc"}).frames, 64);
    EXPECT_EQ(parsed({"-f", "10abc"}).frames, 10);     // strtol stops at the garbage
    EXPECT_EQ(parsed({"-f", "4294967301"}).frames, 5); // truncated to 32 bits
    EXPECT_EQ(parsed({"-f", "-10"}).frames, 64);

    Settings a = parsed({"-a", "-f", "100"});
    EXPECT_EQ(a.frames, 100);
    EXPECT_EQ(a.flags, FLAG_ALL_CORNERS | FLAG_CANNY);
    EXPECT_EQ(parsed({"-f", "100", "-a"}).frames, 4000);

    Settings info = parsed({"-i"});
    EXPECT_EQ(info.frames, 1);
    Settings later = parsed({"-i", "-f", "10"});
    EXPECT_EQ(later.frames, 10);
    EXPECT_EQ(later.flags, FLAG_INFO);
}

TEST(Options, CornerIsIgnoredOutOfRange) {
    EXPECT_EQ(parsed({"-c", "4"}).corner_mask, 15);
    EXPECT_EQ(parsed({"-c", "-1"}).corner_mask, 15);
    EXPECT_EQ(parsed({"-c", "2"}).corner_mask, 4);
    EXPECT_EQ(parsed({"-c", "x"}).corner_mask, 1);
    EXPECT_EQ(parsed({"-c", "3", "-c", "9"}).corner_mask, 8);
}

TEST(Options, IntegerFallbacksEqualDefaults) {
    Settings low = parsed({"-r", "-1", "-W", "2", "-H", "2", "-b", "0", "-d", "0", "-k", "-1", "-z",
                           "-1", "-t", "-1"});
    Settings high = parsed({"-r", "101", "-W", "49", "-H", "49", "-b", "256", "-d", "256", "-k",
                            "101", "-z", "21", "-t", "256"});
    for (const Settings& s : {low, high})
        expect_integer_defaults(s);
    Settings edge = parsed({"-r", "100", "-W", "48", "-H", "3", "-b", "255", "-d", "1", "-k", "0",
                            "-z", "20", "-t", "0"});
    EXPECT_EQ(edge.pixel_ratio, 100);
    EXPECT_EQ(edge.width_bands, 48);
    EXPECT_EQ(edge.height_bands, 3);
    EXPECT_EQ(edge.level_black, 255);
    EXPECT_EQ(edge.level_delta, 1);
    EXPECT_EQ(edge.border_black, 0);
    EXPECT_EQ(edge.border_band, 20);
    EXPECT_EQ(edge.threshold, 0);
}

TEST(Options, FloatRangesAndNotANumber) {
    EXPECT_FLOAT_EQ(parsed({"-l", "1"}).tlow, 1.0f);
    EXPECT_FLOAT_EQ(parsed({"-l", "0"}).tlow, 0.3f);
    EXPECT_FLOAT_EQ(parsed({"-l", "1.5"}).tlow, 0.3f);
    EXPECT_FLOAT_EQ(parsed({"-l", "1e-60"}).tlow, 0.3f); // reads as 0 once narrowed
    EXPECT_FLOAT_EQ(parsed({"-h", "0.5"}).thigh, 0.5f);
    EXPECT_FLOAT_EQ(parsed({"-h", "-2"}).thigh, 0.8f);
    EXPECT_FLOAT_EQ(parsed({"-s", "0"}).sigma, 0.0f);
    EXPECT_FLOAT_EQ(parsed({"-s", "-1"}).sigma, 1.2f);
    EXPECT_FLOAT_EQ(parsed({"-s", "abc"}).sigma, 0.0f);

    // Not-a-number takes the fallback; infinities and huge values stay out of range or
    // become infinite without an undefined narrowing.
    EXPECT_FLOAT_EQ(parsed({"-s", "nan"}).sigma, 1.2f);
    EXPECT_FLOAT_EQ(parsed({"-l", "nan"}).tlow, 0.3f);
    EXPECT_FLOAT_EQ(parsed({"-h", "NAN"}).thigh, 0.8f);
    EXPECT_TRUE(std::isinf(parsed({"-s", "inf"}).sigma));
    EXPECT_TRUE(std::isinf(parsed({"-s", "1e999"}).sigma));
    EXPECT_TRUE(std::isinf(parsed({"-s", "1e300"}).sigma));
    EXPECT_FLOAT_EQ(parsed({"-l", "inf"}).tlow, 0.3f);
    EXPECT_FLOAT_EQ(parsed({"-s", "-inf"}).sigma, 1.2f);
}

TEST(Options, HelpDueForBadCommandLines) {
    Settings s;
    EXPECT_EQ(parse({}, s, false), 1);
    EXPECT_EQ(parse({"-?"}, s), 1);
    EXPECT_EQ(parse({"--help"}, s), 1);
    EXPECT_EQ(parse({"-q"}, s), 1);
    EXPECT_EQ(parse({"--nonsense"}, s), 1);
    EXPECT_EQ(parse({"-f"}, s, false), 1); // missing argument
    // Options before the help request have been applied: the help shows them.
    EXPECT_EQ(parse({"-f", "10", "--help"}, s), 1);
    EXPECT_EQ(s.frames, 10);
}

TEST(Options, FileNameAfterDoubleDash) {
    Settings s;
    std::vector<std::string> words{"delogo", "-f", "7", "--", "-video.mkv", "extra"};
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    ASSERT_EQ(parse_options(static_cast<int>(words.size()), argv.data(), s), 0);
    EXPECT_EQ(s.video_file, "-video.mkv");
    EXPECT_EQ(s.frames, 7);
}

TEST(Duration, RoundsToWholeSecondsAndSplits) {
    int h, m, s;
    split_duration(59500000, h, m, s);
    EXPECT_EQ((std::vector<int>{h, m, s}), (std::vector<int>{0, 1, 0}));
    split_duration(59499999, h, m, s);
    EXPECT_EQ((std::vector<int>{h, m, s}), (std::vector<int>{0, 0, 59}));
    split_duration(3599400000, h, m, s);
    EXPECT_EQ((std::vector<int>{h, m, s}), (std::vector<int>{0, 59, 59}));
    split_duration(3600000000, h, m, s);
    EXPECT_EQ((std::vector<int>{h, m, s}), (std::vector<int>{1, 0, 0}));
    split_duration(90061000000, h, m, s); // 25 h 1 min 1 s: hours do not wrap
    EXPECT_EQ((std::vector<int>{h, m, s}), (std::vector<int>{25, 1, 1}));
    split_duration(0, h, m, s);
    EXPECT_EQ((std::vector<int>{h, m, s}), (std::vector<int>{0, 0, 0}));
}
