// The run of a video: its key frames sampled, analysed and summarised.
#pragma once

#include <cstdint>

#include "analysis/analysis_result.h"

struct AVIOContext;

// A duration in microseconds, rounded to whole seconds (half up) and split into hours,
// minutes and seconds as the duration line prints them.
void split_duration(int64_t microseconds, int& hours, int& minutes, int& seconds);

// The run after the command line: opens sw.video_file (or reads it through `io`, which
// the caller owns, when not null; a seekable one must give the same bytes when read
// again from where it stood), samples key frames, analyses them and prints the summary.
// Returns the exit status: 0, or 1 after "Error occurred: ..." on stderr. `result`, when
// not null, receives the frame size, duration and what the analysis printed (and the
// stream dump and the closing "Finished" are left out). The seeking passes decode on
// worker_threads() threads, with what the one-thread run prints; all_corners mode, info
// mode and a file without a duration are read in order on one decoder.
int process_video(AVIOContext* io, analysis_result* result = nullptr);
