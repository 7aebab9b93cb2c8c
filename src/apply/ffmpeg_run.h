// Running the ffmpeg command: its progress on standard error, its errors kept, and the
// signals the run caught passed on to it. The one place that starts ffmpeg.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "video/frame_pipe.h"

// The ffmpeg argv: quiet, no standard input, -y (`overwrite`: a temporary file of ours, or
// --force) or -n, INPUT, the stream arguments, "-vf CHAIN" unless the chain is empty, the
// encoder arguments, progress as key=value lines on standard output, OUTPUT. Paths go
// through file_url.
std::vector<std::string> ffmpeg_command(const std::string& input,
                                        const std::vector<std::string>& streams,
                                        const std::string& chain,
                                        const std::vector<std::string>& encoder, bool overwrite,
                                        const std::string& output);

// The ffmpeg that decodes INPUT's video stream `video` for the restoration: raw frames in
// NUT on its standard output, each with its timestamp.
std::vector<std::string> decoder_command(const std::string& input, int video);

// The ffmpeg that encodes the restored frames, read as NUT on its standard input, into
// OUTPUT: as ffmpeg_command, but the video mapped from the frames, its stream metadata
// from INPUT's video, and every frame kept with its own timestamp. `offset_us`: the
// frames' start less INPUT's, microseconds (timestamps are the file's own on both sides).
std::vector<std::string> restoring_command(const std::string& input,
                                           const std::vector<std::string>& streams,
                                           const std::string& chain,
                                           const std::vector<std::string>& encoder,
                                           bool overwrite, const std::string& output,
                                           int64_t offset_us);

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

// The encoder's argv, once the frames' start (microseconds) is known.
using encoder_command = std::function<std::vector<std::string>(int64_t start_us)>;
// The change made to every frame, once their layout is known; an empty error, or why the
// frames cannot be changed.
using change_maker = std::function<frame_change(const frame_layout&, std::string& error)>;

// Runs `decoder`, hands each of its frames to the change `make_change` gives, and runs the
// encoder command on the changed frames, with its progress, errors and signals as
// run_ffmpeg; every signal also reaches the decoder. Fails when any of the three fails
// (with the failing part's last error lines).
ffmpeg_end run_restoring(const std::vector<std::string>& decoder, const encoder_command& encoder,
                         const change_maker& make_change, int64_t duration_us,
                         int& signal_number);
