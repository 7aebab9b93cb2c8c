// The encoding ffmpeg's progress shown on standard error, while its errors are kept and
// the signals the run catches are passed on.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "apply/child_process.h"

// The progress text: percent of the duration, speed and time left (the parts that are
// known), e.g. " 42%  speed 3.10x  0:01:23 left"; once ffmpeg reported its end, 100% and
// the time written, e.g. "100%  speed 3.10x  0:02:00 written".
std::string progress_text(int64_t done_us, int64_t duration_us, double speed, bool finished);

// Shows the progress of the ffmpeg `pid` from its "-progress pipe:1" lines on
// `progress_in` against `duration_us` (0: unknown) as a one-line bar on a terminal, else a
// line every 10 seconds, and keeps what it writes on `error_in` in `errors`, until both
// pipes close (they are closed then); every caught signal goes to `pid` and to `also`
// (when >= 0). Then waits for `pid`: its wait status.
int watch(pid_t pid, pid_t also, fd_owner& progress_in, fd_owner& error_in, int64_t duration_us,
          std::string& errors);
