// Running the ffmpeg command: its progress on standard error, its errors kept, and the
// signals the run caught passed on to it. The one place that starts ffmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The ffmpeg argv: quiet, no standard input, -y (`overwrite`: a temporary file of ours, or
// --force) or -n, INPUT, the stream arguments, "-vf CHAIN" unless the chain is empty, the
// encoder arguments, progress as key=value lines on standard output, OUTPUT. Paths go
// through file_url.
std::vector<std::string> ffmpeg_command(const std::string& input,
                                        const std::vector<std::string>& streams,
                                        const std::string& chain,
                                        const std::vector<std::string>& encoder, bool overwrite,
                                        const std::string& output);

// argv as one line a POSIX shell reads back into the same words.
std::string shell_line(const std::vector<std::string>& argv);

// Whether `name` is an executable file in one of PATH's directories.
bool found_in_path(const char* name);

// How a run of ffmpeg ended.
enum class ffmpeg_end { done, not_found, failed, interrupted };

// Runs argv (argv[0] looked up in PATH) with standard input from /dev/null, its
// "-progress pipe:1" lines on the pipe of its standard output, shown on standard error
// against `duration_us` (0: unknown) as a one-line bar on a terminal, else a line every
// 10 seconds. Every signal the live interrupt_guard catches is passed to ffmpeg (SIGQUIT
// as SIGTERM), and the run waits for it to end. On failure its last error lines are
// printed on standard error. `signal_number` receives the guard's first signal (0: none).
ffmpeg_end run_ffmpeg(const std::vector<std::string>& argv, int64_t duration_us,
                      int& signal_number);

// The progress text: percent of the duration, speed and time left (the parts that are
// known), e.g. " 42%  speed 3.10x  0:01:23 left"; once ffmpeg reported its end, 100% and
// the time written, e.g. "100%  speed 3.10x  0:02:00 written".
std::string progress_text(int64_t done_us, int64_t duration_us, double speed, bool finished);
