// The passes of a sampling with their decoding spread over several threads, giving what
// the one-thread loop gives.
#pragma once

#include <cstdint>
#include <vector>

#include "video/key_frames.h"

// sample_in_order with the decoding on `decoders` threads (decoder 0 is in.dec_ctx, the
// others are opened alike), `packet` the caller's thread's. One demuxer, on the calling
// thread, makes exactly the one-thread run's seeks and reads, in its order; the outcomes
// are committed in pass order and each pass's FFmpeg messages are printed before its
// commit, in the one-thread run's order. A key packet is taken for its pass's last (the
// next pass is read while it decodes); when it was not, a rereadable input is opened
// again and its reading replayed up to that packet (twice at most per run, then every
// packet waits for its outcome, as on any other input). Returns 0, or the error code of
// the fatal end.
int sample_in_parallel(video_input& in, AVPacket* packet, const std::vector<int64_t>& targets,
                       int decoders, const capture_fn& capture, const commit_fn& commit);
