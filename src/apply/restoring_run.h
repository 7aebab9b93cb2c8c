// The restoring run: the decoding ffmpeg, the frames passing through delogo-apply, and the
// encoding ffmpeg, started together and ended together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apply/ffmpeg_run.h"
#include "apply/frame_restorer.h"

// Runs `decoder` into a pipe, restore_pass from it into a second pipe on a thread of its
// own, and `encoder` reading that pipe, with the encoder's progress, errors and signals as
// run_ffmpeg; every signal also reaches the decoder. When the encoder ends well having
// stopped reading early (the words after "--" asked for -t, -frames or -shortest), the
// broken pipe behind it and the decoder's end that follows are a normal end. Otherwise
// it fails when any of the three fails, with the failing part's last error lines: the
// encoder's when it stopped reading first, else the decoder's, else the frames'.
ffmpeg_end run_restoring(const std::vector<std::string>& decoder,
                         const std::vector<std::string>& encoder, const chain_maker& make,
                         int64_t duration_us, int& signal_number);
