// Running the ffmpeg command: its progress on standard error, its errors kept, and the
// user's interrupt passed on to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether `name` is an executable file in one of PATH's directories.
bool found_in_path(const char* name);

// How a run of ffmpeg ended.
enum class ffmpeg_end { done, not_found, failed, interrupted };

// Runs argv (argv[0] looked up in PATH) with standard input from /dev/null, its
// "-progress pipe:1" lines on the pipe of its standard output, shown on standard error
// against `duration_us` (0: unknown) as a one-line bar on a terminal, else a line every
// 10 seconds. SIGINT and SIGTERM received meanwhile are passed to ffmpeg, and the run
// waits for it to end. On failure its last error lines are printed on standard error.
// `signal_number` receives the first signal passed on (0 when none).
ffmpeg_end run_ffmpeg(const std::vector<std::string>& argv, int64_t duration_us,
                      int& signal_number);

// The progress text: percent of the duration, speed and time left (the parts that are
// known), e.g. " 42%  speed 3.10x  0:01:23 left".
std::string progress_text(int64_t done_us, int64_t duration_us, double speed);
