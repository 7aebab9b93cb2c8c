// Running the one ffmpeg command of FFmpeg's filters: its progress on standard error, its
// errors kept, and the signals the run caught passed on to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a run of ffmpeg ended.
enum class ffmpeg_end { done, not_found, failed, interrupted };

// Runs argv (argv[0] looked up in PATH) with standard input from /dev/null, its
// "-progress pipe:1" lines shown against `duration_us` (see watch). Every signal the live
// interrupt_guard catches is passed to ffmpeg, and the run waits for it to end. On failure
// its last error lines are printed on standard error. `signal_number` receives the
// guard's first signal (0: none).
ffmpeg_end run_ffmpeg(const std::vector<std::string>& argv, int64_t duration_us,
                      int& signal_number);
